#include "ZipDecrypt.h"

#include <cstring>
#include <memory>
#include <vector>

#include "CodePage.h"
#include "ZipCrypto.h"

namespace zipdecrypt {
namespace {

[[noreturn]] void Wrong(const zipread::Entry& e)
{
    throw WrongPassword("成员" + e.header.Name + "的密码不正确");
}

class PkwareFilter : public zipfilter::Filter {
public:
    PkwareFilter(const zipread::Entry& e, const std::string& password) : e_(e), password_(password) {}
    std::size_t HeaderSize() const override { return zipcrypto::kPkwareHeaderLen; }

    void Begin(const unsigned char* header, std::size_t n) override
    {
        // With the sizes after the data, the writer knew no CRC yet when it
        // wrote the header: its check byte is then the time's high byte.
        const ZipHeader& hd = e_.header;
        const auto check = static_cast<std::uint8_t>((hd.Flags & zipfmt::kFlagDescriptor) ? hd.DosTime >> 8
                                                                                           : hd.Crc32 >> 24);
        const std::string legacy = codepage::Utf8ToAnsi(password_);
        for (const std::string* candidate : {&legacy, &password_}) {
            zipcrypto::PkwareCipher cipher(*candidate);
            unsigned char copy[zipcrypto::kPkwareHeaderLen];
            std::memcpy(copy, header, n);
            if (cipher.OpenHeader(copy, check)) {
                cipher_ = std::make_unique<zipcrypto::PkwareCipher>(cipher);
                return;
            }
        }
        Wrong(e_);
    }
    void Apply(unsigned char* data, std::size_t n) override { cipher_->Decrypt(data, n); }

private:
    const zipread::Entry& e_;
    const std::string password_;
    std::unique_ptr<zipcrypto::PkwareCipher> cipher_;
};

class AesFilter : public zipfilter::Filter {
public:
    AesFilter(const zipread::Entry& e, const std::string& password) : e_(e), password_(password) {}
    std::size_t HeaderSize() const override
    {
        return zipcrypto::SaltLen(e_.aesStrength) + zipcrypto::kAesVerifierLen;
    }
    std::size_t TrailerSize() const override { return zipcrypto::kAesMacLen; }
    // AE-2 leaves the CRC 0: the code stands for it.
    bool ChecksCrc() const override { return e_.aesVersion != 2; }

    void Begin(const unsigned char* header, std::size_t n) override
    {
        const std::size_t salt = n - zipcrypto::kAesVerifierLen;
        stream_ = std::make_unique<zipcrypto::AesStream>(
            password_, std::string_view(reinterpret_cast<const char*>(header), salt), e_.aesStrength);
        if (std::memcmp(stream_->Verifier().data(), header + salt, zipcrypto::kAesVerifierLen) != 0)
            Wrong(e_);
    }
    void Apply(unsigned char* data, std::size_t n) override { stream_->Decrypt(data, n); }
    void End(const unsigned char* trailer, std::size_t n) override
    {
        const auto mac = stream_->Mac();
        if (n != mac.size() || std::memcmp(mac.data(), trailer, n) != 0)
            throw ZipError("成员" + e_.header.Name + "未通过验证：数据已被改动或损坏");
    }

private:
    const zipread::Entry& e_;
    const std::string password_;
    std::unique_ptr<zipcrypto::AesStream> stream_;
};

}  // namespace

zipfilter::Factory Filters(const std::string& password)
{
    return [password](const zipread::Entry& e) -> std::unique_ptr<zipfilter::Filter> {
        if (!(e.header.Flags & zipfmt::kFlagEncrypted))
            return nullptr;
        if (e.aesStrength != 0)
            return std::make_unique<AesFilter>(e, password);
        return std::make_unique<PkwareFilter>(e, password);
    };
}

const zipread::Entry* FirstEncrypted(const zipread::Reader& reader)
{
    for (const zipread::Entry& e : reader.Entries())
        if (!e.isFolder && (e.header.Flags & zipfmt::kFlagEncrypted))
            return &e;
    return nullptr;
}

bool Opens(const zipread::Reader& reader, const std::string& password)
{
    const zipread::Entry* e = FirstEncrypted(reader);
    if (!e)
        return true;
    const std::unique_ptr<zipfilter::Filter> filter = Filters(password)(*e);
    std::vector<unsigned char> header(filter->HeaderSize());
    if (e->header.CompressedSize < header.size())
        return false;
    reader.Source().ReadExact(e->dataOffset, header.data(), header.size(), "成员数据");
    try {
        filter->Begin(header.data(), header.size());
    } catch (const WrongPassword&) {
        return false;
    }
    return true;
}

}  // namespace zipdecrypt
