#pragma once
// Each command of velmora-cli: the arguments checked, then the batch that the
// window runs, with the command line's reporting.

#include "CliOptions.h"

namespace cli {

// Exit statuses.
inline constexpr int kAllDone = 0;
inline constexpr int kSomeFailed = 1;
inline constexpr int kNotStarted = 2;  // bad usage, or nothing could start

int RunCommand(const Options& options);

}  // namespace cli
