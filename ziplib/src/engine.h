// The library's own view of a command, independent of the record form it came in.
#pragma once

#include "ziplib.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ziplib {

struct SpecItem {
    std::string file_spec;
    std::optional<std::string> password; // own or the command's; nullopt: none given
    bool encrypt = false;
    bool recurse = false;
    std::string rootDir;
};

struct Job {
    ZipCallbackFn callback = nullptr;
    void* caller = nullptr;
    bool trace = false;
    bool verbose = false;
    int level = 6;
    std::vector<std::string> storeSuffixes; // lower case, with the leading full stop
    bool systemFiles = false;
    bool noDirEntries = true;
    bool junkDirs = false;
    bool grow = true;
    bool forceDos = false;
    bool move = false;
    bool deleteEntries = false;
    bool update = false;
    bool freshen = false;
    bool latestTime = false;
    std::string archive;
    std::string tempDir;
    std::optional<std::string> archiveComment;
    std::vector<SpecItem> specs;
    std::vector<std::string> exclusions;
    // Worker threads for deflate; 0 means one per core.
    unsigned threads = 0;
};

// Splits one raw line (long form) into a file_spec as the archiver does for the short form:
// a leading '>' or '|' sets or clears recursion, '<' starts the line's own password.
SpecItem parseSpecLine(const std::string& line, bool recurse, bool encrypt,
                       const std::optional<std::string>& password);

// Reads either record form into a job; false when the record is not understood.
bool readCommand(const void* command, Job& job, std::string& error);

// Runs a job; returns the number of files added (0 on failure or stop).
int32_t run(const Job& job);

// The exported entry point, catching everything at the boundary.
int32_t execute(void* command);

} // namespace ziplib
