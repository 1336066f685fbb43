#include "archive/zipformat.h"

#include <QIODevice>
#include <QtEndian>

#include <algorithm>

namespace ZipFormat {

qint64 FindEndRecord(QIODevice& device, qint64 size) {
    if (size < kEndRecordSize) return -1;
    const qint64 span = std::min<qint64>(size, kEndRecordSize + 65535);
    if (!device.seek(size - span)) return -1;
    const QByteArray tail = device.read(span);
    if (tail.size() != span) return -1;
    // The last match wins: a comment may itself hold the signature's bytes only before it.
    for (qsizetype i = tail.size() - kEndRecordSize; i >= 0; --i)
        if (qFromLittleEndian<quint32>(tail.constData() + i) == kEndSig) return size - span + i;
    return -1;
}

} // namespace ZipFormat
