#include "archive/zipspan.h"

#include "archive/zipformat.h"
#include "archive/zipmessages.h"
#include "platform/driveprobe.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <new>
#include <stdexcept>

namespace {

using namespace ZipFormat;

constexpr qint64 kPiece = 8192;

struct Entry {
    QByteArray dirHeader; // 46 bytes + name + extra + comment
    qint64 localOffset = 0;
    qint64 compressedSize = 0;
    bool descriptor = false;
    QString name;
};

} // namespace

void CopyOntoVolumes(const QString& tempName, const QString& targetName,
                     const ZipSpanLimits& limits, const ZipSpanCallbacks& callbacks,
                     QStringList& written) {
    QFile out;
    try {
        QFile in(tempName);
        if (!in.open(QIODevice::ReadOnly)) throw EZipArchiver(ZipMsg::SpanReadTemp, true);
        const qint64 size = in.size();
        auto readAt = [&](qint64 pos, qint64 len) {
            if (!in.seek(pos)) throw EZipArchiver(ZipMsg::SpanReadTemp, true);
            QByteArray b = in.read(len);
            if (b.size() != len) throw EZipArchiver(ZipMsg::SpanReadTemp, true);
            return b;
        };
        // Our library writes ZIP64 records for an archive over 4 GiB or 65,535 entries. A
        // spanned set has 16-bit volume numbers and 32-bit offsets only, so such an archive
        // is refused here rather than copied with its sizes cut short.
        const qint64 endPos = FindEndRecord(in, size);
        if (endPos < 0) throw EZipArchiver(ZipMsg::SpanReadTemp, true);
        const QByteArray end = readAt(endPos, 22);
        const int count = qFromLittleEndian<quint16>(end.constData() + 10);
        const qint64 dirSize = qFromLittleEndian<quint32>(end.constData() + 12);
        const qint64 dirOffset = qFromLittleEndian<quint32>(end.constData() + 16);
        constexpr char tooLarge[] =
            "the archive is over 4 GiB or holds over 65,535 files (ZIP64), which a set of "
            "disks cannot hold";
        if (count == 0xFFFF || dirSize == 0xFFFFFFFF || dirOffset == 0xFFFFFFFF)
            throw std::runtime_error(tooLarge);
        const QByteArray comment =
            readAt(endPos + 22, qFromLittleEndian<quint16>(end.constData() + 20));
        const QByteArray dir = readAt(dirOffset, dirSize);
        QList<Entry> entries;
        qsizetype p = 0;
        for (int i = 0; i < count; ++i) {
            if (p + 46 > dir.size() || qFromLittleEndian<quint32>(dir.constData() + p) != kDirSig)
                throw EZipArchiver(ZipMsg::SpanBadHeader, true);
            const char* h = dir.constData() + p;
            const qsizetype len = 46 + qFromLittleEndian<quint16>(h + 28) +
                                  qFromLittleEndian<quint16>(h + 30) +
                                  qFromLittleEndian<quint16>(h + 32);
            Entry e;
            e.dirHeader = dir.mid(p, len);
            e.localOffset = qFromLittleEndian<quint32>(h + 42);
            e.compressedSize = qFromLittleEndian<quint32>(h + 20);
            if (e.localOffset == 0xFFFFFFFF || e.compressedSize == 0xFFFFFFFF)
                throw std::runtime_error(tooLarge);
            e.descriptor = qFromLittleEndian<quint16>(h + 8) & 8;
            e.name = QString::fromUtf8(dir.mid(p + 46, qFromLittleEndian<quint16>(h + 28)));
            entries.append(e);
            p += len;
        }

        const QString folder = QFileInfo(targetName).absolutePath();
        const bool removable = tarnwick::DriveProbe::Current().IsRemovable(folder);
        int volume = 0;      // number of the volume being written, from 0
        qint64 room = 0;     // bytes left on it
        qint64 onVolume = 0; // bytes written to it
        auto volumeName = [&](int v, bool last) {
            if (removable || last) return targetName;
            const QFileInfo fi(targetName);
            return fi.absolutePath() + QLatin1Char('/') + fi.completeBaseName() +
                   QStringLiteral(".z%1").arg(v + 1, 2, 10, QLatin1Char('0'));
        };
        auto openVolume = [&](int v) {
            if (removable && v > 0 && !callbacks.volumeWanted(v + 1, folder))
                throw EZipArchiver(ZipMsg::SpanAborted, false);
            if (limits.eraseFirst) callbacks.notice(ZipMsg::SpanNoFormat);
            for (;;) {
                qint64 free = tarnwick::DriveProbe::Current().FreeBytes(folder);
                if (limits.maxVolumeSize > 0) free = std::min<qint64>(free, limits.maxVolumeSize);
                if (v == 0) free -= limits.keepFreeOnFirst;
                if (free >= limits.minFreeVolumeSize) {
                    room = free;
                    break;
                }
                if (!callbacks.retryWithoutRoom()) throw EZipArchiver(ZipMsg::SpanAborted, false);
            }
            // The name is settled when the volume is closed; write under a working name.
            out.setFileName(targetName + QStringLiteral(".part"));
            if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
                throw EZipArchiver(ZipMsg::SpanWriteFailed, true);
            onVolume = 0;
        };
        auto closeVolume = [&](bool last) {
            if (!out.flush()) throw EZipArchiver(ZipMsg::SpanWriteFailed, true);
            out.close();
            const QString name = volumeName(volume, last);
            if (QFileInfo::exists(name)) {
                if (!callbacks.replaceExisting(volume, name)) {
                    QFile::remove(out.fileName());
                    throw EZipArchiver(ZipMsg::SpanAborted, false);
                }
                QFile::remove(name);
            }
            if (!QFile::rename(out.fileName(), name))
                throw EZipArchiver(ZipMsg::SpanWriteFailed, true);
            if (!removable) written << name;
        };
        auto write = [&](const QByteArray& data, bool keepTogether) {
            if (callbacks.cancelled()) throw EZipArchiver(ZipMsg::SpanAborted, false);
            qsizetype done = 0;
            if (keepTogether && onVolume > 0 && data.size() > room - onVolume) {
                closeVolume(false);
                openVolume(++volume);
            }
            while (done < data.size()) {
                if (room - onVolume <= 0) {
                    closeVolume(false);
                    openVolume(++volume);
                }
                const qint64 n = std::min<qint64>({data.size() - done, room - onVolume, kPiece});
                if (out.write(data.constData() + done, n) != n)
                    throw EZipArchiver(ZipMsg::SpanWriteFailed, true);
                done += n;
                onVolume += n;
                callbacks.idle();
            }
        };

        callbacks.totals(static_cast<int>(entries.size()),
                         static_cast<int>(std::min<qint64>(size, INT_MAX)));
        openVolume(0);
        QByteArray sig(4, '\0');
        qToLittleEndian<quint32>(kSpanSig, sig.data());
        write(sig, false);
        for (auto& e : entries) {
            callbacks.copying(e.name, static_cast<int>(e.compressedSize));
            const QByteArray local = readAt(e.localOffset, 30);
            if (qFromLittleEndian<quint32>(local.constData()) != kLocalSig)
                throw EZipArchiver(ZipMsg::SpanBadHeader, true);
            const qint64 headLen = 30 + qFromLittleEndian<quint16>(local.constData() + 26) +
                                   qFromLittleEndian<quint16>(local.constData() + 28);
            const QByteArray header = readAt(e.localOffset, headLen);
            // Where the entry now starts: volume and offset go into its directory header.
            if (onVolume > 0 && headLen > room - onVolume) {
                closeVolume(false);
                openVolume(++volume);
            }
            qToLittleEndian<quint16>(static_cast<quint16>(volume), e.dirHeader.data() + 34);
            qToLittleEndian<quint32>(static_cast<quint32>(onVolume), e.dirHeader.data() + 42);
            write(header, true);
            qint64 left = e.compressedSize + (e.descriptor ? 16 : 0);
            qint64 pos = e.localOffset + headLen;
            while (left > 0) {
                const qint64 n = std::min(left, kPiece);
                write(readAt(pos, n), false);
                pos += n;
                left -= n;
            }
        }
        callbacks.copying(ZipMessageText(ZipMsg::SpanCentralDir), static_cast<int>(dirSize));
        QByteArray all;
        for (const auto& e : entries)
            all += e.dirHeader;
        if (onVolume > 0 && all.size() + 22 + comment.size() > room - onVolume) {
            closeVolume(false);
            openVolume(++volume);
        }
        const int dirVolume = volume;
        const qint64 dirStart = onVolume;
        write(all, true);
        QByteArray endRecord(22, '\0');
        char* r = endRecord.data();
        qToLittleEndian<quint32>(kEndSig, r);
        qToLittleEndian<quint16>(static_cast<quint16>(volume), r + 4);
        qToLittleEndian<quint16>(static_cast<quint16>(dirVolume), r + 6);
        qToLittleEndian<quint16>(static_cast<quint16>(entries.size()), r + 8);
        qToLittleEndian<quint16>(static_cast<quint16>(entries.size()), r + 10);
        qToLittleEndian<quint32>(static_cast<quint32>(all.size()), r + 12);
        qToLittleEndian<quint32>(static_cast<quint32>(dirStart), r + 16);
        qToLittleEndian<quint16>(static_cast<quint16>(comment.size()), r + 20);
        write(endRecord + comment, true);
        closeVolume(true);
        callbacks.finished();
    } catch (...) {
        if (out.isOpen()) {
            out.close();
            out.remove();
        }
        throw;
    }
}
