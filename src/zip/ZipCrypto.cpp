#include "ZipCrypto.h"

#include <cstring>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>
#include <zlib.h>

#include "ZipFormat.h"

namespace zipcrypto {
namespace {

constexpr int kIterations = 1000;

std::uint32_t CrcByte(std::uint32_t crc, unsigned char b)
{
    static const z_crc_t* table = get_crc_table();
    return table[(crc ^ b) & 0xFF] ^ (crc >> 8);
}

[[noreturn]] void Fail(const char* what)
{
    throw ZipError(std::string("加密库出错：") + what);
}

const EVP_CIPHER* EcbCipher(int strength)
{
    switch (strength) {
    case 1: return EVP_aes_128_ecb();
    case 2: return EVP_aes_192_ecb();
    case 3: return EVP_aes_256_ecb();
    default: throw ZipError("不支持的 AES 密钥长度");
    }
}

// Fetched once: a fetch per member costs more than its whole key schedule.
EVP_MAC* HmacAlgorithm()
{
    static EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    if (!mac)
        Fail("HMAC 不可用");
    return mac;
}

}  // namespace

// ---- PKWARE ----

PkwareCipher::PkwareCipher(std::string_view password)
{
    for (char c : password)
        Update(static_cast<unsigned char>(c));
}

void PkwareCipher::Update(unsigned char plain)
{
    k0_ = CrcByte(k0_, plain);
    k1_ = (k1_ + (k0_ & 0xFF)) * 134775813u + 1;
    k2_ = CrcByte(k2_, static_cast<unsigned char>(k1_ >> 24));
}

unsigned char PkwareCipher::StreamByte() const
{
    const std::uint32_t t = (k2_ | 2) & 0xFFFF;
    return static_cast<unsigned char>((t * (t ^ 1)) >> 8);
}

void PkwareCipher::Decrypt(unsigned char* data, std::size_t len)
{
    for (std::size_t i = 0; i < len; ++i) {
        data[i] ^= StreamByte();
        Update(data[i]);
    }
}

bool PkwareCipher::OpenHeader(unsigned char* header, std::uint8_t check)
{
    Decrypt(header, kPkwareHeaderLen);
    return header[kPkwareHeaderLen - 1] == check;
}

// ---- WinZip AES ----

std::string AesExtraBody(std::uint16_t vendorVersion, int strength, std::uint16_t actualMethod)
{
    std::string body;
    zipfmt::Put16(body, vendorVersion);
    body += "AE";
    body.push_back(static_cast<char>(strength));
    zipfmt::Put16(body, actualMethod);
    return body;
}

struct AesStream::Ctx {
    EVP_CIPHER_CTX* cipher = EVP_CIPHER_CTX_new();
    EVP_MAC_CTX* mac = EVP_MAC_CTX_new(HmacAlgorithm());
    ~Ctx()
    {
        EVP_CIPHER_CTX_free(cipher);
        EVP_MAC_CTX_free(mac);
    }
};

AesStream::AesStream(std::string_view password, std::string_view salt, int strength) : ctx_(std::make_unique<Ctx>())
{
    const std::size_t keyLen = KeyLen(strength);
    if (!ctx_->cipher || !ctx_->mac)
        Fail("内存不足");
    unsigned char keys[2 * 32 + kAesVerifierLen];
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                          reinterpret_cast<const unsigned char*>(salt.data()), static_cast<int>(salt.size()),
                          kIterations, EVP_sha1(), static_cast<int>(2 * keyLen + kAesVerifierLen), keys) != 1)
        Fail("无法导出密钥");
    if (EVP_EncryptInit_ex(ctx_->cipher, EcbCipher(strength), nullptr, keys, nullptr) != 1)
        Fail("无法设置 AES 密钥");
    EVP_CIPHER_CTX_set_padding(ctx_->cipher, 0);
    char sha1[] = "SHA1";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, sha1, 0),
                                 OSSL_PARAM_construct_end()};
    if (EVP_MAC_init(ctx_->mac, keys + keyLen, keyLen, params) != 1)
        Fail("无法设置 HMAC 密钥");
    std::memcpy(verifier_.data(), keys + 2 * keyLen, kAesVerifierLen);
    OPENSSL_cleanse(keys, sizeof keys);
}

AesStream::~AesStream() = default;

// Counter mode with the counter as a little-endian number from 1, which
// OpenSSL's big-endian CTR can't produce: the counter blocks are laid out
// and encrypted in batches, then XORed in.
void AesStream::Crypt(unsigned char* data, std::size_t len)
{
    while (len != 0 && padUsed_ < 16) {
        *data++ ^= pad_[padUsed_++];
        --len;
    }
    constexpr std::size_t kBatch = 256;
    alignas(16) unsigned char stream[kBatch * 16];
    while (len != 0) {
        const std::size_t blocks = std::min(kBatch, (len + 15) / 16);
        std::memset(stream, 0, blocks * 16);
        for (std::size_t i = 0; i < blocks; ++i) {
            const std::uint64_t n = ++counter_;
            for (int b = 0; b < 8; ++b)
                stream[i * 16 + b] = static_cast<unsigned char>(n >> (8 * b));
        }
        int produced = 0;
        if (EVP_EncryptUpdate(ctx_->cipher, stream, &produced, stream, static_cast<int>(blocks * 16)) != 1)
            Fail("AES 加密失败");
        const std::size_t n = std::min(len, blocks * 16);
        for (std::size_t i = 0; i < n; ++i)
            data[i] ^= stream[i];
        if (n % 16 != 0) {
            // The rest of the last block serves the next call.
            std::memcpy(pad_.data(), stream + (blocks - 1) * 16, 16);
            padUsed_ = n % 16;
        }
        data += n;
        len -= n;
    }
}

void AesStream::Authenticate(const unsigned char* data, std::size_t len)
{
    if (len != 0 && EVP_MAC_update(ctx_->mac, data, len) != 1)
        Fail("HMAC 计算失败");
}

void AesStream::Encrypt(unsigned char* data, std::size_t len)
{
    Crypt(data, len);
    Authenticate(data, len);
}

void AesStream::Decrypt(unsigned char* data, std::size_t len)
{
    Authenticate(data, len);
    Crypt(data, len);
}

std::array<unsigned char, kAesMacLen> AesStream::Mac()
{
    unsigned char full[EVP_MAX_MD_SIZE];
    std::size_t n = 0;
    if (EVP_MAC_final(ctx_->mac, full, &n, sizeof full) != 1 || n < kAesMacLen)
        Fail("HMAC 计算失败");
    std::array<unsigned char, kAesMacLen> mac{};
    std::memcpy(mac.data(), full, kAesMacLen);
    return mac;
}

AesSeal SealMember(std::string_view password, int strength)
{
    std::string salt(SaltLen(strength), '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(salt.data()), static_cast<int>(salt.size())) != 1)
        Fail("无法取得随机数");
    AesSeal seal;
    seal.stream = std::make_unique<AesStream>(password, salt, strength);
    const auto verifier = seal.stream->Verifier();
    seal.head = salt;
    seal.head.append(reinterpret_cast<const char*>(verifier.data()), verifier.size());
    return seal;
}

}  // namespace zipcrypto
