// tarnwick-jet convert FILE --to 2000|2007 [--out NEWFILE]

#include "tools/jet/convert.h"

#include "jet/compact.h"
#include "jet/database.h"
#include "jet/header.h"
#include "tools/common/cli.h"
#include "tools/jet/maintain.h"

#include <iostream>
#include <string>

using namespace tarnwick::jet;

namespace {

constexpr int kDone = 0;
constexpr int kRefused = 1;

int usage(const std::string& why) {
    return tarnwick::cli::badUse("tarnwick-jet", why);
}

} // namespace

int runConvert(int argc, const char* const* argv) {
    const char* file = nullptr;
    const char* out = nullptr;
    std::string to;
    bool optionsEnded = false;
    for (int i = 0; i < argc; ++i) {
        const std::string a = argv[i];
        if (!optionsEnded && a == "--")
            optionsEnded = true;
        else if (optionsEnded || a.empty() || a[0] != '-') {
            if (file) return usage("convert takes one database file");
            file = argv[i];
        } else if (a == "--to") {
            if (i + 1 >= argc) return usage("--to needs 2000 or 2007");
            to = argv[++i];
        } else if (a == "--out") {
            if (i + 1 >= argc) return usage("--out needs a file name");
            out = argv[++i];
        } else
            return usage("unknown option " + a);
    }
    if (!file) return usage("convert needs a database file");
    if (to != "2000" && to != "2007") return usage("--to takes 2000 or 2007");
    CompactOptions options;
    options.formatVersion = to == "2000" ? 64 : 128;
    // To ACE the file's name changes, so the source always stays.
    std::string target = out ? out : to == "2007" ? accdbBeside(file) : std::string();
    try {
        {
            const auto db = Database::open(file);
            const DatabaseHeader& h = db->header();
            const bool already =
                to == "2000" ? h.version == Version::Jet4 && h.aceVersion == 0 : h.aceVersion == 12;
            if (already) {
                std::cout << file << " is already " << formatName(h) << "; nothing to convert\n";
                std::cout.flush();
                return std::cout ? kDone : kRefused;
            }
        }
        const CompactReport r =
            target.empty() ? compactInPlace(file, options) : compact(file, target, options);
        for (const auto& line : r.lines)
            std::cout << line << "\n";
        for (const auto& loss : r.losses)
            std::cout << "loss: " << loss << "\n";
        std::cout << (target.empty() ? std::string(file) + " was converted in place"
                                     : std::string(file) + " was converted into " + target +
                                           "; the source is unchanged")
                  << "\n";
        std::cout.flush();
        if (!std::cout) {
            std::cerr << "tarnwick-jet: cannot write to standard output\n";
            return kRefused;
        }
        return kDone;
    } catch (const std::exception&) {
        return rewriteFailed(file);
    }
}
