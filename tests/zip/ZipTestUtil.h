#pragma once
// Helpers of the ZIP tests: temporary folders, whole files, shell commands,
// and a small builder of raw archives for the hostile cases.

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "ZipArchive.h"

namespace ziptest {

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir()
    {
        std::string tmpl = (fs::temp_directory_path() / "vz_test_XXXXXX").string();
        if (!mkdtemp(tmpl.data()))
            throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

private:
    std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("can't write " + path);
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Every file and folder below root as a relative path, sorted; folders end in "/".
inline std::vector<std::string> Tree(const std::string& root)
{
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        std::string rel = fs::relative(e.path(), root).string();
        if (e.is_directory() && !e.is_symlink())
            rel += "/";
        out.push_back(rel);
    }
    std::sort(out.begin(), out.end());
    return out;
}

inline int Shell(const std::string& command, std::string* output = nullptr)
{
    std::string text;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return -1;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        text.append(buf, n);
    const int rc = pclose(p);
    if (output)
        *output = text;
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

inline bool HaveTool(const std::string& name)
{
    return Shell("command -v " + name + " >/dev/null") == 0;
}

inline std::string Quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline std::string Pseudorandom(std::size_t n, std::uint32_t seed)
{
    std::string s(n, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& c : s) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    return s;
}

inline std::string RawDeflate(const std::string& data)
{
    z_stream zs{};
    deflateInit2(&zs, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, data.size()) + 16, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

inline std::uint32_t Crc(const std::string& data)
{
    return static_cast<std::uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

inline void P16(std::string& o, std::uint32_t v)
{
    o.push_back(static_cast<char>(v & 0xFF));
    o.push_back(static_cast<char>((v >> 8) & 0xFF));
}
inline void P32(std::string& o, std::uint32_t v)
{
    P16(o, v & 0xFFFF);
    P16(o, v >> 16);
}

// One member of a hand-made archive; the defaults give a valid stored member.
struct Raw {
    std::string name;
    std::string content;        // uncompressed
    std::uint16_t method = 0;   // 0 stored, 8 deflate, other: data stored as is
    std::uint16_t flags = 0x0800;
    std::uint16_t madeBy = 0x031E;
    std::uint32_t external = 0100644u << 16;
    std::string centralExtra;
    std::string localExtra;
    std::string localName;          // when not empty, the local header's name
    std::int64_t declaredSize = -1; // when set, the size written in both headers
    bool descriptor = false;        // sizes in a signed data descriptor
    std::string trailing;           // bytes after the member's data, counted in its compressed size
    std::string packed;             // when not empty, the member's data as stored (content compressed elsewhere)
};

inline Raw M(std::string name, std::string content, std::uint16_t method = 0)
{
    Raw r;
    r.name = std::move(name);
    r.content = std::move(content);
    r.method = method;
    return r;
}

// With VELMORA_SAVE_ZIPS set to a folder, every archive a test crafts is kept
// there too, to seed the reader's fuzzer.
inline void SaveForFuzzing(const std::string& bytes)
{
    const char* folder = std::getenv("VELMORA_SAVE_ZIPS");
    if (!folder || !*folder)
        return;
    char name[32];
    std::snprintf(name, sizeof name, "/crafted_%08x_%zu", Crc(bytes), bytes.size());
    std::ofstream(folder + std::string(name), std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Builds the archive; *offsets receives each member's local header offset.
inline std::string BuildZip(const std::vector<Raw>& members, std::vector<std::uint32_t>* offsets = nullptr)
{
    std::string body, central;
    for (const Raw& m : members) {
        const std::string data =
            (!m.packed.empty() ? m.packed : m.method == 8 ? RawDeflate(m.content) : m.content) + m.trailing;
        const std::uint32_t crc = Crc(m.content);
        const std::uint32_t usize = m.declaredSize >= 0 ? static_cast<std::uint32_t>(m.declaredSize)
                                                        : static_cast<std::uint32_t>(m.content.size());
        const std::uint32_t csize = m.method == 0 && m.declaredSize >= 0 ? usize : static_cast<std::uint32_t>(data.size());
        const std::uint32_t offset = static_cast<std::uint32_t>(body.size());
        if (offsets)
            offsets->push_back(offset);
        const std::string localName = m.localName.empty() ? m.name : m.localName;
        const std::uint16_t flags = m.flags | (m.descriptor ? 8 : 0);
        std::string h;
        P32(h, 0x04034b50);
        P16(h, 20);
        P16(h, flags);
        P16(h, m.method);
        P16(h, 0x6000);
        P16(h, 0x5A21);
        P32(h, m.descriptor ? 0 : crc);
        P32(h, m.descriptor ? 0 : csize);
        P32(h, m.descriptor ? 0 : usize);
        P16(h, static_cast<std::uint32_t>(localName.size()));
        P16(h, static_cast<std::uint32_t>(m.localExtra.size()));
        body += h + localName + m.localExtra + data;
        if (m.descriptor) {
            P32(body, 0x08074b50);
            P32(body, crc);
            P32(body, csize);
            P32(body, usize);
        }
        std::string c;
        P32(c, 0x02014b50);
        P16(c, m.madeBy);
        P16(c, 20);
        P16(c, flags);
        P16(c, m.method);
        P16(c, 0x6000);
        P16(c, 0x5A21);
        P32(c, crc);
        P32(c, csize);
        P32(c, usize);
        P16(c, static_cast<std::uint32_t>(m.name.size()));
        P16(c, static_cast<std::uint32_t>(m.centralExtra.size()));
        P16(c, 0);
        P16(c, 0);
        P16(c, 0);
        P32(c, m.external);
        P32(c, offset);
        central += c + m.name + m.centralExtra;
    }
    std::string end;
    P32(end, 0x06054b50);
    P16(end, 0);
    P16(end, 0);
    P16(end, static_cast<std::uint32_t>(members.size()));
    P16(end, static_cast<std::uint32_t>(members.size()));
    P32(end, static_cast<std::uint32_t>(central.size()));
    P32(end, static_cast<std::uint32_t>(body.size()));
    P16(end, 0);
    SaveForFuzzing(body + central + end);
    return body + central + end;
}

inline std::size_t FindOrFail(const std::string& hay, const std::string& needle, std::size_t from = 0)
{
    const std::size_t at = hay.find(needle, from);
    if (at == std::string::npos)
        throw std::runtime_error("pattern not found in archive bytes");
    return at;
}

inline std::string ErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const ZipError& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("not a ZipError: ") + e.what();
    }
    return "no error";
}

// Extracting bytes fails with a message holding `expected`, and the target
// folder gets nothing: not even the good member that comes first.
inline void ExpectRefused(const std::string& bytes, const std::string& expected)
{
    TempDir dir;
    WriteFile(dir / "h.zip", bytes);
    const std::string message = ErrorOf([&] { ZipArchive::ExtractZipFile(dir / "h.zip", dir / "out", {}); });
    EXPECT_NE(message.find(expected), std::string::npos) << "message: " << message;
    EXPECT_EQ(Tree(dir.Path()), (std::vector<std::string>{"h.zip"}) ) << "something was written";
}

inline std::uint32_t G16(const std::string& s, std::size_t at)
{
    return static_cast<unsigned char>(s.at(at)) | (static_cast<unsigned char>(s.at(at + 1)) << 8);
}
inline std::uint32_t G32(const std::string& s, std::size_t at)
{
    return G16(s, at) | (G16(s, at + 2) << 16);
}

// One member of an archive as its headers and bytes say, for checks of what
// a writer put there. Archives without Zip64 records or a comment only.
struct Parsed {
    std::string name, localExtra, centralExtra, data;  // data: the raw (encrypted) bytes
    std::uint32_t localFlags = 0, flags = 0, method = 0, crc = 0, dosTime = 0, usize = 0;
};

inline std::vector<Parsed> ParseZip(const std::string& zip)
{
    const std::size_t end = zip.size() - 22;
    if (G32(zip, end) != 0x06054b50)
        throw std::runtime_error("no end record at the archive's end");
    std::vector<Parsed> out;
    std::size_t c = G32(zip, end + 16);
    for (std::uint32_t i = 0; i < G16(zip, end + 10); ++i) {
        Parsed m;
        m.flags = G16(zip, c + 8);
        m.method = G16(zip, c + 10);
        m.dosTime = G16(zip, c + 12);
        m.crc = G32(zip, c + 16);
        m.usize = G32(zip, c + 24);
        const std::size_t n = G16(zip, c + 28), e = G16(zip, c + 30), k = G16(zip, c + 32);
        m.name = zip.substr(c + 46, n);
        m.centralExtra = zip.substr(c + 46 + n, e);
        const std::size_t l = G32(zip, c + 42);
        m.localFlags = G16(zip, l + 6);
        const std::size_t ln = G16(zip, l + 26), le = G16(zip, l + 28);
        m.localExtra = zip.substr(l + 30 + ln, le);
        m.data = zip.substr(l + 30 + ln + le, G32(zip, c + 20));
        out.push_back(std::move(m));
        c += 46 + n + e + k;
    }
    return out;
}

// The body of the extra field tagged tag, or nothing.
inline std::optional<std::string> ExtraField(const std::string& extra, std::uint32_t tag)
{
    for (std::size_t at = 0; at + 4 <= extra.size(); at += 4 + G16(extra, at + 2))
        if (G16(extra, at) == tag)
            return extra.substr(at + 4, G16(extra, at + 2));
    return std::nullopt;
}

inline std::string RawInflate(const std::string& data)
{
    z_stream zs{};
    inflateInit2(&zs, -MAX_WBITS);
    std::string out;
    char buf[65536];
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    int rc = Z_OK;
    while (rc == Z_OK) {
        zs.next_out = reinterpret_cast<Bytef*>(buf);
        zs.avail_out = sizeof buf;
        rc = inflate(&zs, Z_NO_FLUSH);
        out.append(buf, sizeof buf - zs.avail_out);
    }
    inflateEnd(&zs);
    if (rc != Z_STREAM_END)
        throw std::runtime_error("raw inflate failed");
    return out;
}

}  // namespace ziptest
