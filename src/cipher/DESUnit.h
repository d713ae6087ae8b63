#pragma once
// DES block cipher (FIPS 46-3) and the file and text encryption built on it.
// Plain C++: paths are byte strings in the file-system encoding, key texts
// bytes in the system code page.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

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
std::string DesEncryptTextHex(std::string_view text, std::string_view keyText);
std::string DesDecryptTextHex(std::string_view hex, std::string_view keyText);
