#pragma once
// The decompressors of ZIP members, one table keyed by the method number a
// member's header stores. The container never calls a compression library
// itself: it finds the member's codec here, hands it the member's bytes
// and checks what comes out.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace zipcodec {

// Where a decoder takes the member's compressed bytes from.
class Input {
public:
    virtual ~Input() = default;
    // The next bytes of the member's data; n is set to 0 at its end. The
    // bytes stay valid until the next call.
    virtual const unsigned char* Next(std::size_t& n) = 0;
};

// Where a decoder puts what it decodes. Put may throw (too much data, a
// failed write); the decoder lets that through.
class Output {
public:
    virtual ~Output() = default;
    virtual void Put(const unsigned char* data, std::size_t n) = 0;
};

// A failure of the codec on one member. The container names the member.
class CodecError : public std::runtime_error {
public:
    enum class Kind {
        Damaged,   // what: the library's own text (or ours) about the data
        TooLarge,  // what: the memory the data asks for, refused before decoding
        NoMemory,
    };
    CodecError(Kind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// The largest dictionary or window a member may ask for. Beyond it the
// member is refused before decoding, so an archive can't make us take
// gigabytes of memory.
inline constexpr std::uint64_t kMaxWindow = std::uint64_t{256} << 20;

// Decodes members of one method. One decoder serves many members in turn.
class Decoder {
public:
    virtual ~Decoder() = default;
    // Decodes one member from its start to the end of its stream and returns
    // how many bytes of the last chunk taken from in were left unused (data
    // after the end of the stream). expected is the size the header declares.
    // Throws CodecError when the stream is damaged or ends early.
    virtual std::size_t Decode(Input& in, Output& out, std::uint64_t expected) = 0;
    // Decodes a whole member held in memory into exactly outLen bytes when it
    // decodes completely and cleanly; false leaves it to Decode, which gives
    // the precise reason for a damaged member.
    virtual bool DecodeWhole(const unsigned char*, std::size_t, unsigned char*, std::size_t) { return false; }
};

struct Codec {
    std::uint16_t method;
    const char* name;
    // Stored members: the data is the member, no decoder is needed.
    bool copies;
    std::unique_ptr<Decoder> (*make)();
};

// The codec of a method, nullptr when there is none.
const Codec* Find(std::uint16_t method);

// The usual name of a method number for messages ("PPMd", "Shrink"), or
// an empty string for a number no writer we know uses.
std::string MethodName(std::uint16_t method);

}  // namespace zipcodec
