// Compression and extraction speed and archive size of the ZIP facility
// beside Info-ZIP zip -6 / unzip, bsdtar and 7z, on a copy of /usr/include
// and on one 256 MiB file of mixed data. Prints one table; asserts nothing.
//
//   zip_bench [runs]      (best of `runs` timings, default 2)
//   VZ_BENCH_DIR=/path    scratch folder (default: a new folder in /tmp)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include "ZipArchive.h"

namespace fs = std::filesystem;

namespace {

int Shell(const std::string& command)
{
    return std::system(command.c_str());
}

bool HaveTool(const std::string& name)
{
    return Shell("command -v " + name + " >/dev/null 2>&1") == 0;
}

// CPU seconds (user + system) of this process and of finished child processes.
double CpuSeconds()
{
    double total = 0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        struct rusage u{};
        getrusage(who, &u);
        total += static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                 static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

struct Timing {
    double wall = 1e9;
    double cpu = 0;
};

// Best wall time of `runs`, with the CPU time of that run. Dirty pages of
// earlier runs are written back first, so no run pays for another's output.
Timing Measure(const std::function<void()>& action, int runs, const std::function<void()>& before = {})
{
    Timing best;
    for (int i = 0; i < runs; ++i) {
        if (before)
            before();
        ::sync();
        const double cpu = CpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        action();
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (s < best.wall)
            best = {s, CpuSeconds() - cpu};
    }
    return best;
}

// 256 MiB in 1 MiB pieces: source text, random bytes, and repetitive records,
// so that deflate meets compressible and incompressible stretches alike.
void MakeMixedFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    std::string piece(1 << 20, '\0');
    std::uint64_t x = 88172645463325252ull;
    std::size_t textPos = 0;
    for (int i = 0; i < 256; ++i) {
        switch (i % 4) {
        case 0:
        case 2:
            for (char& c : piece) {
                c = text[textPos];
                textPos = (textPos + 1) % text.size();
            }
            break;
        case 1:
            for (char& c : piece) {
                x ^= x << 13;
                x ^= x >> 7;
                x ^= x << 17;
                c = static_cast<char>(x);
            }
            break;
        default:
            for (std::size_t j = 0; j < piece.size(); ++j)
                piece[j] = "record 0000123 ok;\n"[j % 19] + static_cast<char>((j / 4096) % 3);
        }
        out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    }
}

std::string ReadSome(const fs::path& root, std::size_t limit)
{
    std::string text;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (!e.is_regular_file())
            continue;
        std::ifstream in(e.path(), std::ios::binary);
        text.append(std::istreambuf_iterator<char>(in), {});
        if (text.size() >= limit)
            break;
    }
    return text;
}

double Bytes(const std::string& path)
{
    return static_cast<double>(fs::file_size(path));
}

struct Row {
    explicit Row(std::string name) : tool(std::move(name)) {}
    std::string tool;
    Timing compress, extract;
    double size = 0;
};

void Print(const std::string& input, const std::vector<Row>& rows)
{
    std::printf("\n%s\n%-10s %11s %9s %12s %11s %9s\n", input.c_str(), "tool", "compress s", "(cpu s)", "size bytes",
                "extract s", "(cpu s)");
    for (const Row& r : rows) {
        if (r.compress.cpu > 0)
            std::printf("%-10s %11.2f %9.2f %12.0f %11.2f %9.2f\n", r.tool.c_str(), r.compress.wall, r.compress.cpu,
                        r.size, r.extract.wall, r.extract.cpu);
        else
            std::printf("%-10s %11s %9s %12.0f %11.2f %9.2f\n", r.tool.c_str(), "-", "-", r.size, r.extract.wall,
                        r.extract.cpu);
    }
    std::fflush(stdout);
}

void Bench(const std::string& label, const std::string& folder, const std::string& scratch, int runs)
{
    std::vector<Row> rows;
    const std::string out = scratch + "/out";
    const auto clearOut = [&] { fs::remove_all(out); fs::create_directories(out); };
    const std::string q = "'" + folder + "'";

    Row ours("velmora");
    const std::string ourZip = scratch + "/ours.zip";
    ours.compress = Measure([&] { ZipArchive::ZipDirectoryContents(ourZip, folder, ZipMethod::Deflate, {}); }, runs);
    ours.size = Bytes(ourZip);
    ours.extract = Measure([&] { ZipArchive::ExtractZipFile(ourZip, out, {}); }, runs, clearOut);
    rows.push_back(ours);

    const std::string infoZip = scratch + "/infozip.zip";
    if (HaveTool("zip") && HaveTool("unzip")) {
        Row r("zip -6");
        r.compress = Measure([&] { Shell("cd " + q + " && zip -6 -q -r " + infoZip + " ."); }, runs,
                             [&] { fs::remove(infoZip); });
        r.size = Bytes(infoZip);
        r.extract = Measure([&] { Shell("unzip -q -o " + infoZip + " -d " + out); }, runs, clearOut);
        rows.push_back(r);
        Row again("velmora*");  // ours extracting the zip -6 archive
        again.extract = Measure([&] { ZipArchive::ExtractZipFile(infoZip, out, {}); }, runs, clearOut);
        again.size = r.size;
        rows.push_back(again);
    }
    if (HaveTool("bsdtar")) {
        Row r("bsdtar");
        const std::string zip = scratch + "/bsdtar.zip";
        r.compress = Measure([&] { Shell("bsdtar --format zip -cf " + zip + " -C " + q + " ."); }, runs);
        r.size = Bytes(zip);
        r.extract = Measure([&] { Shell("bsdtar -xf " + zip + " -C " + out); }, runs, clearOut);
        rows.push_back(r);
    }
    if (HaveTool("7z")) {
        Row r("7z");
        const std::string zip = scratch + "/7z.zip";
        r.compress = Measure([&] { Shell("cd " + q + " && 7z a -tzip -bd " + zip + " . >/dev/null"); }, runs,
                             [&] { fs::remove(zip); });
        r.size = Bytes(zip);
        r.extract = Measure([&] { Shell("7z x -y -bd -o" + out + " " + zip + " >/dev/null"); }, runs, clearOut);
        rows.push_back(r);
    }
    Print(label, rows);
    fs::remove_all(out);
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2;
    std::string scratch;
    if (const char* dir = std::getenv("VZ_BENCH_DIR")) {
        scratch = dir;
        fs::create_directories(scratch);
    } else {
        std::string tmpl = (fs::temp_directory_path() / "vz_bench_XXXXXX").string();
        scratch = mkdtemp(tmpl.data());
    }
    std::printf("scratch folder %s, best of %d runs\n", scratch.c_str(), runs);
    const std::string corpus = scratch + "/include";
    if (!fs::exists(corpus + "/stdio.h"))
        // Links (some dangle in a copy) are dropped so every tool sees the same plain files.
        Shell("cp -r /usr/include " + corpus + " && find " + corpus + " -type l -delete");
    const std::string bigFolder = scratch + "/big";
    if (!fs::exists(bigFolder + "/mixed.bin")) {
        fs::create_directories(bigFolder);
        MakeMixedFile(bigFolder + "/mixed.bin", ReadSome(corpus, 8 << 20));
    }
    Bench("corpus: copy of /usr/include", corpus, scratch, runs);
    Bench("one 256 MiB file of mixed data", bigFolder, scratch, runs);
    if (!std::getenv("VZ_BENCH_DIR"))
        fs::remove_all(scratch);
    return 0;
}
