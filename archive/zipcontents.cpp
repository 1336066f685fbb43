#include "archive/zipcontents.h"

#include "archive/zipformat.h"
#include "archive/zipmessages.h"
#include "platform/filename.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <new>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace ZipFormat;

quint16 u16(const char* p) {
    return qFromLittleEndian<quint16>(p);
}
quint32 u32(const char* p) {
    return qFromLittleEndian<quint32>(p);
}
quint64 u64(const char* p) {
    return qFromLittleEndian<quint64>(p);
}

// Code page 437, the MS-DOS character set, for bytes 128-255.
const char16_t kCp437[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

QString fromOem(const QByteArray& b) {
    QString r;
    r.reserve(b.size());
    for (char c : b) {
        const auto u = static_cast<unsigned char>(c);
        r += u < 128 ? QChar(u) : QChar(kCp437[u - 128]);
    }
    return r;
}

struct ReadError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

QByteArray readAt(QFile& f, qint64 pos, qint64 len) {
    if (pos < 0 || !f.seek(pos)) throw EZipArchiver(ZipMsg::DirSeekRead, true);
    QByteArray b = f.read(len);
    if (b.size() != len) throw EZipArchiver(ZipMsg::DirSeekRead, true);
    return b;
}

} // namespace

// Opens the archive by its exact bytes, never blocking and only if it is a regular file.
namespace {
bool openArchive(QFile& f, const QString& name) {
    const int fd = ::open(tarnwick::fileNameToBytes(name).constData(),
                          O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat st {};
    if (fd < 0) return false;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        !f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}
} // namespace

void ReadZipContents(const QString& path, ZipNameCoding coding, bool keepFolderEntries,
                     ZipContents& out, const ZipContentsCallbacks& callbacks) {
    out = ZipContents();
    QFile f;
    if (!openArchive(f, path)) throw EZipArchiver(ZipMsg::DirSeekRead, true);
    const qint64 size = f.size();
    if (size < 22) throw EZipArchiver(ZipMsg::DirSeekRead, true);

    const qint64 endPos = FindEndRecord(f, size);
    if (endPos < 0) throw EZipArchiver(ZipMsg::DirSeekRead, true);
    const QByteArray end = readAt(f, endPos, kEndRecordSize);
    const char* e = end.constData();
    const quint16 thisDisk = u16(e + 4);
    const quint16 dirDisk = u16(e + 6);
    quint64 entries = u16(e + 10);
    quint64 dirSize = u32(e + 12);
    quint64 dirOffset = u32(e + 16);
    const quint16 commentLen = u16(e + 20);
    const qint64 endOfComment = endPos + 22 + commentLen;
    const QByteArray comment = f.seek(endPos + 22)
                                   ? f.read(std::min<qint64>(commentLen, size - endPos - 22))
                                   : QByteArray();
    out.comment = QString::fromLocal8Bit(comment);
    if (endOfComment != size) {
        bool padding = false;
        if (endOfComment < size && size % 512 == 0 && size - endOfComment < 512) {
            const QByteArray extra = readAt(f, endOfComment, size - endOfComment);
            padding = extra.count('\0') == extra.size();
        }
        if (!padding) callbacks.warning(ZipMsg::DataAfterEnd);
    }
    const QByteArray head = f.seek(0) ? f.read(8) : QByteArray();
    out.spanned = head.size() == 8 && u32(head.constData()) == kSpanSig &&
                  u32(head.constData() + 4) == kLocalSig;

    // Archives over 4 GiB or with many entries keep the true figures in a ZIP64 record.
    qint64 recordPos = endPos;
    if (endPos >= 76) {
        const QByteArray loc = readAt(f, endPos - 20, 20);
        if (u32(loc.constData()) == kZip64LocatorSig) {
            // Where the record really is; the locator's figure ignores data in front.
            const qint64 pos64 = endPos - 20 - 56;
            const QByteArray rec = readAt(f, pos64, 56);
            if (u32(rec.constData()) == kZip64EndSig) {
                entries = u64(rec.constData() + 32);
                dirSize = u64(rec.constData() + 40);
                dirOffset = u64(rec.constData() + 48);
                recordPos = pos64;
            }
        }
    }

    qint64 dirStart;
    if (dirDisk != thisDisk) {
        // The directory lies on another volume: ask for it, then read it from the record.
        if (!callbacks.volumeWanted(dirDisk + 1, thisDisk + 1, QFileInfo(path).absolutePath()))
            throw EZipArchiver(ZipMsg::SpanAborted, false);
        f.close();
        if (!openArchive(f, path)) throw EZipArchiver(ZipMsg::DirSeekRead, true);
        dirStart = static_cast<qint64>(dirOffset);
    } else {
        dirStart = recordPos - static_cast<qint64>(dirSize);
        // Our self-extractors count offsets from the archive behind the program, so there
        // the difference is expected and not worth a message.
        const bool selfExtractor = head.startsWith("\x7f"
                                                   "ELF");
        if (dirStart != static_cast<qint64>(dirOffset) && !selfExtractor)
            callbacks.warning(ZipMsg::DirStartMismatch);
    }

    if (!f.seek(dirStart)) throw EZipArchiver(ZipMsg::DirSeekRead, true);
    qint64 least = -1;
    for (quint64 seq = 1; seq <= entries; ++seq) {
        QByteArray h = f.read(46);
        if (h.size() != 46) throw EZipArchiver(ZipMsg::DirSeekRead, true);
        const char* p = h.constData();
        if (u32(p) != kDirSig) throw EZipArchiver(ZipMsg::SpanBadHeader, true);
        ZipDirEntry d;
        d.MadeByVersion = u16(p + 4);
        d.NeededVersion = u16(p + 6);
        d.Flag = u16(p + 8);
        d.CompressionMethod = u16(p + 10);
        d.ModTime = u16(p + 12);
        d.ModDate = u16(p + 14);
        d.CRC32 = u32(p + 16);
        d.CompressedSize = u32(p + 20);
        d.UncompressedSize = u32(p + 24);
        d.FileNameLength = u16(p + 28);
        d.ExtraFieldLength = u16(p + 30);
        d.FileCommentLen = u16(p + 32);
        d.StartOnDiskNum = u16(p + 34);
        d.IntFileAttrib = u16(p + 36);
        d.ExtFileAttrib = u32(p + 38);
        d.RelOffLocalHdr = u32(p + 42);
        const QByteArray name = f.read(d.FileNameLength);
        const QByteArray extra = f.read(d.ExtraFieldLength);
        const QByteArray comment = f.read(d.FileCommentLen);
        if (name.size() != d.FileNameLength || extra.size() != d.ExtraFieldLength ||
            comment.size() != d.FileCommentLen)
            throw EZipArchiver(ZipMsg::DirSeekRead, true);
        const int host = d.MadeByVersion >> 8;
        // A name marked as UTF-8 is UTF-8 whatever system made it; cpNone never converts.
        const bool utf8 = d.Flag & 0x800;
        const bool oem = !utf8 && (coding == ZipNameCoding::Oem ||
                                   (coding == ZipNameCoding::Auto &&
                                    (host == 0 || (host == 6 && (d.MadeByVersion & 0xFF) == 50))));
        if (oem) {
            d.FileName = fromOem(name);
            d.FileComment = fromOem(comment);
        } else if (utf8) {
            d.FileName = QString::fromUtf8(name);
            d.FileComment = QString::fromUtf8(comment);
        } else {
            // Names as this system's files have them: every byte kept.
            d.FileName = tarnwick::fileNameFromBytes(name);
            d.FileComment = QString::fromLocal8Bit(comment);
        }
        // Names keep '/', this system's separator.
        d.Encrypted = d.Flag & 1;
        d.ExtraData = extra;
        const qint64 off = d.RelOffLocalHdr;
        if (least < 0 || off < least) least = off;
        if (d.FileName.endsWith(QLatin1Char('/')) || d.FileName.endsWith(QLatin1Char('\\'))) {
            if (!keepFolderEntries) {
                ++out.skippedDirs;
                continue;
            }
        }
        out.entries.append(d);
        callbacks.entryAdded(static_cast<int>(seq), d);
    }
    // Data in front of the archive (a self-extractor) shifts every entry by the same amount.
    const qint64 prefix =
        dirStart > static_cast<qint64>(dirOffset) ? dirStart - static_cast<qint64>(dirOffset) : 0;
    out.firstEntryOffset = least < 0 ? 0 : least + prefix;
}
