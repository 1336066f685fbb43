#include "engine.h"

#include "collect.h"
#include "pdeflate.h"
#include "reporter.h"
#include "sources.h"

#include "platform/posix/updatelock.h"

#include <zip.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace ziplib {

namespace {

std::optional<std::string> text(const char* p) {
    if (!p) return std::nullopt;
    return std::string(p);
}

std::vector<std::string> splitSuffixes(const char* list) {
    std::vector<std::string> out;
    if (!list) return out;
    std::string cur;
    for (const char* p = list;; ++p) {
        if (*p == ':' || *p == ';' || *p == '\0') {
            if (!cur.empty()) {
                if (cur[0] != '.') cur.insert(cur.begin(), '.');
                out.push_back(cur);
            }
            cur.clear();
            if (!*p) break;
        } else {
            cur += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
        }
    }
    return out;
}

void readHead(const ZipCommandHead& h, Job& job) {
    job.callback = h.callback;
    job.caller = h.caller;
    job.trace = h.trace != 0;
    job.verbose = h.verbose != 0 || job.trace;
    job.level = std::clamp(h.level, 0, 9);
    job.storeSuffixes = splitSuffixes(h.store_suffixes);
    job.systemFiles = h.system_files != 0;
    job.noDirEntries = h.no_dir_entries != 0;
    job.junkDirs = h.junk_dirs != 0;
    job.grow = h.grow != 0;
    job.forceDos = h.force_dos != 0;
    job.move = h.move != 0;
    job.deleteEntries = h.delete_entries != 0;
    job.update = h.update != 0;
    job.freshen = h.freshen != 0 && !job.update;
    job.latestTime = h.latest_time != 0;
    job.archive = h.archive_name ? h.archive_name : "";
}

bool endsWithNoCase(const std::string& s, const std::string& suffix) {
    if (suffix.size() > s.size()) return false;
    for (size_t i = 0; i < suffix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(s[s.size() - suffix.size() + i])) != suffix[i])
            return false;
    }
    return true;
}

// Modification times in the archive have a resolution of two seconds.
bool newer(time_t file, time_t entry) {
    return file / 2 > entry / 2;
}

int codeFor(const zip_error_t* e) {
    switch (zip_error_code_zip(e)) {
    case ZIP_ER_CANCELLED:
        return ZIPLIB_E_ABORT;
    case ZIP_ER_WRITE:
    case ZIP_ER_RENAME:
    case ZIP_ER_CLOSE:
    case ZIP_ER_REMOVE:
        return ZIPLIB_E_WRITE;
    case ZIP_ER_READ:
    case ZIP_ER_SEEK:
    case ZIP_ER_TELL:
        return ZIPLIB_E_READ;
    case ZIP_ER_OPEN:
        return ZIPLIB_E_OPEN;
    case ZIP_ER_MEMORY:
        return ZIPLIB_E_MEMORY;
    case ZIP_ER_TMPOPEN:
        return ZIPLIB_E_TEMP;
    case ZIP_ER_NOZIP:
    case ZIP_ER_INCONS:
    case ZIP_ER_COMPRESSED_DATA:
        return ZIPLIB_E_FORMAT;
    default:
        return ZIPLIB_E_LOGIC;
    }
}

std::string describe(const zip_error_t* e) {
    const int sys = zip_error_code_system(e);
    if (zip_error_code_zip(e) == ZIP_ER_WRITE && sys == ENOSPC) return "The disk is full";
    zip_error_t copy;
    zip_error_init_with_code(&copy, zip_error_code_zip(e));
    std::string r;
    if (zip_error_system_type(e) == ZIP_ET_SYS && sys)
        r = std::string(zip_error_strerror(&copy)) + ": " + std::strerror(sys);
    else
        r = zip_error_strerror(&copy);
    zip_error_fini(&copy);
    return r;
}

class Run {
public:
    explicit Run(const Job& j) : job(j), rep(j.callback, j.caller) {}
    int32_t go();

private:
    bool resolvePasswords(std::vector<Candidate>& items, std::vector<std::string>& passwords);
    int32_t deleteEntries(zip_t* za);
    bool fail(int code, const std::string& msg) {
        rep.message(code, msg);
        return false;
    }

    const Job& job;
    Reporter rep;
};

bool Run::resolvePasswords(std::vector<Candidate>& items, std::vector<std::string>& passwords) {
    passwords.assign(items.size(), {});
    std::optional<std::string> asked;
    for (size_t i = 0; i < items.size(); ++i) {
        const SpecItem& s = *items[i].file_spec;
        if (!s.encrypt || items[i].isDir) continue;
        if (s.password && !s.password->empty()) {
            passwords[i] = *s.password;
            continue;
        }
        if (!asked) {
            // Bit 0 of the code: a new password, so the caller asks for confirmation.
            auto a = rep.call(ZIPLIB_ACTION_PASSWORD, 1, 1, items[i].name);
            if (rep.stopped()) return false;
            if (a.code != 1 || a.text.empty())
                return fail(ZIPLIB_E_PARMS,
                            "No password was given, so nothing was encrypted or added");
            asked = a.text.substr(0, 80);
        }
        passwords[i] = *asked;
    }
    return true;
}

int32_t Run::deleteEntries(zip_t* za) {
    int32_t deleted = 0;
    const zip_int64_t n = zip_get_num_entries(za, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        const char* name = zip_get_name(za, static_cast<zip_uint64_t>(i), 0);
        if (!name) continue;
        for (const auto& s : job.specs) {
            if (wildMatch(s.file_spec.c_str(), name)) {
                if (job.verbose) rep.message(0, std::string("deleting: ") + name);
                zip_delete(za, static_cast<zip_uint64_t>(i));
                ++deleted;
                break;
            }
        }
    }
    return deleted;
}

int32_t Run::go() {
    if (job.archive.empty()) {
        fail(ZIPLIB_E_PARMS, "No archive name was given");
        return 0;
    }
    if (job.trace) rep.message(0, "Zip library 1.60, archive " + job.archive);

    std::vector<Candidate> items;
    if (!job.deleteEntries) {
        if (!collect(job, rep, items)) return 0;
    }

    // One update of an archive at a time: a second run waits here rather than losing ours.
    tarnwick::posix::UpdateLock lock;
    if (!lock.lock(job.archive)) {
        fail(ZIPLIB_E_OPEN, "Could not open the archive: " + lock.error());
        return 0;
    }

    // Group and other may read the archive only where they may read every file going in.
    mode_t privacy = 0777;
    for (const auto& c : items)
        if (!c.isDir) privacy &= c.st.st_mode | 0700;

    zip_error_t err;
    zip_error_init(&err);
    zip_source_t* sink = createArchiveSink(job.archive, job.tempDir, privacy, &err);
    if (!sink) {
        fail(codeFor(&err), "Could not open the archive " + job.archive + ": " + describe(&err));
        zip_error_fini(&err);
        return 0;
    }
    zip_t* za = zip_open_from_source(sink, ZIP_CREATE | (job.grow ? 0 : ZIP_TRUNCATE), &err);
    if (!za) {
        zip_source_free(sink);
        fail(zip_error_code_zip(&err) == ZIP_ER_NOZIP ? ZIPLIB_E_FORMAT : codeFor(&err),
             "Could not open the archive " + job.archive + ": " + describe(&err));
        zip_error_fini(&err);
        return 0;
    }
    zip_error_fini(&err);

    auto abandon = [&](int32_t result) {
        zip_discard(za);
        rep.call(ZIPLIB_ACTION_END_BATCH, 0, 0, "");
        return result;
    };

    int32_t count = 0;
    DeflatePool pool(job.threads);
    std::vector<std::string> addedPaths;
    std::vector<std::string> addedDirs;
    time_t latest = 0;
    uint64_t totalBytes = 0;
    int32_t totalFiles = 0;

    if (job.deleteEntries) {
        count = deleteEntries(za);
    } else {
        std::vector<std::string> passwords;
        if (!resolvePasswords(items, passwords)) return abandon(0);
        if (job.latestTime) {
            const zip_int64_t n = zip_get_num_entries(za, 0);
            for (zip_int64_t i = 0; i < n; ++i) {
                zip_stat_t st;
                if (zip_stat_index(za, static_cast<zip_uint64_t>(i), 0, &st) == 0 &&
                    (st.valid & ZIP_STAT_MTIME))
                    latest = std::max(latest, st.mtime);
            }
        }
        for (const auto& c : items)
            if (!c.isDir) {
                ++totalFiles;
                totalBytes += static_cast<uint64_t>(c.st.st_size);
            }
        rep.call(ZIPLIB_ACTION_TOTAL_FILES, 0, totalFiles, "");
        rep.call(ZIPLIB_ACTION_TOTAL_SIZE, 0,
                 static_cast<int64_t>(std::min<uint64_t>(totalBytes, INT64_MAX)), "");
        if (rep.stopped()) return abandon(0);

        std::set<std::string> taken;
        for (size_t i = 0; i < items.size(); ++i) {
            const Candidate& c = items[i];
            std::string name = c.name;
            const zip_int64_t existing = zip_name_locate(za, name.c_str(), 0);
            if (!c.isDir && (job.update || job.freshen)) {
                bool take;
                if (existing < 0) {
                    take = job.update;
                } else {
                    zip_stat_t st;
                    take = zip_stat_index(za, static_cast<zip_uint64_t>(existing), 0, &st) != 0 ||
                           !(st.valid & ZIP_STAT_MTIME) || newer(c.st.st_mtime, st.mtime);
                }
                if (!take) continue;
            }
            if (c.isDir) {
                if (existing >= 0 || !taken.insert(name).second) continue;
                const zip_int64_t idx = zip_dir_add(za, name.c_str(), ZIP_FL_ENC_GUESS);
                if (idx < 0) continue;
                zip_file_set_mtime(za, static_cast<zip_uint64_t>(idx), c.st.st_mtime, 0);
                if (job.forceDos)
                    zip_file_set_external_attributes(za, static_cast<zip_uint64_t>(idx), 0,
                                                     ZIP_OPSYS_DOS, 0x10);
                else
                    zip_file_set_external_attributes(
                        za, static_cast<zip_uint64_t>(idx), 0, ZIP_OPSYS_UNIX,
                        (static_cast<zip_uint32_t>(c.st.st_mode & 0xFFFF) << 16) | 0x10);
                addedDirs.push_back(c.path);
                continue;
            }

            // The caller may rename the entry and give it a comment.
            auto nn = rep.call(ZIPLIB_ACTION_NEW_NAME, 0, c.st.st_size, name);
            if (rep.stopped()) return abandon(0);
            if (nn.code == 1 && !nn.text.empty()) name = nn.text;
            auto fc = rep.call(ZIPLIB_ACTION_FILE_COMMENT, 0, 0, name);
            if (rep.stopped()) return abandon(0);
            std::optional<std::string> comment;
            if (fc.code == 1) comment = fc.text.substr(0, std::min<size_t>(fc.text.size(), 511));
            if (!taken.insert(name).second) {
                rep.message(0, "Duplicate name left out: " + name);
                continue;
            }

            FileInput in;
            in.path = c.path;
            in.entryName = name;
            in.size = static_cast<uint64_t>(c.st.st_size);
            in.mtime = c.st.st_mtime;
            in.level = job.level;
            in.store = job.level == 0;
            for (const auto& sfx : job.storeSuffixes)
                if (endsWithNoCase(name, sfx)) in.store = true;
            zip_error_init(&err);
            zip_source_t* src = createFileSource(in, pool, rep, &err);
            if (!src) {
                fail(codeFor(&err), describe(&err));
                zip_error_fini(&err);
                return abandon(0);
            }
            zip_error_fini(&err);
            const zip_int64_t idx =
                zip_file_add(za, name.c_str(), src, ZIP_FL_ENC_GUESS | ZIP_FL_OVERWRITE);
            if (idx < 0) {
                zip_source_free(src);
                fail(ZIPLIB_E_NAME, "Could not add " + name + ": " + zip_strerror(za));
                return abandon(0);
            }
            const auto u = static_cast<zip_uint64_t>(idx);
            if (in.store) zip_set_file_compression(za, u, ZIP_CM_STORE, 0);
            zip_file_set_mtime(za, u, c.st.st_mtime, 0);
            if (job.forceDos)
                zip_file_set_external_attributes(za, u, 0, ZIP_OPSYS_DOS,
                                                 (c.st.st_mode & S_IWUSR) ? 0 : 1);
            else
                zip_file_set_external_attributes(za, u, 0, ZIP_OPSYS_UNIX,
                                                 static_cast<zip_uint32_t>(c.st.st_mode & 0xFFFF)
                                                     << 16);
            if (!passwords[i].empty() &&
                zip_file_set_encryption(za, u, ZIP_EM_TRAD_PKWARE, passwords[i].c_str()) != 0) {
                fail(ZIPLIB_E_LOGIC, "Could not encrypt " + name + ": " + zip_strerror(za));
                return abandon(0);
            }
            if (comment)
                zip_file_set_comment(za, u, comment->data(),
                                     static_cast<zip_uint16_t>(comment->size()), 0);
            if (job.verbose)
                rep.message(0, std::string("  adding: ") + name +
                                   (in.store ? " (stored)" : " (deflated)"));
            latest = std::max(latest, c.st.st_mtime);
            addedPaths.push_back(c.path);
            ++count;
        }
    }

    if (count == 0) {
        rep.message(ZIPLIB_E_NONE, "Nothing to do: no file was added to " + job.archive);
        return abandon(0);
    }
    // libzip takes only ASCII or UTF-8 comments; one it refuses fails the add, so the caller
    // never gets an archive without the comment it asked for.
    if (job.archiveComment && !job.archiveComment->empty() &&
        zip_set_archive_comment(
            za, job.archiveComment->data(),
            static_cast<zip_uint16_t>(std::min<size_t>(job.archiveComment->size(), 65535))) != 0) {
        fail(ZIPLIB_E_LOGIC,
             "Could not set the comment of " + job.archive + ": " + zip_strerror(za));
        return abandon(0);
    }

    if (zip_close(za) != 0) {
        zip_error_t* e = zip_get_error(za);
        if (rep.stopped() || zip_error_code_zip(e) == ZIP_ER_CANCELLED) {
            rep.message(ZIPLIB_E_ABORT, "Stopped; the archive was left as it was");
        } else {
            std::string what = describe(e);
            rep.message(codeFor(e), "Could not write the archive " + job.archive + ": " + what +
                                        "; it was left as it was");
        }
        return abandon(0);
    }

    // Only now that the new archive is in place may the sources go.
    if (job.move) {
        for (const auto& p : addedPaths)
            if (::unlink(p.c_str()) != 0)
                rep.message(ZIPLIB_E_WRITE, "Could not delete " + p + ": " + std::strerror(errno));
        for (auto it = addedDirs.rbegin(); it != addedDirs.rend(); ++it)
            ::rmdir(it->c_str());
    }
    if (job.latestTime && latest > 0) {
        struct timespec times[2];
        times[0].tv_sec = latest;
        times[0].tv_nsec = 0;
        times[1] = times[0];
        if (utimensat(AT_FDCWD, job.archive.c_str(), times, 0) != 0)
            rep.message(ZIPLIB_E_WRITE,
                        "Could not set the time of " + job.archive + ": " + std::strerror(errno));
    }
    rep.call(ZIPLIB_ACTION_END_BATCH, 0, 0, "");
    return count;
}

} // namespace

SpecItem parseSpecLine(const std::string& line, bool recurse, bool encrypt,
                       const std::optional<std::string>& password) {
    SpecItem s;
    size_t start = 0;
    s.recurse = recurse;
    if (!line.empty() && line[0] == '>') {
        s.recurse = true;
        start = 1;
    } else if (!line.empty() && line[0] == '|') {
        s.recurse = false;
        start = 1;
    }
    s.encrypt = encrypt;
    if (password && !password->empty()) s.password = password;
    size_t end = line.size();
    const auto lt = line.find('<');
    if (lt != std::string::npos) {
        s.password.reset();
        s.encrypt = lt + 1 < line.size();
        if (s.encrypt) s.password = line.substr(lt + 1);
        end = lt;
    }
    s.file_spec = end > start ? line.substr(start, end - start) : std::string();
    return s;
}

bool readCommand(const void* command, Job& job, std::string& error) {
    const auto* shortForm = static_cast<const ZipCommandShort*>(command);
    const auto* longForm = static_cast<const ZipCommandLong*>(command);
    const ZipCommandHead& h = shortForm->head;
    readHead(h, job);
    if (shortForm->check == ZIPLIB_CHECK_WORD) {
        if (h.spec_count < 0 || (h.spec_count > 0 && !shortForm->specs)) {
            error = "The command names no files";
            return false;
        }
        job.tempDir = shortForm->temp_dir ? shortForm->temp_dir : "";
        job.archiveComment = text(shortForm->archive_comment);
        for (int32_t i = 0; i < h.spec_count; ++i) {
            const ZipFileSpec& f = shortForm->specs[i];
            SpecItem s;
            s.file_spec = f.file_spec ? f.file_spec : "";
            s.password = text(f.password);
            s.encrypt = f.encrypt != 0;
            s.recurse = f.recurse != 0;
            s.rootDir = f.root_dir ? f.root_dir : "";
            job.specs.push_back(std::move(s));
        }
        if (shortForm->exclusions) {
            for (int32_t i = 0; i < shortForm->exclusion_count; ++i)
                if (shortForm->exclusions[i]) job.exclusions.emplace_back(shortForm->exclusions[i]);
        }
        return true;
    }
    if (longForm->check == ZIPLIB_CHECK_WORD) {
        const int32_t n = std::clamp(h.spec_count, 0, ZIPLIB_MAX_LONG_SPECS);
        for (int32_t i = 0; i < n; ++i) {
            if (longForm->specs[i])
                job.specs.push_back(parseSpecLine(longForm->specs[i], h.recurse != 0,
                                                  h.encrypt != 0, text(h.password)));
        }
        return true;
    }
    error = "The command record is not understood (no check word)";
    return false;
}

int32_t run(const Job& job) {
    Run r(job);
    return r.go();
}

int32_t execute(void* command) {
    if (!command) return 0;
    Job job;
    try {
        std::string error;
        if (!readCommand(command, job, error)) {
            Reporter(job.callback, job.caller).message(ZIPLIB_E_PARMS, error);
            return 0;
        }
        return run(job);
    } catch (const std::bad_alloc&) {
        Reporter(job.callback, job.caller).message(ZIPLIB_E_MEMORY, "Out of memory");
    } catch (const std::exception& e) {
        Reporter(job.callback, job.caller)
            .message(ZIPLIB_E_LOGIC, std::string("Internal error: ") + e.what());
    } catch (...) {
        Reporter(job.callback, job.caller).message(ZIPLIB_E_LOGIC, "Internal error");
    }
    return 0;
}

} // namespace ziplib
