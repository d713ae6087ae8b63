// Any bytes as an encrypted file: the decryptor must refuse or decrypt them
// without a fault, write a target only on success, and never leave a scratch file.

#include "DESUnit.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string dir = [] {
        char pattern[] = "/tmp/vdes_fuzz_XXXXXX";
        const char* made = mkdtemp(pattern);
        return std::string(made ? made : "/tmp");
    }();
    const std::string source = dir + "/in.bin";
    const std::string target = dir + "/out.bin";
    FILE* f = std::fopen(source.c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    std::remove(target.c_str());

    const std::string key = size > 0 ? std::string(reinterpret_cast<const char*>(data), size < 8 ? size : 8) : "k";
    const DesFileResult result = DesDecryptFile(source, target, key);
    struct stat st{};
    const bool written = stat(target.c_str(), &st) == 0;
    if (result.ok != written)
        std::abort();  // a target exactly when the routine says it succeeded
    if (result.ok) {
        // The payload is exactly the padded length: the output can't be longer than it.
        if (size < 4 || static_cast<std::size_t>(st.st_size) > size - 4)
            std::abort();
    }
    return 0;
}
