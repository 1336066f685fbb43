#pragma once

// The window's saved settings that the file jobs use, read without the window.

#include "jobs/backupjob.h"
#include "jobs/compactjob.h"

namespace tarnwick::jobs {

struct SavedSettings {
    BackupRequest backup;
    CompactRequest compact;
    QString compactFileName; // the repair-and-compact picker's file
    bool defragMemory = false;
    QString error; // why the settings could not be read; then everything else is empty
};

// Reads the user's settings store; what is not stored stays empty. The compact request's
// files are the picker's list, or its file when the list is empty.
SavedSettings readSavedSettings();

} // namespace tarnwick::jobs
