#include "CodePage.h"

#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iconv.h>

namespace codepage {
namespace {

const char* IconvName(int codePage)
{
    switch (codePage) {
    case 936: return "GBK";
    case 950: return "BIG5";
    case 932: return "CP932";
    case 949: return "CP949";
    default: return "CP1252";
    }
}

bool StartsWith(const char* text, const char* prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Length of the UTF-8 sequence that starts with this byte (1 for a stray byte).
size_t SequenceLength(unsigned char c)
{
    if (c >= 0xF0 && c <= 0xF4) return 4;
    if (c >= 0xE0) return 3;
    if (c >= 0xC2 && c <= 0xDF) return 2;
    return 1;
}

class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() { if (ok()) iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts as much as possible; returns false at an input sequence it can't take.
    bool Run(const char*& in, size_t& inLeft, std::string& out)
    {
        char buffer[4096];
        while (inLeft > 0) {
            char* outPtr = buffer;
            size_t outLeft = sizeof buffer;
            const size_t rc = iconv(cd_, const_cast<char**>(&in), &inLeft, &outPtr, &outLeft);
            out.append(buffer, static_cast<size_t>(outPtr - buffer));
            if (rc == static_cast<size_t>(-1)) {
                if (errno == E2BIG)
                    continue;
                return false;
            }
        }
        return true;
    }

private:
    iconv_t cd_;
};

}  // namespace

int AnsiCodePage()
{
    const char* locale = nullptr;
    for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(var);
        if (value && *value) {
            locale = value;
            break;
        }
    }
    if (!locale || std::strcmp(locale, "C") == 0 || std::strcmp(locale, "POSIX") == 0 || StartsWith(locale, "C.") ||
        StartsWith(locale, "POSIX."))
        return 936;
    if (StartsWith(locale, "zh_CN") || StartsWith(locale, "zh_SG"))
        return 936;
    if (StartsWith(locale, "zh_TW") || StartsWith(locale, "zh_HK") || StartsWith(locale, "zh_MO"))
        return 950;
    if (StartsWith(locale, "ja"))
        return 932;
    if (StartsWith(locale, "ko"))
        return 949;
    return 1252;
}

std::string Utf8ToAnsi(std::string_view utf8, int codePage)
{
    std::string out;
    Converter conv(IconvName(codePage), "UTF-8");
    if (!conv.ok())
        return std::string(utf8);
    const char* in = utf8.data();
    size_t left = utf8.size();
    while (!conv.Run(in, left, out)) {
        // A character the code page can't express, or a broken sequence: "?" as on Windows.
        const size_t skip = std::min(left, SequenceLength(static_cast<unsigned char>(*in)));
        in += skip;
        left -= skip;
        out += '?';
    }
    return out;
}

std::string AnsiToUtf8(std::string_view bytes, int codePage)
{
    std::string out;
    Converter conv("UTF-8", IconvName(codePage));
    if (!conv.ok())
        return std::string(bytes);
    const char* in = bytes.data();
    size_t left = bytes.size();
    while (!conv.Run(in, left, out)) {
        ++in;
        --left;
        out += "\xEF\xBF\xBD";
    }
    return out;
}

namespace {

// The length of the valid UTF-8 sequence at bytes[i] and its code point, or 0
// when the byte there starts none (stray, overlong, surrogate, cut short).
std::size_t SequenceAt(std::string_view bytes, std::size_t i, char32_t& cp)
{
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    std::size_t n;
    if (c >= 0xC2 && c <= 0xDF) { n = 2; cp = c & 0x1F; }
    else if (c >= 0xE0 && c <= 0xEF) { n = 3; cp = c & 0x0F; }
    else if (c >= 0xF0 && c <= 0xF4) { n = 4; cp = c & 0x07; }
    else return 0;
    if (bytes.size() - i < n)
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const unsigned char cc = static_cast<unsigned char>(bytes[i + k]);
        if ((cc & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (cc & 0x3F);
    }
    if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
        return 0;
    return n;
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

bool AnsiToUtf8Exact(std::string_view bytes, std::string& utf8, int codePage)
{
    utf8.clear();
    Converter conv("UTF-8", IconvName(codePage));
    const char* in = bytes.data();
    size_t left = bytes.size();
    return conv.ok() && conv.Run(in, left, utf8);
}

namespace {

// Walks bytes as UTF-8: valid(cp, sequence) for each well-formed sequence,
// invalid(byte) for each byte that is part of none. Either may return false
// to stop the walk, which then returns false.
template <typename Valid, typename Invalid>
bool ForEachSequence(std::string_view bytes, Valid valid, Invalid invalid)
{
    char32_t cp;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t n = SequenceAt(bytes, i, cp);
        if (n == 0 ? !invalid(static_cast<unsigned char>(bytes[i])) : !valid(cp, bytes.substr(i, n)))
            return false;
        i += n == 0 ? 1 : n;
    }
    return true;
}

}  // namespace

bool IsAscii(std::string_view bytes)
{
    std::size_t i = 0;
    std::uint64_t high = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + i, 8);
        high |= word;
    }
    for (; i < bytes.size(); ++i)
        high |= static_cast<unsigned char>(bytes[i]);
    return (high & 0x8080808080808080ull) == 0;
}

bool IsValidUtf8(std::string_view bytes)
{
    return ForEachSequence(
        bytes, [](char32_t, std::string_view) { return true; }, [](unsigned char) { return false; });
}

std::u16string EscapedUtf16(std::string_view bytes)
{
    std::u16string text;
    text.reserve(bytes.size());
    ForEachSequence(
        bytes,
        [&](char32_t cp, std::string_view) {
            if (cp >= 0x10000) {
                text += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
                text += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
            } else {
                text += static_cast<char16_t>(cp);
            }
            return true;
        },
        [&](unsigned char byte) {
            text += static_cast<char16_t>(0xDC00 + byte);
            return true;
        });
    return text;
}

bool UnescapedBytes(std::u16string_view text, std::string& bytes)
{
    // Most paths are ASCII for a long stretch: copy that stretch as it is.
    std::size_t ascii = 0;
    while (ascii < text.size() && text[ascii] < 0x80)
        ++ascii;
    bytes.assign(ascii, '\0');
    for (std::size_t i = 0; i < ascii; ++i)
        bytes[i] = static_cast<char>(text[i]);
    bytes.reserve(text.size() + (text.size() - ascii) * 2);
    for (std::size_t i = ascii; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            AppendUtf8(bytes, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (char32_t{text[i + 1]} - 0xDC00));
            ++i;
        } else if (u >= 0xDC80 && u <= 0xDCFF) {
            bytes += static_cast<char>(u - 0xDC00);
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            return false;
        } else {
            AppendUtf8(bytes, u);
        }
    }
    return true;
}

std::string ReadableUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    ForEachSequence(
        bytes,
        [&](char32_t, std::string_view sequence) {
            out.append(sequence);
            return true;
        },
        [&](unsigned char) {
            out += "\xEF\xBF\xBD";
            return true;
        });
    return out;
}

}  // namespace codepage
