#pragma once
// The two kinds of ZIP member encryption: the traditional PKWARE stream
// cipher (small enough to be our own) and WinZip's AES (AE-1 and AE-2) on
// libcrypto: PBKDF2-HMAC-SHA1 keys, AES in counter mode with a little-endian
// counter, and an HMAC-SHA1 code over the encrypted data.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace zipcrypto {

// ---- traditional PKWARE encryption ----

inline constexpr std::size_t kPkwareHeaderLen = 12;

class PkwareCipher {
public:
    explicit PkwareCipher(std::string_view password);
    // Decrypts the 12-byte header in place and tells whether its last byte
    // matches check (the high byte of the CRC, or of the DOS time when the
    // sizes follow the data). One in 256 wrong passwords passes this test.
    bool OpenHeader(unsigned char* header, std::uint8_t check);
    void Decrypt(unsigned char* data, std::size_t len);

private:
    void Update(unsigned char plain);
    unsigned char StreamByte() const;
    std::uint32_t k0_ = 0x12345678, k1_ = 0x23456789, k2_ = 0x34567890;
};

// ---- WinZip AES ----

inline constexpr std::uint16_t kMethodAes = 99;
inline constexpr std::uint16_t kExtraAes = 0x9901;
inline constexpr std::size_t kAesVerifierLen = 2;
inline constexpr std::size_t kAesMacLen = 10;

// Strength 1, 2, 3: AES-128, -192, -256. The salt is half the key long.
inline constexpr std::size_t SaltLen(int strength) { return 4 + 4 * static_cast<std::size_t>(strength); }
inline constexpr std::size_t KeyLen(int strength) { return 8 + 8 * static_cast<std::size_t>(strength); }
// Bytes an encrypted member carries besides its data: salt, verifier, code.
inline constexpr std::size_t AesOverhead(int strength) { return SaltLen(strength) + kAesVerifierLen + kAesMacLen; }

// The 7-byte body of the 0x9901 extra field.
std::string AesExtraBody(std::uint16_t vendorVersion, int strength, std::uint16_t actualMethod);

class AesStream {
public:
    // Derives the keys from the password (UTF-8) and the member's salt.
    AesStream(std::string_view password, std::string_view salt, int strength);
    ~AesStream();
    AesStream(const AesStream&) = delete;
    AesStream& operator=(const AesStream&) = delete;

    // The two bytes stored after the salt; a mismatch means a wrong password.
    std::array<unsigned char, kAesVerifierLen> Verifier() const { return verifier_; }
    // Encrypts in place and authenticates the result; successive calls
    // continue one stream.
    void Encrypt(unsigned char* data, std::size_t len);
    // Authenticates the encrypted bytes, then decrypts them in place.
    void Decrypt(unsigned char* data, std::size_t len);
    // The authentication code of everything passed so far.
    std::array<unsigned char, kAesMacLen> Mac();

private:
    void Crypt(unsigned char* data, std::size_t len);
    void Authenticate(const unsigned char* data, std::size_t len);

    struct Ctx;
    std::unique_ptr<Ctx> ctx_;
    std::array<unsigned char, kAesVerifierLen> verifier_{};
    std::uint64_t counter_ = 0;  // blocks used so far
    std::array<unsigned char, 16> pad_{};
    std::size_t padUsed_ = 16;  // bytes of pad_ already used
};

// A new member's salt and verifier, written before its encrypted data, and
// the stream that encrypts it.
struct AesSeal {
    std::string head;
    std::unique_ptr<AesStream> stream;
};
AesSeal SealMember(std::string_view password, int strength = 3);

}  // namespace zipcrypto
