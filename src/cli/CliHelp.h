#pragma once
// The texts of --help and --version.

#include <QString>

namespace cli {

QString ProgramHelp();
// Empty for a name that is no command.
QString CommandHelp(const QString& command);
QString VersionText();

}  // namespace cli
