// The member ciphers against archives that other tools encrypted: the
// PKWARE cipher and WinZip AES open them with the right password, and a wrong
// password or a changed byte is caught.
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
