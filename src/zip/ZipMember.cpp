#include "ZipMember.h"

#include <algorithm>

#include "ZipCrc.h"
#include "ZipFormat.h"
#include "ZipIo.h"

namespace zipmember {
namespace {

constexpr std::size_t kInChunk = 256 * 1024;
// A member of at most this size is decoded in one call when its codec can:
// libdeflate inflates such a member more than twice as fast as a stream.
constexpr std::uint64_t kWholeMember = 1024 * 1024;

[[noreturn]] void Damaged(const ZipHeader& hd, const char* why)
{
    throw ZipError("成员" + hd.Name + "已损坏：" + why);
}

// The member's bytes between the filter's header and trailer, read from the
// archive and passed through the filter.
class MemberInput : public zipcodec::Input {
public:
    // Reads what the decoder left and ends the filter; returns how many
    // bytes were left over after the end of the stream.
    virtual std::uint64_t Finish() = 0;
};

class SourceInput : public MemberInput {
public:
    SourceInput(const zipio::Source& source, std::uint64_t begin, std::uint64_t size, std::vector<unsigned char>& buf,
                zipfilter::Filter* filter, std::uint64_t trailerAt, std::size_t trailerSize)
        : source_(source), pos_(begin), left_(size), buf_(buf), filter_(filter), trailerAt_(trailerAt),
          trailerSize_(trailerSize)
    {
    }
    const unsigned char* Next(std::size_t& n) override
    {
        n = static_cast<std::size_t>(std::min<std::uint64_t>(left_, buf_.size()));
        if (n == 0)
            return nullptr;
        source_.ReadExact(pos_, buf_.data(), n, "成员数据");
        pos_ += n;
        left_ -= n;
        if (filter_)
            filter_->Apply(buf_.data(), n);
        return buf_.data();
    }
    std::uint64_t Finish() override
    {
        if (!filter_)
            return left_;
        std::uint64_t rest = 0;
        std::size_t n = 0;
        for (Next(n); n != 0; Next(n))
            rest += n;
        unsigned char trailer[64];
        const std::size_t len = std::min(trailerSize_, sizeof trailer);
        source_.ReadExact(trailerAt_, trailer, len, "成员数据");
        filter_->End(trailer, len);
        return rest;
    }

private:
    const zipio::Source& source_;
    std::uint64_t pos_, left_;
    std::vector<unsigned char>& buf_;
    zipfilter::Filter* filter_;
    std::uint64_t trailerAt_;
    std::size_t trailerSize_;
};

// A member's bytes already read and filtered whole.
class MemoryInput : public MemberInput {
public:
    MemoryInput(const unsigned char* data, std::size_t size) : data_(data), left_(size) {}
    const unsigned char* Next(std::size_t& n) override
    {
        n = left_;
        left_ = 0;
        return data_;
    }
    std::uint64_t Finish() override { return left_; }

private:
    const unsigned char* data_;
    std::size_t left_;
};

struct Member {
    const zipread::Entry& e;
    const zipcodec::Codec* codec = nullptr;
    std::unique_ptr<zipfilter::Filter> filter;
    std::size_t headerSize = 0, trailerSize = 0;
    std::uint64_t payloadSize = 0;
    bool checkCrc = true;
};

// Hands decoded bytes on while checking them against the declared size and CRC-32.
class CheckedOutput : public zipcodec::Output {
public:
    CheckedOutput(const ZipHeader& hd, bool checkCrc, const Sink& sink, const Report& report)
        : hd_(hd), checkCrc_(checkCrc), sink_(sink), report_(report)
    {
    }
    void Put(const unsigned char* data, std::size_t n) override
    {
        if (n > hd_.UncompressedSize - produced_)
            Damaged(hd_, "数据多于其声明的大小");
        if (checkCrc_)
            crc_ = zipcrc::Update(crc_, data, n);
        sink_(reinterpret_cast<const char*>(data), n);
        produced_ += n;
        report_(produced_);
    }
    void Check() const
    {
        if (produced_ != hd_.UncompressedSize)
            Damaged(hd_, "数据少于其声明的大小");
        if (checkCrc_ && crc_ != hd_.Crc32)
            Damaged(hd_, "CRC-32 校验和不符");
    }

private:
    const ZipHeader& hd_;
    const bool checkCrc_;
    const Sink& sink_;
    const Report& report_;
    std::uint64_t produced_ = 0;
    std::uint32_t crc_ = 0;
};

}  // namespace

void CheckMethod(const zipread::Entry& e)
{
    if (zipcodec::Find(e.codecMethod))
        return;
    const std::string name = zipcodec::MethodName(e.codecMethod);
    throw ZipError("成员" + e.header.Name + "使用的压缩方法" + (name.empty() ? "" : " " + name) + "（编号 " +
                   std::to_string(e.codecMethod) + "）不受支持");
}

Decoder::Decoder(zipfilter::Factory filters) : filters_(std::move(filters)), in_(kInChunk) {}
Decoder::~Decoder() = default;

zipcodec::Decoder* Decoder::DecoderFor(const zipcodec::Codec& codec)
{
    if (codec.copies)
        return nullptr;
    auto& slot = decoders_[codec.method];
    if (!slot)
        slot = codec.make();
    return slot.get();
}

namespace {

void Stream(Member& m, zipcodec::Decoder* decoder, MemberInput& in, const Sink& sink, const Report& report)
{
    const ZipHeader& hd = m.e.header;
    CheckedOutput out(hd, m.checkCrc, sink, report);
    std::uint64_t leftover = 0;
    // A member may be stored with no data at all, whatever its method says.
    if (!decoder || (m.payloadSize == 0 && hd.UncompressedSize == 0)) {
        std::size_t n = 0;
        for (const unsigned char* p = in.Next(n); n != 0; p = in.Next(n))
            out.Put(p, n);
    } else {
        try {
            leftover = decoder->Decode(in, out, hd.UncompressedSize);
        } catch (const zipcodec::CodecError& err) {
            // A filter that authenticates the data speaks first: tampered
            // data is reported as such, not as damage it caused.
            in.Finish();
            using Kind = zipcodec::CodecError::Kind;
            if (err.kind() == Kind::TooLarge)
                throw ZipError("成员" + hd.Name + err.what());
            if (err.kind() == Kind::NoMemory)
                throw ZipError("内存不足，无法解压成员" + hd.Name);
            throw ZipError("成员" + hd.Name + "的压缩数据已损坏：" + err.what());
        }
    }
    leftover += in.Finish();
    if (leftover != 0)
        Damaged(hd, "压缩流结束后还有数据");
    out.Check();
}

}  // namespace

void Decoder::Go(const zipio::Source& source, const zipread::Entry& e, const Sink& sink, const Report& report,
                 std::string* whole)
{
    const ZipHeader& hd = e.header;
    CheckMethod(e);
    Member m{e, nullptr, nullptr};
    m.codec = zipcodec::Find(e.codecMethod);
    if (filters_)
        m.filter = filters_(e);
    if (m.filter) {
        m.headerSize = m.filter->HeaderSize();
        m.trailerSize = m.filter->TrailerSize();
        m.checkCrc = m.filter->ChecksCrc();
    }
    if (hd.CompressedSize < std::uint64_t{m.headerSize} + m.trailerSize)
        Damaged(hd, "数据太短");
    m.payloadSize = hd.CompressedSize - m.headerSize - m.trailerSize;
    zipcodec::Decoder* decoder = DecoderFor(*m.codec);
    const std::uint64_t size = hd.UncompressedSize;

    if (whole && decoder && size > 0 && size <= kWholeMember && hd.CompressedSize <= size + size / 64 + 1024) {
        // The whole member in memory: filtered at once, then decoded in one
        // call, or streamed from memory when that call refuses it.
        const std::size_t stored = static_cast<std::size_t>(hd.CompressedSize);
        if (packed_.size() < stored)
            packed_.resize(stored);
        source.ReadExact(e.dataOffset, packed_.data(), stored, "成员数据");
        unsigned char* payload = packed_.data() + m.headerSize;
        const std::size_t payloadSize = static_cast<std::size_t>(m.payloadSize);
        if (m.filter) {
            m.filter->Begin(packed_.data(), m.headerSize);
            m.filter->Apply(payload, payloadSize);
            m.filter->End(payload + payloadSize, m.trailerSize);
        }
        whole->resize(static_cast<std::size_t>(size));
        auto* out = reinterpret_cast<unsigned char*>(whole->data());
        if (decoder->DecodeWhole(payload, payloadSize, out, whole->size()) &&
            (!m.checkCrc || zipcrc::Update(0, out, whole->size()) == hd.Crc32)) {
            report(size);
            return;
        }
        whole->clear();
        MemoryInput in(payload, payloadSize);
        Stream(m, decoder, in, sink, report);
        return;
    }
    if (m.headerSize > 0) {
        std::vector<unsigned char> header(m.headerSize);
        source.ReadExact(e.dataOffset, header.data(), header.size(), "成员数据");
        m.filter->Begin(header.data(), header.size());
    }
    SourceInput in(source, e.dataOffset + m.headerSize, m.payloadSize, in_, m.filter.get(),
                   e.dataOffset + m.headerSize + m.payloadSize, m.trailerSize);
    Stream(m, decoder, in, sink, report);
}

std::string Decoder::Decode(const zipio::Source& source, const zipread::Entry& e, const Report& report)
{
    std::string data;
    Go(source, e, [&](const char* p, std::size_t n) { data.append(p, n); }, report, &data);
    return data;
}

void Decoder::Check(const zipio::Source& source, const zipread::Entry& e)
{
    std::string scratch;
    Go(source, e, [](const char*, std::size_t) {}, [](std::uint64_t) {}, &scratch);
}

void Decoder::Run(const zipio::Source& source, const zipread::Entry& e, const Sink& sink, const Report& report)
{
    Go(source, e, sink, report, nullptr);
}

}  // namespace zipmember
