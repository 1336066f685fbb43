#include "sources.h"

#include "pdeflate.h"
#include "reporter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace ziplib {

namespace {

// Progress is reported in steps of this many bytes at least, so the caller's window
// gets regular updates without a callback per small read.
constexpr uint64_t kProgressStep = 1u << 20;

struct FileSource {
    FileInput in;
    DeflatePool& pool;
    Reporter& reporter;
    zip_error_t error;
    int fd = -1;
    std::unique_ptr<ParallelDeflater> deflater;
    uint64_t readOffset = 0;
    uint64_t pendingProgress = 0;
    uint32_t savedCrc = 0;
    bool finished = false;

    FileSource(const FileInput& i, DeflatePool& p, Reporter& r) : in(i), pool(p), reporter(r) {
        zip_error_init(&error);
    }
    ~FileSource() {
        closeFile();
        zip_error_fini(&error);
    }
    void closeFile() {
        deflater.reset();
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    bool reportProgress(uint64_t bytes, bool force) {
        pendingProgress += bytes;
        if (pendingProgress == 0 || (!force && pendingProgress < kProgressStep)) return true;
        const uint64_t p = pendingProgress;
        pendingProgress = 0;
        if (!reporter.progress(p)) {
            zip_error_set(&error, ZIP_ER_CANCELLED, 0);
            return false;
        }
        return true;
    }

    zip_int64_t open() {
        if (!reporter.newFile(in.entryName, in.size)) {
            zip_error_set(&error, ZIP_ER_CANCELLED, 0);
            return -1;
        }
        fd = ::open(in.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            zip_error_set(&error, ZIP_ER_OPEN, errno);
            return -1;
        }
        posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        readOffset = 0;
        finished = false;
        pendingProgress = 0;
        if (!in.store) deflater = std::make_unique<ParallelDeflater>(fd, in.size, in.level, pool);
        return 0;
    }

    zip_int64_t read(void* data, zip_uint64_t len) {
        if (in.store) {
            const uint64_t want = std::min<uint64_t>(len, in.size - readOffset);
            if (want == 0) {
                finished = true;
                return reportProgress(0, true) ? 0 : -1;
            }
            ssize_t r;
            do
                r = ::pread(fd, data, want, static_cast<off_t>(readOffset));
            while (r < 0 && errno == EINTR);
            if (r < 0) {
                zip_error_set(&error, ZIP_ER_READ, errno);
                return -1;
            }
            if (r == 0) {
                zip_error_set(&error, ZIP_ER_READ, EIO);
                return -1;
            }
            readOffset += static_cast<uint64_t>(r);
            if (!reportProgress(static_cast<uint64_t>(r), false)) return -1;
            return r;
        }
        const int64_t r = deflater->read(static_cast<uint8_t*>(data), len);
        if (r < 0) {
            zip_error_set(&error, ZIP_ER_READ,
                          deflater->errorNumber() ? deflater->errorNumber() : EIO);
            return -1;
        }
        if (!reportProgress(deflater->takeProgress(), r == 0)) return -1;
        if (r == 0) {
            finished = true;
            savedCrc = deflater->crc();
        }
        return r;
    }

    zip_int64_t stat(void* data, zip_uint64_t len) {
        if (len < sizeof(zip_stat_t)) {
            zip_error_set(&error, ZIP_ER_INVAL, 0);
            return -1;
        }
        auto* st = static_cast<zip_stat_t*>(data);
        zip_stat_init(st);
        st->valid =
            ZIP_STAT_SIZE | ZIP_STAT_MTIME | ZIP_STAT_COMP_METHOD | ZIP_STAT_ENCRYPTION_METHOD;
        st->size = in.size;
        st->mtime = in.mtime;
        st->comp_method = in.store ? ZIP_CM_STORE : ZIP_CM_DEFLATE;
        st->encryption_method = ZIP_EM_NONE;
        // The CRC of deflated data is known once all of it was read; stat is asked again then.
        if (!in.store && finished) {
            st->crc = savedCrc;
            st->valid |= ZIP_STAT_CRC;
        }
        return sizeof(zip_stat_t);
    }

    static zip_int64_t callback(void* state, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
        auto* self = static_cast<FileSource*>(state);
        try {
            switch (cmd) {
            case ZIP_SOURCE_OPEN:
                return self->open();
            case ZIP_SOURCE_READ:
                return self->read(data, len);
            case ZIP_SOURCE_CLOSE:
                self->closeFile();
                return 0;
            case ZIP_SOURCE_STAT:
                return self->stat(data, len);
            case ZIP_SOURCE_ERROR:
                return zip_error_to_data(&self->error, data, len);
            case ZIP_SOURCE_FREE:
                delete self;
                return 0;
            case ZIP_SOURCE_SUPPORTS:
                return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ,
                                                      ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                                      ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
            default:
                zip_error_set(&self->error, ZIP_ER_OPNOTSUPP, 0);
                return -1;
            }
        } catch (const std::bad_alloc&) {
            zip_error_set(&self->error, ZIP_ER_MEMORY, 0);
            return -1;
        } catch (...) {
            zip_error_set(&self->error, ZIP_ER_INTERNAL, 0);
            return -1;
        }
    }
};

struct ArchiveSink {
    std::string path;
    std::string tempDir;
    zip_error_t error;
    bool exists = false;
    struct stat st {};
    int rfd = -1;
    uint64_t offset = 0;
    int wfd = -1;
    std::string tmp;

    // Bytes in front of the archive proper (a self-extractor): kept as they are, and
    // hidden from libzip, which sees a plain archive.
    uint64_t prefix = 0;

    ArchiveSink(std::string p, std::string t) : path(std::move(p)), tempDir(std::move(t)) {
        zip_error_init(&error);
        exists = ::stat(path.c_str(), &st) == 0;
        if (exists) prefix = findPrefix();
    }
    uint64_t findPrefix() const {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return 0;
        const uint64_t size = static_cast<uint64_t>(st.st_size);
        const uint64_t span = std::min<uint64_t>(size, 22 + 65535);
        std::string tail(span, '\0');
        uint64_t result = 0;
        if (::pread(fd, tail.data(), span, static_cast<off_t>(size - span)) ==
            static_cast<ssize_t>(span)) {
            auto u16 = [&](size_t i) {
                return uint32_t(uint8_t(tail[i])) | uint32_t(uint8_t(tail[i + 1])) << 8;
            };
            auto u32 = [&](size_t i) { return u16(i) | u16(i + 2) << 16; };
            bool found = false;
            for (size_t i = span >= 22 ? span - 22 + 1 : 0; i-- > 0;) {
                if (u32(i) == 0x06054B50) {
                    found = true;
                    const uint64_t endPos = size - span + i;
                    uint64_t recordPos = endPos;
                    uint64_t dirSize = u32(i + 12), dirOffset = u32(i + 16);
                    // ZIP64 end record and locator (76 bytes, as written here) before the end
                    // record.
                    if (i >= 76 && u32(i - 20) == 0x07064B50 && u32(i - 76) == 0x06064B50) {
                        auto u64 = [&](size_t k) {
                            return uint64_t(u32(k)) | uint64_t(u32(k + 4)) << 32;
                        };
                        recordPos = endPos - 76;
                        dirSize = u64(i - 76 + 40);
                        dirOffset = u64(i - 76 + 48);
                    }
                    if (dirOffset != 0xFFFFFFFF && dirOffset + dirSize < recordPos)
                        result = recordPos - dirOffset - dirSize;
                    break;
                }
            }
            // A self-extractor with nothing added yet: the whole file goes in front.
            if (!found && size >= 4 && ::pread(fd, tail.data(), 4, 0) == 4 &&
                tail.compare(0, 4,
                             "\x7f"
                             "ELF") == 0)
                result = size;
        }
        ::close(fd);
        return result;
    }
    ~ArchiveSink() {
        dropTemp();
        if (rfd >= 0) ::close(rfd);
        zip_error_fini(&error);
    }
    void dropTemp() {
        if (wfd >= 0) ::close(wfd);
        wfd = -1;
        if (!tmp.empty()) ::unlink(tmp.c_str());
        tmp.clear();
    }
    std::string dirOf(const std::string& p) const {
        const auto slash = p.rfind('/');
        if (slash == std::string::npos) return ".";
        return slash == 0 ? "/" : p.substr(0, slash);
    }
    static bool makeTemp(const std::string& dir, std::string& name, int& fd) {
        std::string templ = dir + (dir.ends_with('/') ? "" : "/") + "zipXXXXXX";
        fd = mkostemp(templ.data(), O_CLOEXEC);
        if (fd < 0) return false;
        name = templ;
        return true;
    }
    bool copyPrefix() {
        const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0) return false;
        std::string buf(1 << 16, '\0');
        uint64_t done = 0;
        bool ok = true;
        while (ok && done < prefix) {
            const ssize_t r = ::pread(in, buf.data(), std::min<uint64_t>(buf.size(), prefix - done),
                                      static_cast<off_t>(done));
            if (r <= 0) {
                ok = false;
                break;
            }
            ok = writeAll(wfd, buf.data(), static_cast<size_t>(r));
            done += static_cast<uint64_t>(r);
        }
        ::close(in);
        return ok;
    }
    static bool writeAll(int fd, const void* data, size_t len) {
        auto* p = static_cast<const char*>(data);
        while (len > 0) {
            const ssize_t w = ::write(fd, p, len);
            if (w < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            p += w;
            len -= static_cast<size_t>(w);
        }
        return true;
    }
    mode_t newMode() const {
        if (exists) return st.st_mode & 07777;
        const mode_t mask = umask(0);
        umask(mask);
        return 0666 & ~mask;
    }
    static void syncDir(const std::string& dir) {
        const int d = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (d >= 0) {
            fsync(d);
            ::close(d);
        }
    }
    // Copies a finished temporary file next to the archive when it lies on another file system.
    bool copyAcross(std::string& beside) {
        int out;
        if (!makeTemp(dirOf(path), beside, out)) return false;
        const int in = ::open(tmp.c_str(), O_RDONLY | O_CLOEXEC);
        bool ok = in >= 0;
        char buf[1 << 16];
        while (ok) {
            const ssize_t r = ::read(in, buf, sizeof buf);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) {
                ok = r == 0;
                break;
            }
            ok = writeAll(out, buf, static_cast<size_t>(r));
        }
        const int saved = errno;
        if (in >= 0) ::close(in);
        ok = ok && fchmod(out, newMode()) == 0 && fsync(out) == 0;
        ok = (::close(out) == 0) && ok;
        if (!ok) {
            ::unlink(beside.c_str());
            errno = saved ? saved : EIO;
        }
        return ok;
    }

    zip_int64_t commit() {
        if (fchmod(wfd, newMode()) != 0 || fsync(wfd) != 0) {
            zip_error_set(&error, ZIP_ER_WRITE, errno);
            return -1;
        }
        if (::close(wfd) != 0) {
            wfd = -1;
            zip_error_set(&error, ZIP_ER_WRITE, errno);
            return -1;
        }
        wfd = -1;
        // Checked before it replaces anything: the new archive must open as a consistent zip.
        zip_error_t cerr;
        zip_error_init(&cerr);
        zip_source_t* csrc = zip_source_file_create(tmp.c_str(), prefix, 0, &cerr);
        zip_t* check =
            csrc ? zip_open_from_source(csrc, ZIP_RDONLY | ZIP_CHECKCONS, &cerr) : nullptr;
        zip_error_fini(&cerr);
        if (!check) {
            if (csrc) zip_source_free(csrc);
            zip_error_set(&error, ZIP_ER_INCONS, 0);
            return -1;
        }
        zip_discard(check);
        if (::rename(tmp.c_str(), path.c_str()) != 0) {
            if (errno != EXDEV) {
                zip_error_set(&error, ZIP_ER_RENAME, errno);
                return -1;
            }
            std::string beside;
            if (!copyAcross(beside)) {
                zip_error_set(&error, ZIP_ER_WRITE, errno);
                return -1;
            }
            if (::rename(beside.c_str(), path.c_str()) != 0) {
                const int e = errno;
                ::unlink(beside.c_str());
                zip_error_set(&error, ZIP_ER_RENAME, e);
                return -1;
            }
            ::unlink(tmp.c_str());
        }
        tmp.clear();
        syncDir(dirOf(path));
        exists = ::stat(path.c_str(), &st) == 0;
        return 0;
    }

    zip_int64_t call(void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
        switch (cmd) {
        case ZIP_SOURCE_OPEN:
            rfd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (rfd < 0) {
                zip_error_set(&error, ZIP_ER_OPEN, errno);
                return -1;
            }
            offset = 0;
            return 0;
        case ZIP_SOURCE_READ: {
            ssize_t r;
            do
                r = ::pread(rfd, data, len, static_cast<off_t>(prefix + offset));
            while (r < 0 && errno == EINTR);
            if (r < 0) {
                zip_error_set(&error, ZIP_ER_READ, errno);
                return -1;
            }
            offset += static_cast<uint64_t>(r);
            return r;
        }
        case ZIP_SOURCE_CLOSE:
            if (rfd >= 0) ::close(rfd);
            rfd = -1;
            return 0;
        case ZIP_SOURCE_SEEK: {
            const zip_int64_t o = zip_source_seek_compute_offset(
                offset, static_cast<zip_uint64_t>(st.st_size) - prefix, data, len, &error);
            if (o < 0) return -1;
            offset = static_cast<uint64_t>(o);
            return 0;
        }
        case ZIP_SOURCE_TELL:
            return static_cast<zip_int64_t>(offset);
        case ZIP_SOURCE_STAT: {
            if (!exists) {
                // libzip takes this pair to mean "no archive yet".
                zip_error_set(&error, ZIP_ER_READ, ENOENT);
                return -1;
            }
            if (len < sizeof(zip_stat_t)) {
                zip_error_set(&error, ZIP_ER_INVAL, 0);
                return -1;
            }
            auto* zs = static_cast<zip_stat_t*>(data);
            zip_stat_init(zs);
            zs->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME;
            zs->size = static_cast<zip_uint64_t>(st.st_size) - prefix;
            zs->mtime = st.st_mtime;
            return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_BEGIN_WRITE: {
            std::string dir = tempDir.empty() ? dirOf(path) : tempDir;
            if (!makeTemp(dir, tmp, wfd)) {
                // An unusable temporary folder is not a reason to fail: use the archive's own.
                if (tempDir.empty() || !makeTemp(dirOf(path), tmp, wfd)) {
                    zip_error_set(&error, ZIP_ER_TMPOPEN, errno);
                    return -1;
                }
            }
            if (prefix > 0 && !copyPrefix()) {
                zip_error_set(&error, ZIP_ER_WRITE, errno);
                dropTemp();
                return -1;
            }
            return 0;
        }
        case ZIP_SOURCE_WRITE:
            if (!writeAll(wfd, data, len)) {
                zip_error_set(&error, ZIP_ER_WRITE, errno);
                return -1;
            }
            return static_cast<zip_int64_t>(len);
        case ZIP_SOURCE_SEEK_WRITE: {
            auto* args = ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, len, &error);
            if (!args) return -1;
            const off_t to =
                args->whence == SEEK_SET ? static_cast<off_t>(prefix) + args->offset : args->offset;
            if (::lseek(wfd, to, args->whence) < 0) {
                zip_error_set(&error, ZIP_ER_SEEK, errno);
                return -1;
            }
            return 0;
        }
        case ZIP_SOURCE_TELL_WRITE: {
            const off_t o = ::lseek(wfd, 0, SEEK_CUR);
            if (o < 0) {
                zip_error_set(&error, ZIP_ER_TELL, errno);
                return -1;
            }
            return o - static_cast<off_t>(prefix);
        }
        case ZIP_SOURCE_COMMIT_WRITE: {
            const zip_int64_t r = commit();
            if (r != 0) dropTemp();
            return r;
        }
        case ZIP_SOURCE_ROLLBACK_WRITE:
            dropTemp();
            return 0;
        case ZIP_SOURCE_REMOVE:
            if (::unlink(path.c_str()) != 0) {
                zip_error_set(&error, ZIP_ER_REMOVE, errno);
                return -1;
            }
            exists = false;
            return 0;
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&error, data, len);
        case ZIP_SOURCE_FREE:
            delete this;
            return 0;
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(
                ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_SEEK,
                ZIP_SOURCE_TELL, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                ZIP_SOURCE_SUPPORTS, ZIP_SOURCE_BEGIN_WRITE, ZIP_SOURCE_WRITE,
                ZIP_SOURCE_SEEK_WRITE, ZIP_SOURCE_TELL_WRITE, ZIP_SOURCE_COMMIT_WRITE,
                ZIP_SOURCE_ROLLBACK_WRITE, ZIP_SOURCE_REMOVE, -1);
        default:
            zip_error_set(&error, ZIP_ER_OPNOTSUPP, 0);
            return -1;
        }
    }

    static zip_int64_t callback(void* state, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
        auto* self = static_cast<ArchiveSink*>(state);
        try {
            return self->call(data, len, cmd);
        } catch (...) {
            zip_error_set(&self->error, ZIP_ER_MEMORY, 0);
            return -1;
        }
    }
};

} // namespace

zip_source_t* createFileSource(const FileInput& in, DeflatePool& pool, Reporter& reporter,
                               zip_error_t* error) {
    auto* s = new FileSource(in, pool, reporter);
    zip_source_t* src = zip_source_function_create(&FileSource::callback, s, error);
    if (!src) delete s;
    return src;
}

zip_source_t* createArchiveSink(const std::string& path, const std::string& tempDir,
                                zip_error_t* error) {
    auto* s = new ArchiveSink(path, tempDir);
    zip_source_t* src = zip_source_function_create(&ArchiveSink::callback, s, error);
    if (!src) delete s;
    return src;
}

} // namespace ziplib
