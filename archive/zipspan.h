#pragma once

// Copying a finished archive onto several volumes (a spanned archive). On this system a volume
// is a mounted removable medium; on a fixed or network drive no volume is asked for and the
// parts are written side by side (NAME.z01, NAME.z02, ..., the last one under the archive's own
// name).

#include <QString>
#include <QStringList>

#include <functional>

// What copying onto volumes asks of its caller; every callback must be set.
struct ZipSpanCallbacks {
    // Volume `volume` (from 1) is wanted in `folder`; false gives up.
    std::function<bool(int volume, const QString& folder)> volumeWanted;
    // The volume has too little room: true looks again, false gives up.
    std::function<bool()> retryWithoutRoom;
    // `name`, the file of volume `volume` (from 0), exists already: true replaces it.
    std::function<bool(int volume, const QString& name)> replaceExisting;
    // A message (ZipMsg number) that does not stop the copy.
    std::function<void(int zipMsg)> notice;
    std::function<void(int files, int bytes)> totals;
    // One entry (or the directory) is being copied.
    std::function<void(const QString& name, int bytes)> copying;
    std::function<void()> finished;
    std::function<bool()> cancelled;
    // Lets the window work between pieces.
    std::function<void()> idle;
};

struct ZipSpanLimits {
    qint64 maxVolumeSize = 0;     // 0: the volume's free room
    qint64 keepFreeOnFirst = 0;   // room left free on the first volume
    qint64 minFreeVolumeSize = 0; // less room than this asks again
    bool eraseFirst = false;      // volumes would be erased first (not done here: a message)
};

// Copies the archive `tempName` onto volumes named after `targetName`. Throws EZipArchiver or
// std::exception; a part being written is removed, the parts written side by side so far are
// listed in `written` for the caller to remove.
void CopyOntoVolumes(const QString& tempName, const QString& targetName,
                     const ZipSpanLimits& limits, const ZipSpanCallbacks& callbacks,
                     QStringList& written);
