#pragma once

// What the archive readers and the spanned writer share of the zip container's layout.

#include <QtGlobal>

class QIODevice;

namespace ZipFormat {

constexpr quint32 kLocalSig = 0x04034B50;
constexpr quint32 kDirSig = 0x02014B50;
constexpr quint32 kEndSig = 0x06054B50;
constexpr quint32 kSpanSig = 0x08074B50;
constexpr quint32 kZip64LocatorSig = 0x07064B50;
constexpr quint32 kZip64EndSig = 0x06064B50;

constexpr qint64 kEndRecordSize = 22;

// Where the end record of central directory starts, searched from the end of the device
// (the record is followed by a comment of up to 65535 bytes); -1 when there is none or the
// device cannot be read.
qint64 FindEndRecord(QIODevice& device, qint64 size);

} // namespace ZipFormat
