#pragma once
// The Windows ANSI code page of the user's locale, for the two places where
// bytes must match what a Windows system of the same language produces: DES
// key texts, and ZIP member names stored without the UTF-8 flag.

#include <string>
#include <string_view>

namespace codepage {

// From LC_ALL, else LC_CTYPE, else LANG: zh_CN/zh_SG 936, zh_TW/zh_HK/zh_MO 950,
// ja 932, ko 949, anything else 1252.
int AnsiCodePage();

// UTF-8 text into the code page; a character the code page can't express becomes "?".
std::string Utf8ToAnsi(std::string_view utf8, int codePage = AnsiCodePage());
// Bytes in the code page into UTF-8; undecodable bytes become U+FFFD.
std::string AnsiToUtf8(std::string_view bytes, int codePage = AnsiCodePage());

bool IsValidUtf8(std::string_view bytes);

}  // namespace codepage
