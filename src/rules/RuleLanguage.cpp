#include "RuleLanguage.h"

#include "folder_services.h"

#include <exception>

namespace {

const QString kBracketError = QStringLiteral("[][]输入不符合规定，可能输入为英文格式，也有可能输入不配套。");
const QString kFirstNumberError = QStringLiteral("前一个[]中有非法数字");
const QString kSecondNumberError = QStringLiteral("后一个[]中有非法数字");

// Where the parts of a rule lie, as 0-based indexes; -1 means not present.
//   prefix [N1] [N2] suffix
//          ^l1 ^r1 ^l2 ^r2   (l2 and r2 index into the whole rule, not the tail)
// l1 is the first "[" that stands before the first "]": a rule such as 5][2]
// has no opening bracket for its first number and is still read as 5,7,9.
struct RuleLayout {
    qsizetype l1 = -1, r1 = -1, l2 = -1, r2 = -1;
    QString n1, n2;
};

bool Locate(const QString& rule, RuleLayout& at)
{
    at.r1 = rule.indexOf(QLatin1Char(']'));
    if (at.r1 < 0)
        return false;
    const qsizetype open = rule.indexOf(QLatin1Char('['));
    at.l1 = open >= 0 && open < at.r1 ? open : -1;
    // The first "]" must be followed at once by "[", and a "]" must close it.
    if (at.r1 + 1 >= rule.size() || rule.at(at.r1 + 1) != QLatin1Char('['))
        return false;
    at.l2 = at.r1 + 1;
    at.r2 = rule.indexOf(QLatin1Char(']'), at.l2 + 1);
    if (at.r2 < 0)
        return false;
    at.n1 = rule.mid(at.l1 + 1, at.r1 - at.l1 - 1);
    at.n2 = rule.mid(at.l2 + 1, at.r2 - at.l2 - 1);
    return true;
}

bool AllAsciiDigits(const QString& text)
{
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

// Decimal digits to a 32-bit signed number; leading zeros vanish.
bool ToInt32(const QString& digits, std::int32_t& value, QString& err)
{
    std::int64_t n = 0;
    bool ok = !digits.isEmpty();
    for (QChar c : digits) {
        n = n * 10 + (c.unicode() - u'0');
        if (n > INT32_MAX) {
            ok = false;
            break;
        }
    }
    if (!ok) {
        err = QStringLiteral("“%1”不是有效的整数值").arg(digits);
        return false;
    }
    value = static_cast<std::int32_t>(n);
    return true;
}

bool CheckLayout(const QString& rule, RuleLayout& at, QString& err)
{
    try {
        if (!Locate(rule, at)) {
            err = kBracketError;
            return false;
        }
        if (!AllAsciiDigits(at.n1)) {
            err = kFirstNumberError;
            return false;
        }
        if (!AllAsciiDigits(at.n2)) {
            err = kSecondNumberError;
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        err = QString::fromUtf8(e.what());
        return false;
    }
}

}  // namespace

bool CheckRule(const QString& rule, QString& err)
{
    RuleLayout at;
    return CheckLayout(rule, at, err);
}

bool ParseRule(const QString& rule, strRule& out, QString& err)
{
    RuleLayout at;
    if (!CheckLayout(rule, at, err))
        return false;
    strRule parsed;
    parsed.preTxt = at.l1 > 0 ? rule.left(at.l1) : QString();
    parsed.sufText = rule.mid(at.r2 + 1);
    if (!ToInt32(at.n1, parsed.startNumber, err) || !ToInt32(at.n2, parsed.interval, err))
        return false;
    out = parsed;
    return true;
}

std::int32_t RuleNumber(const strRule& rule, int k)
{
    // Unsigned arithmetic wraps by definition; the conversion back is modular in C++20.
    const std::uint32_t n = static_cast<std::uint32_t>(rule.startNumber)
                            + static_cast<std::uint32_t>(k) * static_cast<std::uint32_t>(rule.interval);
    return static_cast<std::int32_t>(n);
}

QString RuleName(const strRule& rule, int k)
{
    return rule.preTxt + QString::number(RuleNumber(rule, k)) + rule.sufText;
}

namespace {
struct PathParts {
    QString folder, base, ext;
};

PathParts Split(const QString& path)
{
    const QString name = BareFileName(path);
    const QString base = GetNameWithoutExt(name);
    return {FolderPart(path), base, name.mid(base.size())};
}
}  // namespace

QString NumberedPath(const QString& oldPath, const strRule& rule, int k)
{
    const PathParts p = Split(oldPath);
    return p.folder + RuleName(rule, k) + p.ext;
}

QString ReplacedPath(const QString& oldPath, const QString& oldstr, const QString& replacestr, int replaceType)
{
    PathParts p = Split(oldPath);
    if (oldstr.isEmpty())
        return oldPath;
    if (replaceType == ReplaceFirst) {
        const qsizetype at = p.base.indexOf(oldstr, 0, Qt::CaseSensitive);
        if (at >= 0)
            p.base.replace(at, oldstr.size(), replacestr);
    } else {
        p.base.replace(oldstr, replacestr, Qt::CaseSensitive);
    }
    return p.folder + p.base + p.ext;
}

bool IsRefusedNameChar(QChar c)
{
    static const QString refused = QStringLiteral("*/:;<>?\\|");
    return refused.contains(c);
}

bool FirstForbiddenNameChar(const QString& text, QChar& found)
{
    for (QChar c : text) {
        if (IsRefusedNameChar(c) || c.isNull()) {
            found = c;
            return true;
        }
    }
    found = QChar();
    return false;
}
