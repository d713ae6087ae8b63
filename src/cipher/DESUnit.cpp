// The block cipher, the key rule and the text form. The scalar transform
// below serves single blocks and the tails of bulk runs; long runs go through
// the bitsliced engines of DesBitslice.cpp.

#include "DESUnit.h"

#include "DesBitslice.h"
#include "DesTables.h"

namespace {

using namespace des_tables;

std::uint64_t LoadBigEndian(const std::uint8_t* p)
{
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v = (v << 8) | p[i];
    return v;
}

void StoreBigEndian(std::uint64_t v, std::uint8_t* p)
{
    for (int i = 7; i >= 0; --i, v >>= 8)
        p[i] = static_cast<std::uint8_t>(v);
}

// A 64-bit permutation as eight byte-indexed tables, so that applying it
// costs eight lookups.
struct ByteTables {
    std::uint64_t t[8][256];
};

constexpr ByteTables MakeByteTables(const std::array<std::uint8_t, 64>& table)
{
    ByteTables p{};
    for (int out = 1; out <= 64; ++out) {
        const int in = table[out - 1];
        const int byte = (in - 1) / 8;
        const int bit = 7 - (in - 1) % 8;
        for (int v = 0; v < 256; ++v)
            if ((v >> bit) & 1)
                p.t[byte][v] |= std::uint64_t{1} << (64 - out);
    }
    return p;
}

constexpr ByteTables kInitial = MakeByteTables(IP);
constexpr ByteTables kFinal = MakeByteTables(FP);

std::uint64_t Permute(const ByteTables& p, std::uint64_t v)
{
    std::uint64_t r = 0;
    for (int j = 0; j < 8; ++j)
        r |= p.t[j][(v >> (56 - 8 * j)) & 0xFF];
    return r;
}

// S-box s with P folded in: indexed by the 6-bit input b1..b6, giving the
// S-box's four output bits at their places after P.
constexpr std::array<std::array<std::uint32_t, 64>, 8> kSP = [] {
    std::array<std::array<std::uint32_t, 64>, 8> sp{};
    for (int s = 0; s < 8; ++s)
        for (int six = 0; six < 64; ++six) {
            const int value = SBoxLookup(s, six);
            for (int k = 0; k < 4; ++k)
                if ((value >> (3 - k)) & 1)
                    sp[s][six] |= std::uint32_t{1} << (31 - PInverse[4 * s + k]);
        }
    return sp;
}();

std::uint32_t RotateLeft(std::uint32_t v, int n)
{
    return (v << n) | (v >> (32 - n));
}

// The cipher function f(R, K). S-box s reads R bits 4s .. 4s+5 (bit 0 being
// bit 32), which a left rotation by 4s + 5 brings to the low six bits.
std::uint32_t Feistel(std::uint32_t r, const std::array<std::uint8_t, 8>& six)
{
    std::uint32_t f = 0;
    for (int s = 0; s < 8; ++s)
        f |= kSP[s][((RotateLeft(r, (4 * s + 5) & 31)) & 63) ^ six[s]];
    return f;
}

// The 16 subkeys of a key in the order of encryption, one bit per byte.
std::array<std::array<std::uint8_t, 48>, 16> SubKeyBits(const DesKey& key)
{
    const std::uint64_t k = LoadBigEndian(key.data());
    std::array<std::uint8_t, 56> cd{};
    for (int i = 0; i < 56; ++i)
        cd[i] = (k >> (64 - PC1[i])) & 1;
    std::array<std::array<std::uint8_t, 48>, 16> bits{};
    for (int round = 0; round < 16; ++round) {
        for (int n = 0; n < Shifts[round]; ++n) {
            const std::uint8_t c0 = cd[0], d0 = cd[28];
            for (int i = 0; i < 27; ++i) {
                cd[i] = cd[i + 1];
                cd[28 + i] = cd[29 + i];
            }
            cd[27] = c0;
            cd[55] = d0;
        }
        for (int j = 0; j < 48; ++j)
            bits[round][j] = cd[PC2[j] - 1];
    }
    return bits;
}

// The schedule that DesMakeSubKeys builds and DesCryptBlock reads. One per
// thread, so callers on different threads never see each other's keys.
thread_local DesCipher currentSchedule(DesKey{}, true, DesEngine::Portable);

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

}  // namespace

// ---------------------------------------------------------------------------
// Engines

bool DesEngineAvailable(DesEngine engine)
{
    return engine == DesEngine::Auto || des_bitslice::Supported(engine);
}

DesEngine DesBestEngine()
{
    static const DesEngine best = [] {
        if (des_bitslice::Supported(DesEngine::Avx512))
            return DesEngine::Avx512;
        if (des_bitslice::Supported(DesEngine::Avx2))
            return DesEngine::Avx2;
        return DesEngine::Portable;
    }();
    return best;
}

const char* DesEngineName(DesEngine engine)
{
    switch (engine) {
    case DesEngine::Auto: return DesEngineName(DesBestEngine());
    case DesEngine::Portable: return "portable-64";
    case DesEngine::Avx2: return "avx2-256";
    case DesEngine::Avx512: return "avx512-512";
    }
    return "?";
}

DesCipher::DesCipher(const DesKey& key, bool encrypt, DesEngine engine)
    : engine_(engine == DesEngine::Auto || !des_bitslice::Supported(engine) ? DesBestEngine() : engine)
{
    const auto bits = SubKeyBits(key);
    for (int round = 0; round < 16; ++round) {
        const auto& row = bits[encrypt ? round : 15 - round];
        for (int s = 0; s < 8; ++s) {
            int six = 0;
            for (int i = 0; i < 6; ++i)
                six = (six << 1) | row[6 * s + i];
            six_[round][s] = static_cast<std::uint8_t>(six);
        }
        for (int j = 0; j < 48; ++j)
            masks_[round][j] = row[j] ? ~std::uint64_t{0} : 0;
    }
}

void DesCipher::CryptScalar(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const
{
    for (std::size_t b = 0; b < blocks; ++b, in += 8, out += 8) {
        const std::uint64_t v = Permute(kInitial, LoadBigEndian(in));
        std::uint32_t left = static_cast<std::uint32_t>(v >> 32);
        std::uint32_t right = static_cast<std::uint32_t>(v);
        for (int round = 0; round < 16; ++round) {
            const std::uint32_t next = left ^ Feistel(right, six_[round]);
            left = right;
            right = next;
        }
        // The halves are exchanged once more before the final permutation.
        const std::uint64_t preOutput = (std::uint64_t{right} << 32) | left;
        StoreBigEndian(Permute(kFinal, preOutput), out);
    }
}

void DesCipher::Crypt(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const
{
    const std::size_t batch = des_bitslice::BatchBlocks(engine_);
    const std::size_t batches = blocks / batch;
    if (batches > 0)
        des_bitslice::CryptBatches(engine_, masks_.data(), in, out, batches);
    const std::size_t done = batches * batch;
    CryptScalar(in + 8 * done, out + 8 * done, blocks - done);
}

DesBlock DesCipher::Crypt(const DesBlock& in) const
{
    DesBlock out;
    CryptScalar(in.data(), out.data(), 1);
    return out;
}

// ---------------------------------------------------------------------------
// The key rule and the schedule-then-blocks interface

DesKey DesKeyFromText(std::string_view keyText)
{
    // Byte i (one-based) of the text is added to key byte i mod 8, so eight
    // bytes come out rotated right by one and longer texts wrap around.
    DesKey key{};
    for (std::size_t i = 0; i < keyText.size(); ++i) {
        auto& slot = key[(i + 1) % 8];
        slot = static_cast<std::uint8_t>(slot + static_cast<std::uint8_t>(keyText[i]));
    }
    return key;
}

void DesMakeSubKeys(const DesKey& key, bool encrypt)
{
    currentSchedule = DesCipher(key, encrypt, DesEngine::Portable);
}

DesBlock DesCryptBlock(const DesBlock& in)
{
    return currentSchedule.Crypt(in);
}

DesBlock DesEncryptBlock(const DesBlock& in, std::string_view keyText)
{
    return DesCipher(DesKeyFromText(keyText), true, DesEngine::Portable).Crypt(in);
}

DesBlock DesDecryptBlock(const DesBlock& in, std::string_view keyText)
{
    return DesCipher(DesKeyFromText(keyText), false, DesEngine::Portable).Crypt(in);
}

// ---------------------------------------------------------------------------
// Text in hexadecimal form

std::string DesEncryptTextHex(std::string_view text, std::string_view keyText)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const DesCipher cipher(DesKeyFromText(keyText), true);
    std::string hex;
    // An empty text still gives one (all-zero) block.
    const std::size_t blocks = text.empty() ? 1 : (text.size() + 7) / 8;
    hex.reserve(blocks * 16);
    for (std::size_t b = 0; b < blocks; ++b) {
        DesBlock block{};
        const std::size_t start = b * 8;
        for (std::size_t i = 0; i < 8 && start + i < text.size(); ++i)
            block[i] = static_cast<std::uint8_t>(text[start + i]);
        for (const std::uint8_t byte : cipher.Crypt(block)) {
            hex += kDigits[byte >> 4];
            hex += kDigits[byte & 15];
        }
    }
    return hex;
}

std::string DesDecryptTextHex(std::string_view hex, std::string_view keyText)
{
    if (hex.empty())
        return {};
    // Two digits per byte; a lone digit at the end is a byte of its own.
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = HexDigit(hex[i]);
        if (high < 0)
            return {};
        if (i + 1 == hex.size()) {
            bytes += static_cast<char>(high);
            break;
        }
        const int low = HexDigit(hex[i + 1]);
        if (low < 0)
            return {};
        bytes += static_cast<char>(high * 16 + low);
    }
    bytes.resize((bytes.size() + 7) / 8 * 8, '\0');

    const DesCipher cipher(DesKeyFromText(keyText), false);
    std::string text(bytes.size(), '\0');
    cipher.Crypt(reinterpret_cast<const std::uint8_t*>(bytes.data()), reinterpret_cast<std::uint8_t*>(text.data()),
                 bytes.size() / 8);
    // The zero fill of the last block (and whatever follows a zero byte)
    // is not part of the text.
    const std::size_t zero = text.find('\0');
    if (zero != std::string::npos)
        text.resize(zero);
    return text;
}
