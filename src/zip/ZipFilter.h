#pragma once
// The stage between a member's stored bytes and its codec. A member whose
// data is stored transformed (encrypted, for one) gets a filter that turns
// the stored bytes back into the codec's input; every other member passes
// unchanged. The base class is that unchanged passage.
//
// The order for one member: Begin with the header bytes taken from the
// front of its data, Apply over the bytes between header and trailer in
// order, then End with the trailer bytes taken from its end. End comes after
// every byte went through Apply and before the member's file is put in
// place, so a filter that authenticates the data can still refuse it then.
// A filter refuses by throwing ZipError with a message naming the member.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace zipread {
struct Entry;
}

namespace zipfilter {

class Filter {
public:
    virtual ~Filter() = default;
    // Bytes the filter takes from the front and from the end of the data.
    virtual std::size_t HeaderSize() const { return 0; }
    virtual std::size_t TrailerSize() const { return 0; }
    virtual void Begin(const unsigned char* /*header*/, std::size_t /*n*/) {}
    // Turns the next n bytes in place.
    virtual void Apply(unsigned char* /*data*/, std::size_t /*n*/) {}
    virtual void End(const unsigned char* /*trailer*/, std::size_t /*n*/) {}
    // False when the member's stored CRC-32 is not to be checked because
    // its writer left it 0 on purpose and authenticates the data instead.
    virtual bool ChecksCrc() const { return true; }
};

// The filter for one member, or nullptr for a member whose bytes pass
// unchanged. Without a factory an encrypted member is refused.
using Factory = std::function<std::unique_ptr<Filter>(const zipread::Entry&)>;

}  // namespace zipfilter
