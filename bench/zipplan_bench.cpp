// Times what happens before the first member of an archive is written: the
// directory of a 100,000-member archive read and checked (TestAll plans every
// name; the members are empty, so the plan is what is timed), and the refusal
// of two hostile archives: one name of 32,766 levels, and 24 names of 40 KB.
//
//   zipplan_bench [work-folder]      (default: /tmp/velmora-zipplan-bench)
#include "BenchTiming.h"
#include "ZipArchive.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/resource.h>

namespace {

void P16(std::string& o, std::uint32_t v)
{
    o.push_back(static_cast<char>(v & 0xFF));
    o.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void P32(std::string& o, std::uint32_t v)
{
    P16(o, v & 0xFFFF);
    P16(o, v >> 16);
}

// Empty stored members under the given names, made on Unix.
std::string EmptyMembers(const std::vector<std::string>& names)
{
    std::string body, central;
    for (const std::string& name : names) {
        const auto offset = static_cast<std::uint32_t>(body.size());
        P32(body, 0x04034b50);
        P16(body, 20);
        P16(body, 0x800);
        for (int i = 0; i < 5; ++i)
            P16(body, 0);  // method, time, date, CRC (two halves)
        P32(body, 0);
        P32(body, 0);
        P16(body, static_cast<std::uint32_t>(name.size()));
        P16(body, 0);
        body += name;
        P32(central, 0x02014b50);
        P16(central, 0x031E);
        P16(central, 20);
        P16(central, 0x800);
        for (int i = 0; i < 5; ++i)
            P16(central, 0);
        P32(central, 0);
        P32(central, 0);
        P16(central, static_cast<std::uint32_t>(name.size()));
        for (int i = 0; i < 3; ++i)
            P16(central, 0);
        P16(central, 0);
        P32(central, 0100644u << 16);
        P32(central, offset);
        central += name;
    }
    std::string end;
    P32(end, 0x06064b50);  // Zip64 end record, for more than 65,535 members
    P32(end, 44);
    P32(end, 0);
    P16(end, 45);
    P16(end, 45);
    P32(end, 0);
    P32(end, 0);
    const auto put64 = [&end](std::uint64_t v) {
        P32(end, static_cast<std::uint32_t>(v));
        P32(end, static_cast<std::uint32_t>(v >> 32));
    };
    put64(names.size());
    put64(names.size());
    put64(central.size());
    put64(body.size());
    P32(end, 0x07064b50);
    P32(end, 0);
    put64(body.size() + central.size());
    P32(end, 1);
    P32(end, 0x06054b50);
    P16(end, 0);
    P16(end, 0);
    P16(end, 0xFFFF);
    P16(end, 0xFFFF);
    P32(end, 0xFFFFFFFF);
    P32(end, 0xFFFFFFFF);
    P16(end, 0);
    return body + central + end;
}

std::string Write(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

Timing Time(const std::function<void()>& work)
{
    const double cpu0 = CpuSeconds(RUSAGE_SELF);
    const auto t0 = std::chrono::steady_clock::now();
    work();
    Timing t;
    t.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    t.cpu = CpuSeconds(RUSAGE_SELF) - cpu0;
    return t;
}

long PeakRssMb()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string work = argc > 1 ? argv[1] : "/tmp/velmora-zipplan-bench";
    std::filesystem::create_directories(work);
    std::vector<std::string> names;
    for (int i = 0; i < 100000; ++i)
        names.push_back("d" + std::to_string(i / 100) + "/sub/file_" + std::to_string(i) + ".txt");
    const std::string many = Write(work + "/many.zip", EmptyMembers(names));
    std::string deep;
    while (deep.size() < 65533)
        deep += deep.empty() ? "a" : "/a";
    const std::string deepZip = Write(work + "/deep.zip", EmptyMembers({deep}));
    std::string wide;
    while (wide.size() < 40000)
        wide += "d/";
    const std::string wideZip = Write(work + "/wide.zip", EmptyMembers(std::vector<std::string>(24, wide + "f")));

    for (int run = 0; run < 3; ++run) {
        const Timing t = Time([&] {
            ZipArchive a;
            a.Open(many, ZipMode::Read);
            a.TestAll();
        });
        std::printf("100,000 members, open and plan: %.3f s wall, %.3f s cpu\n", t.wall, t.cpu);
    }
    std::fflush(stdout);
    for (const std::string& hostile : {deepZip, wideZip}) {
        std::string outcome = "accepted";
        const Timing t = Time([&] {
            try {
                ZipArchive::ExtractZipFile(hostile, work + "/out", {});
            } catch (const ZipError& e) {
                outcome = std::string("refused: ") + e.what();
            }
        });
        std::printf("%s: %.3f s wall, %.3f s cpu, peak RSS %ld MB, %.60s\n", hostile.c_str(), t.wall, t.cpu,
                    PeakRssMb(), outcome.c_str());
        std::fflush(stdout);
    }
    return 0;
}
