#pragma once
// Small helpers the tests share: temporary trees, whole-file reads and writes.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <ostream>
#include <string>

// GoogleTest shows a QString (and a QStringList) that fails a check as text.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace testutil {

// Writes bytes to path, creating missing folders.
void WriteFile(const QString& path, const QByteArray& bytes);
QByteArray ReadFile(const QString& path);
bool Exists(const QString& path);
// Every file below folder as a path relative to it, "/"-separated, sorted.
QStringList RelativeFiles(const QString& folder);
// Runs a shell command; returns its exit code, its output in *output.
int Run(const QString& command, QString* output = nullptr);
bool HaveTool(const QString& name);
// size bytes that look random (xorshift), the same for the same seed.
QByteArray Noise(int size, quint32 seed);

}  // namespace testutil
