#pragma once
// Reads one member's data the way every extraction does: its stored bytes,
// then the member's filter (none for a plain member), then the codec of its
// method, then the check of its declared size and CRC-32. Nothing decoded is
// handed on beyond the declared size.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ZipCodec.h"
#include "ZipFilter.h"
#include "ZipReader.h"

namespace zipmember {

using Sink = std::function<void(const char* data, std::size_t n)>;
using Report = std::function<void(std::uint64_t done)>;

// Throws the ZipError that refuses a member whose method has no codec.
void CheckMethod(const zipread::Entry& e);

class Decoder {
public:
    explicit Decoder(zipfilter::Factory filters = {});
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // The member's data, checked.
    std::string Decode(const zipio::Source& source, const zipread::Entry& e, const Report& report);
    // Checks the member's data without keeping it.
    void Check(const zipio::Source& source, const zipread::Entry& e);
    // Hands the member's data to sink piece by piece, then checks it; a
    // failure after the first piece means the pieces are to be dropped.
    void Run(const zipio::Source& source, const zipread::Entry& e, const Sink& sink, const Report& report);

private:
    // Decodes the member into *whole in one call when it is small and its
    // codec can; else, or when that fails, streams it to sink.
    void Go(const zipio::Source& source, const zipread::Entry& e, const Sink& sink, const Report& report,
            std::string* whole);
    zipcodec::Decoder* DecoderFor(const zipcodec::Codec& codec);

    zipfilter::Factory filters_;
    std::vector<unsigned char> in_;
    std::vector<unsigned char> packed_;  // a whole member's stored data
    std::map<std::uint16_t, std::unique_ptr<zipcodec::Decoder>> decoders_;
};

}  // namespace zipmember
