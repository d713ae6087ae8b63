#include "ZipCodec.h"
#include "ZipCodecLibs.h"

#include <algorithm>
#include <climits>
#include <libdeflate.h>
#include <vector>
#include <zlib.h>

namespace zipcodec {
namespace {

using Kind = CodecError::Kind;

constexpr std::size_t kOutChunk = 1024 * 1024;

// Deflate through a zlib stream, and whole small members through libdeflate,
// which inflates them more than twice as fast.
class DeflateDecoder : public Decoder {
public:
    DeflateDecoder() : out_(kOutChunk), whole_(libdeflate_alloc_decompressor())
    {
        if (inflateInit2(&zs_, -MAX_WBITS) != Z_OK)
            throw CodecError(Kind::NoMemory, "zlib");
    }
    ~DeflateDecoder() override
    {
        inflateEnd(&zs_);
        libdeflate_free_decompressor(whole_);
    }

    std::size_t Decode(Input& in, Output& out, std::uint64_t) override
    {
        inflateReset(&zs_);
        zs_.avail_in = 0;
        const unsigned char* next = nullptr;
        std::size_t left = 0;
        bool full = false;  // more output may be waiting without more input
        for (;;) {
            if (zs_.avail_in == 0 && left == 0 && !full) {
                next = in.Next(left);
                if (left == 0)
                    throw CodecError(Kind::Damaged, "压缩数据提前结束");
            }
            if (zs_.avail_in == 0 && left > 0) {
                const std::size_t take = std::min<std::size_t>(left, UINT_MAX);
                zs_.next_in = const_cast<Bytef*>(next);
                zs_.avail_in = static_cast<uInt>(take);
                next += take;
                left -= take;
            }
            zs_.next_out = out_.data();
            zs_.avail_out = static_cast<uInt>(out_.size());
            const int rc = inflate(&zs_, Z_NO_FLUSH);
            if (rc == Z_MEM_ERROR)
                throw CodecError(Kind::NoMemory, "zlib");
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
                throw CodecError(Kind::Damaged, zs_.msg ? zs_.msg : "压缩数据有误");
            full = zs_.avail_out == 0;
            out.Put(out_.data(), out_.size() - zs_.avail_out);
            if (rc == Z_STREAM_END) {
                const std::size_t unused = zs_.avail_in + left;
                zs_.avail_in = 0;
                return unused;
            }
        }
    }

    bool DecodeWhole(const unsigned char* in, std::size_t inLen, unsigned char* out, std::size_t outLen) override
    {
        std::size_t used = 0, produced = 0;
        return whole_ && libdeflate_deflate_decompress_ex(whole_, in, inLen, out, outLen, &used, &produced) ==
                             LIBDEFLATE_SUCCESS &&
               used == inLen && produced == outLen;
    }

private:
    z_stream zs_{};
    std::vector<unsigned char> out_;
    libdeflate_decompressor* whole_;
};

template <typename T>
std::unique_ptr<Decoder> Make()
{
    return std::make_unique<T>();
}

const Codec kCodecs[] = {
    {0, "Stored", true, nullptr},
    {8, "Deflate", false, &Make<DeflateDecoder>},
    {9, "Deflate64", false, &NewDeflate64},
    {12, "BZip2", false, &NewBzip2},
    {14, "LZMA", false, &NewLzma},
    {93, "Zstandard", false, &NewZstd},
    {95, "xz", false, &NewXz},
};

}  // namespace

const Codec* Find(std::uint16_t method)
{
    for (const Codec& c : kCodecs)
        if (c.method == method)
            return &c;
    return nullptr;
}

std::string MethodName(std::uint16_t method)
{
    if (const Codec* c = Find(method))
        return c->name;
    switch (method) {
    case 1: return "Shrink";
    case 2: case 3: case 4: case 5: return "Reduce";
    case 6: return "Implode";
    case 7: return "Tokenize";
    case 10: return "PKWARE DCL Implode";
    case 18: return "IBM TERSE";
    case 19: return "IBM LZ77 z";
    case 96: return "JPEG";
    case 97: return "WavPack";
    case 98: return "PPMd";
    case 99: return "AES";
    default: return {};
    }
}

}  // namespace zipcodec
