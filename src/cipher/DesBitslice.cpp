// The three bitsliced engines share one core (DesBitsliceCore.inc), compiled
// once per engine with that engine's word type and operations. The vector
// engines carry target attributes on every function instead of file-wide
// compiler flags, so this file builds with plain flags and the engine is
// chosen when the program runs.

#include "DesBitslice.h"

#include <bit>
#include <cstring>

#include "DesTables.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define VELMORA_DES_X86 1
#include <immintrin.h>
#endif

namespace des_bitslice {
namespace {

// Subtree truth tables of an S-box output, used to build each output as a
// tree of selections whose leaves are small functions of the other inputs.
// Inputs are numbered 0..5 for the standard's b1..b6.
constexpr int OutputBit(int s, int six, int k)
{
    return (des_tables::SBoxLookup(s, six) >> (3 - k)) & 1;
}

// Truth table of output k of S-box s once the inputs order[0 .. depth-1]
// are fixed to the bits of `prefix` (order[0] most significant). The other
// inputs index the table, order[depth] as the most significant index bit.
constexpr std::uint64_t NodeTable(int s, int k, int depth, int prefix, const int (&order)[6])
{
    const int free = 6 - depth;
    std::uint64_t table = 0;
    for (int index = 0; index < (1 << free); ++index) {
        int six = 0;
        for (int j = 0; j < depth; ++j)
            six |= ((prefix >> (depth - 1 - j)) & 1) << (5 - order[j]);
        for (int m = 0; m < free; ++m)
            six |= ((index >> (free - 1 - m)) & 1) << (5 - order[depth + m]);
        table |= std::uint64_t(OutputBit(s, six, k)) << index;
    }
    return table;
}

constexpr std::uint64_t FullTable(int depth)
{
    return depth == 0 ? ~std::uint64_t{0} : (std::uint64_t{1} << (1 << (6 - depth))) - 1;
}

// Word of a transposed batch that holds standard bit n (1..64) of every
// block. Blocks are loaded as little-endian 64-bit words and the transpose
// numbers bits from the most significant end.
constexpr int WordOfBit(int n)
{
    return 63 - (8 * ((n - 1) / 8) + 7 - (n - 1) % 8);
}

}  // namespace

// --- Portable: one 64-bit integer holds bit j of 64 blocks. ---------------
namespace portable {

#define DES_TARGET
#define DES_INLINE inline __attribute__((always_inline))
using V = std::uint64_t;
constexpr int kLanes = 1;
constexpr bool kTernary = false;

DES_INLINE V Load(const std::uint8_t* p)
{
    V v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}
DES_INLINE void Store(std::uint8_t* p, V v)
{
    for (int i = 0; i < 8; ++i, v >>= 8)
        p[i] = static_cast<std::uint8_t>(v);
}
DES_INLINE V Broadcast(std::uint64_t x) { return x; }
DES_INLINE V Xor(V a, V b) { return a ^ b; }
DES_INLINE V And(V a, V b) { return a & b; }
DES_INLINE V Or(V a, V b) { return a | b; }
DES_INLINE V AndNot(V a, V b) { return ~a & b; }
DES_INLINE V Not(V a) { return ~a; }
DES_INLINE V Select(V s, V a, V b) { return a ^ ((a ^ b) & s); }
template <int N> DES_INLINE V ShiftLeft(V a) { return a << N; }
template <int N> DES_INLINE V ShiftRight(V a) { return a >> N; }
template <int Imm> DES_INLINE V Ternary(V, V, V) { return 0; }

#include "DesBitsliceCore.inc"
#undef DES_TARGET
#undef DES_INLINE

}  // namespace portable

#ifdef VELMORA_DES_X86
// --- AVX2: a 256-bit vector holds bit j of 256 blocks. ---------------------
namespace avx2 {

#define DES_TARGET __attribute__((target("avx2")))
#define DES_INLINE inline __attribute__((always_inline)) DES_TARGET
using V = __m256i;
constexpr int kLanes = 4;
constexpr bool kTernary = false;

DES_INLINE V Load(const std::uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
DES_INLINE void Store(std::uint8_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
DES_INLINE V Broadcast(std::uint64_t x) { return _mm256_set1_epi64x(static_cast<long long>(x)); }
DES_INLINE V Xor(V a, V b) { return _mm256_xor_si256(a, b); }
DES_INLINE V And(V a, V b) { return _mm256_and_si256(a, b); }
DES_INLINE V Or(V a, V b) { return _mm256_or_si256(a, b); }
DES_INLINE V AndNot(V a, V b) { return _mm256_andnot_si256(a, b); }
DES_INLINE V Not(V a) { return _mm256_xor_si256(a, _mm256_set1_epi64x(-1)); }
DES_INLINE V Select(V s, V a, V b) { return Xor(a, And(Xor(a, b), s)); }
template <int N> DES_INLINE V ShiftLeft(V a) { return _mm256_slli_epi64(a, N); }
template <int N> DES_INLINE V ShiftRight(V a) { return _mm256_srli_epi64(a, N); }
template <int Imm> DES_INLINE V Ternary(V a, V, V) { return a; }

#include "DesBitsliceCore.inc"
#undef DES_TARGET
#undef DES_INLINE

}  // namespace avx2

// --- AVX-512: a 512-bit vector holds bit j of 512 blocks; every function of
// three inputs is one instruction. ------------------------------------------
// GCC 12's AVX-512 header trips -Wuninitialized inside its own intrinsics.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#ifndef __clang__
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
namespace avx512 {

#define DES_TARGET __attribute__((target("avx512f")))
#define DES_INLINE inline __attribute__((always_inline)) DES_TARGET
using V = __m512i;
constexpr int kLanes = 8;
constexpr bool kTernary = true;

DES_INLINE V Load(const std::uint8_t* p) { return _mm512_loadu_si512(p); }
DES_INLINE void Store(std::uint8_t* p, V v) { _mm512_storeu_si512(p, v); }
DES_INLINE V Broadcast(std::uint64_t x) { return _mm512_set1_epi64(static_cast<long long>(x)); }
DES_INLINE V Xor(V a, V b) { return _mm512_xor_si512(a, b); }
DES_INLINE V And(V a, V b) { return _mm512_and_si512(a, b); }
DES_INLINE V Or(V a, V b) { return _mm512_or_si512(a, b); }
DES_INLINE V AndNot(V a, V b) { return _mm512_andnot_si512(a, b); }
DES_INLINE V Not(V a) { return _mm512_ternarylogic_epi64(a, a, a, 0x55); }
// s ? b : a
DES_INLINE V Select(V s, V a, V b) { return _mm512_ternarylogic_epi64(s, b, a, 0xCA); }
template <int N> DES_INLINE V ShiftLeft(V a) { return _mm512_slli_epi64(a, N); }
template <int N> DES_INLINE V ShiftRight(V a) { return _mm512_srli_epi64(a, N); }
// Bit (a << 2 | b << 1 | c) of Imm.
template <int Imm> DES_INLINE V Ternary(V a, V b, V c) { return _mm512_ternarylogic_epi64(a, b, c, Imm); }

#include "DesBitsliceCore.inc"
#undef DES_TARGET
#undef DES_INLINE

}  // namespace avx512
#pragma GCC diagnostic pop
#endif

bool Supported(DesEngine engine)
{
    switch (engine) {
    case DesEngine::Portable: return true;
#ifdef VELMORA_DES_X86
    case DesEngine::Avx2: return __builtin_cpu_supports("avx2");
    case DesEngine::Avx512: return __builtin_cpu_supports("avx512f");
#endif
    default: return false;
    }
}

std::size_t BatchBlocks(DesEngine engine)
{
    switch (engine) {
#ifdef VELMORA_DES_X86
    case DesEngine::Avx2: return avx2::kBatchBlocks;
    case DesEngine::Avx512: return avx512::kBatchBlocks;
#endif
    default: return portable::kBatchBlocks;
    }
}

void CryptBatches(DesEngine engine, const std::array<std::uint64_t, 48>* masks, const std::uint8_t* in,
                  std::uint8_t* out, std::size_t batches)
{
    switch (engine) {
#ifdef VELMORA_DES_X86
    case DesEngine::Avx2: avx2::CryptBatches(masks, in, out, batches); return;
    case DesEngine::Avx512: avx512::CryptBatches(masks, in, out, batches); return;
#endif
    default: portable::CryptBatches(masks, in, out, batches); return;
    }
}

}  // namespace des_bitslice
