// Feeds arbitrary bytes to the archive reader as a file and checks every
// member it accepts, as extraction would, without writing anything.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "ZipArchive.h"

namespace {

std::string ScratchPath()
{
    return "/tmp/vz_fuzz_" + std::to_string(::getpid()) + ".zip";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = ScratchPath();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    try {
        ZipArchive archive;
        archive.Open(path, ZipMode::Read);
        for (const ZipHeader& h : archive.Headers())
            (void)h.Name.size();
        archive.TestAll();
    } catch (const ZipError&) {
    }
    return 0;
}
