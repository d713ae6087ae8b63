// Feeds arbitrary bytes to the archive reader as an archive in memory: lists
// the members and extracts every file member into memory under a cap, with
// all the checks extraction to disk makes, without touching the disk.
// Encrypted members are opened with the password "pw".

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "ZipArchive.h"

namespace {

// A relative path that stays below the target and that the walk can use: no
// empty, "." or ".." part, no part over 255 bytes, under 4096 bytes in all.
// ("\" may be a name character: archives from Unix keep it.)
bool StaysInside(const std::string& rel)
{
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(rel.find('/', start), rel.size());
        const std::string part = rel.substr(start, end - start);
        if (part.empty() || part == "." || part == ".." || part.size() > 255 || rel.size() >= 4096)
            return false;
        if (end == rel.size())
            return true;
        start = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Deflate expands at most about 1032 to 1, so a cap of 64 MiB still lets
    // every input libFuzzer makes by default inflate in full.
    constexpr std::uint64_t kCap = 64u << 20;
    try {
        ZipArchive archive;
        archive.OpenBuffer(data, size);
        // The password of the encrypted seeds, so that their members are
        // decrypted and authenticated rather than refused at once.
        archive.SetPassword("pw");
        (void)archive.PasswordOpens("pw");
        std::size_t names = 0;
        for (const ZipHeader& h : archive.Headers())
            names += h.Name.size();
        std::uint64_t total = 0;
        archive.ExtractToMemory(kCap, [&](const ZipHeader& h, const std::string& rel, std::string&& bytes) {
            // The reader promised exactly the declared size and a path inside the target.
            if (bytes.size() != h.UncompressedSize || !StaysInside(rel))
                __builtin_trap();
            total += bytes.size();
        });
        if (total > kCap)
            __builtin_trap();
        (void)names;
    } catch (const ZipError&) {
    }
    return 0;
}
