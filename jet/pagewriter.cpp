#include "jet/pagewriter.h"

#include "jet/error.h"
#include "jet/pagefile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tarnwick::jet {

namespace {
constexpr std::size_t kRunBytes = 1u << 20;
constexpr std::size_t kQueuedRuns = 8; // how far the rebuild may run ahead of the disk

[[noreturn]] void fail(const std::string& path, const std::string& what) {
    throw JetError("output file", JetError::noPage,
                   "cannot " + what + " " + path + ": " + std::strerror(errno));
}
} // namespace

PageWriter::PageWriter(const std::string& path, const Format& format, std::uint32_t databaseKey)
    : path_(path), format_(format), key_(databaseKey) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) fail(path, "create");
}

PageWriter::PageWriter(int fd, const std::string& name, const Format& format,
                       std::uint32_t databaseKey)
    : path_(name), format_(format), key_(databaseKey), fd_(fd), ownsFd_(false) {}

PageWriter::~PageWriter() {
    stopWriting();
    if (fd_ >= 0 && ownsFd_) ::close(fd_);
}

void PageWriter::stopWriting() noexcept {
    if (!writer_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    writer_.join();
}

void PageWriter::writeRuns() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || !queued_.empty(); });
        if (queued_.empty()) return; // stopping, with nothing left
        Run run = std::move(queued_.front());
        queued_.pop_front();
        writing_ = true;
        lock.unlock();
        std::exception_ptr error;
        try {
            writeAt(run.offset, run.bytes.data(), run.bytes.size());
        } catch (...) {
            error = std::current_exception();
        }
        run.bytes.clear();
        lock.lock();
        writing_ = false;
        if (error && !failed_) failed_ = error;
        spare_.push_back(std::move(run.bytes));
        changed_.notify_all();
    }
}

void PageWriter::drain() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return queued_.empty() && !writing_; });
    if (failed_) std::rethrow_exception(failed_);
}

std::uint32_t PageWriter::allocate(std::uint32_t count) {
    // Row pointers carry 24-bit page numbers.
    if (static_cast<std::uint64_t>(next_) + count > 0xFFFFFFu)
        throw JetError("output file", next_, "the rebuilt file would need more pages than fit");
    const std::uint32_t first = next_;
    next_ += count;
    return first;
}

void PageWriter::writeAt(std::uint64_t offset, const std::uint8_t* data, std::size_t len) {
    std::size_t done = 0;
    while (done < len) {
        const ssize_t n = ::pwrite(fd_, data + done, len - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            fail(path_, "write to");
        }
        done += static_cast<std::size_t>(n);
    }
}

void PageWriter::flush() {
    if (run_.empty()) return;
    if (!writer_.joinable()) writer_ = std::thread([this] { writeRuns(); });
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return queued_.size() < kQueuedRuns || failed_; });
    if (failed_) std::rethrow_exception(failed_);
    queued_.push_back({static_cast<std::uint64_t>(runStart_) * format_.pageSize, std::move(run_)});
    run_.clear();
    if (!spare_.empty()) {
        run_ = std::move(spare_.back());
        spare_.pop_back();
    }
    lock.unlock();
    changed_.notify_all();
}

void PageWriter::write(std::uint32_t page, std::vector<std::uint8_t> bytes) {
    if (page >= next_ || bytes.size() != format_.pageSize)
        throw JetError("output file", page, "internal: page written out of its allocation");
    if (key_ != 0 && page != 0) {
        const std::uint32_t k = key_ ^ page;
        const std::uint8_t key[4] = {
            static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k >> 8),
            static_cast<std::uint8_t>(k >> 16), static_cast<std::uint8_t>(k >> 24)};
        rc4(key, bytes);
    }
    const std::uint32_t runPages = static_cast<std::uint32_t>(run_.size() / format_.pageSize);
    if (!run_.empty() && page != runStart_ + runPages) flush();
    if (run_.empty()) runStart_ = page;
    run_.insert(run_.end(), bytes.begin(), bytes.end());
    if (run_.size() >= kRunBytes) flush();
    ++written_;
}

void PageWriter::finish(bool sync) {
    flush();
    drain();
    if (written_ < next_)
        throw JetError("output file", JetError::noPage,
                       "internal: " + std::to_string(next_ - written_) +
                           " pages were never written");
    if (::ftruncate(fd_,
                    static_cast<off_t>(static_cast<std::uint64_t>(next_) * format_.pageSize)) != 0)
        fail(path_, "set the size of");
    if (sync && ::fsync(fd_) != 0) fail(path_, "sync");
}

} // namespace tarnwick::jet
