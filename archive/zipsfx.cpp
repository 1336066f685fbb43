// Making a self-extracting archive: our extractor program (the stub) followed by a block of
// settings; the zip library then adds the archive behind them.
#include "archive/ziparchiver.h"
#include "archive/zipmessages.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifndef TARNWICK_LIB_DIR
#define TARNWICK_LIB_DIR ""
#endif
#ifndef TARNWICK_INSTALLED_LIB_DIR
#define TARNWICK_INSTALLED_LIB_DIR ""
#endif

QByteArray SfxSettingsBlock(int options, int overwriteMode, const QStringList& texts) {
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

int TZipArchiver::ConvertToSFX() {
    QStringList candidates{m_sfxPath};
    // The installed stub lies in the package's private folder, relative to the program.
    const QString programDir = QCoreApplication::applicationDirPath();
    const QString installed = QStringLiteral(TARNWICK_INSTALLED_LIB_DIR).isEmpty()
                                  ? QString()
                                  : programDir + QStringLiteral("/" TARNWICK_INSTALLED_LIB_DIR);
    const QStringList folders{QDir::currentPath(), programDir, installed,
                              QString::fromUtf8(TARNWICK_LIB_DIR), m_dllDirectory};
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
    if (stub.isEmpty()) {
        ShowZipMessage(ZipMsg::SfxNoStub, QString());
        return ZipMsg::SfxNoStub;
    }
    QFile in(stub);
    if (!in.open(QIODevice::ReadOnly)) {
        ShowZipMessage(ZipMsg::SfxStubRead, QString());
        return ZipMsg::SfxStubRead;
    }
    const QByteArray program = in.readAll();
    QSaveFile out(m_zipFileName);
    if (!out.open(QIODevice::WriteOnly) || out.write(program) != program.size() ||
        out.write(SfxSettingsBlock(
            static_cast<int>(m_sfxOptions), static_cast<int>(m_sfxOverWriteMode),
            {m_sfxCaption, m_sfxDefaultDir, m_sfxCommandLine, m_sfxMessage})) < 0 ||
        !out.commit()) {
        ShowZipMessage(ZipMsg::SfxWriteFailed, QString());
        return ZipMsg::SfxWriteFailed;
    }
    QFile::setPermissions(m_zipFileName, QFile::permissions(m_zipFileName) | QFileDevice::ExeOwner |
                                             QFileDevice::ExeGroup | QFileDevice::ExeOther);
    return 0;
}
