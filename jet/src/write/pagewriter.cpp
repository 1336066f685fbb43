#include "write/pagewriter.h"

#include "jet/error.h"
#include "jet/pagefile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/uio.h>
#include <unistd.h>

namespace tarnwick::jet {

namespace {
constexpr std::size_t kBatchBytes = 1u << 20;
constexpr std::size_t kQueuedBatches = 8; // how far the rebuild may run ahead of the disk
// Written pages kept for reuse, in batches: as many as may be on their way, so that a steady
// rebuild allocates none.
constexpr std::size_t kSpareBatches = kQueuedBatches + 2;

[[noreturn]] void fail(const std::string& path, const std::string& what) {
    throw JetError("output file", JetError::noPage,
                   "cannot " + what + " " + path + ": " + std::strerror(errno));
}
} // namespace

PageWriter::PageWriter(const std::string& path, const Format& format, std::uint32_t databaseKey)
    : path_(path), format_(format), key_(databaseKey) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) fail(path, "create");
    // Locked while it is written, as every temporary file of ours, so that no sweep of the
    // folder takes it for a dead run's.
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        // The lock's failure is the one reported; a name left behind is swept by the next writer.
        (void)::close(fd_);
        (void)::unlink(path.c_str());
        errno = error;
        fail(path, "lock");
    }
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
        Batch batch = std::move(queued_.front());
        queued_.pop_front();
        writing_ = true;
        lock.unlock();
        std::exception_ptr error;
        try {
            writeBatch(batch);
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        for (auto& written : batch) {
            if (spare_.size() * format_.pageSize >= kSpareBatches * kBatchBytes) break;
            spare_.push_back(std::move(written.second));
        }
        writing_ = false;
        if (error && !failed_) failed_ = error;
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

// Writes the pages of a batch in runs of consecutive page numbers, each with one system call
// where it can; a page written twice keeps the later bytes.
void PageWriter::writeBatch(Batch& batch) {
    std::stable_sort(batch.begin(), batch.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<struct iovec> parts;
    for (std::size_t i = 0; i < batch.size();) {
        std::size_t j = i + 1;
        while (j < batch.size() && batch[j].first == batch[j - 1].first + 1 && j - i < IOV_MAX)
            ++j;
        parts.clear();
        for (std::size_t k = i; k < j; ++k)
            parts.push_back({batch[k].second.data(), batch[k].second.size()});
        writeAt(static_cast<std::uint64_t>(batch[i].first) * format_.pageSize, parts);
        i = j;
    }
}

void PageWriter::writeAt(std::uint64_t offset, std::vector<struct iovec>& parts) {
    std::size_t first = 0;
    while (first < parts.size()) {
        const ssize_t n =
            ::pwritev(fd_, parts.data() + first, static_cast<int>(parts.size() - first),
                      static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            fail(path_, "write to");
        }
        offset += static_cast<std::uint64_t>(n);
        // Past the parts written whole; a part written in part goes on from where it stopped.
        for (auto left = static_cast<std::size_t>(n); left > 0;) {
            iovec& v = parts[first];
            const std::size_t take = std::min(left, v.iov_len);
            v.iov_base = static_cast<std::uint8_t*>(v.iov_base) + take;
            v.iov_len -= take;
            left -= take;
            if (v.iov_len == 0) ++first;
        }
    }
}

void PageWriter::flush() {
    if (batch_.empty()) return;
    if (!writer_.joinable()) writer_ = std::thread([this] { writeRuns(); });
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return queued_.size() < kQueuedBatches || failed_; });
    if (failed_) std::rethrow_exception(failed_);
    queued_.push_back(std::move(batch_));
    batch_.clear();
    lock.unlock();
    changed_.notify_all();
}

std::vector<std::uint8_t> PageWriter::blankPage() {
    std::vector<std::uint8_t> page;
    {
        std::lock_guard lock(mutex_);
        if (!spare_.empty()) {
            page = std::move(spare_.back());
            spare_.pop_back();
        }
    }
    page.assign(format_.pageSize, 0);
    return page;
}

void PageWriter::write(std::uint32_t page, std::vector<std::uint8_t> bytes) {
    if (page >= next_ || bytes.size() != format_.pageSize)
        throw JetError("output file", page, "internal: page written out of its allocation");
    if (key_ != 0 && page != 0 && fd_ >= 0) {
        const std::uint32_t k = key_ ^ page;
        const std::uint8_t key[4] = {
            static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k >> 8),
            static_cast<std::uint8_t>(k >> 16), static_cast<std::uint8_t>(k >> 24)};
        rc4(key, bytes);
    }
    ++written_;
    if (fd_ < 0) { // counting only; the page's room serves the next
        if (spare_.size() < 4) spare_.push_back(std::move(bytes));
        return;
    }
    batch_.emplace_back(page, std::move(bytes));
    if (batch_.size() * format_.pageSize >= kBatchBytes) flush();
}

void PageWriter::finish(bool sync) {
    if (fd_ < 0) return;
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
