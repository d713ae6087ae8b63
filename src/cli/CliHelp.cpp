#include "CliHelp.h"

namespace cli {

QString ProgramHelp()
{
    return QStringLiteral(
        "用法：velmora-cli 命令 [选项] [参数...]\n"
        "在命令行中运行 Velmora文件夹工具的批处理，生成的文件与窗口中的批处理逐字节相同。\n"
        "\n"
        "命令：\n"
        "  encrypt      -t TARGET [-p PASSWORD | --password-file FILE] (FILE... | -r FOLDER)\n"
        "               DES 加密，目标文件和 note.txt 写入 TARGET\n"
        "  decrypt      -t TARGET [-p PASSWORD | --password-file FILE] (FILE... | -r FOLDER)\n"
        "               DES 解密，目标文件和 note.txt 写入 TARGET\n"
        "  zip          [-p PASSWORD | --password-file FILE | --ask-password] ARCHIVE (FILE... | -r FOLDER)\n"
        "               压缩为 ARCHIVE（不追加 .zip），给出密码时用 AES-256 加密\n"
        "  unzip        [-t TARGET] [-p PASSWORD | --password-file FILE] ARCHIVE...\n"
        "               解压到压缩文件所在目录，或用 -t 全部解压到 TARGET\n"
        "  list         [-o OUTPUT.csv] (FILE... | -r FOLDER)\n"
        "               导出文件列表（CSV）到标准输出或 OUTPUT\n"
        "  rename       (--rule RULE | --replace OLD NEW [--first]) [--dry-run] (FILE... | -r FOLDER)\n"
        "               批量更改文件名\n"
        "  undo-rename  撤销最近一次批量改名\n"
        "\n"
        "  FILE...      逐个处理所列文件（同“选中文件”批处理），目标平放在一处\n"
        "  -r FOLDER    处理整个文件夹树（同“文件夹(含子文件夹)”批处理），目标重现树结构\n"
        "  -v           列出处理的每个文件\n"
        "  --help       显示帮助；velmora-cli 命令 --help 显示该命令的帮助\n"
        "  --version    显示版本\n"
        "\n"
        "退出状态：0 全部完成；1 有文件失败（逐一列出）；2 用法错误或无法开始。\n");
}

QString CommandHelp(const QString& command)
{
    const QString common = QStringLiteral(
        "  -r, --recursive FOLDER  处理 FOLDER 下的所有文件（含子文件夹），顺序同窗口\n"
        "  -v, --verbose           列出处理的每个文件\n"
        "  -h, --help              显示本帮助\n");
    const QString password = QStringLiteral(
        "  -t, --target TARGET     目标文件夹（须已存在）\n"
        "  -p, --password PASSWORD 密码\n"
        "      --password-file FILE  从 FILE 的第一行读取密码\n"
        "不给密码时，在终端上不回显地输入%1；标准输入不是终端时读取其第一行。\n"
        "密码按当前区域的代码页转换为密钥；空密码或含代码页无法表示的字符的密码被拒绝。\n");
    if (command == QLatin1String("encrypt"))
        return QStringLiteral("用法：velmora-cli encrypt -t TARGET [-p PASSWORD | --password-file FILE] (FILE... | -r FOLDER)\n"
                              "用 DES 加密文件，每个文件生成一个加密副本，并在 TARGET 中写入 note.txt。\n")
               + password.arg(QStringLiteral("两次（须一致）")) + common;
    if (command == QLatin1String("decrypt"))
        return QStringLiteral("用法：velmora-cli decrypt -t TARGET [-p PASSWORD | --password-file FILE] (FILE... | -r FOLDER)\n"
                              "解密由加密批处理生成的文件，并在 TARGET 中写入 note.txt。\n")
               + password.arg(QStringLiteral("一次")) + common;
    if (command == QLatin1String("zip"))
        return QStringLiteral("用法：velmora-cli zip [-p PASSWORD | --password-file FILE | --ask-password] ARCHIVE (FILE... | -r FOLDER)\n"
                              "把文件压缩为 ZIP 文件 ARCHIVE（名称照给出的写，不追加 .zip；已有的同名文件被替换）。\n"
                              "成员名：-r 时为相对于 FOLDER 的路径，否则为文件名本身。\n"
                              "  -p, --password PASSWORD 用 PASSWORD 加密每个成员（AES-256，7-Zip、WinRAR 等可以解压）\n"
                              "      --password-file FILE  从 FILE 的第一行读取密码\n"
                              "      --ask-password      在终端上不回显地输入密码两次（须一致）\n"
                              "空密码或含当前代码页无法表示的字符的密码被拒绝。不给密码时不加密。\n")
               + common;
    if (command == QLatin1String("unzip"))
        return QStringLiteral("用法：velmora-cli unzip [-t TARGET] [-p PASSWORD | --password-file FILE] ARCHIVE...\n"
                              "解压所列的每个压缩文件（不论扩展名）到其所在目录，或用 -t 全部解压到 TARGET；\n"
                              "同名文件被替换，指向目标文件夹之外的成员被拒绝。\n"
                              "  -t, --target TARGET     解压到的文件夹（须已存在）\n"
                              "  -p, --password PASSWORD 加密的压缩文件的密码\n"
                              "      --password-file FILE  从 FILE 的第一行读取密码\n"
                              "遇到加密的成员而没有给出密码时，在终端上不回显地输入一次；密码不正确的压缩文件不解压。\n"
                              "  -v, --verbose           列出处理的每个文件\n"
                              "  -h, --help              显示本帮助\n");
    if (command == QLatin1String("list"))
        return QStringLiteral("用法：velmora-cli list [-o OUTPUT.csv] (FILE... | -r FOLDER)\n"
                              "导出文件列表（CSV，UTF-8，CR LF）：FILE... 用选中文件列表的表头，-r 用全部文件列表的表头。\n"
                              "  -o, --output OUTPUT     写入 OUTPUT，而不是标准输出\n")
               + common;
    if (command == QLatin1String("rename"))
        return QStringLiteral("用法：velmora-cli rename (--rule RULE | --replace OLD NEW [--first]) [--dry-run] (FILE... | -r FOLDER)\n"
                              "批量更改文件名；文件夹和扩展名不变，已存在的文件名不会被覆盖，遇到第一个失败即停止。\n"
                              "      --rule RULE         编号规则：前缀[起始数][步长]后缀，例如 img[1][1]\n"
                              "      --replace OLD NEW   把文件名（不含扩展名）中的 OLD 全部替换为 NEW\n"
                              "      --first             只替换第一次出现的 OLD\n"
                              "  -n, --dry-run           只列出“旧名 -> 新名”，不做任何更改\n")
               + common;
    if (command == QLatin1String("undo-rename"))
        return QStringLiteral("用法：velmora-cli undo-rename\n"
                              "撤销最近一次批量改名（窗口和命令行共用一份记录）。\n"
                              "  -h, --help              显示本帮助\n");
    return {};
}

QString VersionText()
{
    return QStringLiteral("velmora-cli " VELMORA_VERSION "\n");
}

}  // namespace cli
