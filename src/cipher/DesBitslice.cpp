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

// Output bit k (0 the most significant) of S-box s for input b1..b6.
constexpr int OutputBit(int s, int six, int k)
{
    return (des_tables::SBoxLookup(s, six) >> (3 - k)) & 1;
}

// Input orders (0..5 for b1..b6) of the S-box circuits, per S-box: the
// orders with the fewest operations under the cost rules of BestPlan in
// DesBitsliceCore.inc, found by trying all 720 orders of each S-box.
constexpr int kOrdersPlain[8][6] = {{3, 5, 4, 1, 0, 2}, {2, 4, 5, 0, 1, 3}, {0, 3, 5, 1, 2, 4}, {3, 0, 4, 1, 2, 5},
                                    {5, 3, 2, 0, 1, 4}, {4, 1, 0, 5, 2, 3}, {3, 5, 1, 4, 0, 2}, {3, 5, 4, 1, 0, 2}};
constexpr int kOrdersTernary[8][6] = {{0, 1, 4, 2, 3, 5}, {1, 2, 3, 0, 4, 5}, {4, 0, 3, 1, 2, 5}, {0, 2, 3, 1, 4, 5},
                                      {3, 1, 4, 0, 2, 5}, {2, 3, 4, 0, 1, 5}, {0, 5, 2, 1, 3, 4}, {3, 5, 2, 0, 1, 4}};

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
DES_INLINE V OrNot(V s, V f) { return ~s | f; }
DES_INLINE V DavioPos(V s, V f0, V x) { return f0 ^ (s & x); }
DES_INLINE V DavioNeg(V s, V f1, V x) { return f1 ^ (~s & x); }
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
DES_INLINE V OrNot(V s, V f) { return Or(Not(s), f); }
DES_INLINE V DavioPos(V s, V f0, V x) { return Xor(f0, And(s, x)); }
DES_INLINE V DavioNeg(V s, V f1, V x) { return Xor(f1, AndNot(s, x)); }
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
// The instruction overwrites its first operand, so the subfunction, which is
// not needed afterwards, goes first and the input s, which other nodes still
// read, is not copied each time.
// s ? b : a
DES_INLINE V Select(V s, V a, V b) { return _mm512_ternarylogic_epi64(a, s, b, 0xB8); }
DES_INLINE V OrNot(V s, V f) { return _mm512_ternarylogic_epi64(f, s, s, 0xF3); }
DES_INLINE V DavioPos(V s, V f0, V x) { return _mm512_ternarylogic_epi64(f0, s, x, 0x78); }
DES_INLINE V DavioNeg(V s, V f1, V x) { return _mm512_ternarylogic_epi64(f1, s, x, 0xD2); }
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
#ifdef VELMORA_DES_X86
    // Safe even when called from another file's static initialisation.
    __builtin_cpu_init();
#endif
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
