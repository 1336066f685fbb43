#pragma once

// Every saved setting has its home here: its group and name in the user's settings store, its
// kind, what a missing value reads as, the range a number is held to, and the window's control
// that keeps it. The window's settings store saves and restores the controls' keys from this
// table, and the file jobs, the runner and the catch-up read their keys through it. Qt Core only.

#include "platform/inikeystore.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <climits>

namespace tarnwick::settings {

struct Key {
    enum Kind {
        Text,   // as written
        Lines,  // lines joined by "|"
        Time,   // a fraction of a day, in the C locale
        Switch, // "1" or "0" (CatchUp also takes "true")
        Check,  // a check box's state: "cbChecked", "cbUnchecked"
        Number, // a whole number, held to [min, max]
        Moment, // local time, YYYY-MM-DDTHH:MM:SS
    };
    Kind kind;
    const char* section;
    const char* name;
    const char* defaultText = "";
    int min = 0;
    int max = 0;
    // The window's control and property that keep the value; none for keys only runs keep.
    const char* component = nullptr;
    const char* property = nullptr;
};

namespace key {
// Kept by the window, in the order it restores them.
inline constexpr Key CompactFile{Key::Text, "Compact", "Hx1", "", 0, 0, "FilenameEdit1", "Text"};
inline constexpr Key BackupFile{Key::Text, "Backup", "filenames", "", 0, 0, "Backup1", "Text"};
inline constexpr Key BackupLog{Key::Lines, "Messages", "Backup", "", 0, 0, "RichEdit1", "Lines"};
inline constexpr Key CompactLog{Key::Lines, "Messages", "Compact", "", 0, 0, "RichEdit2", "Lines"};
inline constexpr Key CompactVersion{Key::Text, "Compact", "Version", "", 0, 0, "ComboBox1", "Text"};
inline constexpr Key BackupTime{Key::Time, "Backup", "Time",           "",
                                0,         0,        "ValueSpinEdit1", "TimeValue"};
inline constexpr Key CompactTime{Key::Time, "Compact", "Time",           "",
                                 0,         0,         "ValueSpinEdit2", "TimeValue"};
inline constexpr Key ClientHeight{Key::Number, "Form",  "Height", "",
                                  INT_MIN,     INT_MAX, "Form1",  "ClientHeight"};
inline constexpr Key ClientWidth{Key::Number, "Form",  "Width", "",
                                 INT_MIN,     INT_MAX, "Form1", "ClientWidth"};
inline constexpr Key WindowWidth{Key::Number, "Form",  "Width2", "",
                                 INT_MIN,     INT_MAX, "Form1",  "Width"};
inline constexpr Key WindowHeight{Key::Number, "Form",  "Height2", "",
                                  INT_MIN,     INT_MAX, "Form1",   "Height"};
inline constexpr Key BackupFolder{Key::Text, "Backup", "ToDir", "", 0, 0, "DirectoryEdit1", "Text"};
inline constexpr Key BackupSwitch{Key::Switch, "Backup", "State1",        "",
                                  0,           0,        "ToggleSwitch1", "StateOn"};
inline constexpr Key CompactSwitch{Key::Switch, "Compact", "State2",        "",
                                   0,           0,         "ToggleSwitch2", "StateOn"};
inline constexpr Key Roller{Key::Switch, "Form", "Roller", "", 0, 0, "WinRoller1", "Roller"};
inline constexpr Key WindowLeft{Key::Number, "Form", "left", "", INT_MIN, INT_MAX, "Form1", "Left"};
inline constexpr Key WindowTop{Key::Number, "Form", "Top", "", INT_MIN, INT_MAX, "Form1", "Top"};
inline constexpr Key ShutdownKind{Key::Text, "Form", "ShutdownText", "", 0, 0, "ComboBox2", "Text"};
inline constexpr Key ShutdownTime{Key::Time, "Form", "Time",           "",
                                  0,         0,      "ValueSpinEdit3", "TimeValue"};
inline constexpr Key ShutdownSwitch{Key::Switch, "Form", "State3",        "",
                                    0,           0,      "ToggleSwitch3", "StateOn"};
inline constexpr Key CompactDefrag{Key::Check, "Compact", "Defrag",    "cbUnchecked",
                                   0,          0,         "CheckBox1", "State"};
inline constexpr Key BackupZip{Key::Check, "Backup", "Zip",       "cbUnchecked",
                               0,          0,        "CheckBox2", "State"};
inline constexpr Key CompactFiles{Key::Lines, "Compact", "dialogfiles",   "",
                                  0,          0,         "FilenameEdit1", "DialogFiles"};
inline constexpr Key BackupFiles{Key::Lines, "Backup", "dialogfiles", "",
                                 0,          0,        "Backup1",     "DialogFiles"};
// Kept by the window's Keep and "Catch up missed runs" controls.
inline constexpr Key BackupKeep{Key::Number, "Backup", "Keep",           "0",
                                0,           INT_MAX,  "ValueSpinEdit4", "Value"};
inline constexpr Key BackupCatchUp{Key::Switch, "Backup", "CatchUp",   "0",
                                   0,           0,        "CheckBox3", "Checked"};
inline constexpr Key CompactCatchUp{Key::Switch, "Compact", "CatchUp",   "0",
                                    0,           0,         "CheckBox4", "Checked"};
// Read and written by the runs; no control keeps them.
inline constexpr Key BackupLastRun{Key::Moment, "Backup", "LastRun"};
inline constexpr Key CompactLastRun{Key::Moment, "Compact", "LastRun"};
// The memory a compaction may use for its work.
inline constexpr Key CompactMemoryMiB{Key::Number, "Compact", "MemoryMiB", "256", 16, 4096};
} // namespace key

inline constexpr Key kAll[] = {
    key::CompactFile,    key::BackupFile,       key::BackupLog,      key::CompactLog,
    key::CompactVersion, key::BackupTime,       key::CompactTime,    key::ClientHeight,
    key::ClientWidth,    key::WindowWidth,      key::WindowHeight,   key::BackupFolder,
    key::BackupSwitch,   key::CompactSwitch,    key::Roller,         key::WindowLeft,
    key::WindowTop,      key::ShutdownKind,     key::ShutdownTime,   key::ShutdownSwitch,
    key::CompactDefrag,  key::BackupZip,        key::CompactFiles,   key::BackupFiles,
    key::BackupKeep,     key::BackupCatchUp,    key::CompactCatchUp, key::BackupLastRun,
    key::CompactLastRun, key::CompactMemoryMiB,
};

// The window's settings store items ("component;property;default;section;key;1;0") of the keys
// its controls keep, in the table's order.
inline QStringList windowItems() {
    QStringList items;
    for (const Key& k : kAll)
        if (k.component)
            items << QStringLiteral("%1;%2;%3;%4;%5;1;0")
                         .arg(QLatin1String(k.component), QLatin1String(k.property),
                              QLatin1String(k.defaultText), QLatin1String(k.section),
                              QLatin1String(k.name));
    return items;
}

// The stored text of `k`, else its default.
inline QString read(IniKeyStore& store, const Key& k) {
    store.closeKey(); // keys open relative to the one open
    if (!store.openKeyReadOnly(QLatin1String(k.section))) return QLatin1String(k.defaultText);
    return store.readString(QLatin1String(k.name)).value_or(QLatin1String(k.defaultText));
}

// A number held to its range; what is no number reads as the default.
inline int readNumber(IniKeyStore& store, const Key& k) {
    bool ok = false;
    const int n = read(store, k).trimmed().toInt(&ok);
    if (!ok) return QLatin1String(k.defaultText).toInt();
    return std::clamp(n, k.min, k.max);
}

// Whether a switch or a check box is on. A check box is on only as its state's name.
inline bool readOn(IniKeyStore& store, const Key& k) {
    const QString v = read(store, k);
    if (k.kind == Key::Check) return v == QLatin1String("cbChecked");
    const QString t = v.trimmed();
    return t == QLatin1String("1") || t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
           t == QLatin1String("cbChecked");
}

inline bool write(IniKeyStore& store, const Key& k, const QString& text) {
    store.closeKey();
    return store.openKey(QLatin1String(k.section), true) &&
           store.writeString(QLatin1String(k.name), text);
}

} // namespace tarnwick::settings
