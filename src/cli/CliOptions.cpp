#include "CliOptions.h"

#include <map>
#include <set>

namespace cli {

namespace {

// The options each command takes, by long name.
const std::map<QString, std::set<QString>>& CommandOptions()
{
    static const std::map<QString, std::set<QString>> table{
        {QStringLiteral("encrypt"), {"target", "password", "password-file", "recursive", "verbose"}},
        {QStringLiteral("decrypt"), {"target", "password", "password-file", "recursive", "verbose"}},
        {QStringLiteral("zip"), {"password", "password-file", "ask-password", "recursive", "verbose"}},
        {QStringLiteral("unzip"), {"target", "password", "password-file", "verbose"}},
        {QStringLiteral("list"), {"output", "recursive", "verbose"}},
        {QStringLiteral("rename"), {"rule", "replace", "first", "dry-run", "recursive", "verbose"}},
        {QStringLiteral("undo-rename"), {"verbose"}},
    };
    return table;
}

QString LongName(QChar shortName)
{
    switch (shortName.unicode()) {
    case 't': return QStringLiteral("target");
    case 'p': return QStringLiteral("password");
    case 'r': return QStringLiteral("recursive");
    case 'o': return QStringLiteral("output");
    case 'v': return QStringLiteral("verbose");
    case 'n': return QStringLiteral("dry-run");
    case 'h': return QStringLiteral("help");
    default: return {};
    }
}

int ValueCount(const QString& name)
{
    if (name == QLatin1String("replace"))
        return 2;
    static const std::set<QString> flags{"verbose", "first", "dry-run", "help", "ask-password"};
    return flags.count(name) ? 0 : 1;
}

class Parser {
public:
    Parser(const QString& command, const QStringList& args) : args_(args) { out_.options.command = command; }

    Parsed Run()
    {
        bool optionsEnd = false;
        for (i_ = 0; i_ < args_.size() && out_.error.isEmpty(); ++i_) {
            const QString& a = args_[i_];
            if (optionsEnd || a == QLatin1String("-") || !a.startsWith(QLatin1Char('-')))
                out_.options.operands << a;
            else if (a == QLatin1String("--"))
                optionsEnd = true;
            else if (a.startsWith(QLatin1String("--")))
                Long(a.mid(2));
            else
                Short(a);
        }
        if (out_.error.isEmpty() && !out_.options.help)
            CheckOperands();
        return out_;
    }

private:
    void Long(const QString& text)
    {
        const qsizetype eq = text.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? text : text.left(eq);
        if (eq >= 0 && ValueCount(name) != 1)
            return Fail(QStringLiteral("选项 --%1 不带等号后的值").arg(name));
        Take(name, QStringLiteral("--") + name, eq < 0 ? std::nullopt : std::optional<QString>(text.mid(eq + 1)));
    }

    // -v, -t TARGET or -tTARGET.
    void Short(const QString& text)
    {
        const QString name = LongName(text.at(1));
        if (name.isEmpty())
            return Fail(QStringLiteral("未知选项 %1").arg(text.left(2)));
        std::optional<QString> attached;
        if (text.size() > 2) {
            if (ValueCount(name) != 1)
                return Fail(QStringLiteral("未知选项 %1").arg(text));
            attached = text.mid(2);
        }
        Take(name, text.left(2), attached);
    }

    void Take(const QString& name, const QString& spelled, std::optional<QString> value)
    {
        if (name == QLatin1String("help")) {
            out_.options.help = true;
            return;
        }
        const auto& allowed = CommandOptions().at(out_.options.command);
        if (!allowed.count(name))
            return Fail(QStringLiteral("命令 %1 没有选项 %2").arg(out_.options.command, spelled));
        QStringList values;
        if (value)
            values << *value;
        while (values.size() < ValueCount(name)) {
            if (++i_ >= args_.size())
                return Fail(QStringLiteral("选项 %1 缺少参数").arg(spelled));
            values << args_[i_];
        }
        Store(name, spelled, values);
    }

    void Store(const QString& name, const QString& spelled, const QStringList& v)
    {
        Options& o = out_.options;
        std::optional<QString>* slot = nullptr;
        if (name == QLatin1String("target")) slot = &o.target;
        else if (name == QLatin1String("password")) slot = &o.password;
        else if (name == QLatin1String("password-file")) slot = &o.passwordFile;
        else if (name == QLatin1String("recursive")) slot = &o.folder;
        else if (name == QLatin1String("output")) slot = &o.output;
        else if (name == QLatin1String("rule")) slot = &o.rule;
        else if (name == QLatin1String("replace")) slot = &o.replaceOld;
        else if (name == QLatin1String("verbose")) o.verbose = true;
        else if (name == QLatin1String("first")) o.first = true;
        else if (name == QLatin1String("dry-run")) o.dryRun = true;
        else if (name == QLatin1String("ask-password")) o.askPassword = true;
        if (!slot)
            return;
        if (*slot)
            return Fail(QStringLiteral("选项 %1 只能给一次").arg(spelled));
        *slot = v.at(0);
        if (name == QLatin1String("replace"))
            o.replaceNew = v.at(1);
    }

    void CheckOperands()
    {
        Options& o = out_.options;
        const QString& c = o.command;
        if (c == QLatin1String("undo-rename")) {
            if (!o.operands.isEmpty())
                Fail(QStringLiteral("命令 undo-rename 不带参数"));
            return;
        }
        if (o.password && o.passwordFile)
            return Fail(QStringLiteral("-p 与 --password-file 只能用一个"));
        if (o.askPassword && (o.password || o.passwordFile))
            return Fail(QStringLiteral("--ask-password 不与 -p 或 --password-file 一起用"));
        if (c == QLatin1String("unzip")) {
            if (o.operands.isEmpty())
                Fail(QStringLiteral("缺少要解压的压缩文件"));
            return;
        }
        if ((c == QLatin1String("encrypt") || c == QLatin1String("decrypt")) && !o.target)
            return Fail(QStringLiteral("缺少目标文件夹（-t TARGET）"));
        if (c == QLatin1String("rename")) {
            if (bool(o.rule) == bool(o.replaceOld))
                return Fail(QStringLiteral("须给出 --rule RULE 或 --replace OLD NEW 之一"));
            if (o.first && !o.replaceOld)
                return Fail(QStringLiteral("--first 只与 --replace 一起用"));
        }
        QStringList files = o.operands;
        if (c == QLatin1String("zip")) {
            if (files.isEmpty())
                return Fail(QStringLiteral("缺少压缩文件名（ARCHIVE）"));
            files.removeFirst();
        }
        if (o.folder && !files.isEmpty())
            return Fail(QStringLiteral("-r FOLDER 与 FILE... 只能用一个"));
        if (!o.folder && files.isEmpty())
            Fail(QStringLiteral("缺少要处理的文件（FILE... 或 -r FOLDER）"));
    }

    void Fail(const QString& text)
    {
        if (out_.error.isEmpty())
            out_.error = text;
    }

    const QStringList& args_;
    qsizetype i_ = 0;
    Parsed out_;
};

}  // namespace

bool IsCommand(const QString& name)
{
    return CommandOptions().count(name) != 0;
}

Parsed Parse(const QString& command, const QStringList& args)
{
    return Parser(command, args).Run();
}

}  // namespace cli
