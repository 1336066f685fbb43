// Repair and compaction of closed database files.

#include "dao/ovdaodatabase.h"

#include "jet/compact.h"
#include "platform/tempfilename.h"

#include <QDir>
#include <QFile>

#include <cerrno>
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
    compactThroughTemp("CompactDatabaseFileWithOptions", fileName, password, locale,
                       CompactOptionsValue(encrypt, decrypt, version));
}

void TOvDaoDatabase::compactThroughTemp(const char* operation, const QString& fileName,
                                        const QString& password, const QVariant& locale,
                                        const QVariant& options) {
    const QString where = QStringLiteral("TOvDaoDatabase.%1: ").arg(QLatin1String(operation));
    const QString folder = folderOf(fileName);
    QString error;
    const QString temp = TempFileNames::current().create(
        folder.isEmpty() ? QDir::currentPath() : folder, QStringLiteral("mdb"), &error);
    if (temp.isEmpty()) throw EDatabaseError(where + error);
    // The engine creates the compacted copy itself, so the placeholder goes at once.
    if (::unlink(QFile::encodeName(temp).constData()) != 0 && errno != ENOENT)
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
    } catch (const std::exception& e) {
        removeLeftover(temp);
        throw EDatabaseError(
            where + QStringLiteral("The compacted copy did not replace %1: %2")
                        .arg(QDir::toNativeSeparators(fileName), QString::fromUtf8(e.what())));
    }
}
