// The AES key derivation of an encrypted member, N times: "call" through
// libcrypto's one-call PBKDF2 (what extraction uses), "prepared" through the
// KDF fetched and set up once and reused. Run under callgrind by
// zipkdf_bench.sh, which gives the instructions per derivation side by side.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <string>
#include <string_view>

namespace {

constexpr unsigned kIterations = 1000;

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "%s\n", what);
    std::exit(1);
}

// The PBKDF2 of libcrypto with SHA-1, 1,000 iterations and no lower bounds
// (an AES-128 salt is 8 bytes), prepared once: the one-call form fetches the
// KDF and the digest by name on every call. (This libcrypto can't copy a
// PBKDF2 context, so a context would serve one thread.)
class Pbkdf2 {
public:
    Pbkdf2()
    {
        EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "PBKDF2", nullptr);
        ctx_ = kdf ? EVP_KDF_CTX_new(kdf) : nullptr;
        EVP_KDF_free(kdf);  // the context keeps its own reference
        char sha1[] = "SHA1";
        unsigned iterations = kIterations;
        int pkcs5 = 1;
        const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, sha1, 0),
                                     OSSL_PARAM_construct_uint(OSSL_KDF_PARAM_ITER, &iterations),
                                     OSSL_PARAM_construct_int(OSSL_KDF_PARAM_PKCS5, &pkcs5),
                                     OSSL_PARAM_construct_end()};
        if (ctx_ && EVP_KDF_CTX_set_params(ctx_, params) != 1) {
            EVP_KDF_CTX_free(ctx_);
            ctx_ = nullptr;
        }
    }
    ~Pbkdf2() { EVP_KDF_CTX_free(ctx_); }
    Pbkdf2(const Pbkdf2&) = delete;
    Pbkdf2& operator=(const Pbkdf2&) = delete;

    // The password and salt given replace those of the call before.
    void Derive(std::string_view password, std::string_view salt, unsigned char* out, std::size_t len)
    {
        if (!ctx_)
            Fail("PBKDF2 不可用");
        const OSSL_PARAM params[] = {
            OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_PASSWORD, const_cast<char*>(password.data()),
                                              password.size()),
            OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<char*>(salt.data()), salt.size()),
            OSSL_PARAM_construct_end()};
        if (EVP_KDF_derive(ctx_, out, len, params) != 1)
            Fail("无法导出密钥");
    }

private:
    EVP_KDF_CTX* ctx_ = nullptr;
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3 || (std::strcmp(argv[1], "call") != 0 && std::strcmp(argv[1], "prepared") != 0)) {
        std::fprintf(stderr, "usage: %s call|prepared COUNT\n", argv[0]);
        return 2;
    }
    const bool call = std::strcmp(argv[1], "call") == 0;
    const long count = std::atol(argv[2]);
    const std::string password = "pass word!";
    std::string salt(16, 's');  // AES-256
    unsigned char keys[66];
    unsigned sum = 0;
    Pbkdf2 prepared;
    for (long i = 0; i < count; ++i) {
        salt[0] = static_cast<char>(i);
        if (call)
            PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                              reinterpret_cast<const unsigned char*>(salt.data()), static_cast<int>(salt.size()),
                              kIterations, EVP_sha1(), sizeof keys, keys);
        else
            prepared.Derive(password, salt, keys, sizeof keys);
        sum += keys[0];
    }
    std::printf("%u\n", sum);
    return 0;
}
