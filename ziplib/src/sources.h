// libzip sources: one for each file going into the archive (compressed on all cores,
// progress and stop through the callback), one for the archive itself (written to a
// temporary file, checked, flushed and only then renamed over the old archive).
#pragma once

#include <zip.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <sys/types.h>

namespace ziplib {

class DeflatePool;
class Reporter;

struct FileInput {
    std::string path;      // file to read
    std::string entryName; // name reported to the callback
    uint64_t size = 0;
    time_t mtime = 0;
    bool store = false; // stored as is, else deflated here
    int level = 6;
};

// Creates the data source of one entry; null with `error` set on failure.
zip_source_t* createFileSource(const FileInput& in, DeflatePool& pool, Reporter& reporter,
                               zip_error_t* error);

// Creates the archive source for `path`; temporary files go to `tempDir` when given,
// else beside the archive. `privacy` holds the group and other permission bits every new
// content allows (a bit missing from any source file is missing from the archive).
zip_source_t* createArchiveSink(const std::string& path, const std::string& tempDir, mode_t privacy,
                                zip_error_t* error);

} // namespace ziplib
