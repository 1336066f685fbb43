// Repair and compaction of closed database files.

#include "dao/ovdaodatabase.h"

#include "daoengine/dbfile.h"
#include "jet/compact.h"
#include "jet/permissions.h"
#include "platform/posix/tempfiles.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarnwick;
using namespace tarnwick::automation;

namespace {

// The folder part of a file name, up to its last separator; "" when it has none.
QString folderOf(const QString& fileName) {
    const qsizetype slash = fileName.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : fileName.left(slash + 1);
}

constexpr int kAce12Version = 128;

// Whether the file is already an Access 2007+ file; what cannot be read is the engine's to say.
bool isAceFile(const QString& path) {
    try {
        return daoengine::probeDatabaseFile(path).aceVersion != 0;
    } catch (const std::exception&) {
        return false;
    }
}

QString accdbBeside(const QString& path) {
    return QFile::decodeName(
        QByteArray::fromStdString(jet::accdbBeside(QFile::encodeName(path).toStdString())));
}

// Removes what the engine left under the temporary name, if it is a plain file.
void removeLeftover(const QString& path) {
    struct stat st {};
    const QByteArray p = QFile::encodeName(path);
    if (::lstat(p.constData(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(p.constData());
}

} // namespace

int TOvDaoDatabase::CompactOptionsValue(bool encrypt, bool decrypt, int version) {
    int options = 0;
    if (encrypt) options = 2;
    if (decrypt) options = 4;
    if (version != 0) options += version;
    return options;
}

// The 3.6 and 12.0 engines have no repair of their own: their compaction repairs.
void TOvDaoDatabase::RepairDatabaseFile(const QString& fileName, const QString& password) {
    if (m_version == QLatin1String("3.5"))
        Call(m_engine, QStringLiteral("RepairDatabase"), {fileName});
    else
        CompactDatabaseFile(fileName, password);
}

void TOvDaoDatabase::CompactDatabaseFile(const QString& fileName, const QString& password) {
    compactThroughTemp("CompactDatabaseFile", fileName, password, Missing(), Missing());
}

void TOvDaoDatabase::CompactDatabaseFileWithOptions(const QString& fileName, const QString& locale,
                                                    bool encrypt, bool decrypt, int version,
                                                    const QString& password) {
    // An Access 2007 file is a new file with a new name: the .mdb stays as it is.
    if (version == kAce12Version && !isAceFile(fileName)) {
        const QString connect = password.isEmpty() ? QString() : QStringLiteral(";pwd=") + password;
        // The engine refuses a target that exists, never writes through a link, and removes
        // what it wrote when anything fails.
        Call(m_engine, QStringLiteral("CompactDatabase"),
             {fileName, accdbBeside(fileName), locale,
              CompactOptionsValue(encrypt, decrypt, version), connect});
        return;
    }
    compactThroughTemp("CompactDatabaseFileWithOptions", fileName, password, locale,
                       CompactOptionsValue(encrypt, decrypt, version));
}

void TOvDaoDatabase::compactThroughTemp(const char* operation, const QString& fileName,
                                        const QString& password, const QVariant& locale,
                                        const QVariant& options) {
    const QString where = QStringLiteral("TOvDaoDatabase.%1: ").arg(QLatin1String(operation));
    // Refused before anything is written when the file could not keep its owner, group or
    // permissions; other faults (a missing file) are the engine's to report.
    try {
        jet::requireKeepable(QFile::encodeName(fileName).toStdString(), "compacting");
    } catch (const jet::RewriteRefused& e) {
        throw EDatabaseError(where + QString::fromUtf8(e.detail().c_str()));
    } catch (const jet::JetError&) {
    }
    QString folder = folderOf(fileName);
    if (folder.isEmpty()) folder = QDir::currentPath() + QLatin1Char('/');
    // The engine writes the only copy beside the file, under a name that the next writer in
    // this folder removes when a kill left it behind; a signal that ends us removes it at once.
    const auto noName = [&](int error) {
        return EDatabaseError(where + QStringLiteral("No temporary file can be created in %1: %2")
                                          .arg(QDir::toNativeSeparators(folder),
                                               QString::fromLocal8Bit(std::strerror(error))));
    };
    const posix::UniqueFd dir(
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) throw noName(errno);
    const posix::TempNaming naming;
    posix::sweepOrphans(dir.get(), naming);
    std::string name;
    posix::SignalCleanup cleanup;
    if (!posix::createTemp(dir.get(), naming, &name, &cleanup)) throw noName(errno);
    // The engine creates the compacted copy itself, so the placeholder goes at once.
    const QString temp = folder + QFile::decodeName(name.c_str());
    if (::unlinkat(dir.get(), name.c_str(), 0) != 0 && errno != ENOENT)
        throw EDatabaseError(where + QStringLiteral("The temporary file %1 cannot be removed.")
                                         .arg(QDir::toNativeSeparators(temp)));
    const QString connect = password.isEmpty() ? QString() : QStringLiteral(";pwd=") + password;
    try {
        Call(m_engine, QStringLiteral("CompactDatabase"),
             {fileName, temp, locale, options, connect});
    } catch (...) {
        removeLeftover(temp);
        throw;
    }
    // The copy replaces the file only after it was verified, in one step; on failure the file
    // keeps its old contents and the copy is gone.
    try {
        jet::replaceDatabase(QFile::encodeName(fileName).toStdString(),
                             QFile::encodeName(temp).toStdString());
    } catch (const jet::RewriteRefused& e) {
        removeLeftover(temp);
        throw EDatabaseError(where + QString::fromUtf8(e.detail().c_str()));
    } catch (const std::exception& e) {
        removeLeftover(temp);
        throw EDatabaseError(
            where + QStringLiteral("The compacted copy did not replace %1: %2")
                        .arg(QDir::toNativeSeparators(fileName), QString::fromUtf8(e.what())));
    }
}
