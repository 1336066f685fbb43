#include "runtime/pickernames.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

namespace PickerNames {

QString FirstItem(const QString& text) {
    const qsizetype n = text.size();
    qsizetype i = 0;
    for (;;) {
        while (i < n && text[i] <= QChar(' '))
            ++i;
        if (i + 1 < n && text[i] == QChar('"') && text[i + 1] == QChar('"'))
            i += 2;
        else
            break;
    }
    QString item;
    while (i < n && text[i] > QChar(' ')) {
        if (text[i] == QChar('"')) {
            ++i;
            while (i < n && text[i] != QChar('"'))
                item += text[i++];
            if (i < n) ++i;
        } else {
            item += text[i++];
        }
    }
    return item;
}

QString FileNameOf(const QString& text) {
    if (!text.isEmpty() && QFileInfo(text).isFile()) return text;
    return FirstItem(text);
}

bool IsValidFileName(const QString& name) {
    static const QString invalid = QStringLiteral("<>\"[]|");
    if (name.isEmpty()) return false;
    for (QChar c : name)
        if (invalid.contains(c)) return false;
    return true;
}

QString Quoted(const QString& name) {
    if (name.contains(QChar(' ')) && !name.startsWith(QChar('"')))
        return QChar('"') + name + QChar('"');
    return name;
}

QString FolderOf(const QString& path) {
    const qsizetype i = path.lastIndexOf(QChar('/'));
    return i < 0 ? QString() : path.left(i + 1);
}

QString TrimmedDir(const QString& dir) {
    if (dir.size() < 2) return dir; // "" and a root "/" stay
    const QChar last = dir.back();
    if (last != QChar('/') && last != QChar('\\')) return dir;
    if (dir[dir.size() - 2] == QChar(':')) return dir; // a drive root such as C:\ keeps it
    return dir.chopped(1);
}

QString LocalDir(const QString& dir) {
    if (dir == QLatin1String("~")) return QDir::homePath();
    if (dir.startsWith(QLatin1String("~/"))) return QDir::homePath() + dir.mid(1);
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:[\\\\/]?(.*)$"));
    const QRegularExpressionMatch m = drive.match(dir);
    if (!m.hasMatch()) return dir;
    QString rest = m.captured(1);
    rest.replace(QChar('\\'), QChar('/'));
    while (rest.endsWith(QChar('/')))
        rest.chop(1);
    if (rest.isEmpty()) return QDir::homePath();
    static const QString myDocuments = QStringLiteral("My Documents");
    if (rest.startsWith(myDocuments, Qt::CaseInsensitive) &&
        (rest.size() == myDocuments.size() || rest[myDocuments.size()] == QChar('/')))
        return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) +
               rest.mid(myDocuments.size());
    return QDir::homePath() + QChar('/') + rest;
}

} // namespace PickerNames
