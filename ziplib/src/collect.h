// Turns file patterns into the list of files and folders to add, with the names
// they get in the archive.
#pragma once

#include "engine.h"

#include <string>
#include <sys/stat.h>
#include <vector>

namespace ziplib {

class Reporter;

struct Candidate {
    std::string path; // on the file system
    std::string name; // in the archive ("dir/" for a folder entry)
    bool isDir = false;
    const SpecItem* file_spec = nullptr;
    struct stat st {};
};

// '*' matches any run of characters (also '/'), '?' any one character.
bool wildMatch(const char* pattern, const char* text);
bool hasWildcards(const std::string& s);

// Archive name of a file-system path as given by the user: no leading '/', no "." or
// ".." parts; junked to the last part, or to an MS-DOS 8.3 upper-case form.
std::string entryName(const std::string& namePath, bool junkDirs, bool forceDos);
std::string dosName(const std::string& part);

// Finds every file the job names. Unmatched or unreadable names are reported as
// warnings and skipped; false when the caller asked to stop.
bool collect(const Job& job, Reporter& reporter, std::vector<Candidate>& out);

} // namespace ziplib
