// Encrypted members: the PKWARE cipher and WinZip AES against archives that
// other tools encrypted, and extraction of those and of our own; a wrong
// password or a changed byte is caught.
#include "ZipArchive.h"
#include "ZipCrypto.h"
#include "ZipTestUtil.h"

#include <cstring>

using namespace ziptest;

namespace {

const std::string kPassword = "pass word!";

struct Made {
    const char* tool;
    const char* command;  // %s: archive, then file
};

// The plain data of an encrypted member, or nothing when the password or
// the data is wrong. AES members are checked by their code before inflating.
std::optional<std::string> Open(const Parsed& m, const std::string& password)
{
    std::string data = m.data;
    auto* bytes = reinterpret_cast<unsigned char*>(data.data());
    if (m.method == zipcrypto::kMethodAes) {
        const std::string body = *ExtraField(m.centralExtra, zipcrypto::kExtraAes);
        const int strength = static_cast<unsigned char>(body.at(4));
        const std::size_t salt = zipcrypto::SaltLen(strength);
        zipcrypto::AesStream aes(password, data.substr(0, salt), strength);
        const auto verifier = aes.Verifier();
        const std::size_t len = data.size() - zipcrypto::AesOverhead(strength);
        aes.Decrypt(bytes + salt + 2, len);
        const auto mac = aes.Mac();
        if (std::memcmp(verifier.data(), bytes + salt, 2) != 0 ||
            std::memcmp(mac.data(), bytes + salt + 2 + len, mac.size()) != 0)
            return std::nullopt;
        const std::string plain = data.substr(salt + 2, len);
        return G16(body, 5) == 8 ? RawInflate(plain) : plain;
    }
    zipcrypto::PkwareCipher cipher(password);
    const std::uint8_t check = (m.flags & 8) ? m.dosTime >> 8 : m.crc >> 24;
    if (!cipher.OpenHeader(bytes, check))
        return std::nullopt;
    cipher.Decrypt(bytes + 12, data.size() - 12);
    try {
        std::string plain = m.method == 8 ? RawInflate(data.substr(12)) : data.substr(12);
        return Crc(plain) == m.crc ? std::optional(plain) : std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

TEST(ZipCrypto, OpensWhatOtherToolsEncrypted)
{
    const Made cases[] = {
        {"7z", "7z a -tzip -p%P -mem=AES256 %A %F"},
        {"7z", "7z a -tzip -p%P -mem=AES192 %A %F"},
        {"7z", "7z a -tzip -p%P -mem=AES128 -mx=0 %A %F"},
        {"7z", "7z a -tzip -p%P -mem=ZipCrypto %A %F"},
        {"zip", "zip -q -P %P %A %F"},
        {"zip", "cat %F | zip -q -P %P %A -"},  // a stream: the check byte comes from the time
    };
    TempDir dir;
    std::string text;
    for (int i = 0; text.size() < 300000; ++i)
        text += "line " + std::to_string(i) + " of a text that compresses\n";
    text += Pseudorandom(70000, 3);  // ends off a 16-byte block
    WriteFile(dir / "f.txt", text);
    int n = 0;
    for (const Made& c : cases) {
        if (!HaveTool(c.tool))
            GTEST_SKIP() << c.tool << " missing";
        const std::string archive = dir / ("a" + std::to_string(n++) + ".zip");
        std::string command = c.command;
        command.replace(command.find("%P"), 2, Quote(kPassword));
        command.replace(command.find("%A"), 2, Quote(archive));
        command.replace(command.find("%F"), 2, Quote(dir / "f.txt"));
        std::string out;
        ASSERT_EQ(Shell("cd " + Quote(dir.Path()) + " && " + command, &out), 0) << out;
        const std::vector<Parsed> members = ParseZip(ReadFile(archive));
        ASSERT_EQ(members.size(), 1u) << command;
        Parsed m = members[0];
        ASSERT_TRUE(m.flags & 1) << command;
        EXPECT_EQ(Open(m, kPassword), text) << command;
        EXPECT_EQ(Open(m, kPassword + "x"), std::nullopt) << command;
        m.data[m.data.size() / 2] ^= 0x01;
        EXPECT_EQ(Open(m, kPassword), std::nullopt) << command << " (changed byte)";
    }
}

// Counter mode continues across calls of any length, as the writer feeds it
// a member in chunks, and the code covers the whole stream.
TEST(ZipCrypto, AesStreamSameInPiecesAsWhole)
{
    const std::string salt(16, 's');
    const std::string plain = Pseudorandom(5000, 9);
    std::string whole = plain, pieces = plain;
    zipcrypto::AesStream a(kPassword, salt, 3), b(kPassword, salt, 3);
    a.Encrypt(reinterpret_cast<unsigned char*>(whole.data()), whole.size());
    std::size_t at = 0;
    for (std::size_t len : {1u, 15u, 16u, 17u, 4096u + 3u, 1000u}) {
        len = std::min(len, pieces.size() - at);
        b.Encrypt(reinterpret_cast<unsigned char*>(pieces.data() + at), len);
        at += len;
    }
    ASSERT_EQ(at, pieces.size());
    EXPECT_EQ(whole, pieces);
    EXPECT_NE(whole, plain);
    EXPECT_EQ(a.Mac(), b.Mac());
}

// Extraction of encrypted archives that the peers and we wrote: byte for
// byte with the right password (unencrypted members beside encrypted ones
// included); a wrong password is told before extracting, and if tried, no
// encrypted member is written while the plain ones are; a changed byte fails
// that member alone (AES by its code), which leaves no file, not even a
// temporary one, while the members around it extract.
TEST(ZipCrypto, ExtractsEncryptedArchivesOfEveryKind)
{
    struct Case {
        const char* command;  // in the folder holding a.txt and b.bin; %P: the password
        const char* tool;
    };
    const Case cases[] = {
        {"7z a -tzip -p%P -mem=AES256 x.zip a.txt b.bin c.txt", "7z"},
        {"7z a -tzip -p%P -mem=AES128 x.zip a.txt b.bin c.txt", "7z"},
        {"7z a -tzip -p%P -mem=ZipCrypto x.zip a.txt b.bin c.txt", "7z"},
        {"zip -q -P %P x.zip a.txt b.bin c.txt", "zip"},
        // a.txt and c.txt plain, b.bin as "-" with its sizes after its data
        {"zip -q x.zip a.txt c.txt && cat b.bin | zip -q -P %P x.zip -", "zip"},
        {"ours", ""},
    };
    const std::string a(200000, 'a');
    const std::string b = Pseudorandom(4500000, 4);  // large enough to be streamed to the disk
    const std::string cText = "c";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        if (*c.tool && !HaveTool(c.tool))
            GTEST_SKIP() << c.tool << " missing";
        TempDir dir;
        WriteFile(dir / "in/a.txt", a);
        WriteFile(dir / "in/b.bin", b);
        WriteFile(dir / "in/c.txt", cText);
        const std::string archive = dir / "in/x.zip";
        if (std::string(c.command) == "ours") {
            ZipArchive w;
            w.SetPassword(kPassword);
            w.Open(archive, ZipMode::Write);
            w.Add(dir / "in/a.txt");
            w.Add(dir / "in/b.bin");
            w.Add(dir / "in/c.txt");
            w.Close();
        } else {
            std::string command = c.command;
            command.replace(command.find("%P"), 2, Quote(kPassword));
            ASSERT_EQ(Shell("cd " + Quote(dir / "in") + " && " + command), 0);
        }
        const std::string bName = std::string(c.command).find("cat b.bin") != std::string::npos ? "-" : "b.bin";
        ZipArchive r;
        r.Open(archive, ZipMode::Read);
        EXPECT_TRUE(r.NeedsPassword());
        EXPECT_TRUE(r.PasswordOpens(kPassword));
        const std::vector<Parsed> members = ParseZip(ReadFile(archive));
        ASSERT_EQ(members.size(), 3u);
        // The PKWARE check byte lets one wrong password in 256 pass; the CRC then refuses it.
        if (members.back().method == 99) {
            EXPECT_FALSE(r.PasswordOpens("wrong"));
        }
        r.SetPassword(kPassword);
        r.ExtractAll(dir / "out");
        EXPECT_TRUE(ReadFile(dir / "out/a.txt") == a);
        EXPECT_TRUE(ReadFile(dir / ("out/" + bName)) == b);
        EXPECT_EQ(ReadFile(dir / "out/c.txt"), cText);
        // A wrong password: every encrypted member is named and left out, a plain one beside them extracts.
        r.SetPassword("wrong");
        std::string message = ErrorOf([&] { r.ExtractAll(dir / "wrong"); });
        std::vector<std::string> expected;
        for (const Parsed& m : members)
            if (!(m.flags & 1))
                expected.push_back(m.name);
            else
                EXPECT_NE(message.find(m.name), std::string::npos) << message;
        EXPECT_EQ(Tree(dir / "wrong"), expected);
        r.Close();

        // A changed byte in the middle of b's data: b alone is left out and named.
        std::string bytes = ReadFile(archive);
        const Parsed& member = *std::find_if(members.begin(), members.end(), [&](const Parsed& m) { return m.name == bName; });
        bytes[bytes.find(member.data) + member.data.size() / 2] ^= 0x20;
        WriteFile(dir / "t.zip", bytes);
        r.Open(dir / "t.zip", ZipMode::Read);
        r.SetPassword(kPassword);
        message = ErrorOf([&] { r.ExtractAll(dir / "tampered"); });
        // Only AES authenticates; the PKWARE cipher leaves it to the codec and the CRC.
        if (member.method == 99)
            EXPECT_NE(message.find("未通过验证"), std::string::npos) << message;
        else
            EXPECT_NE(message.find(bName), std::string::npos) << message;
        EXPECT_EQ(Tree(dir / "tampered"), (std::vector<std::string>{"a.txt", "c.txt"}));
        EXPECT_EQ(ReadFile(dir / "tampered/c.txt"), cText);
    }
}

// A PKWARE archive's password is taken as its writer took it: in the legacy
// code page (as a Chinese Windows tool writes it), else as UTF-8 (as zip on
// Linux does).
TEST(ZipCrypto, PkwarePasswordInTheLegacyCodePageOrUtf8)
{
    if (!HaveTool("zip"))
        GTEST_SKIP() << "zip missing";
    const char* before = std::getenv("LC_ALL");
    const std::string saved = before ? before : "";
    setenv("LC_ALL", "zh_CN.UTF-8", 1);
    const std::pair<const char*, std::string> writers[] = {{"GBK", "\xc3\xdc\xc2\xeb"}, {"UTF-8", "密码"}};
    for (const auto& [name, bytes] : writers) {
        SCOPED_TRACE(name);
        TempDir dir;
        WriteFile(dir / "s.txt", "secret text");
        ASSERT_EQ(Shell("cd " + Quote(dir.Path()) + " && zip -q -P " + Quote(bytes) + " x.zip s.txt"), 0);
        ZipArchive r;
        r.Open(dir / "x.zip", ZipMode::Read);
        ASSERT_TRUE(r.PasswordOpens("密码"));
        r.SetPassword("密码");
        r.ExtractAll(dir / "out");
        EXPECT_EQ(ReadFile(dir / "out/s.txt"), "secret text");
    }
    if (before)
        setenv("LC_ALL", saved.c_str(), 1);
    else
        unsetenv("LC_ALL");
}
