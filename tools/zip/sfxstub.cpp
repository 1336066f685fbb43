// The self-extractor: this program with a settings block and a zip archive appended.
// It finds the block right after its own ELF image and extracts the archive behind it.
//
//   NAME [-d FOLDER] [-p PASSWORD] [-o | -n] [-l]
//
// -d: where to extract (else the archive's default folder, else the current one);
// -o / -n: overwrite existing files always / never (else as the archive says; asking
// needs a terminal, without one existing files are kept); -l: list only.
#include "platform/posix/durablereplace.h"

#include <zip.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace {

struct Settings {
    int options = 0;
    int overwrite = 0; // 0 confirm, 1 always, 2 never
    std::string caption, defaultDir, commandLine, message;
};

// The permissions an entry was stored with (never more than the extracting user allows), or the
// usual ones for a new file.
mode_t entryMode(zip_t* za, zip_int64_t index) {
    const mode_t mask = umask(0);
    umask(mask);
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(za, static_cast<zip_uint64_t>(index), 0, &system,
                                         &attributes) == 0 &&
        system == ZIP_OPSYS_UNIX && (attributes >> 16) != 0)
        return (attributes >> 16) & 0666 & ~mask;
    return 0666 & ~mask;
}

bool readAt(int fd, uint64_t pos, void* buf, size_t len) {
    return pread(fd, buf, len, static_cast<off_t>(pos)) == static_cast<ssize_t>(len);
}

// The end of this program's own ELF image: the section header table comes last.
bool elfEnd(int fd, uint64_t& end) {
    unsigned char h[64];
    if (!readAt(fd, 0, h, sizeof h) ||
        std::memcmp(h,
                    "\x7f"
                    "ELF",
                    4) != 0 ||
        h[4] != 2)
        return false;
    uint64_t shoff;
    uint16_t shentsize, shnum;
    std::memcpy(&shoff, h + 0x28, 8);
    std::memcpy(&shentsize, h + 0x3A, 2);
    std::memcpy(&shnum, h + 0x3C, 2);
    end = shoff + uint64_t(shentsize) * shnum;
    return true;
}

bool readSettings(int fd, uint64_t at, Settings& s, uint64_t& zipStart) {
    unsigned char head[4];
    if (!readAt(fd, at, head, 4) || std::memcmp(head, "MPV", 3) != 0) return false;
    s.options = head[3] & 0x3F;
    s.overwrite = head[3] >> 6;
    uint64_t pos = at + 4;
    std::string* fields[] = {&s.caption, &s.defaultDir, &s.commandLine, &s.message};
    for (auto* f : fields) {
        unsigned char len;
        if (!readAt(fd, pos, &len, 1)) return false;
        f->resize(len);
        if (len && !readAt(fd, pos + 1, f->data(), len)) return false;
        pos += 1 + len;
    }
    zipStart = (pos - at + 3) / 4 * 4 + at;
    return true;
}

// Names that would leave the target folder are refused.
bool safeName(const std::string& n) {
    if (n.empty() || n[0] == '/' || n.find('\\') != std::string::npos) return false;
    size_t i = 0;
    while (i <= n.size()) {
        size_t j = n.find('/', i);
        if (j == std::string::npos) j = n.size();
        if (n.compare(i, j - i, "..") == 0 && j - i == 2) return false;
        i = j + 1;
    }
    return true;
}

bool makeDirs(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            const std::string part = path.substr(0, i);
            if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
        }
    }
    return true;
}

bool askYes(const std::string& question) {
    if (!isatty(0)) return false;
    std::fprintf(stderr, "%s [y/N] ", question.c_str());
    char line[16] = {};
    return std::fgets(line, sizeof line, stdin) && (line[0] == 'y' || line[0] == 'Y');
}

} // namespace

int main(int argc, char** argv) {
    std::string dir, password;
    int overwrite = -1;
    bool list = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-d" && i + 1 < argc)
            dir = argv[++i];
        else if (a == "-p" && i + 1 < argc)
            password = argv[++i];
        else if (a == "-o")
            overwrite = 1;
        else if (a == "-n")
            overwrite = 2;
        else if (a == "-l")
            list = true;
        else {
            std::fprintf(stderr, "usage: %s [-d FOLDER] [-p PASSWORD] [-o|-n] [-l]\n", argv[0]);
            return 2;
        }
    }
    const int fd = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    uint64_t end = 0, zipStart = 0;
    Settings s;
    if (fd < 0 || !elfEnd(fd, end) || !readSettings(fd, end, s, zipStart)) {
        std::fprintf(stderr, "This program carries no archive.\n");
        return 2;
    }
    close(fd);
    if (overwrite < 0) overwrite = s.overwrite;
    if (dir.empty()) dir = s.defaultDir.empty() ? "." : s.defaultDir;
    if (!s.caption.empty()) std::fprintf(stderr, "%s\n", s.caption.c_str());
    if (!s.message.empty()) std::fprintf(stderr, "%s\n", s.message.c_str());

    zip_error_t err;
    zip_error_init(&err);
    zip_source_t* src = zip_source_file_create("/proc/self/exe", zipStart, 0, &err);
    zip_t* za = src ? zip_open_from_source(src, ZIP_RDONLY, &err) : nullptr;
    if (!za) {
        std::fprintf(stderr, "The archive cannot be read: %s\n", zip_error_strerror(&err));
        if (src) zip_source_free(src);
        return 1;
    }
    if (!password.empty()) zip_set_default_password(za, password.c_str());
    int failures = 0;
    const zip_int64_t n = zip_get_num_entries(za, 0);
    std::vector<char> buf(1 << 16);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        if (zip_stat_index(za, static_cast<zip_uint64_t>(i), 0, &st) != 0) continue;
        const std::string name = st.name;
        if (list) {
            std::printf("%12llu  %s\n", static_cast<unsigned long long>(st.size), name.c_str());
            continue;
        }
        if (!safeName(name)) {
            std::fprintf(stderr, "Refused: %s (outside the target folder)\n", name.c_str());
            ++failures;
            continue;
        }
        const std::string out = dir + "/" + name;
        if (name.back() == '/') {
            if (!makeDirs(out)) ++failures;
            continue;
        }
        const auto slash = out.rfind('/');
        if (!makeDirs(out.substr(0, slash))) ++failures;
        if (access(out.c_str(), F_OK) == 0) {
            const bool replace =
                overwrite == 1 || (overwrite == 0 && askYes("Overwrite " + out + "?"));
            if (!replace) {
                std::fprintf(stderr, "Kept: %s\n", out.c_str());
                continue;
            }
        }
        zip_file_t* zf = zip_fopen_index(za, static_cast<zip_uint64_t>(i), 0);
        if (!zf) {
            std::fprintf(stderr, "Cannot extract %s: %s\n", name.c_str(), zip_strerror(za));
            ++failures;
            continue;
        }
        // Written beside the target and renamed into place only when complete; a link, FIFO
        // or device where the file goes is left alone.
        tarnwick::posix::ReplaceOptions options;
        options.newFileMode = entryMode(za, i);
        options.followSymlink = false;
        tarnwick::posix::DurableReplace file;
        bool ok = file.open(out, options);
        if (ok) file.setMode(options.newFileMode);
        while (ok) {
            const zip_int64_t r = zip_fread(zf, buf.data(), buf.size());
            if (r < 0) ok = false;
            if (r <= 0) break;
            ok = file.write(buf.data(), static_cast<size_t>(r));
        }
        ok = zip_fclose(zf) == 0 && ok;
        if (ok) {
            const struct timespec times[2] = {{st.mtime, 0}, {st.mtime, 0}};
            if (::futimens(file.fd(), times) != 0)
                std::fprintf(stderr, "Cannot keep the time of %s: %s\n", out.c_str(),
                             std::strerror(errno));
        }
        if (!ok || !file.commit()) {
            file.discard();
            if (!file.errorMessage().empty())
                std::fprintf(stderr, "Cannot extract %s: %s\n", name.c_str(),
                             file.errorMessage().c_str());
            else
                std::fprintf(stderr, "Cannot extract %s\n", name.c_str());
            ++failures;
        }
    }
    zip_close(za);
    return failures ? 1 : 0;
}
