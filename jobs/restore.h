#pragma once

// Puts a backup Tarnwick made back in place (tarnwick-run restore) and lists the backups of
// the saved databases (tarnwick-run backups). Lines go to standard output, errors to standard
// error; the return value is the exit status (HeadlessStatus).

#include "jobs/savedsettings.h"

namespace tarnwick::jobs {

struct RestoreRequest {
    QString backup; // an archive or a plain copy
    QString to;     // empty: the source path the backup recorded
    bool dryRun = false;
};

// Verifies the backup against its record (CRC and SHA-256), writes it beside the target under
// a temporary name, checks a database with the engine, keeps the file it replaces as
// NAME.before-restore-YYYYMMDD-HHMMSS.EXT (a second name of the same file) and renames the new
// one into place. 0 restored (or would be, with dryRun), 1 refused or failed with nothing
// changed.
int runRestore(const RestoreRequest& request);

// Lists the backups of `database` (empty: each saved backup file) in the saved backup folder,
// newest first: when, size, kind, whether the recorded checksum still matches, and the path.
int listBackups(const SavedSettings& settings, const QString& database);

} // namespace tarnwick::jobs
