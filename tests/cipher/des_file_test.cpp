// Encrypted files byte for byte on disk, the failures that must leave every
// file as it was, OpenSSL's command line as a peer, and the hexadecimal text
// form.

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/des.h>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "DESUnit.h"

namespace fs = std::filesystem;
using Bytes = std::string;

namespace {

constexpr const char* kBadSize = "无效的数据大小!";

Bytes Read(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void Write(const fs::path& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

Bytes RandomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes b(n, '\0');
    for (auto& c : b)
        c = static_cast<char>(random());
    return b;
}

Bytes LittleEndian32(std::uint32_t v)
{
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}

// DES-ECB of bytes already a whole number of blocks, by OpenSSL's libcrypto.
Bytes OpenSslEcb(const Bytes& data, std::string_view password, bool encrypt)
{
    const DesKey key = DesKeyFromText(password);
    DES_cblock k;
    std::copy(key.begin(), key.end(), k);
    DES_key_schedule schedule;
    DES_set_key_unchecked(&k, &schedule);
    Bytes in = data, out(data.size(), '\0');
    for (std::size_t i = 0; i + 8 <= in.size(); i += 8)
        DES_ecb_encrypt(reinterpret_cast<const_DES_cblock*>(in.data() + i),
                        reinterpret_cast<DES_cblock*>(out.data() + i), &schedule, encrypt ? DES_ENCRYPT : DES_DECRYPT);
    return out;
}

// The encrypted file for a plaintext, built from OpenSSL's ECB.
Bytes ExpectedFile(const Bytes& plain, std::string_view password)
{
    Bytes padded = plain;
    padded.resize((plain.size() + 7) / 8 * 8, '\0');
    return OpenSslEcb(padded, password, true) + LittleEndian32(static_cast<std::uint32_t>(plain.size()));
}

class DesFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("des_file_test_" + std::to_string(getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string P(const std::string& name) const { return (dir / name).string(); }

    // Files in the folder, to catch temporaries left behind.
    std::vector<std::string> Listing() const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir;
};

TEST_F(DesFile, LayoutForEmptyEightAndNineBytes)
{
    for (const std::size_t n : {0, 8, 9}) {
        const Bytes plain = RandomBytes(n, 5);
        Write(P("plain"), plain);
        ASSERT_TRUE(DesEncryptFile(P("plain"), P("enc"), "secret"));
        const Bytes enc = Read(P("enc"));
        EXPECT_EQ(enc.size(), n == 0 ? 4u : n == 8 ? 12u : 20u);
        if (n == 0) {
            EXPECT_EQ(enc, Bytes(4, '\0'));
        }
        // The fill bytes of the last block are zero.
        EXPECT_EQ(enc, ExpectedFile(plain, "secret")) << n << " bytes";
        ASSERT_TRUE(DesDecryptFile(P("enc"), P("dec"), "secret"));
        EXPECT_EQ(Read(P("dec")), plain);
    }
}

TEST_F(DesFile, EqualAlignedRunsGiveEqualBlocks)
{
    Write(P("plain"), "ABCDEFGHABCDEFGHxyz");
    ASSERT_TRUE(DesEncryptFile(P("plain"), P("enc"), "k"));
    const Bytes enc = Read(P("enc"));
    EXPECT_EQ(enc.substr(0, 8), enc.substr(8, 8));
    EXPECT_NE(enc.substr(0, 8), enc.substr(16, 8));
}

TEST_F(DesFile, LargeFileStreamsAndRoundTripsWithProgress)
{
    // Chunks of 1 MiB through the bulk engines; from two chunks on, two cores
    // share them and the output must still come out in order.
    for (const std::size_t size : {(1u << 20) + 9, 2u << 20, (3u << 20) + 12345, (5u << 20) - 3}) {
        SCOPED_TRACE(size);
        const Bytes plain = RandomBytes(size, 9);
        Write(P("plain"), plain);
        std::uint64_t last = 0, total = 0;
        int calls = 0;
        const DesProgress progress = [&](std::uint64_t done, std::uint64_t all) {
            EXPECT_GE(done, last);
            last = done;
            total = all;
            ++calls;
        };
        ASSERT_TRUE(DesEncryptFile(P("plain"), P("enc"), "长密码", progress));
        EXPECT_EQ(last, plain.size());
        EXPECT_EQ(total, plain.size());
        EXPECT_GE(calls, static_cast<int>(size >> 20));
        const Bytes enc = Read(P("enc"));
        EXPECT_EQ(enc, ExpectedFile(plain, "长密码"));
        last = 0;
        ASSERT_TRUE(DesDecryptFile(P("enc"), P("dec"), "长密码", progress));
        EXPECT_EQ(last, enc.size() - 4);
        EXPECT_EQ(Read(P("dec")), plain);
    }
}

// A file that grows while it is encrypted is taken at the size it had when
// its work began, and a FIFO is never opened.
TEST_F(DesFile, AGrowingFileIsTakenAtItsFirstSizeAndAFifoIsRefused)
{
    const Bytes plain = RandomBytes((2u << 20) + 5, 4);
    Write(P("plain"), plain);
    bool grown = false;
    ASSERT_TRUE(DesEncryptFile(P("plain"), P("enc"), "k", [&](std::uint64_t, std::uint64_t) {
        if (!grown)
            std::ofstream(P("plain"), std::ios::app) << std::string(4096, 'g');
        grown = true;
    }));
    EXPECT_EQ(Read(P("enc")), ExpectedFile(plain, "k"));
    ASSERT_EQ(mkfifo(P("pipe").c_str(), 0600), 0);
    EXPECT_FALSE(DesEncryptFile(P("pipe"), P("enc2"), "k"));
}

TEST_F(DesFile, WrongPasswordWritesWrongBytesOfTheStoredLength)
{
    const Bytes plain = RandomBytes(100, 3);
    Write(P("plain"), plain);
    ASSERT_TRUE(DesEncryptFile(P("plain"), P("enc"), "right"));
    ASSERT_TRUE(DesDecryptFile(P("enc"), P("dec"), "wrong"));
    const Bytes dec = Read(P("dec"));
    EXPECT_EQ(dec.size(), plain.size());
    EXPECT_NE(dec, plain);
}

TEST_F(DesFile, SameSourceAndTarget)
{
    const Bytes plain = RandomBytes(5000, 4);
    Write(P("f"), plain);
    ASSERT_TRUE(DesEncryptFile(P("f"), P("f"), "pw"));
    EXPECT_EQ(Read(P("f")), ExpectedFile(plain, "pw"));
    ASSERT_TRUE(DesDecryptFile(P("f"), P("f"), "pw"));
    EXPECT_EQ(Read(P("f")), plain);
    EXPECT_EQ(Listing(), std::vector<std::string>{"f"});
}

// Payloads whose size or stored length don't fit: refused before anything
// is written, an existing target kept.
TEST_F(DesFile, BadSizesAndLengthsAreRefused)
{
    Write(P("plain"), RandomBytes(20, 6));
    ASSERT_TRUE(DesEncryptFile(P("plain"), P("enc"), "pw"));
    const Bytes good = Read(P("enc"));  // 24 payload bytes + length 20
    const Bytes payload = good.substr(0, 24);
    const struct {
        const char* what;
        Bytes file;
    } cases[] = {
        {"one byte cut off", good.substr(0, good.size() - 1)},
        {"empty", ""},
        {"three bytes", "abc"},
        {"negative length", payload + LittleEndian32(0xFFFFFFF8u)},
        {"length beyond the payload", payload + LittleEndian32(25)},
        {"length far beyond", payload + LittleEndian32(0x7FFFFFFF)},
        {"length short of the payload", payload + LittleEndian32(16)},
        {"zero length with payload", payload + LittleEndian32(0)},
    };
    Write(P("target"), "old target");
    for (const auto& c : cases) {
        Write(P("bad"), c.file);
        const DesFileResult r = DesDecryptFile(P("bad"), P("target"), "pw");
        EXPECT_FALSE(r) << c.what;
        EXPECT_EQ(r.reason, kBadSize) << c.what;
        EXPECT_EQ(Read(P("target")), "old target") << c.what;
        EXPECT_FALSE(fs::exists(P("none")));
        EXPECT_FALSE(DesDecryptFile(P("bad"), P("none"), "pw"));
        EXPECT_FALSE(fs::exists(P("none"))) << c.what;
    }
    // Lengths that do fit: 17..24 all need three blocks.
    for (const std::uint32_t n : {17u, 24u}) {
        Write(P("fit"), payload + LittleEndian32(n));
        ASSERT_TRUE(DesDecryptFile(P("fit"), P("out"), "pw"));
        EXPECT_EQ(Read(P("out")).size(), n);
    }
    EXPECT_EQ(Listing(), (std::vector<std::string>{"bad", "enc", "fit", "out", "plain", "target"}));
}

TEST_F(DesFile, EmptyArgumentsDoNothing)
{
    Write(P("plain"), "data");
    EXPECT_FALSE(DesEncryptFile(P("plain"), P("enc"), ""));
    EXPECT_FALSE(DesEncryptFile("", P("enc"), "k"));
    EXPECT_FALSE(DesEncryptFile(P("plain"), "", "k"));
    EXPECT_FALSE(DesDecryptFile(P("plain"), P("enc"), ""));
    EXPECT_EQ(Listing(), std::vector<std::string>{"plain"});
}

TEST_F(DesFile, UnreadableSourceIsReported)
{
    DesFileResult r = DesEncryptFile(P("missing"), P("enc"), "k");
    EXPECT_FALSE(r);
    EXPECT_FALSE(r.reason.empty());
    fs::create_directory(P("folder"));
    EXPECT_FALSE(DesEncryptFile(P("folder"), P("enc"), "k"));
    EXPECT_FALSE(DesDecryptFile(P("folder"), P("enc"), "k"));
    EXPECT_EQ(Listing(), std::vector<std::string>{"folder"});
}

TEST_F(DesFile, FilesOfTwoGibibytesAreRefused)
{
    // A sparse file: the size alone is refused, nothing is read.
    std::ofstream(P("huge")).close();
    fs::resize_file(P("huge"), std::uint64_t{1} << 31);
    Write(P("enc"), "old");
    const DesFileResult r = DesEncryptFile(P("huge"), P("enc"), "k");
    EXPECT_FALSE(r);
    EXPECT_NE(r.reason.find("2147483647"), std::string::npos) << r.reason;
    EXPECT_EQ(Read(P("enc")), "old");
    EXPECT_EQ(Listing(), (std::vector<std::string>{"enc", "huge"}));
}

TEST_F(DesFile, TargetWhoseParentIsARegularFileFails)
{
    Write(P("plain"), "data");
    Write(P("file"), "x");
    const DesFileResult r = DesEncryptFile(P("plain"), P("file") + "/enc", "k");
    EXPECT_FALSE(r);
    EXPECT_FALSE(r.reason.empty());
    EXPECT_EQ(Read(P("file")), "x");
    EXPECT_EQ(Listing(), (std::vector<std::string>{"file", "plain"}));
}

TEST_F(DesFile, TargetThatIsNotARegularFileIsNeverReplaced)
{
    Write(P("plain"), "data");
    fs::create_directory(P("folder"));
    EXPECT_FALSE(DesEncryptFile(P("plain"), P("folder"), "k"));
    EXPECT_TRUE(fs::is_directory(P("folder")));
    // A device keeps being a device.
    EXPECT_FALSE(DesEncryptFile(P("plain"), "/dev/null", "k"));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST_F(DesFile, LinkAsTargetIsReplacedNeverWrittenThrough)
{
    Write(P("plain"), "data");
    Write(P("real"), "old");
    fs::create_symlink(P("real"), P("link"));
    ASSERT_TRUE(DesEncryptFile(P("plain"), P("link"), "k"));
    EXPECT_FALSE(fs::is_symlink(P("link")));
    EXPECT_EQ(Read(P("link")), ExpectedFile("data", "k"));
    EXPECT_EQ(Read(P("real")), "old");
}

// A write that fails part-way (file-size limit in a forked child, so the
// write itself fails): old target, source and folder stay as they were.
TEST_F(DesFile, WriteFailureUnderFileSizeLimitLeavesEverythingIntact)
{
    // One core, and two: the worker may still be busy when a write fails.
    for (const std::size_t size : {1u << 20, 3u << 20})
    for (const bool samePath : {false, true}) {
        const Bytes plain = RandomBytes(size, 8);
        Write(P("plain"), plain);
        Write(P("target"), "old target");
        const std::string source = P("plain");
        const std::string target = samePath ? source : P("target");
        const pid_t child = fork();
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{64 * 1024, 64 * 1024};
            setrlimit(RLIMIT_FSIZE, &limit);
            const DesFileResult r = DesEncryptFile(source, target, "k");
            _exit(r ? 0 : r.reason.empty() ? 2 : 1);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 1) << "the failure is reported with a reason";
        EXPECT_EQ(Read(P("plain")), plain);
        EXPECT_EQ(Read(P("target")), "old target");
        EXPECT_EQ(Listing(), (std::vector<std::string>{"plain", "target"}));
    }
}

TEST_F(DesFile, OpenSslCommandLineAgrees)
{
    if (std::system("openssl version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "openssl command not found";
    const Bytes plain = RandomBytes(1001, 11);
    Bytes padded = plain;
    padded.resize(1008, '\0');
    Write(P("padded"), padded);
    Write(P("plain"), plain);
    const DesKey key = DesKeyFromText("peer check");
    char hex[17];
    for (int i = 0; i < 8; ++i)
        std::snprintf(hex + 2 * i, 3, "%02X", key[i]);
    const std::string openssl = std::string("openssl enc -des-ecb -K ") + hex +
                                " -nopad -provider legacy -provider default ";
    ASSERT_EQ(std::system((openssl + "-in " + P("padded") + " -out " + P("peer")).c_str()), 0);

    ASSERT_TRUE(DesEncryptFile(P("plain"), P("ours"), "peer check"));
    const Bytes ours = Read(P("ours"));
    EXPECT_EQ(ours.substr(0, 1008), Read(P("peer")));
    EXPECT_EQ(ours.substr(1008), LittleEndian32(1001));

    // A file made by another program that follows the layout decrypts here.
    Write(P("foreign"), Read(P("peer")) + LittleEndian32(1001));
    ASSERT_TRUE(DesDecryptFile(P("foreign"), P("back"), "peer check"));
    EXPECT_EQ(Read(P("back")), plain);
}

// --- Text in hexadecimal form -----------------------------------------------

TEST(DesTextHex, LengthsAndOpenSslAgreement)
{
    EXPECT_EQ(DesEncryptTextHex("", "k").size(), 16u);
    EXPECT_EQ(DesEncryptTextHex("12345678", "k").size(), 16u);
    EXPECT_EQ(DesEncryptTextHex("123456789", "k").size(), 32u);
    // The empty text is one zero block.
    EXPECT_EQ(DesEncryptTextHex("", "k"), DesEncryptTextHex(Bytes(8, '\0'), "k"));

    const Bytes text = "hello, 世界";
    Bytes padded = text;
    padded.resize(16, '\0');
    const Bytes expected = OpenSslEcb(padded, "key", true);
    Bytes hex;
    for (const unsigned char c : expected) {
        char two[3];
        std::snprintf(two, sizeof two, "%02X", c);
        hex += two;
    }
    EXPECT_EQ(DesEncryptTextHex(text, "key"), hex);
}

TEST(DesTextHex, DecodingRules)
{
    const std::string hex = DesEncryptTextHex("secret text", "pw");
    EXPECT_EQ(DesDecryptTextHex(hex, "pw"), "secret text");
    // Lower case reads the same.
    std::string lower = hex;
    for (auto& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(DesDecryptTextHex(lower, "pw"), "secret text");
    // Empty, or any pair that isn't hexadecimal: empty result.
    EXPECT_EQ(DesDecryptTextHex("", "pw"), "");
    EXPECT_EQ(DesDecryptTextHex(hex.substr(0, 14) + "G1", "pw"), "");
    EXPECT_EQ(DesDecryptTextHex(hex.substr(0, 14) + " 1", "pw"), "");
    // A lone digit at the end is a byte of its own, in a further block.
    const std::string shortText = DesEncryptTextHex("abc", "pw");
    EXPECT_EQ(DesDecryptTextHex(shortText + "7", "pw"), "abc");
    // Ciphertext that isn't whole blocks is filled with zero bytes first.
    const std::string block = OpenSslEcb(Bytes("\x05\x00\x00\x00\x00\x00\x00\x00", 8), "pw", false);
    EXPECT_EQ(DesDecryptTextHex("05", "pw"), block.substr(0, block.find('\0')));
    // A zero byte inside the text cuts it there.
    EXPECT_EQ(DesDecryptTextHex(DesEncryptTextHex(Bytes("ab\0cd", 5), "pw"), "pw"), "ab");
}

}  // namespace
