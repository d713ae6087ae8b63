// bzip2, LZMA, xz and zstd members, on the Debian libraries of each.

#include <bzlib.h>
#include <lzma.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "ZipCodecLibs.h"

namespace zipcodec {
namespace {

using Kind = CodecError::Kind;

constexpr std::size_t kOutChunk = 1024 * 1024;

[[noreturn]] void Truncated()
{
    throw CodecError(Kind::Damaged, "压缩数据提前结束");
}

// The input of one member taken piece by piece, in pieces a library whose
// counts are 32-bit can take.
class Pieces {
public:
    explicit Pieces(Input& in) : in_(in) {}
    // Makes at least one byte ready; false at the end of the member's data.
    bool Ready()
    {
        if (left_ == 0)
            next_ = in_.Next(left_);
        return left_ != 0;
    }
    // Up to UINT_MAX bytes, handed to the library.
    std::size_t Take(const unsigned char*& p)
    {
        p = next_;
        const std::size_t n = std::min<std::size_t>(left_, UINT_MAX);
        next_ += n;
        left_ -= n;
        return n;
    }
    // Copies the next n bytes to dst, for a header in front of the stream.
    void Copy(unsigned char* dst, std::size_t n)
    {
        while (n > 0) {
            if (!Ready())
                Truncated();
            const std::size_t k = std::min(n, left_);
            std::copy(next_, next_ + k, dst);
            next_ += k;
            left_ -= k;
            dst += k;
            n -= k;
        }
    }
    std::size_t Left() const { return left_; }

private:
    Input& in_;
    const unsigned char* next_ = nullptr;
    std::size_t left_ = 0;
};

const char* Bzip2Text(int rc)
{
    switch (rc) {
    case BZ_DATA_ERROR: return "bzip2: data integrity error (BZ_DATA_ERROR)";
    case BZ_DATA_ERROR_MAGIC: return "bzip2: bad magic number (BZ_DATA_ERROR_MAGIC)";
    case BZ_PARAM_ERROR: return "bzip2: parameter error (BZ_PARAM_ERROR)";
    default: return "bzip2: internal error";
    }
}

class Bzip2Decoder : public Decoder {
public:
    std::size_t Decode(Input& in, Output& out, std::uint64_t) override
    {
        bz_stream bz{};
        if (BZ2_bzDecompressInit(&bz, 0, 0) != BZ_OK)
            throw CodecError(Kind::NoMemory, "bzip2");
        struct Guard {
            bz_stream* s;
            ~Guard() { BZ2_bzDecompressEnd(s); }
        } guard{&bz};
        Pieces pieces(in);
        bool full = false;  // more output may be waiting without more input
        for (;;) {
            if (bz.avail_in == 0 && !full) {
                if (!pieces.Ready())
                    Truncated();
                const unsigned char* p;
                bz.avail_in = static_cast<unsigned>(pieces.Take(p));
                bz.next_in = const_cast<char*>(reinterpret_cast<const char*>(p));
            }
            bz.next_out = reinterpret_cast<char*>(out_.data());
            bz.avail_out = static_cast<unsigned>(out_.size());
            const int rc = BZ2_bzDecompress(&bz);
            if (rc == BZ_MEM_ERROR)
                throw CodecError(Kind::NoMemory, "bzip2");
            if (rc != BZ_OK && rc != BZ_STREAM_END)
                throw CodecError(Kind::Damaged, Bzip2Text(rc));
            full = bz.avail_out == 0;
            out.Put(out_.data(), out_.size() - bz.avail_out);
            if (rc == BZ_STREAM_END)
                return bz.avail_in + pieces.Left();
        }
    }

private:
    std::vector<unsigned char> out_ = std::vector<unsigned char>(kOutChunk);
};

const char* LzmaText(lzma_ret rc)
{
    switch (rc) {
    case LZMA_DATA_ERROR: return "liblzma: compressed data is corrupt (LZMA_DATA_ERROR)";
    case LZMA_FORMAT_ERROR: return "liblzma: file format not recognized (LZMA_FORMAT_ERROR)";
    case LZMA_OPTIONS_ERROR: return "liblzma: unsupported options (LZMA_OPTIONS_ERROR)";
    case LZMA_BUF_ERROR: return "liblzma: unexpected end of input (LZMA_BUF_ERROR)";
    default: return "liblzma: internal error";
    }
}

// The stream loop of liblzma, shared by LZMA and xz members.
class LzmaBase : public Decoder {
public:
    ~LzmaBase() override { lzma_end(&strm_); }

protected:
    std::size_t Run(Pieces& pieces, Output& out)
    {
        strm_.avail_in = 0;
        for (;;) {
            if (strm_.avail_in == 0 && pieces.Ready())
                strm_.avail_in = pieces.Take(strm_.next_in);
            strm_.next_out = out_.data();
            strm_.avail_out = out_.size();
            const lzma_ret rc = lzma_code(&strm_, strm_.avail_in == 0 ? LZMA_FINISH : LZMA_RUN);
            out.Put(out_.data(), out_.size() - strm_.avail_out);
            if (rc == LZMA_STREAM_END)
                return strm_.avail_in + pieces.Left();
            Fail(rc);
        }
    }
    static void Fail(lzma_ret rc)
    {
        if (rc == LZMA_OK)
            return;
        if (rc == LZMA_MEM_ERROR)
            throw CodecError(Kind::NoMemory, "liblzma");
        if (rc == LZMA_MEMLIMIT_ERROR)
            throw CodecError(Kind::TooLarge, "解压时需要超过 256 MiB 的内存，不予解压");
        if (rc == LZMA_BUF_ERROR)
            Truncated();
        throw CodecError(Kind::Damaged, LzmaText(rc));
    }

    lzma_stream strm_ = LZMA_STREAM_INIT;
    std::vector<unsigned char> out_ = std::vector<unsigned char>(kOutChunk);
};

// LZMA members start with 2 version bytes and a 2-byte length of the LZMA
// properties that follow; the raw LZMA data after them ends either at the
// declared size or at an end marker, and both are accepted.
class LzmaDecoder : public LzmaBase {
public:
    std::size_t Decode(Input& in, Output& out, std::uint64_t expected) override
    {
        Pieces pieces(in);
        unsigned char head[9];
        pieces.Copy(head, sizeof head);
        if (head[2] != 5 || head[3] != 0)
            throw CodecError(Kind::Damaged, "LZMA 属性的长度有误");
        lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
        Fail(lzma_properties_decode(&filters[0], nullptr, head + 4, 5));
        auto* options = static_cast<lzma_options_lzma*>(filters[0].options);
        struct Owner {
            void* p;
            ~Owner() { free(p); }
        } owner{options};
        if (options->dict_size > kMaxWindow)
            throw CodecError(Kind::TooLarge, "的 LZMA 字典大于 256 MiB，不予解压");
        options->ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
        options->ext_size_low = static_cast<std::uint32_t>(expected);
        options->ext_size_high = static_cast<std::uint32_t>(expected >> 32);
        Fail(lzma_raw_decoder(&strm_, filters));
        return Run(pieces, out);
    }
};

// xz members hold one .xz stream; the memory limit refuses a dictionary
// above the largest window before anything is decoded.
class XzDecoder : public LzmaBase {
public:
    std::size_t Decode(Input& in, Output& out, std::uint64_t) override
    {
        Fail(lzma_stream_decoder(&strm_, kMaxWindow + (8 << 20), 0));
        Pieces pieces(in);
        return Run(pieces, out);
    }
};

class ZstdDecoder : public Decoder {
public:
    ZstdDecoder() : dctx_(ZSTD_createDCtx())
    {
        if (!dctx_)
            throw CodecError(Kind::NoMemory, "zstd");
    }
    ~ZstdDecoder() override { ZSTD_freeDCtx(dctx_); }

    // A member may hold several frames one after another; it ends with the
    // member's data, at the end of a frame.
    std::size_t Decode(Input& in, Output& out, std::uint64_t) override
    {
        ZSTD_DCtx_reset(dctx_, ZSTD_reset_session_and_parameters);
        ZSTD_DCtx_setParameter(dctx_, ZSTD_d_windowLogMax, 28);
        Pieces pieces(in);
        ZSTD_inBuffer inb{nullptr, 0, 0};
        std::size_t hint = 1;  // 0 once a frame is complete
        bool full = false;     // more output may be waiting without more input
        for (;;) {
            if (inb.pos == inb.size && !full) {
                if (!pieces.Ready()) {
                    if (hint != 0)
                        Truncated();
                    return 0;
                }
                const unsigned char* p;
                inb.size = pieces.Take(p);
                inb.src = p;
                inb.pos = 0;
            }
            ZSTD_outBuffer outb{out_.data(), out_.size(), 0};
            hint = ZSTD_decompressStream(dctx_, &outb, &inb);
            if (ZSTD_isError(hint)) {
                if (ZSTD_getErrorCode(hint) == ZSTD_error_frameParameter_windowTooLarge)
                    throw CodecError(Kind::TooLarge, "的 zstd 窗口大于 256 MiB，不予解压");
                if (ZSTD_getErrorCode(hint) == ZSTD_error_memory_allocation)
                    throw CodecError(Kind::NoMemory, "zstd");
                throw CodecError(Kind::Damaged, std::string("zstd: ") + ZSTD_getErrorName(hint));
            }
            full = outb.pos == outb.size;
            out.Put(out_.data(), outb.pos);
        }
    }

private:
    ZSTD_DCtx* dctx_;
    std::vector<unsigned char> out_ = std::vector<unsigned char>(kOutChunk);
};

}  // namespace

std::unique_ptr<Decoder> NewBzip2()
{
    return std::make_unique<Bzip2Decoder>();
}
std::unique_ptr<Decoder> NewLzma()
{
    return std::make_unique<LzmaDecoder>();
}
std::unique_ptr<Decoder> NewXz()
{
    return std::make_unique<XzDecoder>();
}
std::unique_ptr<Decoder> NewZstd()
{
    return std::make_unique<ZstdDecoder>();
}

}  // namespace zipcodec
