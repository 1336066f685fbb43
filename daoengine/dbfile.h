#pragma once

#include "jet/format.h"

#include <QString>

#include <string>

namespace tarnwick::daoengine {

// The engine versions this program provides: 3.5 (Access 97), 3.6 (Access 2000) and 12.0
// (Access 2007 and later).
enum class EngineVersion { V35, V36, V120 };

// What the first bytes of a database file say: its layout and, for an Access 2007+ file, its
// ACE version (0 for Jet 3 and Jet 4 files).
struct FileFormat {
    jet::Version version = jet::Version::Jet4;
    int aceVersion = 0;
};

// The engine's messages about database files, in one place so callers and tests agree.
namespace message {
QString notFound(const QString& path);
QString notDatabase(const QString& path, const QString& why);
// Names the engine the file needs, for the 3.5 and 3.6 engines.
QString formatNotRecognised(const QString& path, EngineVersion engine, const FileFormat& format);
QString inUse(const QString& path);
QString wrongPassword(const QString& path);
// An ACE file encrypted with a database password: `detail` is the Jet engine's text.
QString encrypted(const QString& path, const std::string& detail);
} // namespace message

// Reads the format of a database file without blocking on anything that is not a regular file.
// Throws EAutomationError with one of the messages above.
FileFormat probeDatabaseFile(const QString& path);

// Refuses what the real engine of that version cannot open: Jet 4 files to the 3.5 engine, ACE
// files to the 3.5 and 3.6 engines.
void requireEngineReads(EngineVersion engine, const FileFormat& format, const QString& path);

// A whole-file lock held while a database is open: exclusive (write lock, so the file must be
// writable) for an exclusive open, shared otherwise; an exclusive holder and everyone else, the
// engine's compaction and repair included, exclude each other.
class FileLock {
public:
    FileLock() = default;
    FileLock(const QString& path, bool exclusive); // throws EAutomationError (in use, not found)
    ~FileLock();
    FileLock(FileLock&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    void release();

private:
    int m_fd = -1;
};

// The value of a "key=value" part of a connect text (";pwd=secret;UID=x"), matched without
// regard to case; "" when absent.
QString connectValue(const QString& connect, const QString& key);

} // namespace tarnwick::daoengine
