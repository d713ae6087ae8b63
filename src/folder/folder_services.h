#pragma once
// The folder services: one folder's files into a checkable list, the subfolder
// walk of a tree into a list box (walked on a loader thread), the flat file
// list of a tree, and a name without its extension.

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

// Throws std::runtime_error for a bad folder text.
QStringList GetAllFiles(const QString& folder);

QString GetNameWithoutExt(const QString& name);

// Path helpers every batch shares: the text after the last "/" and the text
// up to and including it.
QString BareFileName(const QString& path);
QString FolderPart(const QString& path);
// folder + "/" + name unless the folder already ends in "/".
QString JoinPath(const QString& folder, const QString& name);

// The folder text in the file-system encoding; throws std::runtime_error with
// "The path format is not supported" when the encoding can't express it.
std::string EncodePath(const QString& path);
QString DecodePath(const std::string& path);
QStringList DecodePaths(const std::vector<std::string>& paths);

// The last result handed over by a background walk.
extern QStringList AllSubDirectories;
extern bool LoadFinished;
