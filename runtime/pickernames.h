#pragma once

#include <QString>

// The rules by which the pickers read and write names.
namespace PickerNames {
// The first item of a text read like a command line: blanks and empty quote pairs before it
// are skipped, a blank ends it, and double quotes group blanks into it and are dropped.
QString FirstItem(const QString& text);
// The file a text names: the text itself if it names an existing file, else its first item.
QString FileNameOf(const QString& text);
// Not empty and without < > " [ ] |.
bool IsValidFileName(const QString& name);
// The name in double quotes when it has a blank and does not start with a quote.
QString Quoted(const QString& name);
// The folder part of a path, with its trailing separator ("" when there is none).
QString FolderOf(const QString& path);
// A start folder as stored: one trailing separator dropped, except that of a root.
QString TrimmedDir(const QString& dir);
// A start folder as this system names it: "~" and Windows drive paths made local (above).
QString LocalDir(const QString& dir);
} // namespace PickerNames
