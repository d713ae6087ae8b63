#pragma once
// Bitsliced DES: many blocks at once, bit j of every block in one machine
// word, the S-boxes as Boolean circuits. Internal to the cipher.

#include <cstddef>
#include <cstdint>

#include "DESUnit.h"

namespace des_bitslice {

// Whether the processor runs the engine (Portable always; Auto never here).
bool Supported(DesEngine engine);
// Blocks that one pass of the engine transforms together.
std::size_t BatchBlocks(DesEngine engine);
// Transforms batches * BatchBlocks(engine) blocks; in may equal out.
// masks holds the 16 subkeys in the order of use, one word per bit, all
// ones or all zeros.
void CryptBatches(DesEngine engine, const std::array<std::uint64_t, 48>* masks, const std::uint8_t* in,
                  std::uint8_t* out, std::size_t batches);

}  // namespace des_bitslice
