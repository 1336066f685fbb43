#include "archive/zipmessages.h"

#include <QHash>

namespace {

// The texts a user reads. %1 takes the argument where a message has one.
const QHash<int, QString>& table() {
    static const QHash<int, QString> t{
        {ZipMsg::AddException,
         QStringLiteral("The zip archive could not be written because of an unexpected error. ")},
        {ZipMsg::NoZipFileName,
         QStringLiteral("No zip archive name was given, so nothing was added.")},
        {ZipMsg::OutOfMemory,
         QStringLiteral("There was not enough memory to read or copy the zip archive.")},
        {ZipMsg::PasswordMismatch,
         QStringLiteral("The two passwords you typed are not the same. Nothing was encrypted.")},
        {ZipMsg::CopyingPrefix, QStringLiteral("Copying: ")},
        {ZipMsg::PasswordUnattendedConfirm,
         QStringLiteral(
             "A new password was needed while running unattended, so none could be asked for.")},
        {ZipMsg::PasswordUnattended,
         QStringLiteral(
             "A password was needed while running unattended, so none could be asked for.")},
        {ZipMsg::PasswordOk, QStringLiteral("OK")},
        {ZipMsg::PasswordCancel, QStringLiteral("Cancel")},
        {ZipMsg::PasswordTitle, QStringLiteral("Zip Password")},
        {ZipMsg::PasswordPrompt, QStringLiteral("Enter the password:")},
        {ZipMsg::PasswordConfirmPrompt, QStringLiteral("Enter the password again to confirm it:")},
        {ZipMsg::DirSeekRead,
         QStringLiteral("The zip archive's directory could not be read (seek or read error).")},
        {ZipMsg::DirOther, QStringLiteral("The zip archive's directory could not be read: ")},
        {ZipMsg::DirStartMismatch, QStringLiteral("The zip archive's directory is not where its "
                                                  "end record says; it is read from where it "
                                                  "really starts.")},
        {ZipMsg::DataAfterEnd,
         QStringLiteral("There is unexpected data after the end of the zip archive.")},
        {ZipMsg::NothingToAdd,
         QStringLiteral("No files were named, so nothing was added to the zip archive.")},
        {ZipMsg::EncryptNoPassword, QStringLiteral("Encryption was asked for without a password "
                                                   "while running unattended; nothing was added.")},
        {ZipMsg::SpanWithUpdate, QStringLiteral("An archive spread over several disks cannot be "
                                                "updated or freshened; nothing was added.")},
        {ZipMsg::SfxFailed,
         QStringLiteral("The self-extracting archive could not be made (error %1).")},
        {ZipMsg::LibraryLoaded, QStringLiteral("The zip library was loaded.")},
        {ZipMsg::NoZipLibExec,
         QStringLiteral(
             "The zip library has no ZipLibExec entry point; it cannot write archives.")},
        {ZipMsg::NoGetZipLibVersion, QStringLiteral("The zip library has no GetZipLibVersion entry "
                                                    "point; its version cannot be checked.")},
        {ZipMsg::LibraryNotLoaded, QStringLiteral("The zip library (libziplib.so) could not be "
                                                  "loaded, so no zip archive can be written.")},
        {ZipMsg::SfxWriteFailed,
         QStringLiteral("The self-extracting archive could not be written.")},
        {ZipMsg::SfxNoStub, QStringLiteral("The self-extractor program (the stub) was not found.")},
        {ZipMsg::SfxStubRead,
         QStringLiteral("The self-extractor program (the stub) could not be read.")},
        {ZipMsg::SpanReadTemp,
         QStringLiteral("The temporary archive could not be read while copying it onto disks.")},
        {ZipMsg::SpanNoTemp,
         QStringLiteral("No temporary archive could be made for copying onto disks.")},
        {ZipMsg::SpanWriteFailed, QStringLiteral("Writing to the disk failed.")},
        {ZipMsg::SpanAborted,
         QStringLiteral("Copying the archive onto disks was stopped by the user.")},
        {ZipMsg::SpanBadHeader,
         QStringLiteral(
             "The zip archive is damaged: an entry of its directory has no valid signature.")},
        {ZipMsg::SpanOther, QStringLiteral("Copying the archive onto disks failed: ")},
        {ZipMsg::SpanNoRoom, QStringLiteral("This disk has not enough free space available")},
        {ZipMsg::SpanInsertLast, QStringLiteral("Please insert last disk in set")},
        {ZipMsg::SpanInsertOf, QStringLiteral("Please insert disk volume %.1d of %.1d")},
        {ZipMsg::SpanInDrive, QStringLiteral("\nin drive: %s")},
        {ZipMsg::SpanOverwriteFile, QStringLiteral("Overwrite previous file %s")},
        {ZipMsg::SpanOverwriteDisk, QStringLiteral("Overwrite previous disk no %d")},
        {ZipMsg::SpanExe,
         QStringLiteral("A self-extracting (.EXE) archive cannot be spread over several disks.")},
        {ZipMsg::SpanNoFormat, QStringLiteral("Disks cannot be formatted from this program on this "
                                              "system; erase the disk yourself.")},
        {ZipMsg::SpanInsert, QStringLiteral("Please insert disk volume %.1d")},
        {ZipMsg::SpanCentralDir, QStringLiteral("Central directory")},
    };
    return t;
}

} // namespace

QString ZipFallbackText(int number) {
    return QStringLiteral("The message table is probably not linked to the executable\nMissing "
                          "String ID is: ") +
           QString::number(number);
}

bool HasZipMessageText(int number) {
    return table().contains(number);
}

QString ZipMessageText(int number) {
    const auto it = table().find(number);
    return it == table().end() ? ZipFallbackText(number) : *it;
}

QString ZipMessageWith(int number, const QString& arg) {
    QString t = ZipMessageText(number);
    return t.replace(QLatin1String("%s"), arg);
}

QString ZipMessageWith(int number, int a, int b) {
    QString t = ZipMessageText(number);
    t.replace(QLatin1String("%.1d"), QLatin1String("%d"));
    const int first = t.indexOf(QLatin1String("%d"));
    if (first >= 0) t.replace(first, 2, QString::number(a));
    const int second = t.indexOf(QLatin1String("%d"));
    if (second >= 0) t.replace(second, 2, QString::number(b));
    return t;
}

namespace {
QString withArgument(int number, const QString& arg) {
    if (!HasZipMessageText(number))
        return ZipFallbackText(number); // the fallback takes no argument
    QString t = ZipMessageText(number);
    if (t.contains(QLatin1String("%1"))) return t.arg(arg);
    return t + arg;
}
} // namespace

EZipArchiver::EZipArchiver(int number, bool display)
    : m_message(ZipMessageText(number)), m_display(display), m_number(number) {
    m_what = m_message.toUtf8();
}

EZipArchiver::EZipArchiver(int number, int argument)
    : m_message(withArgument(number, QString::number(argument))), m_display(true),
      m_number(number) {
    m_what = m_message.toUtf8();
}

EZipArchiver::EZipArchiver(int number, const QString& argument)
    : m_message(withArgument(number, argument)), m_display(true), m_number(number) {
    m_what = m_message.toUtf8();
}
