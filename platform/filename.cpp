#include "platform/filename.h"

#include <QStringList>

#include <cstdlib>
#include <unistd.h>

namespace tarnwick {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

// Length of the well-formed UTF-8 sequence at `p` (at most `left` bytes), or 0.
int sequenceLength(const unsigned char* p, qsizetype left, char32_t* cp) {
    const unsigned char b = p[0];
    int len = 0;
    char32_t min = 0;
    if (b < 0x80) {
        *cp = b;
        return 1;
    } else if ((b & 0xE0) == 0xC0) {
        len = 2, *cp = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        len = 3, *cp = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        len = 4, *cp = b & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (left < len) return 0;
    for (int i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        *cp = (*cp << 6) | (p[i] & 0x3F);
    }
    // Overlong forms, UTF-16 surrogates and values beyond Unicode are not UTF-8.
    if (*cp < min || *cp > 0x10FFFF || (*cp >= 0xD800 && *cp <= 0xDFFF)) return 0;
    return len;
}

} // namespace

QString fileNameFromBytes(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        char32_t cp = 0;
        const int len = sequenceLength(p + i, n - i, &cp);
        if (len == 0) {
            out += QChar(char16_t(kEscapeBase + p[i]));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            out += QChar(QChar::highSurrogate(cp));
            out += QChar(QChar::lowSurrogate(cp));
        } else {
            out += QChar(char16_t(cp));
        }
        i += len;
    }
    return out;
}

QByteArray fileNameToBytes(const QString& name) {
    QByteArray out;
    out.reserve(name.size());
    const auto put = [&](char32_t cp) {
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | (cp >> 18));
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    };
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t u = name.at(i).unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < name.size() &&
            QChar::isLowSurrogate(name.at(i + 1).unicode())) {
            put(QChar::surrogateToUcs4(u, name.at(i + 1).unicode()));
            ++i;
        } else if (u >= kEscapeBase + 0x80 && u <= kEscapeBase + 0xFF) {
            out += char(u - kEscapeBase); // a byte that came in as it was
        } else if (QChar::isSurrogate(u)) {
            out += '?'; // a lone surrogate from elsewhere has no bytes
        } else {
            put(u);
        }
    }
    return out;
}

QString absoluteFileName(const QString& name) {
    if (name.startsWith(QLatin1Char('/'))) return name;
    char* cwd = ::getcwd(nullptr, 0);
    if (!cwd) return name;
    QString folder = fileNameFromBytes(QByteArray(cwd));
    std::free(cwd);
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    return name == QLatin1String(".") ? folder.chopped(folder.size() > 1 ? 1 : 0) : folder + name;
}

QStringList argumentsFromBytes(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << fileNameFromBytes(QByteArray(argv[i]));
    return args;
}

} // namespace tarnwick
