#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace tarnwick {

// A settings file in INI form that a person can read and edit, and that keeps every string
// exactly.
//
//   # comment lines start with "#" or ";"
//   value=text at the root, before the first group
//   [Backup]
//   Time=0.875
//   [Software\Foo]              one group per key, nested keys as their whole path joined by "\"
//   Name = plain text           raw text: blanks around "=" and at the line end are dropped
//   Log="two\nlines  "          quoted text: \\ \" \n \r \t and \xHH escapes inside
//   Hx1="/srv/b\%ffd.mdb"       \%HH (80..FF): a byte of a file name that is not UTF-8
//   "a=b"=names can be quoted too
//
// The writer quotes a value only when raw text could not keep it (leading or trailing blanks,
// control characters such as line breaks, a leading quote, or bytes of a file name that are not
// UTF-8, kept as platform/filename.h keeps them); "|", ";", "=", "#", "\" and
// non-ASCII text stay raw and readable. There are no comments after a value: everything after the
// "=" belongs to it. Comments, blank lines and lines that do not parse are kept where they stand
// when the file is rewritten. Group and value names are matched without regard to letter case and
// keep the case they were created with. A group also stands for all of its parent keys, so
// [Software\Foo] alone means that "Software" exists. A group or value that appears twice is merged;
// the later value wins.
class IniDocument {
public:
    struct Entry {
        QString name;
        QString value;
        QStringList lead; // comment, blank and unparsed lines above it, as read
    };
    struct Group {
        QString path; // "" is the root
        QList<Entry> entries;
        QStringList lead; // lines above its header
    };

    IniDocument();

    static IniDocument parse(const QByteArray& utf8);
    QByteArray serialize() const;

    // Paths are normalized key paths: names joined by "\", without empty names.
    bool keyExists(const QString& path) const;
    void createKey(const QString& path);
    bool deleteKey(const QString& path); // with every key below it
    QStringList childKeys(const QString& path) const;

    std::optional<QString> value(const QString& path, const QString& name) const;
    void setValue(const QString& path, const QString& name, const QString& value);
    bool removeValue(const QString& path, const QString& name);
    QStringList valueNames(const QString& path) const;

    bool isEmpty() const;
    // Lines written at the top of the file (only used when it starts out empty).
    void setHeadComment(const QStringList& lines) { m_head = lines; }

    static QString normalizePath(const QString& path);

private:
    Group* findGroup(const QString& path);
    const Group* findGroup(const QString& path) const;
    Group& ensureGroup(const QString& path);

    QList<Group> m_groups; // m_groups[0] is the root
    QStringList m_head;
    QStringList m_tail;
};

} // namespace tarnwick
