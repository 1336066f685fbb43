// tarnwick-jet compact / repair: the commands that write a database.

#include "tools/jet/maintain.h"

#include "jet/compact.h"
#include "tools/common/cli.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

using namespace tarnwick::jet;

namespace {

constexpr int kDone = 0;
constexpr int kRefused = 1;
constexpr int kUnreadable = 2;

int usage(const std::string& why) {
    return tarnwick::cli::badUse("tarnwick-jet", why);
}

// A file that cannot be opened or parsed at all is "cannot be read"; anything later is a
// refusal or failure with the original untouched.
bool unreadable(const JetError& e) {
    return e.structure() == "file" || e.structure() == "database definition page" ||
           (e.structure() == "table definition" && e.page() == 2) || e.structure() == "catalog";
}

// A report that could not be written (a full disk, a closed pipe) fails a command that succeeded.
int finish(int status) {
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "tarnwick-jet: cannot write to standard output\n";
        return status == kDone ? kRefused : status;
    }
    return status;
}

} // namespace

int rewriteFailed(const char* file) {
    try {
        throw;
    } catch (const DatabaseInUse& e) {
        std::cerr << "tarnwick-jet: " << file << ": " << e.detail() << "\n";
        return kRefused;
    } catch (const RewriteRefused& e) {
        std::cerr << "tarnwick-jet: " << e.detail() << "\n";
        return kRefused;
    } catch (const DatabaseEncrypted& e) {
        std::cerr << "tarnwick-jet: " << file << " " << e.detail() << "\n";
        return kUnreadable;
    } catch (const JetError& e) {
        std::cerr << "tarnwick-jet: " << file << ": " << e.what() << "\n";
        return unreadable(e) ? kUnreadable : kRefused;
    } catch (const std::exception& e) {
        std::cerr << "tarnwick-jet: " << file << ": " << e.what() << "\n";
        return kRefused;
    }
}

int runCompact(int argc, const char* const* argv) {
    CompactOptions options;
    const char* file = nullptr;
    const char* out = nullptr;
    bool encrypt = false, decrypt = false, optionsEnded = false;
    for (int i = 0; i < argc; ++i) {
        const std::string a = argv[i];
        if (!optionsEnded && a == "--")
            optionsEnded = true;
        else if (optionsEnded || a.empty() || a[0] != '-') {
            if (file) return usage("compact takes one database file");
            file = argv[i];
        } else if (a == "--encrypt")
            encrypt = true;
        else if (a == "--decrypt")
            decrypt = true;
        else if (a == "--memory") {
            if (i + 1 >= argc) return usage("--memory needs a size in MiB");
            const std::string v = argv[++i];
            char* end = nullptr;
            errno = 0;
            const unsigned long m = std::strtoul(v.c_str(), &end, 10);
            if (v.empty() || v[0] < '0' || v[0] > '9' || *end || errno ||
                m < CompactOptions::kMinMemoryMiB || m > (1u << 20))
                return usage("--memory takes a size in MiB from " +
                             std::to_string(CompactOptions::kMinMemoryMiB) + " to 1048576");
            options.memoryMiB = static_cast<unsigned>(m);
        } else if (a == "--out") {
            if (i + 1 >= argc) return usage("--out needs a file name");
            out = argv[++i];
        } else
            return usage("unknown option " + a);
    }
    if (!file) return usage("compact needs a database file");
    if (encrypt && decrypt) return usage("--encrypt and --decrypt exclude each other");
    options.encoding = encrypt   ? PageEncoding::Encrypt
                       : decrypt ? PageEncoding::Decrypt
                                 : PageEncoding::Keep;
    try {
        const CompactReport r = out ? compact(file, out, options) : compactInPlace(file, options);
        for (const auto& line : r.lines)
            std::cout << line << "\n";
        if (r.alreadyCompact) std::cout << file << ": already compact, left as it was\n";
        return finish(kDone);
    } catch (const std::exception&) {
        return rewriteFailed(file);
    }
}

int runRepair(int argc, const char* const* argv) {
    const char* file = nullptr;
    bool optionsEnded = false;
    for (int i = 0; i < argc; ++i) {
        if (!optionsEnded && std::strcmp(argv[i], "--") == 0) {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && argv[i][0] == '-' && argv[i][1] != '\0')
            return usage(std::string("unknown option ") + argv[i]);
        if (file) return usage("repair takes one database file");
        file = argv[i];
    }
    if (!file) return usage("repair needs a database file");
    try {
        const RepairReport r = repair(file);
        for (const auto& line : r.lines)
            std::cout << line << "\n";
        if (r.lost) {
            std::cerr << "tarnwick-jet: " << file << ": a repair would lose " << r.lossSummary
                      << "; left as it was, the salvaged copy is " << r.salvaged << "\n";
            return finish(kRefused);
        }
        if (!r.repaired) std::cout << file << ": nothing to repair\n";
        return finish(kDone);
    } catch (const std::exception&) {
        return rewriteFailed(file);
    }
}
