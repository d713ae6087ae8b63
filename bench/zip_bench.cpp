// Compression and extraction speed and archive size of the ZIP facility
// beside its peers, on a copy of /usr/include and on one 256 MiB file of
// mixed data: zip -r -6 and unzip, bsdtar -x, and pigz -6 -p 2 for the single
// file. Every figure is the median of `runs` runs. Prints tables; asserts nothing.
//
//   zip_bench [runs]      (default 5)
//   VZ_BENCH_DIR=/path    scratch folder (default: a new folder in /dev/shm)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

#include "BenchTiming.h"
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

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Median wall and CPU time (this process and its children) of `runs`.
// Dirty pages of earlier runs are written back first, so no run pays for
// another's output.
Timing Measure(const std::function<void()>& action, int runs, const std::function<void()>& before = {})
{
    std::vector<double> walls, cpus;
    for (int i = 0; i < runs; ++i) {
        if (before)
            before();
        ::sync();
        const double cpu = CpuSeconds(RUSAGE_SELF) + CpuSeconds(RUSAGE_CHILDREN);
        const auto start = std::chrono::steady_clock::now();
        action();
        walls.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        cpus.push_back(CpuSeconds(RUSAGE_SELF) + CpuSeconds(RUSAGE_CHILDREN) - cpu);
    }
    return {Median(walls), Median(cpus)};
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
    std::string work, tool;
    Timing time;
    double size = 0;  // archive bytes, 0 for an extraction
};

void Print(const std::string& input, const std::vector<Row>& rows, double referenceSize)
{
    std::printf("\n%s\n%-10s %-16s %9s %9s %13s %9s\n", input.c_str(), "work", "tool", "wall s", "cpu s", "size bytes",
                "vs zip -6");
    for (const Row& r : rows) {
        std::printf("%-10s %-16s %9.2f %9.2f", r.work.c_str(), r.tool.c_str(), r.time.wall, r.time.cpu);
        if (r.size > 0 && referenceSize > 0)
            std::printf(" %13.0f %+8.2f%%", r.size, 100.0 * (r.size / referenceSize - 1));
        else if (r.size > 0)
            std::printf(" %13.0f", r.size);
        std::printf("\n");
    }
    std::fflush(stdout);
}

// The folder's files (one for the single-file input) through every tool.
void Bench(const std::string& label, const std::string& folder, const std::string& singleFile,
           const std::string& scratch, int runs)
{
    std::vector<Row> rows;
    const std::string out = scratch + "/out";
    const auto clearOut = [&] { fs::remove_all(out); fs::create_directories(out); };
    const std::string q = "'" + folder + "'";
    const std::string ourZip = scratch + "/ours.zip";
    const std::string infoZip = scratch + "/infozip.zip";
    double reference = 0;

    Row ours{"compress", "velmora", {}};
    ours.time = Measure([&] { ZipArchive::ZipDirectoryContents(ourZip, folder, ZipMethod::Deflate, {}); }, runs);
    ours.size = Bytes(ourZip);
    rows.push_back(ours);
    if (HaveTool("zip")) {
        Row r{"compress", "zip -r -6", {}};
        r.time = Measure([&] { Shell("cd " + q + " && zip -6 -q -r " + infoZip + " ."); }, runs,
                         [&] { fs::remove(infoZip); });
        r.size = reference = Bytes(infoZip);
        rows.push_back(r);
    }
    if (!singleFile.empty() && HaveTool("pigz")) {
        const std::string gz = scratch + "/single.gz";
        Row r{"compress", "pigz -6 -p 2", {}};
        r.time = Measure([&] { Shell("pigz -6 -p 2 -c '" + singleFile + "' > " + gz); }, runs);
        r.size = Bytes(gz);
        rows.push_back(r);
        fs::remove(gz);
    }
    rows.push_back({"extract", "velmora", Measure([&] { ZipArchive::ExtractZipFile(ourZip, out, {}); }, runs, clearOut)});
    if (HaveTool("bsdtar"))
        rows.push_back({"extract", "bsdtar -x", Measure([&] { Shell("bsdtar -xf " + ourZip + " -C " + out); }, runs, clearOut)});
    if (HaveTool("unzip"))
        rows.push_back({"extract", "unzip", Measure([&] { Shell("unzip -q -o " + ourZip + " -d " + out); }, runs, clearOut)});
    if (fs::exists(infoZip))
        rows.push_back({"extract", "velmora (zip's)",
                        Measure([&] { ZipArchive::ExtractZipFile(infoZip, out, {}); }, runs, clearOut)});
    Print(label, rows, reference);
    fs::remove_all(out);
    fs::remove(ourZip);
    fs::remove(infoZip);
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::string scratch;
    if (const char* dir = std::getenv("VZ_BENCH_DIR")) {
        scratch = dir;
        fs::create_directories(scratch);
    } else {
        std::string tmpl = (fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path()) / "vz_bench_XXXXXX";
        scratch = mkdtemp(tmpl.data());
    }
    std::printf("scratch folder %s, medians of %d runs\n", scratch.c_str(), runs);
    const std::string corpus = scratch + "/include";
    if (!fs::exists(corpus + "/stdio.h"))
        // Links (some dangle in a copy) are dropped so every tool sees the same plain files.
        Shell("cp -r /usr/include " + corpus + " && find " + corpus + " -type l -delete");
    const std::string bigFolder = scratch + "/big";
    const std::string bigFile = bigFolder + "/mixed.bin";
    if (!fs::exists(bigFile)) {
        fs::create_directories(bigFolder);
        MakeMixedFile(bigFile, ReadSome(corpus, 8 << 20));
    }
    Bench("corpus: copy of /usr/include", corpus, "", scratch, runs);
    Bench("one 256 MiB file of mixed data", bigFolder, bigFile, scratch, runs);
    if (!std::getenv("VZ_BENCH_DIR"))
        fs::remove_all(scratch);
    return 0;
}
