#pragma once

// The numbered messages of the zip archiver and the exception that carries one.

#include <QString>

#include <exception>

namespace ZipMsg {
enum : int {
    AddException = 10101,
    NoZipFileName = 10102,
    OutOfMemory = 10103,
    PasswordMismatch = 10104,
    CopyingPrefix = 10105,
    PasswordUnattendedConfirm = 10150,
    PasswordUnattended = 10151,
    PasswordOk = 10152,
    PasswordCancel = 10153,
    PasswordTitle = 10154,
    PasswordPrompt = 10155,
    PasswordConfirmPrompt = 10156,
    DirSeekRead = 10201,
    DirOther = 10202,
    DirStartMismatch = 10203,
    DataAfterEnd = 10204,
    NothingToAdd = 10301,
    EncryptNoPassword = 10302,
    SpanWithUpdate = 10303,
    SfxFailed = 10304,
    LibraryLoaded = 10601,
    NoZipLibExec = 10602,
    NoGetZipLibVersion = 10603,
    LibraryNotLoaded = 10604,
    SfxWriteFailed = 10801,
    SfxNoStub = 10802,
    SfxStubRead = 10803,
    SpanReadTemp = 11001,
    SpanNoTemp = 11002,
    SpanWriteFailed = 11003,
    SpanAborted = 11007,
    SpanBadHeader = 11015,
    SpanOther = 11024,
    SpanNoRoom = 11032,
    SpanInsertLast = 11033,
    SpanInsertOf = 11034,
    SpanInDrive = 11035,
    SpanOverwriteFile = 11039,
    SpanOverwriteDisk = 11040,
    SpanExe = 11041,
    SpanNoFormat = 11042,
    SpanInsert = 11046,
    SpanCentralDir = 11047,
};
}

// The text of a message number: our own table, else the fallback that names the number.
QString ZipMessageText(int number);
// The text with "%s" replaced by `arg`, or its first two "%d" (or "%.1d") by `a` and `b`.
QString ZipMessageWith(int number, const QString& arg);
QString ZipMessageWith(int number, int a, int b = 0);
// Whether the table has a text for the number.
bool HasZipMessageText(int number);
// "The message table is probably not linked to the executable\nMissing String ID is: N"
QString ZipFallbackText(int number);

// A fault of the archiver: a message number, its text and whether it is shown in a box.
class EZipArchiver : public std::exception {
public:
    EZipArchiver(int number, bool display);
    EZipArchiver(int number, int argument);
    EZipArchiver(int number, const QString& argument);

    const QString& Message() const { return m_message; }
    bool Display() const { return m_display; }
    int Number() const { return m_number; }
    const char* what() const noexcept override { return m_what.constData(); }

private:
    QString m_message;
    QByteArray m_what;
    bool m_display;
    int m_number;
};
