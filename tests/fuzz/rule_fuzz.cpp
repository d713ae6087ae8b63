// Any text as a rename rule: the check and the parse must agree and never fault.

#include "RuleLanguage.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString rule = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QString err;
    if (!CheckRule(rule, err)) {
        if (err.isEmpty())
            std::abort();  // a refused rule always says why
        return 0;
    }
    strRule parsed;
    QString parseErr;
    if (ParseRule(rule, parsed, parseErr)) {
        // A prefix never holds a bracket; every name carries prefix and suffix.
        if (parsed.preTxt.contains(QLatin1Char('[')))
            std::abort();
        for (int k = 0; k < 3; ++k) {
            const QString name = RuleName(parsed, k);
            if (!name.startsWith(parsed.preTxt) || !name.endsWith(parsed.sufText))
                std::abort();
        }
    }
    return 0;
}
