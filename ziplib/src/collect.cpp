#include "collect.h"

#include "reporter.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <set>
#include <unistd.h>

namespace ziplib {

bool wildMatch(const char* p, const char* t) {
    // Iterative matcher with one backtrack point: linear enough for file names.
    const char* star = nullptr;
    const char* mark = nullptr;
    while (*t) {
        if (*p == '?' || (*p && *p != '*' && *p == *t)) {
            ++p;
            ++t;
        } else if (*p == '*') {
            star = p++;
            mark = t;
        } else if (star) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (*p == '*')
        ++p;
    return *p == '\0';
}

bool hasWildcards(const std::string& s) {
    return s.find_first_of("*?") != std::string::npos;
}

std::string dosName(const std::string& part) {
    auto clean = [](std::string s, size_t max) {
        std::string r;
        for (unsigned char c : s) {
            if (r.size() == max) break;
            if (c <= ' ' || c >= 0x7F || std::strchr("\"*+,./:;<=>?[\\]|", c))
                r += '_';
            else
                r += static_cast<char>(std::toupper(c));
        }
        return r;
    };
    if (part == "." || part == "..") return part;
    const auto dot = part.rfind('.');
    if (dot == std::string::npos || dot == 0) return clean(part, 8);
    const std::string ext = clean(part.substr(dot + 1), 3);
    const std::string base = clean(part.substr(0, dot), 8);
    return ext.empty() ? base : base + "." + ext;
}

std::string entryName(const std::string& namePath, bool junkDirs, bool forceDos) {
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= namePath.size()) {
        size_t j = namePath.find('/', i);
        if (j == std::string::npos) j = namePath.size();
        const std::string part = namePath.substr(i, j - i);
        if (!part.empty() && part != "." && part != "..")
            parts.push_back(forceDos ? dosName(part) : part);
        i = j + 1;
    }
    if (parts.empty()) return {};
    if (junkDirs) return parts.back();
    std::string r;
    for (const auto& p : parts) {
        if (!r.empty()) r += '/';
        r += p;
    }
    return r;
}

namespace {

struct Collector {
    Collector(const Job& j, Reporter& r, std::vector<Candidate>& o) : job(j), rep(r), out(o) {}
    const Job& job;
    Reporter& rep;
    std::vector<Candidate>& out;
    struct stat archive {};
    bool haveArchive = false;
    std::set<std::pair<dev_t, ino_t>> visitedDirs;

    bool excluded(const std::string& path, const std::string& name) const {
        const auto slash = path.rfind('/');
        const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
        for (const auto& e : job.exclusions) {
            if (wildMatch(e.c_str(), name.c_str()) || wildMatch(e.c_str(), path.c_str()) ||
                wildMatch(e.c_str(), base.c_str()))
                return true;
        }
        return false;
    }
    bool hidden(const std::string& base) const {
        return !job.systemFiles && !base.empty() && base[0] == '.';
    }

    bool isArchive(const struct stat& st) const {
        return haveArchive && st.st_dev == archive.st_dev && st.st_ino == archive.st_ino;
    }

    // Adds one path that exists; `explicitName` when the user named it without wildcards.
    bool add(const std::string& path, const std::string& namePath, const SpecItem& file_spec,
             const struct stat& st) {
        Candidate c;
        c.path = path;
        c.isDir = S_ISDIR(st.st_mode);
        c.file_spec = &file_spec;
        c.st = st;
        c.name = entryName(namePath, job.junkDirs, job.forceDos);
        if (c.name.empty()) return true;
        if (excluded(path, c.name)) return true;
        if (c.isDir) {
            if (job.noDirEntries || job.junkDirs) return true;
            c.name += '/';
        } else if (!S_ISREG(st.st_mode)) {
            return rep.message(ZIPLIB_E_OPEN, "Skipped, not a regular file: " + path);
        } else if (isArchive(st)) {
            return true; // never add the archive to itself
        } else if (::access(path.c_str(), R_OK) != 0) {
            return rep.message(ZIPLIB_E_OPEN, "Could not open for reading: " + path + " (" +
                                                  std::strerror(errno) + ")");
        }
        out.push_back(std::move(c));
        return true;
    }

    // Walks a folder; files are taken when `pattern` is empty or matches their name, or
    // when `all` is set (the folder itself matched).
    bool walk(const std::string& dir, const std::string& namePath, const SpecItem& file_spec,
              const std::string& pattern, bool recurse, bool all) {
        struct stat dst {};
        if (::stat(dir.c_str(), &dst) != 0 || !visitedDirs.insert({dst.st_dev, dst.st_ino}).second)
            return true; // gone, or a loop through a link
        DIR* d = ::opendir(dir.c_str());
        if (!d)
            return rep.message(ZIPLIB_E_OPEN,
                               "Could not read folder: " + dir + " (" + std::strerror(errno) + ")");
        std::vector<std::string> names;
        while (dirent* e = ::readdir(d)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.emplace_back(e->d_name);
        }
        ::closedir(d);
        std::sort(names.begin(), names.end());
        const std::string prefix = dir == "/" ? "/" : dir + "/";
        const std::string namePrefix = namePath.empty() ? "" : namePath + "/";
        for (const auto& n : names) {
            if (hidden(n) && !(pattern.size() && pattern[0] == '.')) continue;
            const std::string path = prefix + n;
            struct stat st {};
            if (::stat(path.c_str(), &st) != 0) continue; // dangling link
            const bool matches = all || pattern.empty() || wildMatch(pattern.c_str(), n.c_str());
            if (S_ISDIR(st.st_mode)) {
                if (!recurse && !matches) continue;
                if (!recurse) {
                    // A folder matched by a wildcard without recursion: only its own entry.
                    if (!add(path, namePrefix + n, file_spec, st)) return false;
                    continue;
                }
                if (excluded(path, entryName(namePrefix + n, false, false))) continue;
                if (matches && !add(path, namePrefix + n, file_spec, st)) return false;
                if (!walk(path, namePrefix + n, file_spec, pattern, true, matches)) return false;
            } else if (matches) {
                if (!add(path, namePrefix + n, file_spec, st)) return false;
            }
        }
        return true;
    }

    bool file_spec(const SpecItem& s) {
        if (s.file_spec.empty()) return true;
        // Where the file is, and what its name is built from: relative to the root folder
        // when one is given and the file_spec is relative, else the file_spec as written.
        std::string path = s.file_spec;
        std::string namePath = s.file_spec;
        if (path[0] != '/' && !s.rootDir.empty()) {
            path = s.rootDir + (s.rootDir.ends_with('/') ? "" : "/") + s.file_spec;
        } else if (path[0] == '/' && !s.rootDir.empty()) {
            const std::string root = s.rootDir.ends_with('/') ? s.rootDir : s.rootDir + "/";
            if (path.starts_with(root)) namePath = path.substr(root.size());
        }
        const size_t before = out.size();
        if (!hasWildcards(path)) {
            struct stat st {};
            if (::stat(path.c_str(), &st) != 0)
                return rep.message(ZIPLIB_E_NONE, "Name not matched: " + s.file_spec);
            if (S_ISDIR(st.st_mode)) {
                if (!add(path, namePath, s, st)) return false;
                if (s.recurse && !walk(path, namePath, s, "", true, true)) return false;
                return true;
            }
            return add(path, namePath, s, st);
        }
        const auto slash = path.rfind('/');
        const std::string dir =
            slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
        const std::string pattern = slash == std::string::npos ? path : path.substr(slash + 1);
        const auto nslash = namePath.rfind('/');
        const std::string nameDir = nslash == std::string::npos ? "" : namePath.substr(0, nslash);
        if (hasWildcards(dir))
            return rep.message(ZIPLIB_E_NONE,
                               "Wildcards are only allowed in the last part of a name: " +
                                   s.file_spec);
        if (!walk(dir, nameDir, s, pattern, s.recurse, false)) return false;
        if (out.size() == before)
            return rep.message(ZIPLIB_E_NONE, "Name not matched: " + s.file_spec);
        return true;
    }
};

} // namespace

bool collect(const Job& job, Reporter& reporter, std::vector<Candidate>& out) {
    Collector c(job, reporter, out);
    c.haveArchive = ::stat(job.archive.c_str(), &c.archive) == 0;
    for (const auto& s : job.specs) {
        c.visitedDirs.clear();
        if (!c.file_spec(s)) return false;
    }
    // One entry per name: the first file_spec that named it wins.
    std::set<std::string> seen;
    std::vector<Candidate> unique;
    for (auto& cand : out) {
        if (seen.insert(cand.name).second) unique.push_back(std::move(cand));
    }
    out = std::move(unique);
    return !reporter.stopped();
}

} // namespace ziplib
