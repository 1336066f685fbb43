#include "platform/inikeystore.h"

#include "platform/atomicfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick {

namespace {

enum class StoreKind { None, File, Memory };

StoreKind kindOf(reg::TRegRoots root) {
    switch (root) {
    case reg::CURRENT_USER:
    case reg::LOCAL_MACHINE:
        return StoreKind::File;
    case reg::CLASSES_ROOT:
        return StoreKind::Memory;
    default:
        return StoreKind::None;
    }
}

// The XDG rules: only absolute folders count.
QString absoluteEnvFolder(const char* name) {
    const QString v = qEnvironmentVariable(name);
    return QDir::isAbsolutePath(v) ? v : QString();
}

QString userConfigFolder() {
    QString folder = absoluteEnvFolder("XDG_CONFIG_HOME");
    if (folder.isEmpty()) folder = QDir::homePath() + QLatin1String("/.config");
    return folder;
}

QString machineStorePath() {
    const QString rel = QStringLiteral("/Tarnwick/Tarnwick.ini");
    QStringList folders;
    for (const QString& f : qEnvironmentVariable("XDG_CONFIG_DIRS").split(QLatin1Char(':')))
        if (QDir::isAbsolutePath(f)) folders.append(f);
    if (folders.isEmpty()) folders.append(QStringLiteral("/etc/xdg"));
    for (const QString& f : folders)
        if (QFileInfo::exists(f + rel)) return f + rel;
    return folders.front() + rel;
}

NewFileModes modesFor(reg::TRegRoots root) {
    if (root == reg::LOCAL_MACHINE) return NewFileModes{0644, 0755};
    return NewFileModes{0600, 0700};
}

const QStringList& headComment() {
    static const QStringList lines{
        QStringLiteral("# Tarnwick settings. One [group] per key, nested keys as [Parent\\Child]."),
        QStringLiteral("# A value is the text after \"=\"; in a \"quoted\" value \\\\ \\\" \\n \\r "
                       "\\t \\xHH stand for themselves."),
    };
    return lines;
}

QString fileSignature(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return QStringLiteral("-");
    return QStringLiteral("%1:%2:%3:%4.%5")
        .arg(st.st_dev)
        .arg(st.st_ino)
        .arg(st.st_size)
        .arg(st.st_mtim.tv_sec)
        .arg(st.st_mtim.tv_nsec);
}

// Reads a file store; a missing file is an empty store.
bool loadFile(const QString& path, IniDocument* doc, QString* error) {
    // Opened without blocking and read only when it is a file: a FIFO in its place must not
    // stop the program.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT && !QFileInfo(path).isSymLink()) {
            *doc = IniDocument();
            doc->setHeadComment(headComment());
            return true;
        }
        *error = QStringLiteral("cannot read %1: %2")
                     .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *error = QStringLiteral("cannot read %1: not a regular file").arg(path);
        return false;
    }
    QFile f;
    if (!f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        *error = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
        return false;
    }
    *doc = IniDocument::parse(f.readAll());
    if (f.error() != QFileDevice::NoError) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
        return false;
    }
    if (doc->isEmpty()) doc->setHeadComment(headComment());
    return true;
}

struct MemoryStore {
    QMutex mutex;
    IniDocument doc;
};

MemoryStore& classesStore() {
    static MemoryStore store;
    return store;
}

bool writableFolderFor(const QString& path) {
    QString p = QFileInfo(path).absolutePath();
    while (!QFileInfo::exists(p)) {
        const QString up = QFileInfo(p).path();
        if (up == p) return false;
        p = up;
    }
    return ::access(QFile::encodeName(p).constData(), W_OK | X_OK) == 0;
}

} // namespace

QString IniKeyStore::storePath(reg::TRegRoots root) {
    switch (root) {
    case reg::CURRENT_USER:
        return userConfigFolder() + QLatin1String("/Tarnwick/Tarnwick.ini");
    case reg::LOCAL_MACHINE:
        return machineStorePath();
    default:
        return QString();
    }
}

void registerAutomationClass(const QString& progId) {
    MemoryStore& s = classesStore();
    QMutexLocker lock(&s.mutex);
    s.doc.createKey(IniDocument::normalizePath(progId));
}

void unregisterAutomationClass(const QString& progId) {
    MemoryStore& s = classesStore();
    QMutexLocker lock(&s.mutex);
    s.doc.deleteKey(IniDocument::normalizePath(progId));
}

namespace {
template <typename Change> void apply(IniDocument& doc, const Change& c) {
    switch (c.kind) {
    case Change::CreateKey:
        doc.createKey(c.path);
        break;
    case Change::DeleteKey:
        doc.deleteKey(c.path);
        break;
    case Change::SetValue:
        doc.setValue(c.path, c.name, c.value);
        break;
    case Change::DeleteValue:
        doc.removeValue(c.path, c.name);
        break;
    }
}
} // namespace

IniKeyStore::IniKeyStore(reg::TRegRoots root) : m_root(root) {}

IniKeyStore::~IniKeyStore() {
    if (!flush()) qWarning("Tarnwick: settings not saved: %s", qPrintable(m_error));
}

bool IniKeyStore::rootAvailable() const {
    return kindOf(m_root) != StoreKind::None;
}

bool IniKeyStore::isWritable() const {
    switch (kindOf(m_root)) {
    case StoreKind::None:
        return false;
    case StoreKind::Memory:
        return true;
    case StoreKind::File:
        break;
    }
    const QString path = storePath(m_root);
    const QFileInfo info(path);
    if (info.exists())
        return ::access(QFile::encodeName(path).constData(), W_OK) == 0 &&
               writableFolderFor(info.canonicalFilePath());
    return writableFolderFor(path);
}

void IniKeyStore::refresh() {
    const StoreKind kind = kindOf(m_root);
    if (kind == StoreKind::None) return;
    IniDocument doc;
    if (kind == StoreKind::Memory) {
        MemoryStore& s = classesStore();
        QMutexLocker lock(&s.mutex);
        doc = s.doc;
    } else {
        const QString path = storePath(m_root);
        const QString sig = fileSignature(path);
        if (m_loaded && !m_loadFailed && sig == m_signature) return;
        m_loadFailed = !loadFile(path, &doc, &m_loadError);
        if (m_loadFailed) m_error = m_loadError;
        m_signature = sig;
    }
    for (const Change& c : std::as_const(m_pending))
        apply(doc, c);
    m_view = doc;
    m_loaded = true;
}

QString IniKeyStore::resolve(const QString& key) const {
    const bool absolute = key.startsWith(QLatin1Char('\\'));
    const QString rel = IniDocument::normalizePath(key);
    if (absolute || !m_open || m_current.isEmpty()) return rel;
    return rel.isEmpty() ? m_current : m_current + QLatin1Char('\\') + rel;
}

bool IniKeyStore::canChange() {
    if (!rootAvailable()) {
        m_error = QStringLiteral("this root holds no keys");
        return false;
    }
    if (!m_loaded) refresh();
    if (m_loadFailed) return false; // never overwrite a store that could not be read
    if (!isWritable()) {
        m_error = QStringLiteral("%1 cannot be written").arg(storePath(m_root));
        return false;
    }
    return true;
}

bool IniKeyStore::change(const Change& c) {
    apply(m_view, c);
    m_pending.append(c);
    return true;
}

bool IniKeyStore::openKey(const QString& key, bool canCreate) {
    if (!rootAvailable()) {
        m_error = QStringLiteral("this root holds no keys");
        return false;
    }
    const QString path = resolve(key);
    refresh();
    if (!m_view.keyExists(path)) {
        if (!canCreate) {
            m_error = QStringLiteral("no key %1").arg(path);
            return false;
        }
        if (!canChange()) return false;
        change(Change{Change::CreateKey, path, {}, {}});
    }
    m_open = true;
    m_readOnlyKey = false;
    m_current = path;
    return true;
}

QString IniKeyStore::readError() {
    if (kindOf(m_root) != StoreKind::File) return {};
    refresh();
    return m_loadFailed ? m_loadError : QString();
}

bool IniKeyStore::openKeyReadOnly(const QString& key) {
    if (!openKey(key, false)) return false;
    m_readOnlyKey = true;
    return true;
}

void IniKeyStore::closeKey() {
    m_open = false;
    m_readOnlyKey = false;
    m_current.clear();
}

bool IniKeyStore::keyExists(const QString& key) {
    if (!rootAvailable()) return false;
    const QString path = resolve(key);
    refresh();
    return m_view.keyExists(path);
}

bool IniKeyStore::createKey(const QString& key) {
    const QString path = resolve(key);
    if (!canChange()) return false;
    refresh();
    if (!m_view.keyExists(path)) change(Change{Change::CreateKey, path, {}, {}});
    return true;
}

bool IniKeyStore::deleteKey(const QString& key) {
    const QString path = resolve(key);
    if (path.isEmpty() || !canChange()) return false;
    refresh();
    if (!m_view.keyExists(path)) {
        m_error = QStringLiteral("no key %1").arg(path);
        return false;
    }
    return change(Change{Change::DeleteKey, path, {}, {}});
}

bool IniKeyStore::valueExists(const QString& name) const {
    return m_open && m_view.value(m_current, name).has_value();
}

std::optional<QString> IniKeyStore::readString(const QString& name) const {
    if (!m_open) return std::nullopt;
    return m_view.value(m_current, name);
}

bool IniKeyStore::writeString(const QString& name, const QString& value) {
    if (!m_open || m_readOnlyKey) {
        m_error = QStringLiteral("no key open for writing");
        return false;
    }
    if (!canChange()) return false;
    return change(Change{Change::SetValue, m_current, name, value});
}

bool IniKeyStore::deleteValue(const QString& name) {
    if (!m_open || m_readOnlyKey) {
        m_error = QStringLiteral("no key open for writing");
        return false;
    }
    if (!m_view.value(m_current, name)) return false;
    if (!canChange()) return false;
    return change(Change{Change::DeleteValue, m_current, name, {}});
}

QStringList IniKeyStore::keyNames() const {
    return m_open ? m_view.childKeys(m_current) : QStringList();
}

QStringList IniKeyStore::valueNames() const {
    return m_open ? m_view.valueNames(m_current) : QStringList();
}

bool IniKeyStore::flush() {
    if (m_pending.isEmpty()) return true;
    const StoreKind kind = kindOf(m_root);
    if (kind == StoreKind::Memory) {
        MemoryStore& s = classesStore();
        QMutexLocker lock(&s.mutex);
        for (const Change& c : std::as_const(m_pending))
            apply(s.doc, c);
        m_view = s.doc;
        m_pending.clear();
        return true;
    }
    if (kind != StoreKind::File) return false;

    // Apply our changes to the store as it is now, not as we read it, with other writers waiting.
    const QString path = storePath(m_root);
    const FolderLock lock(QFileInfo(path).absolutePath(), modesFor(m_root).folder);
    if (!lock.isLocked()) {
        m_error = lock.error();
        return false;
    }
    IniDocument doc;
    if (!loadFile(path, &doc, &m_error)) return false;
    for (const Change& c : std::as_const(m_pending))
        apply(doc, c);
    if (!writeFileAtomically(path, doc.serialize(), &m_error, modesFor(m_root))) return false;
    m_pending.clear();
    m_view = doc;
    m_signature = fileSignature(path);
    m_loaded = true;
    m_loadFailed = false;
    return true;
}

} // namespace tarnwick
