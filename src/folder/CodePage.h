#pragma once
// The Windows ANSI code page of the user's locale, for the two places where
// bytes must match what a Windows system of the same language produces: DES
// key texts, and ZIP member names stored without the UTF-8 flag.

#include <string>
#include <string_view>

namespace codepage {

// From LC_ALL, else LC_CTYPE, else LANG: zh_CN/zh_SG 936, zh_TW/zh_HK/zh_MO 950,
// ja 932, ko 949; a locale that names no language (C, POSIX, C.UTF-8, none)
// 936, since the window is Chinese; anything else 1252.
int AnsiCodePage();

// UTF-8 text into the code page; a character the code page can't express becomes "?".
std::string Utf8ToAnsi(std::string_view utf8, int codePage = AnsiCodePage());
// Bytes in the code page into UTF-8; undecodable bytes become U+FFFD.
std::string AnsiToUtf8(std::string_view bytes, int codePage = AnsiCodePage());
// The same, but false (and *utf8 unspecified) when any byte can't be decoded.
bool AnsiToUtf8Exact(std::string_view bytes, std::string& utf8, int codePage = AnsiCodePage());

bool IsValidUtf8(std::string_view bytes);
// Whether every byte is below 0x80 (checked eight bytes at a time: paths are
// long and almost always ASCII).
bool IsAscii(std::string_view bytes);

// File names are bytes; the window shows text. Valid UTF-8 decodes as usual
// and every byte that is not part of a valid sequence becomes the lone
// surrogate U+DC00 + byte (U+DC80..U+DCFF), so that any name survives the
// trip to text and back unchanged and two names never share one text.
std::u16string EscapedUtf16(std::string_view bytes);
// The reverse; false for text holding a surrogate no name can come from.
bool UnescapedBytes(std::u16string_view text, std::string& bytes);
// UTF-8 for people to read: an undecodable byte shows as U+FFFD.
std::string ReadableUtf8(std::string_view bytes);

}  // namespace codepage
