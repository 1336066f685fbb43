#include "runtime/description.h"

namespace FormDescription {

void Fail(int line, const QString& what) {
    throw EReadError(
        QStringLiteral("Window description, line %1: %2").arg(line).arg(what).toStdString());
}

namespace {

class Parser {
public:
    explicit Parser(const QString& text) : m_text(text) {}

    std::unique_ptr<Object> parseRoot() {
        skipSpace();
        auto root = parseObject();
        skipSpace();
        if (m_pos < m_text.size()) Fail(m_line, QStringLiteral("text after the last 'end'"));
        return root;
    }

private:
    QChar peek(int ahead = 0) const {
        return m_pos + ahead < m_text.size() ? m_text[m_pos + ahead] : QChar();
    }

    void skipSpace() {
        while (m_pos < m_text.size()) {
            const QChar c = m_text[m_pos];
            if (c == '\n') {
                ++m_line;
                ++m_pos;
            } else if (c.isSpace()) {
                ++m_pos;
            } else if (c == '/' && peek(1) == '/') {
                while (m_pos < m_text.size() && m_text[m_pos] != '\n')
                    ++m_pos;
            } else {
                break;
            }
        }
    }

    QString identifier() {
        skipSpace();
        const int start = m_pos;
        while (m_pos < m_text.size() &&
               (m_text[m_pos].isLetterOrNumber() || m_text[m_pos] == '_' || m_text[m_pos] == '.'))
            ++m_pos;
        if (start == m_pos) Fail(m_line, QStringLiteral("a name was expected"));
        return m_text.mid(start, m_pos - start);
    }

    void expect(QChar c) {
        skipSpace();
        if (peek() != c) Fail(m_line, QStringLiteral("'%1' was expected").arg(c));
        ++m_pos;
    }

    std::unique_ptr<Object> parseObject() {
        auto obj = std::make_unique<Object>();
        obj->line = m_line;
        if (identifier().compare(QLatin1String("object"), Qt::CaseInsensitive) != 0)
            Fail(obj->line, QStringLiteral("'object' was expected"));
        obj->name = identifier().toLatin1();
        expect(':');
        obj->className = identifier().toLatin1();
        for (;;) {
            skipSpace();
            if (m_pos >= m_text.size()) Fail(m_line, QStringLiteral("'end' is missing"));
            const int save = m_pos, saveLine = m_line;
            const QString word = identifier();
            if (word.compare(QLatin1String("end"), Qt::CaseInsensitive) == 0) return obj;
            if (word.compare(QLatin1String("object"), Qt::CaseInsensitive) == 0) {
                m_pos = save;
                m_line = saveLine;
                obj->children.push_back(parseObject());
                continue;
            }
            Property prop;
            prop.line = m_line;
            prop.name = word.toLatin1();
            expect('=');
            prop.value = parseValue();
            obj->properties.append(std::move(prop));
        }
    }

    // A quoted string with '' for a quote, and #nn character codes, in any sequence.
    QString stringPart() {
        QString s;
        for (;;) {
            const QChar c = peek();
            if (c == '\'') {
                ++m_pos;
                for (;;) {
                    if (m_pos >= m_text.size() || m_text[m_pos] == '\n')
                        Fail(m_line, QStringLiteral("unterminated string"));
                    const QChar d = m_text[m_pos++];
                    if (d == '\'') {
                        if (peek() == '\'') {
                            s += '\'';
                            ++m_pos;
                            continue;
                        }
                        break;
                    }
                    s += d;
                }
            } else if (c == '#') {
                ++m_pos;
                const int start = m_pos;
                while (peek().isDigit())
                    ++m_pos;
                bool ok = false;
                const uint code = m_text.mid(start, m_pos - start).toUInt(&ok);
                if (!ok || code > 0xFFFF) Fail(m_line, QStringLiteral("bad character code"));
                s += QChar(char16_t(code));
            } else {
                return s;
            }
        }
    }

    QString stringExpr() {
        QString s = stringPart();
        for (;;) {
            const int save = m_pos, saveLine = m_line;
            skipSpace();
            if (peek() != '+') {
                m_pos = save;
                m_line = saveLine;
                return s;
            }
            ++m_pos;
            skipSpace();
            s += stringPart();
        }
    }

    Value parseValue() {
        skipSpace();
        const QChar c = peek();
        Value v;
        if (c == '\'' || c == '#') {
            v.kind = Value::String;
            v.value = stringExpr();
        } else if (c == '[') {
            ++m_pos;
            QStringList members;
            skipSpace();
            while (peek() != ']') {
                members << identifier();
                skipSpace();
                if (peek() == ',')
                    ++m_pos;
                else if (peek() != ']')
                    Fail(m_line, QStringLiteral("',' or ']' was expected"));
                skipSpace();
            }
            ++m_pos;
            v.kind = Value::Set;
            v.value = members;
        } else if (c == '(') {
            ++m_pos;
            QStringList items;
            skipSpace();
            while (peek() != ')') {
                if (peek() != '\'' && peek() != '#')
                    Fail(m_line, QStringLiteral("a string was expected"));
                items << stringExpr();
                skipSpace();
            }
            ++m_pos;
            v.kind = Value::List;
            v.value = items;
        } else if (c == '-' || c == '+' || c.isDigit() || c == '$') {
            const int start = m_pos;
            ++m_pos;
            while (peek().isLetterOrNumber() || peek() == '.')
                ++m_pos;
            const QString t = m_text.mid(start, m_pos - start);
            bool ok = false;
            if (t.startsWith('$')) {
                v.kind = Value::Integer;
                v.value = t.mid(1).toLongLong(&ok, 16);
            } else if (t.contains('.') || t.contains('e', Qt::CaseInsensitive)) {
                v.kind = Value::Float;
                v.value = t.toDouble(&ok);
            } else {
                v.kind = Value::Integer;
                v.value = t.toLongLong(&ok);
            }
            if (!ok) Fail(m_line, QStringLiteral("bad number '%1'").arg(t));
        } else {
            v.kind = Value::Identifier;
            v.value = identifier();
        }
        return v;
    }

    const QString& m_text;
    int m_pos = 0;
    int m_line = 1;
};

} // namespace

std::unique_ptr<Object> Parse(const QString& text) {
    return Parser(text).parseRoot();
}

} // namespace FormDescription
