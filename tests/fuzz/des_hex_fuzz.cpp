// Any text as hexadecimal ciphertext, and any text encrypted and decrypted again.

#include "DESUnit.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string_view key = input.substr(0, input.size() < 5 ? input.size() : 5);
    const std::string plain = DesDecryptTextHex(input, key);
    // Decryption yields at most 8 bytes per 16 digits (a lone digit rounds up).
    if (plain.size() > (size + 15) / 16 * 8)
        std::abort();

    const std::string hex = DesEncryptTextHex(input, key);
    const std::size_t blocks = input.empty() ? 1 : (input.size() + 7) / 8;
    if (hex.size() != 16 * blocks)
        std::abort();
    const std::string back = DesDecryptTextHex(hex, key);
    // The round trip gives the text up to its first zero byte.
    if (back != input.substr(0, input.find('\0')))
        std::abort();
    return 0;
}
