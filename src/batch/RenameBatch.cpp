#include "RenameBatch.h"

#include "RuleLanguage.h"

namespace renamebatch {

namespace {

std::optional<QString> RefusedChar(const QString& text)
{
    QChar bad;
    if (FirstForbiddenNameChar(text, bad))
        return QStringLiteral("文件名不能输入字符:") + bad;
    return std::nullopt;
}

}  // namespace

std::optional<QString> TakeNumberedRule(const QString& text, strRule& out)
{
    if (auto refused = RefusedChar(text))
        return refused;
    QString err;
    if (!CheckRule(text, err))
        return QStringLiteral("发生如下错误：") + err;
    if (!ParseRule(text, out, err))
        return err;
    return std::nullopt;
}

std::optional<QString> CheckReplaceRule(const QString& oldstr, const QString& replacestr)
{
    if (oldstr.isEmpty() || replacestr.isEmpty())
        return QStringLiteral("原字符和替换字符都不能为空");
    if (auto refused = RefusedChar(oldstr))
        return refused;
    return RefusedChar(replacestr);
}

}  // namespace renamebatch
