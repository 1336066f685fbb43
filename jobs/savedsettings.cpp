#include "jobs/savedsettings.h"

#include "runtime/pickernames.h"
#include "settings/keys.h"

namespace tarnwick::jobs {

namespace {

// A list is stored as its lines joined with "|".
QStringList listOf(const QString& text) {
    if (text.isEmpty()) return {};
    QStringList lines = text.split(u'|');
    if (lines.last().isEmpty()) lines.removeLast();
    return lines;
}

} // namespace

SavedSettings readSavedSettings() {
    namespace key = settings::key;
    SavedSettings s;
    IniKeyStore store;
    if (const QString why = store.readError(); !why.isEmpty()) {
        s.error = why;
        return s;
    }
    s.backup.fileName = PickerNames::FileNameOf(settings::read(store, key::BackupFile));
    s.backup.dialogFiles = listOf(settings::read(store, key::BackupFiles));
    s.backup.folder = settings::read(store, key::BackupFolder);
    s.backup.zip = settings::readOn(store, key::BackupZip);
    s.backup.keep = settings::readNumber(store, key::BackupKeep); // 0 keeps all
    s.compactFileName = PickerNames::FileNameOf(settings::read(store, key::CompactFile));
    s.compact.files = listOf(settings::read(store, key::CompactFiles));
    if (s.compact.files.isEmpty() && !s.compactFileName.isEmpty())
        s.compact.files << s.compactFileName;
    s.compact.version = settings::read(store, key::CompactVersion);
    s.defragMemory = settings::readOn(store, key::CompactDefrag);
    s.compact.memoryMiB = settings::readNumber(store, key::CompactMemoryMiB);
    return s;
}

} // namespace tarnwick::jobs
