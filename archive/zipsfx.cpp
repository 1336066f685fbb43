#include "archive/zipsfx.h"

#include "archive/ziplibrary.h"
#include "archive/zipmessages.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

QByteArray settingsBlock(int options, int overwriteMode, const QStringList& texts) {
    QByteArray b("MPV");
    b += static_cast<char>((options & 0x3F) | ((overwriteMode & 3) << 6));
    for (const auto& t : texts) {
        const QByteArray bytes = t.toUtf8().left(255);
        b += static_cast<char>(bytes.size());
        b += bytes;
    }
    while (b.size() % 4)
        b += '\0';
    return b;
}

} // namespace

int WriteSelfExtractor(const SelfExtractor& sfx) {
    QStringList candidates{sfx.stubPath};
    // The installed stub lies beside the zip library, in the package's private folder.
    const QStringList folders = QStringList{QDir::currentPath()} + ZipLibrary::PrivateFolders() +
                                QStringList{sfx.libraryFolder};
    for (const auto& d : folders) {
        if (d.isEmpty()) continue;
        candidates << d + QStringLiteral("/ZIPSTUB.BIN") << d + QStringLiteral("/ZipStub.bin");
    }
    QString stub;
    for (const auto& c : candidates) {
        if (!c.isEmpty() && QFileInfo(c).isFile()) {
            stub = c;
            break;
        }
    }
    if (stub.isEmpty()) return ZipMsg::SfxNoStub;
    QFile in(stub);
    if (!in.open(QIODevice::ReadOnly)) return ZipMsg::SfxStubRead;
    const QByteArray program = in.readAll();
    QSaveFile out(sfx.target);
    if (!out.open(QIODevice::WriteOnly) || out.write(program) != program.size() ||
        out.write(settingsBlock(sfx.options, sfx.overwriteMode, sfx.texts)) < 0 || !out.commit())
        return ZipMsg::SfxWriteFailed;
    QFile::setPermissions(sfx.target, QFile::permissions(sfx.target) | QFileDevice::ExeOwner |
                                          QFileDevice::ExeGroup | QFileDevice::ExeOther);
    return 0;
}
