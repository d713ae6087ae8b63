#pragma once
// DES block cipher (FIPS 46-3) and the file and text encryption built on it.
// Plain C++: paths are byte strings in the file-system encoding, key texts
// bytes in the system code page.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace safefile {
class Folder;
class Source;
}

using DesKey = std::array<std::uint8_t, 8>;
using DesBlock = std::array<std::uint8_t, 8>;

// What a file routine did: ok, or why no target was written.
struct DesFileResult {
    bool ok = true;
    std::string reason;  // UTF-8, empty when ok
    explicit operator bool() const { return ok; }
};

// Called between chunks of a large file with the bytes done so far and the
// total, so a window can repaint; it must not throw.
using DesProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

DesKey DesKeyFromText(std::string_view keyText);
void DesMakeSubKeys(const DesKey& key, bool encrypt);
DesBlock DesCryptBlock(const DesBlock& in);
DesBlock DesEncryptBlock(const DesBlock& in, std::string_view keyText);
DesBlock DesDecryptBlock(const DesBlock& in, std::string_view keyText);
DesFileResult DesEncryptFile(const std::string& sourcePath, const std::string& targetPath, std::string_view keyText,
                             const DesProgress& progress = {});
DesFileResult DesDecryptFile(const std::string& sourcePath, const std::string& targetPath, std::string_view keyText,
                             const DesProgress& progress = {});
// The same with the target named inside an open folder, so that folders
// below the one the user chose are never reached through a link.
DesFileResult DesEncryptFile(const std::string& sourcePath, const safefile::Folder& targetFolder,
                             const std::string& targetName, std::string_view keyText, const DesProgress& progress = {});
// Decrypting a file onto itself writes nothing when the fill bytes of the
// last block are not zero (a wrong password, almost surely): the encrypted
// file is kept.
DesFileResult DesDecryptFile(const std::string& sourcePath, const safefile::Folder& targetFolder,
                             const std::string& targetName, std::string_view keyText, const DesProgress& progress = {});
// The same with the source already open, as a batch opens it below the folder it was named on.
DesFileResult DesEncryptFile(safefile::Source& source, const safefile::Folder& targetFolder,
                             const std::string& targetName, std::string_view keyText, const DesProgress& progress = {});
DesFileResult DesDecryptFile(safefile::Source& source, const safefile::Folder& targetFolder,
                             const std::string& targetName, std::string_view keyText, const DesProgress& progress = {});
std::string DesEncryptTextHex(std::string_view text, std::string_view keyText);
std::string DesDecryptTextHex(std::string_view hex, std::string_view keyText);

// ---------------------------------------------------------------------------
// Bulk ECB: one key schedule owned by the caller, many blocks per call.
// Large runs go through a bitsliced DES (64, 256 or 512 blocks at a time);
// the engine is picked once from what the processor offers.

enum class DesEngine {
    Auto,      // the fastest engine this processor runs
    Portable,  // 64-bit integers, any processor
    Avx2,      // 256-bit vectors
    Avx512,    // 512-bit vectors with three-input logic
};

// Whether this processor (and build) can run the engine; Auto always can.
bool DesEngineAvailable(DesEngine engine);
// The engine that Auto stands for here.
DesEngine DesBestEngine();
const char* DesEngineName(DesEngine engine);

class DesCipher {
public:
    // An unavailable engine falls back to the best available one.
    DesCipher(const DesKey& key, bool encrypt, DesEngine engine = DesEngine::Auto);

    DesBlock Crypt(const DesBlock& in) const;
    // Transforms `blocks` 8-byte blocks from in to out; in may equal out.
    void Crypt(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const;
    DesEngine Engine() const { return engine_; }

private:
    void CryptScalar(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const;

    DesEngine engine_;
    // Round r's subkey as eight 6-bit S-box inputs, rounds in the order used.
    std::array<std::array<std::uint8_t, 8>, 16> six_{};
    // The same subkeys one bit per word, all ones or all zeros, for the
    // bitsliced engines.
    std::array<std::array<std::uint64_t, 48>, 16> masks_{};
};
