#include "ZipDecrypt.h"

#include <cstring>
#include <future>
#include <map>
#include <memory>
#include <vector>

#include "CodePage.h"
#include "WorkerPool.h"
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

std::size_t SaltLen(const zipread::Entry& e)
{
    return zipcrypto::SaltLen(e.aesStrength);
}

// AES keys derived ahead of their members on the worker threads, a few
// members at a time, so that the calling thread mostly finds them ready.
class KeysAhead {
public:
    KeysAhead(const zipread::Reader& reader, std::string password) : reader_(reader), password_(std::move(password))
    {
        for (const zipread::Entry& e : reader.Entries())
            if (!e.isFolder && (e.header.Flags & zipfmt::kFlagEncrypted) && e.aesStrength != 0 &&
                e.header.CompressedSize >= SaltLen(e)) {
                index_[&e] = members_.size();
                members_.push_back(&e);
            }
        slots_.resize(members_.size());
        window_ = 2 * zippool::Pool::Instance().Size() + 2;
    }
    ~KeysAhead()
    {
        for (Slot& slot : slots_)
            if (slot.done.valid())
                slot.done.wait();
    }

    // The stream for member e when its salt is the one given, else nothing.
    std::unique_ptr<zipcrypto::AesStream> Take(const zipread::Entry& e, std::string_view salt)
    {
        const auto found = index_.find(&e);
        if (found == index_.end())
            return nullptr;
        const std::size_t i = found->second;
        while (submitted_ < members_.size() && submitted_ <= i + window_)
            Submit(submitted_++);
        Slot& slot = slots_[i];
        if (!slot.done.valid())
            return nullptr;
        slot.done.wait();
        slot.done = {};
        if (!slot.stream || slot.salt != salt)
            return nullptr;
        return std::move(slot.stream);
    }

private:
    struct Slot {
        std::string salt;
        std::unique_ptr<zipcrypto::AesStream> stream;
        std::future<void> done;
    };

    // A failure leaves the slot empty: the member then derives its own keys
    // and meets the failure itself.
    void Submit(std::size_t i)
    {
        Slot* slot = &slots_[i];
        const zipread::Entry* e = members_[i];
        slot->done = zippool::Pool::Instance().Submit([this, slot, e] {
            try {
                std::string salt(SaltLen(*e), '\0');
                reader_.Source().ReadExact(e->dataOffset, reinterpret_cast<unsigned char*>(salt.data()), salt.size(),
                                           "成员数据");
                slot->stream = std::make_unique<zipcrypto::AesStream>(password_, salt, e->aesStrength);
                slot->salt = std::move(salt);
            } catch (const std::exception&) {
                slot->stream.reset();
            }
        });
    }

    const zipread::Reader& reader_;
    const std::string password_;
    std::vector<const zipread::Entry*> members_;
    std::map<const zipread::Entry*, std::size_t> index_;
    std::vector<Slot> slots_;
    std::size_t submitted_ = 0, window_ = 0;
};

class AesFilter : public zipfilter::Filter {
public:
    AesFilter(const zipread::Entry& e, const std::string& password, std::shared_ptr<KeysAhead> ahead)
        : e_(e), password_(password), ahead_(std::move(ahead))
    {
    }
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
        const std::string_view saltBytes(reinterpret_cast<const char*>(header), salt);
        if (ahead_)
            stream_ = ahead_->Take(e_, saltBytes);
        if (!stream_)
            stream_ = std::make_unique<zipcrypto::AesStream>(password_, saltBytes, e_.aesStrength);
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
    std::shared_ptr<KeysAhead> ahead_;
    std::unique_ptr<zipcrypto::AesStream> stream_;
};

}  // namespace

zipfilter::Factory Filters(const std::string& password, const zipread::Reader* reader)
{
    std::shared_ptr<KeysAhead> ahead;
    if (reader)
        ahead = std::make_shared<KeysAhead>(*reader, password);
    return [password, ahead](const zipread::Entry& e) -> std::unique_ptr<zipfilter::Filter> {
        if (!(e.header.Flags & zipfmt::kFlagEncrypted))
            return nullptr;
        if (e.aesStrength != 0)
            return std::make_unique<AesFilter>(e, password, ahead);
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
