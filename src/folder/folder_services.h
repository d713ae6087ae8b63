#pragma once
// The folder services: one folder's files into a checkable list, the subfolder
// walk of a tree into a list box (walked on a loader thread), the flat file
// list of a tree, and a name without its extension.

#include "DirWalk.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QWidget;
class TProgressBar;
class IDialogs;

// Throws std::runtime_error whose what() is the UTF-8 message the user sees
// ("The specified path was not found", ...). The list stays empty then.
void FillFileList(const QString& folder, QString marker, const std::int32_t& stopFlag, QLabel* status,
                  TProgressBar* progress, QListWidget* list);

// Never throws: a failure is shown in a plain box (application title as
// caption) through the dialogs, with boxParent as owner. When superseded()
// turns true during the wait (the page has a newer load to run, the window is
// closing), the walk is abandoned and nothing is added.
void FillSubDirectoryList(const QString& folder, QString marker, const std::int32_t& stopFlag, QLabel* status,
                          TProgressBar* progress, QListWidget* list, IDialogs& dialogs, QWidget* boxParent,
                          const std::function<bool()>& superseded = {});

// A subfolder the file walk passed over, with the reason the user sees.
using SkippedFolder = std::function<void(const QString& folder, const QString& reason)>;

// Throws std::runtime_error for a bad folder text. A subfolder that can't be
// read, or whose path is too long, goes to skipped and the rest is walked.
QStringList GetAllFiles(const QString& folder, const SkippedFolder& skipped = {});

QString GetNameWithoutExt(const QString& name);

// Path helpers every batch shares: the text after the last "/" and the text
// up to and including it.
QString BareFileName(const QString& path);
QString FolderPart(const QString& path);
// folder + "/" + name unless the folder already ends in "/".
QString JoinPath(const QString& folder, const QString& name);

// The one pair of conversions between a path's file-system bytes and the
// text the window shows, used for every path: UTF-8 decodes as usual, and a
// byte that isn't part of valid UTF-8 becomes U+DC00 + byte and comes back as
// that byte, so every name on the disk is listed, found and never confused
// with another. EncodePath throws std::runtime_error with "The path format is
// not supported" for text no name can come from (another lone surrogate).
std::string EncodePath(const QString& path);
QString DecodePath(const std::string& path);
QStringList DecodePaths(const std::vector<std::string>& paths);
// A path as people read it in the texts we write ("note.txt", the list file):
// valid UTF-8, with U+FFFD for a byte of the name that isn't.
QString ReadablePath(const QString& path);
QByteArray ReadableUtf8(const QString& text);

// A box that names files or renames: its text is the first line and the first
// 20 entries, then "……另有 N 个" for the others; its details hold every entry,
// so a list of hundreds neither makes the box taller than the screen nor is lost.
struct ListedBox {
    QString text;
    QString details;
};
inline constexpr int kListedInBox = 20;
ListedBox ListInBox(const QString& firstLine, const QStringList& entries);

// The reason given for a FIFO, socket or device, which no batch ever opens
// (opening a FIFO waits for a writer forever).
QString SpecialFileReason();
// The reason for a subfolder the file walk passed over.
QString FolderSkipReason(dirwalk::FolderSkip why);
// The reasons for a link that leaves the named folder or leads nowhere.
QString OutsideLinkReason();
QString DanglingLinkReason();
// The box of the files and folders a batch left out, each given with its
// reason (the reason of FIFOs, sockets and devices is the box's own heading).
struct LeftOutFile {
    QString file;
    QString reason;
};
ListedBox SpecialFilesBox(const QList<LeftOutFile>& files);

// The last result handed over by a background walk.
extern QStringList AllSubDirectories;
extern bool LoadFinished;
