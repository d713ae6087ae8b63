#pragma once
// The command line of velmora-cli: one command, its options and its operands.

#include <QString>
#include <QStringList>
#include <optional>

namespace cli {

struct Options {
    QString command;
    bool help = false;
    bool verbose = false;
    std::optional<QString> target;        // -t
    std::optional<QString> password;      // -p
    std::optional<QString> passwordFile;  // --password-file
    std::optional<QString> folder;        // -r
    std::optional<QString> output;        // -o
    std::optional<QString> rule;          // --rule
    std::optional<QString> replaceOld;    // --replace OLD NEW
    QString replaceNew;
    bool first = false;   // --first
    bool dryRun = false;  // --dry-run
    bool askPassword = false;  // --ask-password
    QStringList operands;  // the FILE... or ARCHIVE... operands, as paths
};

// Reads the arguments after the command name. An error is the line that tells
// what is wrong; the caller prints it and exits with status 2. Options that
// the command does not take, a missing value and a wrong count of operands
// are all errors.
struct Parsed {
    Options options;
    QString error;
};
Parsed Parse(const QString& command, const QStringList& args);

bool IsCommand(const QString& name);

}  // namespace cli
