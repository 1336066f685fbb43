#include "jobs/savedsettings.h"

#include "platform/registry.h"
#include "runtime/pickernames.h"

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
    SavedSettings s;
    Registry reg;
    if (const QString why = reg.readError(); !why.isEmpty()) {
        s.error = why;
        return s;
    }
    auto read = [&reg](const QString& section, const QString& key) {
        reg.closeKey(); // keys open relative to the one open
        if (!reg.openKeyReadOnly(section)) return QString();
        return reg.readString(key).value_or(QString());
    };
    s.backup.fileName = PickerNames::FileNameOf(read("Backup", "filenames"));
    s.backup.dialogFiles = listOf(read("Backup", "dialogfiles"));
    s.backup.folder = read("Backup", "ToDir");
    s.backup.zip = read("Backup", "Zip") == QLatin1String("cbChecked");
    bool ok = false;
    const int keep = read("Backup", "Keep").trimmed().toInt(&ok);
    s.backup.keep = ok && keep > 0 ? keep : 0; // anything else keeps all
    s.compactFileName = PickerNames::FileNameOf(read("Compact", "Hx1"));
    s.compact.files = listOf(read("Compact", "dialogfiles"));
    if (s.compact.files.isEmpty() && !s.compactFileName.isEmpty())
        s.compact.files << s.compactFileName;
    s.compact.version = read("Compact", "Version");
    s.defragMemory = read("Compact", "Defrag") == QLatin1String("cbChecked");
    const int memory = read("Compact", "MemoryMiB").trimmed().toInt(&ok);
    s.compact.memoryMiB = ok && memory > 0 ? memory : 0; // anything else: the default
    return s;
}

} // namespace tarnwick::jobs
