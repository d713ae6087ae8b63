#pragma once
// The rename rule language and the new-name computation, as plain functions
// that know nothing of widgets.
//
// A numbered-name rule is typed as one text:  prefix [start][step] suffix.
// The first name carries the start number itself; each further name adds the
// step, in 32-bit arithmetic that wraps around.

#include <QString>
#include <cstdint>

struct strRule {
    QString preTxt;
    QString sufText;
    std::int32_t startNumber = 0;
    std::int32_t interval = 0;
};

// True when the rule is well formed; otherwise err holds the reason.
bool CheckRule(const QString& rule, QString& err);

// Splits a well-formed rule into its four parts. False, with err set, when the
// rule fails CheckRule or a bracket does not convert to a 32-bit signed number
// (empty, or above 2147483647); out is left untouched then.
bool ParseRule(const QString& rule, strRule& out, QString& err);

// Name number k of the sequence (k counts from 0), without extension.
QString RuleName(const strRule& rule, int k);

// The number of name k: startNumber + k * interval, wrapped to 32 bits.
std::int32_t RuleNumber(const strRule& rule, int k);

// How a replace rule treats the occurrences of the text it looks for.
enum ReplaceScope { ReplaceFirst = 1, ReplaceAll = 2 };

// The new full path of a file: its folder part + the new base + its extension.
// The extension (the last "." of the file name and what follows) never changes.
QString NumberedPath(const QString& oldPath, const strRule& rule, int k);
// Replaces oldstr in the base name only, case-sensitively, from left to right:
// the first occurrence when replaceType is 1, every non-overlapping one otherwise.
QString ReplacedPath(const QString& oldPath, const QString& oldstr, const QString& replacestr, int replaceType);

// The characters a typed name may not contain.
bool IsRefusedNameChar(QChar c);
// The first character of a whole text (typed or pasted) that may not stand in
// a file name: a refused character or NUL. False when there is none.
bool FirstForbiddenNameChar(const QString& text, QChar& found);
