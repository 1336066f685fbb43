#include "sources.h"

#include "pdeflate.h"
#include "reporter.h"

#include "platform/posix/durablereplace.h"
#include "platform/posix/faults.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
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
        // Never blocks: what was a file when collected may be a FIFO by now.
        fd = ::open(in.path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) {
            zip_error_set(&error, ZIP_ER_OPEN, errno);
            return -1;
        }
        struct stat now {};
        if (::fstat(fd, &now) != 0 || !S_ISREG(now.st_mode)) {
            zip_error_set(&error, ZIP_ER_OPEN, S_ISREG(now.st_mode) ? errno : EINVAL);
            closeFile();
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
    mode_t privacy;
    zip_error_t error;
    bool exists = false;
    struct stat st {};
    int rfd = -1;
    uint64_t offset = 0;
    tarnwick::posix::UniqueFd scratch; // the temporary folder, when one was given
    std::unique_ptr<tarnwick::posix::DurableReplace> out;

    // Bytes in front of the archive proper (a self-extractor): kept as they are, and
    // hidden from libzip, which sees a plain archive.
    uint64_t prefix = 0;

    ArchiveSink(std::string p, std::string t, mode_t m)
        : path(std::move(p)), tempDir(std::move(t)), privacy(m) {
        zip_error_init(&error);
        exists = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
        if (exists) prefix = findPrefix();
    }
    // Opens the archive for reading; never blocks, and only ever reads a regular file.
    int openArchive() const {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        struct stat now {};
        if (fd >= 0 && (::fstat(fd, &now) != 0 || !S_ISREG(now.st_mode))) {
            ::close(fd);
            errno = EINVAL;
            return -1;
        }
        return fd;
    }
    uint64_t findPrefix() const {
        const int fd = openArchive();
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
        out.reset();
        if (rfd >= 0) ::close(rfd);
        zip_error_fini(&error);
    }
    int wfd() const { return out ? out->fd() : -1; }
    bool copyPrefix() {
        const int in = openArchive();
        if (in < 0) return false;
        std::string buf(1 << 16, '\0');
        uint64_t done = 0;
        int err = 0;
        while (err == 0 && done < prefix) {
            const ssize_t r = ::pread(in, buf.data(), std::min<uint64_t>(buf.size(), prefix - done),
                                      static_cast<off_t>(done));
            if (r <= 0) {
                err = r < 0 ? errno : EIO;
                break;
            }
            err = tarnwick::posix::writeAll(wfd(), buf.data(), static_cast<size_t>(r));
            done += static_cast<uint64_t>(r);
        }
        ::close(in);
        errno = err;
        return err == 0;
    }
    // A new archive is never more readable than the files in it; an existing one keeps its
    // permissions unless new contents are more private than it.
    mode_t newMode() const {
        if (exists) return (st.st_mode & 07777) & (privacy | 07700);
        const mode_t mask = umask(0);
        umask(mask);
        return 0666 & ~mask & (privacy | 0700);
    }
    bool beginWrite() {
        tarnwick::posix::ReplaceOptions options;
        options.newFileMode = newMode();
        if (!tempDir.empty()) {
            // An unusable temporary folder is not a reason to fail: the archive's own is used.
            scratch.reset(::open(tempDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            options.scratchFolderFd = scratch.get();
        }
        out = std::make_unique<tarnwick::posix::DurableReplace>();
        if (!out->open(path, options)) {
            const int e = out->errorCode();
            zip_error_set(&error, out->refused() ? ZIP_ER_INVAL : ZIP_ER_TMPOPEN, e);
            out.reset();
            return false;
        }
        out->setMode(newMode());
        return true;
    }
    zip_int64_t commit() {
        if (!out->sync()) {
            zip_error_set(&error, ZIP_ER_WRITE, out->errorCode());
            return -1;
        }
        // Checked before it replaces anything: the new archive must open as a consistent zip.
        zip_error_t cerr;
        zip_error_init(&cerr);
        const int dupFd = ::fcntl(wfd(), F_DUPFD_CLOEXEC, 0);
        FILE* f = dupFd >= 0 ? ::fdopen(dupFd, "rb") : nullptr;
        if (!f && dupFd >= 0) ::close(dupFd);
        zip_source_t* csrc = f ? zip_source_filep_create(f, prefix, -1, &cerr) : nullptr;
        if (!csrc && f) std::fclose(f);
        zip_t* check =
            csrc ? zip_open_from_source(csrc, ZIP_RDONLY | ZIP_CHECKCONS, &cerr) : nullptr;
        zip_error_fini(&cerr);
        if (!check) {
            if (csrc) zip_source_free(csrc);
            zip_error_set(&error, ZIP_ER_INCONS, 0);
            return -1;
        }
        zip_discard(check);
        if (!out->commit()) {
            const std::string& why = out->errorMessage();
            zip_error_set(&error, why.starts_with("cannot move") ? ZIP_ER_RENAME : ZIP_ER_WRITE,
                          out->errorCode());
            return -1;
        }
        out.reset();
        exists = ::stat(path.c_str(), &st) == 0;
        return 0;
    }

    zip_int64_t call(void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
        switch (cmd) {
        case ZIP_SOURCE_OPEN:
            rfd = openArchive();
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
            if (!beginWrite()) return -1;
            if (prefix > 0 && !copyPrefix()) {
                zip_error_set(&error, ZIP_ER_WRITE, errno);
                out.reset();
                return -1;
            }
            return 0;
        }
        case ZIP_SOURCE_WRITE:
            if (const int e = tarnwick::posix::writeAll(wfd(), data, len)) {
                zip_error_set(&error, ZIP_ER_WRITE, e);
                return -1;
            }
            return static_cast<zip_int64_t>(len);
        case ZIP_SOURCE_SEEK_WRITE: {
            auto* args = ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, len, &error);
            if (!args) return -1;
            const off_t to =
                args->whence == SEEK_SET ? static_cast<off_t>(prefix) + args->offset : args->offset;
            if (::lseek(wfd(), to, args->whence) < 0) {
                zip_error_set(&error, ZIP_ER_SEEK, errno);
                return -1;
            }
            return 0;
        }
        case ZIP_SOURCE_TELL_WRITE: {
            const off_t o = ::lseek(wfd(), 0, SEEK_CUR);
            if (o < 0) {
                zip_error_set(&error, ZIP_ER_TELL, errno);
                return -1;
            }
            return o - static_cast<off_t>(prefix);
        }
        case ZIP_SOURCE_COMMIT_WRITE: {
            const zip_int64_t r = commit();
            if (r != 0) out.reset();
            return r;
        }
        case ZIP_SOURCE_ROLLBACK_WRITE:
            out.reset();
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

zip_source_t* createArchiveSink(const std::string& path, const std::string& tempDir, mode_t privacy,
                                zip_error_t* error) {
    auto* s = new ArchiveSink(path, tempDir, privacy);
    zip_source_t* src = zip_source_function_create(&ArchiveSink::callback, s, error);
    if (!src) delete s;
    return src;
}

} // namespace ziplib
