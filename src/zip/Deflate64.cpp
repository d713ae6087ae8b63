// Deflate64 ("enhanced deflate"), which no Debian library decodes. It is
// deflate with a 64 KiB window: length code 285 takes 16 extra bits (base 3)
// instead of meaning 258, and distance codes 30 and 31 reach back 32769 and
// 49153 bytes with 14 extra bits. Everything else (blocks, the code trees)
// is deflate's.

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "ZipCodecLibs.h"

namespace zipcodec {
namespace {

using Kind = CodecError::Kind;

[[noreturn]] void Bad(const char* why)
{
    throw CodecError(Kind::Damaged, std::string("Deflate64: ") + why);
}

constexpr std::size_t kWindow = 64 * 1024;
constexpr std::size_t kSpan = 1024 * 1024;     // output handed on at a time
constexpr std::size_t kMaxMatch = 3 + 0xFFFF;  // length code 285 at its longest

constexpr std::uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3};
constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16};
constexpr std::uint32_t kDistBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                         49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                         2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr std::uint8_t kDistExtra[32] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,  6,
                                         7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};

// A canonical Huffman code as a lookup table: the first kBits bits find a
// symbol directly, or a sub-table indexed by the code's remaining bits.
class Huffman {
public:
    static constexpr unsigned kBits = 10;
    static constexpr unsigned kMaxLen = 15;

    // lengths[i] is the code length of symbol i, 0 when unused. An
    // over-subscribed set is refused; an incomplete one is allowed (a
    // single distance code is common) and its unused codes fail when met.
    void Build(const std::uint8_t* lengths, unsigned count)
    {
        unsigned perLength[kMaxLen + 1] = {};
        for (unsigned i = 0; i < count; ++i)
            ++perLength[lengths[i]];
        perLength[0] = 0;
        int left = 1;
        for (unsigned len = 1; len <= kMaxLen; ++len) {
            left = left * 2 - static_cast<int>(perLength[len]);
            if (left < 0)
                Bad("编码表过满");
        }
        unsigned next[kMaxLen + 2] = {};
        for (unsigned len = 1; len <= kMaxLen; ++len)
            next[len + 1] = (next[len] + perLength[len]) << 1;
        table_.assign(std::size_t{1} << kBits, 0);
        for (unsigned sym = 0; sym < count; ++sym) {
            const unsigned len = lengths[sym];
            if (len == 0)
                continue;
            const unsigned code = Reverse(next[len]++, len);
            if (len <= kBits) {
                for (unsigned i = code; i < (1u << kBits); i += 1u << len)
                    table_[i] = Entry(sym, len);
                continue;
            }
            // Longer codes: a sub-table of 2^(kMaxLen - kBits) entries per prefix.
            const unsigned prefix = code & ((1u << kBits) - 1);
            if (table_[prefix] == 0) {
                table_[prefix] = kSub | static_cast<std::uint32_t>(table_.size() << 5);
                table_.resize(table_.size() + (1u << (kMaxLen - kBits)), 0);
            }
            const std::size_t base = (table_[prefix] & ~kSub) >> 5;
            for (unsigned i = code >> kBits; i < (1u << (kMaxLen - kBits)); i += 1u << (len - kBits))
                table_[base + i] = Entry(sym, len);
        }
    }

    // The entry for the next bits (at least kMaxLen of them, low bit first):
    // the symbol in its upper bits, its code length in the low 5; 0 for a
    // code no symbol has.
    std::uint32_t Find(std::uint64_t bits) const
    {
        std::uint32_t e = table_[bits & ((1u << kBits) - 1)];
        if (e & kSub)
            e = table_[((e & ~kSub) >> 5) + (bits >> kBits & ((1u << (kMaxLen - kBits)) - 1))];
        return e;
    }

private:
    static constexpr std::uint32_t kSub = 0x80000000u;
    static std::uint32_t Entry(unsigned sym, unsigned len) { return static_cast<std::uint32_t>(sym) << 5 | len; }
    static unsigned Reverse(unsigned code, unsigned len)
    {
        unsigned r = 0;
        for (unsigned i = 0; i < len; ++i, code >>= 1)
            r = r << 1 | (code & 1);
        return r;
    }

    std::vector<std::uint32_t> table_;
};

// Bits of the member's data, low bit first. At the end of the data the
// buffer is padded with zero bits so that a code can be looked up; using
// one of them means the data ended early.
class BitReader {
public:
    explicit BitReader(Input& in) : in_(in) {}

    std::uint64_t Peek()
    {
        if (count_ < 32)
            Refill();
        return bits_;
    }
    void Drop(unsigned n)
    {
        bits_ >>= n;
        count_ -= n;
        if (count_ < padded_)
            Bad("压缩数据提前结束");
    }
    unsigned Take(unsigned n)
    {
        if (n == 0)
            return 0;
        const unsigned v = static_cast<unsigned>(Peek() & ((std::uint64_t{1} << n) - 1));
        Drop(n);
        return v;
    }
    void AlignToByte() { Drop(count_ % 8); }
    // Bytes past the end of the stream: whole bytes still in the buffer and
    // what is left of the current piece.
    std::size_t Unused() const { return (count_ - padded_) / 8 + left_; }

private:
    void Refill()
    {
        while (count_ <= 56) {
            if (left_ == 0 && !ended_) {
                next_ = in_.Next(left_);
                ended_ = left_ == 0;
            }
            if (left_ == 0) {
                padded_ += 8;
            } else {
                bits_ |= std::uint64_t{*next_++} << count_;
                --left_;
            }
            count_ += 8;
        }
    }

    Input& in_;
    const unsigned char* next_ = nullptr;
    std::size_t left_ = 0;
    bool ended_ = false;
    std::uint64_t bits_ = 0;
    unsigned count_ = 0;
    unsigned padded_ = 0;
};

class Deflate64Decoder : public Decoder {
public:
    Deflate64Decoder() : window_(kWindow + kSpan + kMaxMatch) {}

    std::size_t Decode(Input& in, Output& out, std::uint64_t) override
    {
        BitReader bits(in);
        pos_ = flushed_ = 0;
        bool last = false;
        while (!last) {
            last = bits.Take(1) != 0;
            switch (bits.Take(2)) {
            case 0: Stored(bits, out); break;
            case 1: Fixed(); Codes(bits, out); break;
            case 2: Dynamic(bits); Codes(bits, out); break;
            default: Bad("无效的块类型");
            }
        }
        Flush(out);
        return bits.Unused();
    }

private:
    void Stored(BitReader& bits, Output& out)
    {
        bits.AlignToByte();
        const unsigned len = bits.Take(16);
        if ((bits.Take(16) ^ 0xFFFF) != len)
            Bad("不压缩块的长度有误");
        for (unsigned i = 0; i < len; ++i) {
            window_[pos_++] = static_cast<unsigned char>(bits.Take(8));
            if (pos_ >= kWindow + kSpan)
                Slide(out);
        }
    }

    void Fixed()
    {
        std::uint8_t lengths[320];
        std::fill(lengths, lengths + 144, 8);
        std::fill(lengths + 144, lengths + 256, 9);
        std::fill(lengths + 256, lengths + 280, 7);
        std::fill(lengths + 280, lengths + 288, 8);
        std::fill(lengths + 288, lengths + 320, 5);
        literals_.Build(lengths, 288);
        distances_.Build(lengths + 288, 32);
    }

    void Dynamic(BitReader& bits)
    {
        const unsigned nlit = bits.Take(5) + 257, ndist = bits.Take(5) + 1, ncode = bits.Take(4) + 4;
        if (nlit > 286)
            Bad("字面量编码过多");
        static constexpr std::uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        std::uint8_t codeLengths[19] = {};
        for (unsigned i = 0; i < ncode; ++i)
            codeLengths[kOrder[i]] = static_cast<std::uint8_t>(bits.Take(3));
        Huffman lengthCode;
        lengthCode.Build(codeLengths, 19);
        std::uint8_t lengths[286 + 32] = {};
        for (unsigned i = 0; i < nlit + ndist;) {
            const unsigned sym = Symbol(lengthCode, bits);
            if (sym < 16) {
                lengths[i++] = static_cast<std::uint8_t>(sym);
                continue;
            }
            unsigned repeat = 0;
            std::uint8_t value = 0;
            if (sym == 16) {
                if (i == 0)
                    Bad("重复的码长没有前值");
                value = lengths[i - 1];
                repeat = 3 + bits.Take(2);
            } else {
                repeat = sym == 17 ? 3 + bits.Take(3) : 11 + bits.Take(7);
            }
            if (repeat > nlit + ndist - i)
                Bad("码长超出了编码表");
            std::fill(lengths + i, lengths + i + repeat, value);
            i += repeat;
        }
        if (lengths[256] == 0)
            Bad("缺少块结束码");
        literals_.Build(lengths, nlit);
        distances_.Build(lengths + nlit, ndist);
    }

    static unsigned Symbol(const Huffman& code, BitReader& bits)
    {
        const std::uint32_t e = code.Find(bits.Peek());
        if (e == 0)
            Bad("无效的编码");
        bits.Drop(e & 31);
        return e >> 5;
    }

    void Codes(BitReader& bits, Output& out)
    {
        for (;;) {
            const unsigned sym = Symbol(literals_, bits);
            if (sym < 256) {
                window_[pos_++] = static_cast<unsigned char>(sym);
            } else if (sym == 256) {
                return;
            } else {
                if (sym > 285)
                    Bad("无效的长度码");
                const std::size_t len = kLengthBase[sym - 257] + bits.Take(kLengthExtra[sym - 257]);
                const unsigned d = Symbol(distances_, bits);
                const std::size_t dist = kDistBase[d] + bits.Take(kDistExtra[d]);
                if (dist > pos_)
                    Bad("距离超出了已解出的数据");
                Copy(len, dist);
            }
            if (pos_ >= kWindow + kSpan)
                Slide(out);
        }
    }

    void Copy(std::size_t len, std::size_t dist)
    {
        unsigned char* to = window_.data() + pos_;
        const unsigned char* from = to - dist;
        if (dist >= len) {
            std::memcpy(to, from, len);
        } else {
            for (std::size_t i = 0; i < len; ++i)
                to[i] = from[i];
        }
        pos_ += len;
    }

    void Flush(Output& out)
    {
        out.Put(window_.data() + flushed_, pos_ - flushed_);
        flushed_ = pos_;
    }

    // Hands on what is decoded and keeps the last 64 KiB for later matches.
    void Slide(Output& out)
    {
        Flush(out);
        std::memmove(window_.data(), window_.data() + pos_ - kWindow, kWindow);
        pos_ = flushed_ = kWindow;
    }

    std::vector<unsigned char> window_;
    std::size_t pos_ = 0, flushed_ = 0;
    Huffman literals_, distances_;
};

}  // namespace

std::unique_ptr<Decoder> NewDeflate64()
{
    return std::make_unique<Deflate64Decoder>();
}

}  // namespace zipcodec
