// tarnwick-jet: inspect, export and check Jet 3 / Jet 4 / ACE database files without changing
// them.

#include "jet/check.h"
#include "jet/compact.h"
#include "jet/complex.h"
#include "jet/database.h"
#include "jet/header.h"
#include "jet/json.h"
#include "jet/pagefile.h"
#include "jet/tabledef.h"
#include "jet/value.h"
#include "platform/posix/durablereplace.h"
#include "platform/posix/uniquefd.h"
#include "tools/common/cli.h"
#include "tools/jet/convert.h"
#include "tools/jet/maintain.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace tarnwick::jet;

namespace {

constexpr int kOk = 0;
constexpr int kProblems = 1;
constexpr int kUnreadable = 2;

const char kHelp[] = R"(Usage: tarnwick-jet COMMAND [OPTIONS] [--] FILE [TABLE]

Reads Jet 3 (Access 97) and Jet 4 (Access 2000-2003) .mdb files and Access 2007-365 .accdb
files (ACE 12-17; not those encrypted with a database password). Only compact and repair
write; they refuse a database another program holds, and keep the original on any failure.

Commands:
  info FILE                 format, page size, page count, code page, sort order, creation date,
                            and what a compaction would reclaim (estimated)
  tables [--system] FILE    user tables, one per line (--system adds system tables)
  schema FILE [TABLE]       columns and indexes of every table, or of TABLE
  export --json FILE TABLE  one JSON object per row, keys the column names in order
  export --json --out DIR FILE [TABLE...]
                            the same for several tables in one go (all user tables when
                            none is named), each into DIR/TABLE.json (DIR is created)
  check FILE                every structure of the file; problems, then notes, then what a
                            compaction would reclaim (estimated). The file is read through a
                            mapping, so its resident memory (RSS) counts the file's pages it
                            has read, up to about 64 MiB of them at a time (given back as the
                            walk goes on); its own (anonymous) memory stays bounded whatever
                            the file's size: a table keeps up to 512 Ki rows for looking up
                            index entries, and a larger one is read again in windows when an
                            index disagrees with it. An encoded file's pages are decoded into
                            memory a few thousand at a time, an index's pages while it is walked
  compact FILE [--encrypt | --decrypt] [--out NEWFILE] [--memory MIB]
                            rebuilds the file without its free space, verified, in place
                            (or into NEWFILE); --encrypt / --decrypt change the page encoding;
                            --memory bounds the memory it takes (default 256, at least 16):
                            index entries beyond it are sorted through a temporary file beside
                            the new one; the new file is the same whatever the bound
  repair FILE               rebuilds a damaged file keeping every row that reads; does
                            nothing when check finds no problems; a rebuild that would lose
                            anything leaves FILE as it is and is written beside it as
                            NAME.repaired-YYYYMMDD-HHMMSS.EXT
  convert FILE --to 2000|2007 [--out NEWFILE]
                            writes FILE in a newer format, verified: 2000 converts an Access 97
                            (Jet 3) file to Jet 4, in place as compact does unless --out names
                            a new file; 2007 writes an ACE 12 copy of a Jet 4 file as
                            NAME.accdb beside it (or NEWFILE), never over a file that exists.
                            Prints what it did and every loss (a "loss:" line each: bytes the
                            code page does not define become U+FFFD, named by table and column)
  --help                    this text
  --version                 the program's version
  --                        ends the options: what follows are names

Export files are written whole or not at all, never through a symbolic link, and are not more
readable than the database.

Exit status: 0 success (check: no problems; notes allowed), 1 problems found or a table that
does not exist, 2 the file cannot be read or the command line is wrong.
compact: 0 done, 1 refused or failed with the original untouched, 2 the file cannot be read.
repair: 0 nothing to repair or repaired with nothing lost, 1 a repair would lose something
(listed; FILE left as it was, the salvaged copy beside it) or refused, 2 the file cannot be read.
convert: as compact; a conversion that would lose data or go to an older format is refused.
compact and repair refuse a file they could not rewrite keeping its owner, group and permissions.
)";

int usage(const std::string& why) {
    std::cout.flush();
    return tarnwick::cli::badUse("tarnwick-jet", why);
}

// The first failed write to standard output, said once at the end.
int stdoutError = 0;

// Standard output, checked: a write that failed (a full disk, a closed pipe) fails the command.
int finishOutput(int status) {
    int err = stdoutError;
    // A stream that failed earlier: errno still holds the failed write's reason.
    if (!err && !std::cout) err = errno ? errno : EIO;
    if (!err) {
        errno = 0;
        std::cout.flush();
        if (!std::cout) err = errno ? errno : EIO;
    }
    if (!err) {
        errno = 0;
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) err = errno ? errno : EIO;
    }
    if (!err) return status;
    std::cerr << "tarnwick-jet: cannot write to standard output: " << std::strerror(err) << "\n";
    return status == kOk ? kUnreadable : status;
}

std::string sortOrderName(int lcid, int version, Version v) {
    std::string s = std::to_string(lcid);
    if (lcid == 1033)
        s += v == Version::Jet3 ? " (General 97)"
                                : (version == 0 ? " (General Legacy)" : " (General)");
    return s;
}

// What a compaction would win back and where it lies.
void printEstimate(const CompactEstimate& e) {
    std::cout << "compaction estimate: " << e.sizeBefore << " bytes now, about " << e.sizeAfter
              << " after, " << e.reclaimable() << " reclaimed (free pages " << e.freePages
              << ", deleted rows " << e.deletedRows << ", other room on data pages " << e.rowRoom
              << ", index slack " << e.indexSlack << ")\n";
}

int cmdInfo(const Database& db) {
    const auto& h = db.header();
    std::cout << "format: " << formatName(h) << "\n"
              << "page size: " << h.pageSize << "\n"
              << "page count: " << db.file().pageCount() << "\n"
              << "code page: " << h.codePage << "\n"
              << "sort order: " << sortOrderName(h.sortOrder, h.sortOrderVersion, h.version) << "\n"
              << "creation date: "
              << (h.creationDate ? formatDateTime(*h.creationDate) : std::string("none")) << "\n"
              << "encoded: " << (h.databaseKey ? "yes" : "no") << "\n"
              << "password: " << (h.password.empty() ? "no" : "yes") << "\n";
    printEstimate(estimateCompaction(db));
    return kOk;
}

int cmdTables(const Database& db, bool system) {
    for (const auto* t : db.tables(system))
        std::cout << t->name << "\n";
    return kOk;
}

void printSchema(const Database& db, const CatalogEntry& t) {
    const TableDef& def = db.tableDef(t);
    std::cout << "table " << t.name << " (definition page " << def.page << ", " << def.rowCount
              << " rows)\n";
    for (const auto& c : def.columns) {
        std::cout << "  column " << c.number << " " << c.name << ": " << typeName(c.type);
        if (c.type == ColumnType::Text || c.type == ColumnType::Binary)
            std::cout << "("
                      << (c.type == ColumnType::Text && db.format().jet4() ? c.length / 2
                                                                           : c.length)
                      << ")";
        if (c.type == ColumnType::Decimal)
            std::cout << "(" << int(c.precision) << "," << int(c.scale) << ")";
        if (c.flags & colflag::autoLong) std::cout << " autonumber";
        if (c.flags & colflag::autoGuid) std::cout << " auto-guid";
        if (c.isFixed()) std::cout << " fixed";
        if (c.extFlags & 0x01) std::cout << " compressed";
        if (c.isCalculated()) std::cout << " calculated as " << typeName(c.resultType);
        if (c.type == ColumnType::Complex) std::cout << " (complex id " << c.complexId << ")";
        std::cout << "\n";
    }
    for (const auto& li : def.indexes) {
        const RealIndex& ri = def.realIndexes[li.realIndex];
        std::cout << "  index " << li.name << " (";
        for (std::size_t i = 0; i < ri.columns.size(); ++i) {
            const Column* c = def.columnByNumber(ri.columns[i].column);
            std::cout << (i ? ", " : "")
                      << (c ? c->name : "#" + std::to_string(ri.columns[i].column))
                      << (ri.columns[i].ascending ? "" : " desc");
        }
        std::cout << ")";
        if (li.kind == 1) std::cout << " primary";
        if (li.kind == 2) std::cout << " foreign";
        if (ri.flags & idxflag::unique) std::cout << " unique";
        if (ri.flags & idxflag::ignoreNulls) std::cout << " ignore-nulls";
        if (ri.flags & idxflag::required) std::cout << " required";
        std::cout << "\n";
    }
}

int cmdSchema(const Database& db, const char* table) {
    if (table) {
        const auto* t = db.findTable(table);
        if (!t) {
            std::cerr << "tarnwick-jet: no table \"" << table << "\"\n";
            return kProblems;
        }
        printSchema(db, *t);
        return kOk;
    }
    for (const auto* t : db.tables(false))
        printSchema(db, *t);
    return kOk;
}

// Rows of one table as JSON lines, handed to `write` in blocks; false as soon as a write fails.
bool exportRows(const Database& db, const CatalogEntry& t,
                const std::function<bool(const std::string&)>& write) {
    const TableDef& def = db.tableDef(t);
    const ComplexValues complex(db, def);
    std::string out;
    out.reserve(1 << 16);
    bool ok = true;
    db.forEachRow(def, [&](const RowLocation&, const std::vector<Value>& values) {
        appendJsonRow(out, def, values, &complex);
        out += '\n';
        if (out.size() > (1 << 16)) {
            ok = write(out);
            out.clear();
        }
        return ok;
    });
    return ok && write(out);
}

bool exportTable(const Database& db, const CatalogEntry& t, std::FILE* to) {
    const bool ok = exportRows(db, t, [to](const std::string& block) {
        return std::fwrite(block.data(), 1, block.size(), to) == block.size();
    });
    return std::fflush(to) == 0 && ok;
}

int cmdExport(const Database& db, const char* table) {
    const auto* t = db.findTable(table);
    if (!t) {
        std::cerr << "tarnwick-jet: no table \"" << table << "\"\n";
        return kProblems;
    }
    if (exportTable(db, *t, stdout)) return kOk;
    stdoutError = errno;
    return kUnreadable;
}

// Rows of one table into a file through the durable replace.
bool exportTableTo(const Database& db, const CatalogEntry& t,
                   tarnwick::posix::DurableReplace& out) {
    return exportRows(db, t,
                      [&out](const std::string& block) {
                          return out.write(block.data(), block.size());
                      }) &&
           out.commit();
}

// A table name as a file name: path separators and a leading dot would escape or hide the file.
std::string fileNameFor(const std::string& table) {
    std::string n = table;
    for (auto& c : n)
        if (c == '/' || c == '\\' || c == '\0') c = '_';
    if (n.empty() || n[0] == '.') n.insert(n.begin(), '_');
    return n + ".json";
}

int cmdExportAll(const Database& db, const std::string& dir, mode_t databaseMode,
                 const std::vector<const char*>& names) {
    std::vector<const CatalogEntry*> tables;
    if (names.empty()) tables = db.tables(false);
    for (const char* n : names) {
        const auto* t = db.findTable(n);
        if (!t) {
            std::cerr << "tarnwick-jet: no table \"" << n << "\"\n";
            return kProblems;
        }
        tables.push_back(t);
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        std::cerr << "tarnwick-jet: cannot create " << dir << ": " << ec.message() << "\n";
        return kUnreadable;
    }
    const tarnwick::posix::UniqueFd folder(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) {
        std::cerr << "tarnwick-jet: cannot open " << dir << ": " << std::strerror(errno) << "\n";
        return kUnreadable;
    }
    // Never more readable than the database the rows come from.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    tarnwick::posix::ReplaceOptions options;
    options.newFileMode = 0666 & ~mask & (databaseMode | 0600);
    options.followSymlink = false;
    for (const auto* t : tables) {
        const std::string name = fileNameFor(t->name);
        tarnwick::posix::DurableReplace out;
        options.displayName = dir + "/" + name;
        if (!out.openAt(folder.get(), name, options) || !exportTableTo(db, *t, out)) {
            std::cerr << "tarnwick-jet: " << out.errorMessage() << "\n";
            return kUnreadable;
        }
    }
    return kOk;
}

// What the page structures cannot show: a file over the format's size limit, and a file that
// ends in pages of zeros (cut short or padded when it was written, so their contents are gone).
std::vector<std::string> fileProblems(const Database& db, const std::string& path) {
    std::vector<std::string> found;
    const tarnwick::posix::UniqueFd fd(
        ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0) return found;
    const bool jet3 = db.header().version == Version::Jet3;
    const std::uint64_t limit = jet3 ? (1ull << 30) : (1ull << 31);
    const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
    if (size > limit)
        found.push_back("the file is " + std::to_string(size) + " bytes, beyond the " +
                        (jet3 ? "1 GiB limit of Jet 3" : "2 GiB limit of Jet 4"));
    const std::uint32_t pageSize = db.header().pageSize;
    const std::uint64_t pages = size / pageSize;
    std::vector<char> page(pageSize);
    // Where the file system knows of a hole at the end, its pages are zeros without reading them.
    std::uint64_t dataEnd = size;
    for (off_t at = 0;;) {
        const off_t data = ::lseek(fd.get(), at, SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO) dataEnd = static_cast<std::uint64_t>(at);
            break;
        }
        const off_t hole = ::lseek(fd.get(), data, SEEK_HOLE);
        if (hole < 0 || static_cast<std::uint64_t>(hole) >= size) break;
        at = hole;
    }
    const std::uint64_t firstHolePage =
        std::max<std::uint64_t>(1, (dataEnd + pageSize - 1) / pageSize);
    std::uint64_t zero = pages > firstHolePage ? pages - firstHolePage : 0;
    for (std::uint64_t p = pages - zero; p-- > 1;) {
        if (::pread(fd.get(), page.data(), pageSize, static_cast<off_t>(p * pageSize)) !=
            static_cast<ssize_t>(pageSize))
            break;
        bool allZero = true;
        for (char c : page)
            if (c != 0) {
                allZero = false;
                break;
            }
        if (!allZero) break;
        ++zero;
    }
    if (zero > 0)
        found.push_back("the file ends in " + std::to_string(zero) + " page" +
                        (zero == 1 ? "" : "s") + " of zeros (from page " +
                        std::to_string(pages - zero) +
                        "): it was cut short or padded when it was written");
    return found;
}

int cmdCheck(const Database& db, const std::string& path) {
    const CheckReport r = check(db);
    const std::vector<std::string> more = fileProblems(db, path);
    for (const auto& p : more)
        std::cout << "problem: " << p << "\n";
    for (const auto& p : r.problems)
        std::cout << "problem: " << p.text() << "\n";
    for (const auto& n : r.notes)
        std::cout << "note: " << n.text() << "\n";
    std::cout << r.problems.size() + more.size() << " problems, " << r.notes.size() << " notes";
    if (r.sound()) {
        const CompactEstimate e = estimateCompaction(db);
        if (e.reclaimable())
            std::cout << ", " << e.reclaimable() << " bytes a compaction would reclaim";
        std::cout << "\n";
        printEstimate(e);
    } else {
        std::cout << "\n";
    }
    return r.sound() && more.empty() ? kOk : kProblems;
}

} // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    std::vector<const char*> args(argv + 1, argv + argc);
    if (args.empty()) return usage("no command given");
    const std::string cmd = args[0];
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        std::cout << kHelp;
        return finishOutput(kOk);
    }
    if (cmd == "--version") {
        tarnwick::cli::printVersion("tarnwick-jet");
        return finishOutput(kOk);
    }
    if (cmd == "compact") return runCompact(argc - 2, argv + 2);
    if (cmd == "repair") return runRepair(argc - 2, argv + 2);
    if (cmd == "convert") return runConvert(argc - 2, argv + 2);
    bool system = false, json = false;
    const char* outDir = nullptr;
    std::vector<const char*> rest;
    bool optionsEnded = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (optionsEnded || args[i][0] != '-' || args[i][1] == '\0')
            rest.push_back(args[i]);
        else if (std::strcmp(args[i], "--") == 0)
            optionsEnded = true;
        else if (std::strcmp(args[i], "--system") == 0 && cmd == "tables")
            system = true;
        else if (std::strcmp(args[i], "--out") == 0 && cmd == "export" && i + 1 < args.size())
            outDir = args[++i];
        else if (std::strcmp(args[i], "--json") == 0 && cmd == "export")
            json = true;
        else if (std::strcmp(args[i], "--help") == 0) {
            std::cout << kHelp;
            return finishOutput(kOk);
        } else if (std::strcmp(args[i], "--out") == 0 && cmd == "export")
            return usage("--out needs a folder");
        else
            return usage(std::string("unknown option ") + args[i]);
    }
    const std::size_t minArgs = cmd == "export" && !outDir ? 2 : 1;
    const std::size_t maxArgs = outDir ? args.size() : cmd == "export" || cmd == "schema" ? 2 : 1;
    if (cmd != "info" && cmd != "tables" && cmd != "schema" && cmd != "export" && cmd != "check")
        return usage("unknown command " + cmd);
    if (rest.size() < minArgs || rest.size() > maxArgs)
        return usage("wrong number of arguments for " + cmd);
    if (cmd == "export" && !json) return usage("export needs --json");

    std::unique_ptr<Database> db;
    struct stat st {};
    try {
        if (cmd == "check" || cmd == "info") {
            // Read through a mapping, whose pages the system takes back as the walk goes on:
            // read into memory, a large file's pages would all stay.
            const tarnwick::posix::UniqueFd fd(
                ::open(rest[0], O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
            if (!fd)
                throw JetError("file", JetError::noPage,
                               std::string("cannot open ") + rest[0] + ": " + std::strerror(errno));
            db = Database::open(openMappedSource(fd.get(), rest[0]));
        } else {
            db = Database::open(rest[0]);
        }
        if (::stat(rest[0], &st) != 0) st.st_mode = 0600;
    } catch (const DatabaseEncrypted& e) {
        std::cerr << "tarnwick-jet: " << rest[0] << " " << e.detail() << "\n";
        return kUnreadable;
    } catch (const std::exception& e) {
        // The system's message already names the file; the name is not said twice.
        const std::string what = e.what();
        if (what.starts_with("file: "))
            std::cerr << "tarnwick-jet: " << what.substr(6) << "\n";
        else
            std::cerr << "tarnwick-jet: " << rest[0] << ": " << what << "\n";
        return kUnreadable;
    }
    try {
        if (cmd == "info") return finishOutput(cmdInfo(*db));
        if (cmd == "tables") return finishOutput(cmdTables(*db, system));
        if (cmd == "schema")
            return finishOutput(cmdSchema(*db, rest.size() > 1 ? rest[1] : nullptr));
        if (cmd == "export" && outDir)
            return cmdExportAll(*db, outDir, st.st_mode,
                                std::vector<const char*>(rest.begin() + 1, rest.end()));
        if (cmd == "export") return finishOutput(cmdExport(*db, rest[1]));
        return finishOutput(cmdCheck(*db, rest[0]));
    } catch (const std::exception& e) {
        std::cout.flush();
        std::cerr << "tarnwick-jet: " << rest[0] << ": " << e.what() << "\n";
        return cmd == "check" ? kUnreadable : kProblems;
    }
}
