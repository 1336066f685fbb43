#include "platform/inidocument.h"

#include <algorithm>

namespace tarnwick {

namespace {

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

bool isControl(QChar c) {
    return c.unicode() < 0x20 || c.unicode() == 0x7f;
}

// A byte of a file name that is not UTF-8, as platform/filename.h carries it (U+DC80..U+DCFF).
// It is written as "\%HH" inside quotes: UTF-8 text cannot hold it, and no file written before
// has that escape.
bool isRawByte(QChar c) {
    return c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF;
}

bool sameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool isBelow(const QString& path, const QString& ancestor) {
    if (ancestor.isEmpty()) return !path.isEmpty();
    return path.size() > ancestor.size() && path.at(ancestor.size()) == QLatin1Char('\\') &&
           sameName(path.left(ancestor.size()), ancestor);
}

// True when a name or value would not come back unchanged if written raw.
bool needsQuotes(const QString& s, bool isName) {
    if (s.isEmpty()) return isName;
    if (s.front().isSpace() || s.back().isSpace() || s.front() == QLatin1Char('"')) return true;
    if (isName) {
        const QChar c = s.front();
        if (c == QLatin1Char('#') || c == QLatin1Char(';') || c == QLatin1Char('[')) return true;
    }
    for (QChar c : s) {
        if (isControl(c) || isRawByte(c)) return true;
        if (isName && c == QLatin1Char('=')) return true;
    }
    return false;
}

QString quoted(const QString& s) {
    QString out;
    out.reserve(s.size() + 2);
    out += QLatin1Char('"');
    for (QChar c : s) {
        switch (c.unicode()) {
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '"':
            out += QLatin1String("\\\"");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        default:
            if (isControl(c))
                out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            else if (isRawByte(c))
                out += QStringLiteral("\\%%1").arg(c.unicode() - 0xDC00, 2, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += QLatin1Char('"');
    return out;
}

QString written(const QString& s, bool isName) {
    return needsQuotes(s, isName) ? quoted(s) : s;
}

int hexDigit(QChar c) {
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9') return u - '0';
    if (u >= 'a' && u <= 'f') return u - 'a' + 10;
    if (u >= 'A' && u <= 'F') return u - 'A' + 10;
    return -1;
}

// Reads a quoted text starting at line[pos] == '"'. On success pos is just past the closing quote.
std::optional<QString> unquote(const QString& line, qsizetype& pos) {
    QString out;
    qsizetype i = pos + 1;
    while (i < line.size()) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('"')) {
            pos = i + 1;
            return out;
        }
        if (c != QLatin1Char('\\') || i + 1 >= line.size()) {
            out += c;
            ++i;
            continue;
        }
        const QChar e = line.at(i + 1);
        i += 2;
        switch (e.unicode()) {
        case '\\':
            out += QLatin1Char('\\');
            break;
        case '"':
            out += QLatin1Char('"');
            break;
        case 'n':
            out += QLatin1Char('\n');
            break;
        case 'r':
            out += QLatin1Char('\r');
            break;
        case 't':
            out += QLatin1Char('\t');
            break;
        case 'x':
        case '%': {
            const int hi = i < line.size() ? hexDigit(line.at(i)) : -1;
            const int lo = i + 1 < line.size() ? hexDigit(line.at(i + 1)) : -1;
            const int v = hi * 16 + lo;
            if (hi >= 0 && lo >= 0 && (e == QLatin1Char('x') || v >= 0x80)) {
                out += QChar(char16_t(e == QLatin1Char('x') ? v : 0xDC00 + v));
                i += 2;
            } else {
                out += QLatin1Char('\\');
                out += e;
            }
            break;
        }
        default: // a backslash a person typed by hand stays as it was
            out += QLatin1Char('\\');
            out += e;
        }
    }
    return std::nullopt;
}

bool onlyBlanksFrom(const QString& line, qsizetype pos) {
    for (qsizetype i = pos; i < line.size(); ++i)
        if (!isBlank(line.at(i))) return false;
    return true;
}

QString trimBlanks(QStringView s) {
    qsizetype b = 0, e = s.size();
    while (b < e && isBlank(s.at(b)))
        ++b;
    while (e > b && isBlank(s.at(e - 1)))
        --e;
    return s.mid(b, e - b).toString();
}

} // namespace

IniDocument::IniDocument() {
    m_groups.append(Group{});
}

QString IniDocument::normalizePath(const QString& path) {
    QStringList parts = path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    return parts.join(QLatin1Char('\\'));
}

IniDocument IniDocument::parse(const QByteArray& utf8) {
    IniDocument doc;
    QString text = QString::fromUtf8(utf8);
    if (text.startsWith(QChar(0xfeff))) text.remove(0, 1);
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast(); // the final line break

    qsizetype current = 0;
    QStringList pending;
    for (QString line : lines) {
        if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
        qsizetype pos = 0;
        while (pos < line.size() && isBlank(line.at(pos)))
            ++pos;
        if (pos == line.size() || line.at(pos) == QLatin1Char('#') ||
            line.at(pos) == QLatin1Char(';')) {
            pending.append(line);
            continue;
        }
        if (line.at(pos) == QLatin1Char('[')) {
            qsizetype p = pos + 1;
            while (p < line.size() && isBlank(line.at(p)))
                ++p;
            std::optional<QString> name;
            if (p < line.size() && line.at(p) == QLatin1Char('"')) {
                name = unquote(line, p);
                while (p < line.size() && isBlank(line.at(p)))
                    ++p;
                if (name && (p >= line.size() || line.at(p) != QLatin1Char(']'))) name.reset();
            } else {
                p = line.indexOf(QLatin1Char(']'), pos + 1);
                if (p >= 0) name = trimBlanks(QStringView(line).mid(pos + 1, p - pos - 1));
            }
            if (!name || !onlyBlanksFrom(line, p + 1)) {
                pending.append(line);
                continue;
            }
            const QString path = normalizePath(*name);
            Group* existing = doc.findGroup(path);
            if (existing) {
                current = existing - doc.m_groups.data();
                continue; // its lines stay pending for the next entry
            }
            doc.m_groups.append(Group{path, {}, pending});
            pending.clear();
            current = doc.m_groups.size() - 1;
            continue;
        }
        std::optional<QString> name;
        qsizetype p = pos;
        if (line.at(p) == QLatin1Char('"')) {
            name = unquote(line, p);
            while (p < line.size() && isBlank(line.at(p)))
                ++p;
            if (name && (p >= line.size() || line.at(p) != QLatin1Char('='))) name.reset();
        } else {
            p = line.indexOf(QLatin1Char('='), pos);
            if (p >= 0) name = trimBlanks(QStringView(line).mid(pos, p - pos));
        }
        if (!name) {
            pending.append(line);
            continue;
        }
        ++p; // past "="
        while (p < line.size() && isBlank(line.at(p)))
            ++p;
        QString value;
        qsizetype q = p;
        std::optional<QString> quotedValue;
        if (q < line.size() && line.at(q) == QLatin1Char('"')) quotedValue = unquote(line, q);
        if (quotedValue && onlyBlanksFrom(line, q))
            value = *quotedValue;
        else
            value = trimBlanks(QStringView(line).mid(p));

        Group& g = doc.m_groups[current];
        auto it = std::find_if(g.entries.begin(), g.entries.end(),
                               [&](const Entry& e) { return sameName(e.name, *name); });
        if (it != g.entries.end()) {
            it->value = value;
            it->lead += pending;
        } else {
            g.entries.append(Entry{*name, value, pending});
        }
        pending.clear();
    }
    doc.m_tail = pending;
    return doc;
}

QByteArray IniDocument::serialize() const {
    QString out;
    auto put = [&out](const QStringList& lines) {
        for (const QString& l : lines) {
            out += l;
            out += QLatin1Char('\n');
        }
    };
    put(m_head);
    for (const Group& g : m_groups) {
        if (!g.path.isEmpty()) {
            put(g.lead);
            out += QLatin1Char('[');
            out += needsQuotes(g.path, false) || g.path.contains(QLatin1Char(']')) ? quoted(g.path)
                                                                                   : g.path;
            out += QLatin1String("]\n");
        }
        for (const Entry& e : g.entries) {
            put(e.lead);
            out += written(e.name, true);
            out += QLatin1Char('=');
            out += written(e.value, false);
            out += QLatin1Char('\n');
        }
    }
    put(m_tail);
    return out.toUtf8();
}

IniDocument::Group* IniDocument::findGroup(const QString& path) {
    for (Group& g : m_groups)
        if (sameName(g.path, path)) return &g;
    return nullptr;
}

const IniDocument::Group* IniDocument::findGroup(const QString& path) const {
    return const_cast<IniDocument*>(this)->findGroup(path);
}

IniDocument::Group& IniDocument::ensureGroup(const QString& path) {
    if (Group* g = findGroup(path)) return *g;
    // New groups are set off from what stands above them by a blank line.
    const bool first = m_groups.size() == 1 && m_groups[0].entries.isEmpty() && m_head.isEmpty();
    m_groups.append(Group{path, {}, first ? QStringList() : QStringList(QString())});
    return m_groups.back();
}

bool IniDocument::keyExists(const QString& path) const {
    if (path.isEmpty()) return true;
    for (const Group& g : m_groups)
        if (sameName(g.path, path) || isBelow(g.path, path)) return true;
    return false;
}

void IniDocument::createKey(const QString& path) {
    if (!keyExists(path)) ensureGroup(path);
}

bool IniDocument::deleteKey(const QString& path) {
    if (path.isEmpty()) return false;
    const qsizetype before = m_groups.size();
    m_groups.removeIf(
        [&](const Group& g) { return sameName(g.path, path) || isBelow(g.path, path); });
    return m_groups.size() != before;
}

QStringList IniDocument::childKeys(const QString& path) const {
    QStringList names;
    for (const Group& g : m_groups) {
        if (!isBelow(g.path, path)) continue;
        const qsizetype start = path.isEmpty() ? 0 : path.size() + 1;
        const QString child = g.path.mid(start).section(QLatin1Char('\\'), 0, 0);
        if (!names.contains(child, Qt::CaseInsensitive)) names.append(child);
    }
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    return names;
}

std::optional<QString> IniDocument::value(const QString& path, const QString& name) const {
    if (const Group* g = findGroup(path))
        for (const Entry& e : g->entries)
            if (sameName(e.name, name)) return e.value;
    return std::nullopt;
}

void IniDocument::setValue(const QString& path, const QString& name, const QString& value) {
    Group& g = ensureGroup(path);
    for (Entry& e : g.entries)
        if (sameName(e.name, name)) {
            e.value = value;
            return;
        }
    g.entries.append(Entry{name, value, {}});
}

bool IniDocument::removeValue(const QString& path, const QString& name) {
    Group* g = findGroup(path);
    if (!g) return false;
    for (qsizetype i = 0; i < g->entries.size(); ++i) {
        if (!sameName(g->entries[i].name, name)) continue;
        // Comments above the value stay in the file, above whatever follows it.
        const QStringList lead = g->entries[i].lead;
        g->entries.removeAt(i);
        if (i < g->entries.size()) g->entries[i].lead = lead + g->entries[i].lead;
        return true;
    }
    return false;
}

QStringList IniDocument::valueNames(const QString& path) const {
    QStringList names;
    if (const Group* g = findGroup(path))
        for (const Entry& e : g->entries)
            names.append(e.name);
    return names;
}

bool IniDocument::isEmpty() const {
    return m_groups.size() == 1 && m_groups[0].entries.isEmpty() && m_head.isEmpty() &&
           m_tail.isEmpty();
}

} // namespace tarnwick
