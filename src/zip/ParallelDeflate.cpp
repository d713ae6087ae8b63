#include "ParallelDeflate.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <future>
#include <libdeflate.h>
#include <memory>
#include <zlib.h>

#include "WorkerPool.h"
#include "ZipCrc.h"
#include "ZipCrypto.h"
#include "ZipIo.h"

namespace paralleldeflate {
namespace {

constexpr std::size_t kChunk = 256 * 1024;
constexpr std::size_t kDictionary = 32 * 1024;
// A file below this size (most files of a real folder) is read as one piece
// and compressed by libdeflate in one call, more than twice as fast as a zlib
// stream; larger files are cut into chunks, as libdeflate can neither take a
// dictionary nor end a piece without ending the stream. Larger whole pieces
// would also leave the progress bar standing still through a file.
constexpr std::size_t kWholeMember = 1 << 20;
// Level 5 gives archives within a fraction of a percent of the customary
// level 6 on source trees and mixed data, for about a fifth less work.
constexpr int kLevel = 5;
// Whole members: libdeflate's level 5 compresses source trees a little better
// than zlib's level 6 at under half the work. Its level 4 is a fifth less work
// again for about 2 % more output; taken for the larger members, where most of
// a tree's bytes and time are, it keeps a source tree's archive within half a
// percent of zip's level 6 and its compression some 8 % faster. The small
// files keep level 5, as they cost more per byte and gain less.
constexpr int kWholeLevel = 5;
constexpr int kLargeWholeLevel = 4;
constexpr std::size_t kLargeWhole = 32 * 1024;

struct Chunk {
    std::vector<unsigned char> input;
    std::size_t length = 0;  // of the input; stored chunks hand their input over as output
    std::string dictionary;  // the member's preceding 32 KiB, empty for its first chunk
    bool first = false;
    bool last = false;
    bool deflate = true;
    std::vector<unsigned char> output;
    std::uint32_t crc = 0;
    std::string error;
    // Encrypted archives: the password, and the stream a member's first
    // chunk leaves for the rest of it.
    const std::string* password = nullptr;
    std::unique_ptr<zipcrypto::AesStream> aes;
};

// One deflate stream per worker thread, reset for every chunk.
class Deflater {
public:
    explicit Deflater(int level)
    {
        ok_ = deflateInit2(&zs_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~Deflater()
    {
        if (ok_)
            deflateEnd(&zs_);
    }

    void Run(Chunk& c)
    {
        if (!ok_ || deflateReset(&zs_) != Z_OK) {
            c.error = "压缩时内存不足";
            return;
        }
        if (!c.dictionary.empty())
            deflateSetDictionary(&zs_, reinterpret_cast<const Bytef*>(c.dictionary.data()),
                                 static_cast<uInt>(c.dictionary.size()));
        c.output.resize(deflateBound(&zs_, c.input.size()) + 64);
        zs_.next_in = c.input.data();
        zs_.avail_in = static_cast<uInt>(c.input.size());
        std::size_t produced = 0;
        // Not the member's end: a sync flush ends the chunk on a byte boundary
        // without a final block, so the next chunk's output simply follows.
        const int flush = c.last ? Z_FINISH : Z_SYNC_FLUSH;
        for (;;) {
            zs_.next_out = c.output.data() + produced;
            zs_.avail_out = static_cast<uInt>(c.output.size() - produced);
            const int rc = deflate(&zs_, flush);
            produced = c.output.size() - zs_.avail_out;
            if (rc == Z_STREAM_END || (flush == Z_SYNC_FLUSH && zs_.avail_out != 0 && zs_.avail_in == 0))
                break;
            if (rc != Z_OK && rc != Z_BUF_ERROR) {
                c.error = "压缩失败";
                return;
            }
            c.output.resize(c.output.size() * 2);
        }
        c.output.resize(produced);
    }

private:
    z_stream zs_{};
    bool ok_ = false;
};

// One libdeflate compressor per worker thread, for members read whole.
class WholeDeflater {
public:
    explicit WholeDeflater(int level) : compressor_(libdeflate_alloc_compressor(level)) {}
    ~WholeDeflater() { libdeflate_free_compressor(compressor_); }
    WholeDeflater(const WholeDeflater&) = delete;
    WholeDeflater& operator=(const WholeDeflater&) = delete;

    void Run(Chunk& c)
    {
        if (!compressor_) {
            c.error = "压缩时内存不足";
            return;
        }
        c.output.resize(libdeflate_deflate_compress_bound(compressor_, c.input.size()));
        const std::size_t n =
            libdeflate_deflate_compress(compressor_, c.input.data(), c.input.size(), c.output.data(), c.output.size());
        if (n == 0)
            c.error = "压缩失败";
        c.output.resize(n);
    }

private:
    libdeflate_compressor* compressor_;
};

// Random-looking data (compressed files, media) gains nothing from the match
// search, which is most of the cost of deflating it: such a chunk is written
// as stored blocks inside the deflate stream. A chunk qualifies only when its
// bytes are near-uniform and hardly any 8-byte string repeats within the
// deflate window, so compressible data is never stored.
// Bits per byte of the byte histogram of in[0, size).
double Entropy(const std::vector<unsigned char>& in, std::size_t size)
{
    std::array<std::uint32_t, 256> counts{};
    for (std::size_t i = 0; i < size; ++i)
        ++counts[in[i]];
    double entropy = 0;
    const double n = static_cast<double>(size);
    for (std::uint32_t c : counts) {
        if (c != 0) {
            const double p = c / n;
            entropy -= p * std::log2(p);
        }
    }
    return entropy;
}

bool LooksIncompressible(const std::vector<unsigned char>& in)
{
    if (in.size() < 16 * 1024)
        return false;
    // Text and most other compressible data show it in their first 4 KiB,
    // whose estimate for random bytes stays near 7.95; the whole chunk is
    // counted only when that start looks random.
    if (Entropy(in, 4096) < 7.5 || Entropy(in, in.size()) < 7.99)
        return false;
    // Stale entries from an earlier chunk only lead to comparisons of this
    // chunk's own bytes, so the table needs no clearing.
    thread_local std::vector<std::uint32_t> table(1 << 16);
    std::size_t repeated = 0;
    for (std::size_t i = 0; i + 8 <= in.size(); ++i) {
        std::uint64_t v;
        std::memcpy(&v, in.data() + i, 8);
        std::uint32_t& slot = table[(v * 0x9E3779B97F4A7C15ull) >> 48];
        const std::size_t j = slot;
        slot = static_cast<std::uint32_t>(i);
        // One load and a compare of the candidate's 8 bytes, without a call:
        // this loop runs once for every byte of random data.
        std::uint64_t w;
        std::memcpy(&w, in.data() + (j < i ? j : 0), 8);
        if (j < i && i - j <= 32768 && w == v) {
            repeated += 8;
            if (repeated * 200 > in.size())
                return false;
            i += 7;
        }
    }
    return true;
}

void Append(std::vector<unsigned char>& out, const unsigned char* data, std::size_t len)
{
    out.insert(out.end(), data, data + len);
}

// A member's keys are derived on the worker that compressed its first chunk,
// the costly part of encryption. A member of one chunk is encrypted and
// sealed with its code there too; the later chunks of a larger one are
// encrypted in order as they are written, as each continues the counter
// where the previous one's compressed data ended.
void Encrypt(Chunk& c)
{
    try {
        zipcrypto::AesSeal seal = zipcrypto::SealMember(*c.password);
        seal.stream->Encrypt(c.output.data(), c.output.size());
        c.output.insert(c.output.begin(), seal.head.begin(), seal.head.end());
        if (c.last) {
            const auto mac = seal.stream->Mac();
            Append(c.output, mac.data(), mac.size());
        } else {
            c.aes = std::move(seal.stream);
        }
    } catch (const std::exception& e) {
        c.error = e.what();
    }
}

void Compress(Chunk& c)
{
    if (!c.deflate) {
        c.output.swap(c.input);
        return;
    }
    thread_local Deflater storer(0);
    if (LooksIncompressible(c.input)) {
        storer.Run(c);
    } else if (c.first && c.last) {
        thread_local WholeDeflater whole(kWholeLevel), large(kLargeWholeLevel);
        (c.input.size() < kLargeWhole ? whole : large).Run(c);
    } else {
        thread_local Deflater deflater(kLevel);
        deflater.Run(c);
    }
}

void Work(Chunk& c)
{
    c.crc = zipcrc::Update(0, c.input.data(), c.input.size());
    Compress(c);
    if (c.password && c.first && c.error.empty())
        Encrypt(c);
}

struct Member {
    zipwrite::Source source;
    std::string name;
    ZipHeader header;
    std::string tail;  // the last 32 KiB read, the next chunk's dictionary
    bool eof = false;
    std::uint64_t read = 0;
    std::uint64_t written = 0, compressed = 0;
    uLong crc = 0;
    std::unique_ptr<zipcrypto::AesStream> aes;  // of a member of several chunks
};

// Chunks handed to one worker together, so that a tree of small files costs
// few hand-overs.
struct Batch {
    std::vector<std::shared_ptr<Chunk>> chunks;
    std::size_t bytes = 0;
    std::shared_future<void> done;
    bool submitted = false;

    void Submit()
    {
        submitted = true;
        auto work = std::make_shared<std::vector<std::shared_ptr<Chunk>>>(std::move(chunks));
        done = zippool::Pool::Instance()
                   .Submit([work] {
                       for (const auto& chunk : *work)
                           Work(*chunk);
                   })
                   .share();
    }
};

struct Pending {
    std::shared_ptr<Chunk> chunk;
    std::shared_ptr<Batch> batch;
    std::shared_ptr<Member> member;
    bool first = false;
    std::exception_ptr error;  // a read failure, raised when its turn comes
};

class Pipeline {
public:
    Pipeline(zipwrite::Writer& writer, const std::vector<Job>& jobs, ZipMethod method,
             const zipwrite::Progress& progress, const zipwrite::Admit& admit, const reach::Root& from,
             const zipwrite::Skipped& skipped)
        : writer_(writer), jobs_(jobs), admit_(admit), from_(from), skipped_(skipped), method_(method),
          progress_(progress),
          maxChunks_(2 * zippool::Pool::Instance().Size() + 2)
    {
    }

    ~Pipeline()
    {
        for (Pending& p : inFlight_)
            if (p.batch && p.batch->submitted)
                p.batch->done.wait();
    }

    void Run()
    {
        for (;;) {
            // Many small files may be in flight, but never more than a few
            // chunks' worth of data.
            while (inFlight_.size() < 16 * maxChunks_ && inFlightBytes_ < maxChunks_ * kChunk && !failed_ &&
                   Produce()) {
            }
            if (inFlight_.empty())
                return;
            if (inFlight_.front().batch && !inFlight_.front().batch->submitted)
                SendBatch();
            Consume(inFlight_.front());
            if (inFlight_.front().chunk)
                inFlightBytes_ -= inFlight_.front().chunk->length;
            inFlight_.pop_front();
        }
    }

private:
    // Reads the next chunk and hands it to a worker; false when all is read.
    bool Produce()
    {
        try {
            while (!reading_ || reading_->eof) {
                if (nextJob_ == jobs_.size())
                    return false;
                const Job& job = jobs_[nextJob_++];
                reading_ = std::make_shared<Member>();
                reading_->source = zipwrite::OpenSource(job.sourcePath, admit_, from_, skipped_);
                if (!reading_->source.fd.Valid()) {
                    reading_.reset();  // turned down: no member
                    continue;
                }
                reading_->name = job.memberName.empty() ? zipio::BareName(job.sourcePath) : job.memberName;
                readingFirst_ = true;
            }
            auto chunk = std::make_shared<Chunk>();
            chunk->deflate = method_ == ZipMethod::Deflate;
            if (!writer_.Password().empty())
                chunk->password = &writer_.Password();
            // A file is taken at the size it had when it was opened: what
            // another program appends meanwhile is not part of the member. A
            // file that fits is read in one piece.
            const std::uint64_t remaining = reading_->source.size - reading_->read;
            const std::size_t piece = readingFirst_ && remaining < kWholeMember ? kWholeMember : kChunk;
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(piece, remaining));
            chunk->input.resize(want);
            std::size_t got = 0;
            while (got < want) {
                const std::size_t n = zipio::ReadSome(reading_->source.fd.Get(), chunk->input.data() + got,
                                                      want - got, reading_->source.path);
                if (n == 0)
                    break;  // it shrank meanwhile
                got += n;
            }
            reading_->eof = got < want || reading_->read + got == reading_->source.size;
            chunk->input.resize(got);
            chunk->length = got;
            reading_->read += got;
            inFlightBytes_ += got;
            chunk->first = readingFirst_;
            chunk->last = reading_->eof;
            if (chunk->deflate) {
                chunk->dictionary = reading_->tail;
                if (!chunk->last)
                    Remember(reading_->tail, chunk->input);
            }
            if (!batch_)
                batch_ = std::make_shared<Batch>();
            batch_->chunks.push_back(chunk);
            batch_->bytes += got;
            Pending p;
            p.chunk = chunk;
            p.batch = batch_;
            p.member = reading_;
            p.first = readingFirst_;
            readingFirst_ = false;
            inFlight_.push_back(std::move(p));
            if (batch_->bytes >= kChunk || batch_->chunks.size() >= 32)
                SendBatch();
        } catch (...) {
            Pending p;
            p.error = std::current_exception();
            inFlight_.push_back(std::move(p));
            failed_ = true;
        }
        return !failed_;
    }

    void SendBatch()
    {
        if (batch_)
            batch_->Submit();
        batch_.reset();
    }

    static void Remember(std::string& tail, const std::vector<unsigned char>& input)
    {
        if (input.size() >= kDictionary) {
            tail.assign(reinterpret_cast<const char*>(input.data() + input.size() - kDictionary), kDictionary);
            return;
        }
        tail.append(reinterpret_cast<const char*>(input.data()), input.size());
        if (tail.size() > kDictionary)
            tail.erase(0, tail.size() - kDictionary);
    }

    static void ContinueEncryption(Member& m, Chunk& c)
    {
        m.aes->Encrypt(c.output.data(), c.output.size());
        if (c.last) {
            const auto mac = m.aes->Mac();
            Append(c.output, mac.data(), mac.size());
            m.aes.reset();
        }
    }

    // Writes the oldest chunk, in member order, and reports progress.
    void Consume(Pending& p)
    {
        if (p.error) {
            writer_.Rollback();
            std::rethrow_exception(p.error);
        }
        Member& m = *p.member;
        try {
            p.batch->done.get();
            if (p.first) {
                m.header = writer_.Begin(m.source, m.name, method_);
                m.crc = 0;
                if (progress_)
                    progress_(m.source.path, m.header, 0);
            }
            Chunk& c = *p.chunk;
            if (!c.error.empty())
                throw ZipError("无法压缩" + m.source.path + "：" + c.error);
            if (c.aes)
                m.aes = std::move(c.aes);
            else if (m.aes)
                ContinueEncryption(m, c);
            writer_.Append(c.output.data(), c.output.size());
            m.crc = crc32_combine64(m.crc, c.crc, static_cast<z_off64_t>(c.length));
            m.written += c.length;
            m.compressed += c.output.size();
            if (progress_ && c.length != 0)
                progress_(m.source.path, m.header, static_cast<std::int64_t>(m.written));
            if (c.last)
                writer_.End(static_cast<std::uint32_t>(m.crc), m.written, m.compressed);
        } catch (...) {
            writer_.Rollback();
            throw;
        }
    }

    zipwrite::Writer& writer_;
    const std::vector<Job>& jobs_;
    const zipwrite::Admit& admit_;
    const reach::Root& from_;
    const zipwrite::Skipped& skipped_;
    ZipMethod method_;
    const zipwrite::Progress& progress_;
    const std::size_t maxChunks_;
    std::size_t inFlightBytes_ = 0;
    std::deque<Pending> inFlight_;
    std::shared_ptr<Member> reading_;
    std::shared_ptr<Batch> batch_;  // still taking chunks
    bool readingFirst_ = false;
    std::size_t nextJob_ = 0;
    bool failed_ = false;
};

}  // namespace

void CompressMany(zipwrite::Writer& writer, const std::vector<Job>& jobs, ZipMethod method,
                  const zipwrite::Progress& progress, const zipwrite::Admit& admit, const reach::Root& from,
                  const zipwrite::Skipped& skipped)
{
    Pipeline pipeline(writer, jobs, method, progress, admit, from, skipped);
    pipeline.Run();
}

}  // namespace paralleldeflate
