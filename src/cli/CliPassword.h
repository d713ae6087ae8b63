#pragma once
// Where velmora-cli takes a password from: -p, the first line of a file, the
// terminal without echo (twice when it will encrypt), or the first line of
// standard input when that is no terminal.

#include "CliOptions.h"

#include <QString>

namespace cli {

struct PasswordRead {
    QString password;
    QString error;  // why there is none; the batch must not start
};

PasswordRead ReadPassword(const Options& options, bool confirm);

}  // namespace cli
