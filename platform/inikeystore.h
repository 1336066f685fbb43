#pragma once

#include "platform/inidocument.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace tarnwick {

namespace reg {
Q_NAMESPACE

// The predefined roots, with the ordinals the settings store persists.
enum TRegRoots {
    CLASSES_ROOT,
    CURRENT_USER,
    LOCAL_MACHINE,
    USERS,
    PERFORMANCE_DATA,
    CURRENT_CONFIG,
    DYN_DATA
};
Q_ENUM_NS(TRegRoots)
} // namespace reg

// The key store of the settings: a tree of keys with string values under a few roots, as the
// Windows registry has them, kept in INI files. Where the keys and values of each root live:
//
// - CURRENT_USER: $XDG_CONFIG_HOME/Tarnwick/Tarnwick.ini ($HOME/.config when unset), created with
//   permissions 0600 in a folder of 0700.
// - LOCAL_MACHINE: Tarnwick/Tarnwick.ini in the system configuration folder: the first folder of
//   $XDG_CONFIG_DIRS that holds it, else the first folder listed (/etc/xdg when unset). Users can
//   normally only read it; an administrator who creates it gets 0644 in a folder of 0755 so that
//   every user can read it.
// - CLASSES_ROOT: the automation classes registered in this process, held in memory only; a key
//   per ProgID (see registerAutomationClass).
// - USERS, PERFORMANCE_DATA, CURRENT_CONFIG, DYN_DATA: nothing; every key fails to open.
//
// An existing key opens whether or not the store can be written; writing fails on a store the
// user cannot write, or whose file exists but could not be read, and the store stays as it was.
//
// Each key is one INI group named by its whole path from the root ("Software\ODBC\odbc.ini");
// values of the root itself stand above the first group. Key and value names are matched without
// regard to letter case, as on Windows. See IniDocument for the file's form.
//
// A key path is a list of key names separated by "\"; empty names (doubled, leading or trailing
// "\") are dropped. As with Windows' registry class, a path with a leading "\" starts at the root
// and any other path starts at the current key when one is open, else at the root.
//
// Changes are kept in this object and written to the store by flush() or the destructor, as one
// atomic replacement of the file: a save of many values ends as all old or all new even when the
// process is killed. Before writing, the store is read afresh and only this object's changes are
// applied to it, under a lock on the store's folder that other writers (other processes too) wait
// for, so values they stored in the meantime are kept. Reading sees this
// object's own unwritten changes, and the store as read when a key was last opened.
//
// Not thread-safe; use one object per thread.
class IniKeyStore {
public:
    explicit IniKeyStore(reg::TRegRoots root = reg::CURRENT_USER);
    ~IniKeyStore(); // flushes; a failure is only logged
    IniKeyStore(const IniKeyStore&) = delete;
    IniKeyStore& operator=(const IniKeyStore&) = delete;

    reg::TRegRoots root() const { return m_root; }
    // False for the roots that mean nothing on Linux.
    bool rootAvailable() const;
    // Whether changes can be written (the machine's store usually cannot be, for a user).
    bool isWritable() const;

    // Opens a key; with `canCreate` a missing key and its missing parents are created (written at
    // the next flush). False when the key does not exist and may not or cannot be created.
    bool openKey(const QString& key, bool canCreate);
    // Opens an existing key for reading; writes through it fail.
    bool openKeyReadOnly(const QString& key);
    void closeKey();
    bool hasCurrentKey() const { return m_open; }
    // The open key's normalized path from the root ("" for the root itself).
    QString currentPath() const { return m_current; }

    bool keyExists(const QString& key);
    bool createKey(const QString& key);
    // Deletes the key with all keys and values below it.
    bool deleteKey(const QString& key);

    // Values of the open key. Without an open key they read nothing and write nothing.
    bool valueExists(const QString& name) const;
    std::optional<QString> readString(const QString& name) const;
    bool writeString(const QString& name, const QString& value);
    bool deleteValue(const QString& name);
    // Names of the keys directly below the open key, sorted without regard to case.
    QStringList keyNames() const;
    // Names of the open key's values, in the order they are stored.
    QStringList valueNames() const;

    // Writes the changes made through this object. True when nothing was pending or the store now
    // holds them; false leaves them pending and the store as it was.
    bool flush();
    QString lastError() const { return m_error; }
    // Why the store cannot be read ("cannot read <path>: <reason>"); empty when it can, or when it
    // does not exist yet (a missing store reads as empty).
    QString readError();

    // The file that holds a root, or "" for the roots that have none.
    static QString storePath(reg::TRegRoots root);

private:
    struct Change {
        enum Kind { CreateKey, DeleteKey, SetValue, DeleteValue } kind;
        QString path, name, value;
    };

    QString resolve(const QString& key) const;
    void refresh();
    bool change(const Change& c);
    bool canChange();

    reg::TRegRoots m_root;
    IniDocument m_view; // the store as last read, with m_pending applied
    QList<Change> m_pending;
    QString m_signature; // identity and age of the file m_view was read from
    bool m_loaded = false;
    bool m_loadFailed = false;
    QString m_loadError;
    bool m_open = false;
    bool m_readOnlyKey = false;
    QString m_current;
    QString m_error;
};

// The classes root: the DAO layer registers the automation classes it can create here, and probes
// for them by opening the key named after the ProgID under CLASSES_ROOT.
void registerAutomationClass(const QString& progId);
void unregisterAutomationClass(const QString& progId);

} // namespace tarnwick
