// DES throughput side by side with OpenSSL:
//  (a) bulk ECB through DesCipher over a 64 MiB buffer, one key, per engine,
//      on one core;
//  (b) OpenSSL's DES_ecb_encrypt over the same buffer, same core;
//  (c) DesEncryptFile and DesDecryptFile of a 256 MiB file, each in its own
//      process on every core the machine has (a large file uses two), with
//      peak resident memory; each run makes a new file, then again with each
//      run replacing the file of the run before;
//  (d) `openssl enc -des-ecb` (legacy provider) on the same file as a whole
//      process.
// (c) and (d) are medians of `runs` runs. MB/s are 10^6 bytes per second,
// from wall time and, in brackets, from the CPU time used, which a machine
// busy with other work disturbs less.
//
//   des_bench [folder (default /dev/shm)] [file MiB (default 256)] [runs (default 5)]

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/des.h>

#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "DESUnit.h"

namespace {

constexpr const char* kPassword = "bench-password";

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

double MBps(double bytes, double seconds)
{
    return bytes / seconds / 1e6;
}

struct ProcessRun {
    int status = -1;
    double seconds = 0;
    double cpuSeconds = 0;
    long peakKiB = 0;
};

// Runs argv as a child process; wall time and the child's peak RSS.
ProcessRun RunOnce(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ProcessRun run;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[0], argv.data());
        _exit(127);
    }
    rusage usage{};
    int status = 0;
    wait4(pid, &status, 0, &usage);
    run.seconds = Seconds(start);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peakKiB = usage.ru_maxrss;
    run.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                     usage.ru_stime.tv_usec / 1e6;
    return run;
}

// The median run of `runs` by wall time. Unless `replace`, the target (the
// last argument) is removed before each run, so that every run makes a new
// file, as an encryption batch does; replacing a file of this size also
// frees its pages, which adds some hundredths of a second to whoever writes.
ProcessRun Run(const std::vector<std::string>& args, int runs, bool replace = false)
{
    std::vector<ProcessRun> all;
    for (int i = 0; i < runs; ++i) {
        if (!replace)
            unlink(args.back().c_str());
        all.push_back(RunOnce(args));
    }
    std::sort(all.begin(), all.end(), [](const ProcessRun& a, const ProcessRun& b) { return a.seconds < b.seconds; });
    return all[all.size() / 2];
}

void Print(const char* what, const ProcessRun& run, std::uint64_t bytes, const char* verdict)
{
    std::printf("    %-15s %6.3f s %8.1f MB/s [%8.1f]  peak RSS %5.1f MiB  %s\n", what, run.seconds,
                MBps(bytes, run.seconds), MBps(bytes, run.cpuSeconds), run.peakKiB / 1024.0, verdict);
}

std::string KeyHex()
{
    const DesKey key = DesKeyFromText(kPassword);
    char hex[17];
    for (int i = 0; i < 8; ++i)
        std::snprintf(hex + 2 * i, 3, "%02X", key[i]);
    return hex;
}

// Whether two files hold the same bytes (the first `limit` of b).
bool SameBytes(const std::string& a, const std::string& b, std::uint64_t size)
{
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    std::vector<char> ba(1 << 20), bb(1 << 20);
    while (size > 0) {
        const std::size_t n = std::min<std::uint64_t>(size, ba.size());
        if (!fa.read(ba.data(), n) || !fb.read(bb.data(), n) || std::memcmp(ba.data(), bb.data(), n) != 0)
            return false;
        size -= n;
    }
    return true;
}

void BulkEngines(std::vector<std::uint8_t>& buffer)
{
    const DesKey key = DesKeyFromText(kPassword);
    std::vector<std::uint8_t> out(buffer.size());
    std::printf("(a) bulk ECB through DesCipher, %zu MiB, one key\n", buffer.size() >> 20);
    for (const DesEngine engine : {DesEngine::Portable, DesEngine::Avx2, DesEngine::Avx512}) {
        if (!DesEngineAvailable(engine))
            continue;
        const DesCipher cipher(key, true, engine);
        cipher.Crypt(buffer.data(), out.data(), 4096);  // warm up
        const double cpu = CpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        cipher.Crypt(buffer.data(), out.data(), buffer.size() / 8);
        const double s = Seconds(start);
        std::printf("    %-12s %8.1f MB/s [%8.1f]%s\n", DesEngineName(engine), MBps(buffer.size(), s),
                    MBps(buffer.size(), CpuSeconds() - cpu), engine == DesBestEngine() ? "   <- chosen at run time" : "");
    }
}

double OpenSslBulk(std::vector<std::uint8_t>& buffer)
{
    const DesKey key = DesKeyFromText(kPassword);
    DES_cblock k;
    std::memcpy(k, key.data(), 8);
    DES_key_schedule schedule;
    DES_set_key_unchecked(&k, &schedule);
    std::vector<std::uint8_t> out(buffer.size());
    const double cpu = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < buffer.size(); i += 8)
        DES_ecb_encrypt(reinterpret_cast<const_DES_cblock*>(buffer.data() + i),
                        reinterpret_cast<DES_cblock*>(out.data() + i), &schedule, DES_ENCRYPT);
    const double s = Seconds(start);
    const double c = CpuSeconds() - cpu;
    std::printf("(b) OpenSSL DES_ecb_encrypt, same buffer\n    %-12s %8.1f MB/s [%8.1f]\n", "libcrypto",
                MBps(buffer.size(), s), MBps(buffer.size(), c));
    return MBps(buffer.size(), c);
}

int ChildMain(int argc, char** argv)
{
    if (argc != 5)
        return 2;
    const std::string mode = argv[2];
    const DesFileResult r = mode == "encrypt" ? DesEncryptFile(argv[3], argv[4], kPassword)
                                              : DesDecryptFile(argv[3], argv[4], kPassword);
    if (!r)
        std::fprintf(stderr, "%s\n", r.reason.c_str());
    return r ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0)
        return ChildMain(argc, argv);
    const std::string folder = argc > 1 ? argv[1] : "/dev/shm";
    const std::uint64_t fileMiB = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 256;
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;

    // The bulk figures on one core; the file routines get every core back.
    cpu_set_t all;
    sched_getaffinity(0, sizeof all, &all);
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    sched_setaffinity(0, sizeof one, &one);
    std::printf("DES benchmark, engine chosen: %s; (a) and (b) on cpu %d\n\n", DesEngineName(DesEngine::Auto),
                sched_getcpu());

    double ours = 0, theirs = 0;
    {
        std::vector<std::uint8_t> buffer(64u << 20);
        std::mt19937_64 random(1);
        for (std::size_t i = 0; i < buffer.size(); i += 8) {
            const std::uint64_t v = random();
            std::memcpy(buffer.data() + i, &v, 8);
        }
        BulkEngines(buffer);
        theirs = OpenSslBulk(buffer);
        const DesCipher best(DesKeyFromText(kPassword), true);
        std::vector<std::uint8_t> out(buffer.size());
        const double cpu = CpuSeconds();
        best.Crypt(buffer.data(), out.data(), buffer.size() / 8);
        ours = MBps(buffer.size(), CpuSeconds() - cpu);
        std::printf("    ratio (a)/(b) on CPU time: %.1fx (target >= 4x)\n\n", ours / theirs);
    }

    const std::string plain = folder + "/des_bench_plain.bin";
    const std::string enc = folder + "/des_bench_plain.des";
    const std::string dec = folder + "/des_bench_plain.out";
    const std::string peer = folder + "/des_bench_plain.openssl";
    const std::string peerDec = folder + "/des_bench_plain.openssl.out";
    const std::uint64_t bytes = fileMiB << 20;
    {
        std::ofstream f(plain, std::ios::binary);
        std::vector<std::uint8_t> chunk(1 << 20);
        std::mt19937_64 random(2);
        for (std::uint64_t done = 0; done < bytes; done += chunk.size()) {
            for (auto& v : chunk)
                v = static_cast<std::uint8_t>(random());
            f.write(reinterpret_cast<const char*>(chunk.data()), chunk.size());
        }
    }
    const std::string self = "/proc/self/exe";
    char exe[4096] = {};
    if (readlink(self.c_str(), exe, sizeof exe - 1) <= 0)
        return 1;

    sched_setaffinity(0, sizeof all, &all);
    std::printf("(c) file routines, %llu MiB file in %s (each in its own process, %d cores, each run a new\n"
                "    file), medians of %d\n",
                static_cast<unsigned long long>(fileMiB), folder.c_str(), CPU_COUNT(&all), runs);
    const ProcessRun e = Run({exe, "--child", "encrypt", plain, enc}, runs);
    const ProcessRun d = Run({exe, "--child", "decrypt", enc, dec}, runs);
    Print("DesEncryptFile", e, bytes, e.status == 0 ? "ok" : "FAILED");
    Print("DesDecryptFile", d, bytes, d.status == 0 && SameBytes(plain, dec, bytes) ? "ok, round trip equal" : "FAILED");
    const ProcessRun er = Run({exe, "--child", "encrypt", plain, enc}, runs, true);
    const ProcessRun dr = Run({exe, "--child", "decrypt", enc, dec}, runs, true);
    std::printf("    the same, each run replacing the previous run's file:\n");
    Print("DesEncryptFile", er, bytes, er.status == 0 ? "ok" : "FAILED");
    Print("DesDecryptFile", dr, bytes, dr.status == 0 ? "ok" : "FAILED");

    std::printf("(d) openssl enc -des-ecb -nopad (legacy provider), same file, whole process, each run a new file\n");
    const std::string key = KeyHex();
    const ProcessRun oe = Run({"openssl", "enc", "-des-ecb", "-K", key, "-nopad", "-provider", "legacy", "-provider",
                               "default", "-in", plain, "-out", peer}, runs);
    const ProcessRun od = Run({"openssl", "enc", "-d", "-des-ecb", "-K", key, "-nopad", "-provider", "legacy",
                               "-provider", "default", "-in", peer, "-out", peerDec}, runs);
    Print("openssl enc", oe, bytes,
          oe.status == 0 && SameBytes(peer, enc, bytes) ? "ok, same ciphertext as ours" : "FAILED/DIFFERENT");
    Print("openssl enc -d", od, bytes, od.status == 0 ? "ok" : "FAILED");
    std::printf("    speed-up (d)/(c), wall: encrypt %.1fx, decrypt %.1fx; CPU: %.1fx, %.1fx"
                " (target >= 15x, memory < 32 MiB)\n",
                oe.seconds / e.seconds, od.seconds / d.seconds, oe.cpuSeconds / e.cpuSeconds,
                od.cpuSeconds / d.cpuSeconds);

    for (const auto& p : {plain, enc, dec, peer, peerDec})
        std::remove(p.c_str());
    return 0;
}
