#pragma once
// The text of a system error as the user reads it. The window is Chinese
// whatever the locale, and most machines have no Chinese C-library messages,
// so the errors a batch can meet have Chinese texts of their own here (in
// glibc's own Chinese wording); any other error is the C library's text with
// its number. Every unit turns an errno into text through this one function,
// so the window and velmora-cli say the same.

#include <string>

namespace platform {

// UTF-8 text for errno value code; safe to call from any thread.
std::string ErrnoText(int code);

}  // namespace platform
