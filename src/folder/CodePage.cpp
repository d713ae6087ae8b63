#include "CodePage.h"

#include <cerrno>
#include <cstdlib>
#include <algorithm>
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
    if (!locale)
        return 1252;
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

bool IsValidUtf8(std::string_view bytes)
{
    size_t i = 0;
    while (i < bytes.size()) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) { ++i; continue; }
        size_t n;
        unsigned int cp;
        if (c >= 0xC2 && c <= 0xDF) { n = 2; cp = c & 0x1F; }
        else if (c >= 0xE0 && c <= 0xEF) { n = 3; cp = c & 0x0F; }
        else if (c >= 0xF0 && c <= 0xF4) { n = 4; cp = c & 0x07; }
        else return false;
        if (i + n > bytes.size())
            return false;
        for (size_t k = 1; k < n; ++k) {
            const unsigned char cc = static_cast<unsigned char>(bytes[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        i += n;
    }
    return true;
}

}  // namespace codepage
