#pragma once

#include "jet/bytes.h"
#include "jet/format.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct iovec;

namespace tarnwick::jet {

// The output side of a rebuild: hands out page numbers in file order and writes finished pages,
// encoded with the database key when there is one. Pages are handed to a thread of its own in
// batches, whatever their order (a rebuild finishes its data and long-value pages interleaved),
// and written there in runs of consecutive pages, so that the rebuild goes on while the system
// copies them.
// Every failed write throws JetError naming the output file, at the next write or at `finish`.
class PageWriter {
public:
    // Creates `path`, which must not exist, readable and writable by the owner only.
    PageWriter(const std::string& path, const Format& format, std::uint32_t databaseKey);
    // Writes into a file already open for writing (not owned; `name` is for messages).
    PageWriter(int fd, const std::string& name, const Format& format, std::uint32_t databaseKey);
    // Writes nothing: counts the pages a rebuild would write (estimates).
    explicit PageWriter(const Format& format) : format_(format), key_(0), ownsFd_(false) {}
    ~PageWriter();
    PageWriter(const PageWriter&) = delete;
    PageWriter& operator=(const PageWriter&) = delete;

    const Format& format() const { return format_; }
    std::uint32_t pageSize() const { return format_.pageSize; }
    // Reserves `count` consecutive page numbers and returns the first.
    std::uint32_t allocate(std::uint32_t count = 1);
    std::uint32_t pageCount() const { return next_; }
    // Writes a whole page (pageSize bytes); page 0 is written as given, others are encoded.
    void write(std::uint32_t page, std::vector<std::uint8_t> bytes);
    // A zeroed page to fill and hand to `write`, in the room of a page written already when
    // there is one: a rebuild then does not allocate, and the system zero, a page for each.
    std::vector<std::uint8_t> blankPage();
    // Writes what is gathered, checks that every allocated page was written and, when asked,
    // syncs the file.
    void finish(bool sync = true);
    int fd() const { return fd_; }

private:
    using Batch = std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>>; // page, bytes
    void flush();
    void writeBatch(Batch& batch);
    void writeAt(std::uint64_t offset, std::vector<struct iovec>& parts);
    void writeRuns();
    // Waits until every batch handed over is written, then throws what writing one threw.
    void drain();
    void stopWriting() noexcept;

    std::string path_;
    Format format_;
    std::uint32_t key_;
    int fd_ = -1;
    bool ownsFd_ = true;
    std::uint32_t next_ = 0;
    std::uint64_t written_ = 0; // pages written, to prove none was left out
    Batch batch_;

    std::thread writer_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Batch> queued_;                     // batches to write, in order
    std::vector<std::vector<std::uint8_t>> spare_; // the room of written pages, for `blankPage`
    bool writing_ = false;                         // the writer holds a batch
    bool stopping_ = false;
    std::exception_ptr failed_; // the first failure to write
};

} // namespace tarnwick::jet
