#pragma once

// Reading the directory of a zip archive: its entries, its comment, whether it is one volume of
// a spanned set, and where its first entry starts.

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QString>

#include <functional>

// One entry of an archive's directory. The numeric fields are the central directory header
// from its version-made-by field on, as they stand in the archive.
struct ZipDirEntry {
    quint16 MadeByVersion = 0;
    quint16 NeededVersion = 0;
    quint16 Flag = 0;
    quint16 CompressionMethod = 0;
    quint16 ModTime = 0; // MS-DOS time
    quint16 ModDate = 0; // MS-DOS date
    quint32 CRC32 = 0;
    quint32 CompressedSize = 0;
    quint32 UncompressedSize = 0;
    quint16 FileNameLength = 0;
    quint16 ExtraFieldLength = 0;
    quint16 FileCommentLen = 0;
    quint16 StartOnDiskNum = 0;
    quint16 IntFileAttrib = 0;
    quint32 ExtFileAttrib = 0;
    quint32 RelOffLocalHdr = 0;
    QString FileName;
    QString FileComment;
    bool Encrypted = false;
    QByteArray ExtraData; // empty when the entry has no extra field
};
Q_DECLARE_METATYPE(ZipDirEntry)

// What reading found; filled as it goes, so that a failure leaves what was read before it.
struct ZipContents {
    QList<ZipDirEntry> entries;
    int skippedDirs = 0; // folder entries left out
    QString comment;
    qint64 firstEntryOffset = 0;
    bool spanned = false;
};

// How entry names that are not marked as UTF-8 are read: Auto takes MS-DOS and old Windows
// archives as code page 437 and the rest as this system's names; Native and Oem always do one.
enum class ZipNameCoding { Auto, Native, Oem };

// What reading asks of its caller; every callback must be set.
struct ZipContentsCallbacks {
    // A fault that does not stop reading (ZipMsg number).
    std::function<void(int zipMsg)> warning;
    // The directory lies on volume `volume` of `last`, in `folder`; false gives up.
    std::function<bool(int volume, int last, const QString& folder)> volumeWanted;
    // Entry `seq` (from 1) has been added to the contents.
    std::function<void(int seq, const ZipDirEntry& entry)> entryAdded;
};

// Reads the directory of the regular file `path` into `out` (cleared first). Throws EZipArchiver
// for faults that stop reading, std::exception for others.
void ReadZipContents(const QString& path, ZipNameCoding coding, bool keepFolderEntries,
                     ZipContents& out, const ZipContentsCallbacks& callbacks);
