#pragma once
// Bulk ECB of a stream of chunks, in order. A long stream uses two cores:
// a worker thread transforms the current chunk while the calling thread
// writes the previous one and reads the next, then takes its share of the
// blocks still left. Memory: two chunks.

#include <cstddef>
#include <cstdint>
#include <functional>

#include "DESUnit.h"

namespace despipe {

// Bytes per chunk: a multiple of every engine's batch.
constexpr std::size_t kChunk = std::size_t{1} << 20;

// Fills a buffer of kChunk bytes with the next chunk and sets the number of
// 8-byte blocks it holds (0 at the end); false on failure.
using Read = std::function<bool(std::uint8_t* buffer, std::size_t& blocks)>;
// Writes one transformed chunk; false on failure.
using Write = std::function<bool(const std::uint8_t* buffer, std::size_t blocks)>;

// Reads, transforms and writes every chunk, all reads and writes on the
// calling thread and in order; twoCores adds the worker. After a failed read
// or write nothing more is read or written, and false is returned.
bool Run(const DesCipher& cipher, bool twoCores, const Read& read, const Write& write);

}  // namespace despipe
