#pragma once

#include "jet/pagefile.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarnwick::jet::test {

// The Jet test databases, or an empty list when the shared test data is not there.
std::filesystem::path corpusDir();
std::vector<std::filesystem::path> corpusFiles();
// The Access 2007+ test databases that can be read (not the password-encrypted one).
std::vector<std::filesystem::path> aceCorpusFiles();
std::vector<std::uint8_t> readAll(const std::filesystem::path& p);

// Bytes in memory served through reads into a page cache, not as a mapping: the engine then
// reads pages on one thread only, as it does for encoded files.
std::unique_ptr<ByteSource> unmappedSource(std::vector<std::uint8_t> bytes);

// A test name for a file: its folder and stem, each character outside [A-Za-z0-9] as '_'.
std::string folderAndStem(const std::filesystem::path& p);

// Runs the tests; exits 77 (skip) with a message when the corpus is missing.
int runCorpusTests(int argc, char** argv);
// Runs tests of the Access 2007+ files against a peer; exits 77 (skip) with a message when
// those files are missing or when missingPeer says why the peer cannot run.
int runAceTests(int argc, char** argv, const std::function<std::string()>& missingPeer);

// The independent peer for Jet and ACE files that the shared test data ships.
std::filesystem::path jetpeer();
// A shell command's standard output (and its errors, when asked), and its exit status.
std::string run(const std::string& cmd, int* status = nullptr, bool withErrors = false);
// A word for the shell, quoted so that no character in it is special.
std::string quoted(const std::string& s);
inline std::string quoted(const std::filesystem::path& p) {
    return quoted(p.string());
}

// A minimal JSON reader for one-line objects, enough for exporter and mdb-json output.
struct Json {
    enum class Kind { Null, Bool, Number, String, Object, Array } kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string text; // String; also the literal text of a Number
    std::vector<std::pair<std::string, Json>> members;
    std::vector<Json> items; // Array
    const Json* find(const std::string& key) const;
};
Json parseJson(const std::string& line); // throws std::runtime_error
// The value written back with object keys sorted, so that two printers' rows compare as text.
std::string canonicalJson(const Json& j);

} // namespace tarnwick::jet::test
