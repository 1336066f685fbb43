#pragma once

// Checks that a backup holds what it should, reading it back from disk.

#include <QString>

namespace tarnwick::jobs {

// Empty when `archive` opens as a zip archive, every entry reads back with a matching CRC, and
// one entry named after `source` holds exactly its bytes; otherwise what is wrong. `sha256` gets
// that entry's SHA-256 in hex.
QString checkArchive(const QString& archive, const QString& source, QByteArray* sha256 = nullptr);
// Empty when `copy` has exactly the bytes of `source`; otherwise what differs. `sha256` gets the
// copy's SHA-256 in hex.
QString compareFiles(const QString& source, const QString& copy, QByteArray* sha256 = nullptr);

} // namespace tarnwick::jobs
