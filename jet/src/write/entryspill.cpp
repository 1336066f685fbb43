#include "write/entryspill.h"

#include "jet/error.h"
#include "platform/posix/tempfiles.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <queue>
#include <unistd.h>

namespace tarnwick::jet {

namespace {

// An entry on file: key length (2 bytes), key, page (3 bytes), row.
constexpr std::size_t kFixed = 6;

[[noreturn]] void fail(const std::string& what, const std::string& folder) {
    throw JetError("index spill file", JetError::noPage,
                   "cannot " + what + " the temporary index file in " + folder + ": " +
                       std::strerror(errno));
}

// Reads one run in blocks, an entry at a time.
class RunReader {
public:
    RunReader(const EntrySpill::Run& run, std::size_t buffer)
        : at_(run.offset), end_(run.offset + run.bytes), buf_(buffer) {}
    // The next entry into `e`; false at the run's end.
    template <typename ReadFn> bool next(IndexEntry& e, const ReadFn& read) {
        if (pos_ + kFixed > len_ && !refill(read, kFixed)) return false;
        std::uint16_t size;
        std::memcpy(&size, buf_.data() + pos_, 2);
        if (pos_ + kFixed + size > len_ && !refill(read, kFixed + size))
            throw JetError("index spill file", JetError::noPage, "a run ends inside an entry");
        const std::uint8_t* p = buf_.data() + pos_ + 2;
        e.key.assign(p, size);
        p += size;
        e.page = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                 static_cast<std::uint32_t>(p[2]) << 16;
        e.row = p[3];
        e.child = 0;
        pos_ += kFixed + size;
        return true;
    }

private:
    // Moves what is left to the front and reads on; false when the run holds no `need` bytes.
    template <typename ReadFn> bool refill(const ReadFn& read, std::size_t need) {
        std::memmove(buf_.data(), buf_.data() + pos_, len_ - pos_);
        len_ -= pos_;
        pos_ = 0;
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(buf_.size() - len_, end_ - at_));
        if (take) read(at_, buf_.data() + len_, take);
        at_ += take;
        len_ += take;
        return len_ >= need;
    }

    std::uint64_t at_, end_;
    std::vector<std::uint8_t> buf_;
    std::size_t pos_ = 0, len_ = 0;
};

} // namespace

EntrySpill::EntrySpill(const std::string& folder) : folder_(folder) {
    posix::UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) fail("open the folder for", folder);
    std::string name;
    posix::SignalCleanup cleanup;
    fd_ = posix::createTemp(dir.get(), posix::TempNaming{}, &name, &cleanup);
    if (!fd_) fail("create", folder);
    if (::unlinkat(dir.get(), name.c_str(), 0) != 0) fail("unname", folder);
}

EntrySpill::Run EntrySpill::write(const std::vector<IndexEntry>& sorted) {
    Run run{end_, 0};
    std::vector<std::uint8_t> buf;
    buf.reserve(1 << 20);
    auto flush = [&] {
        for (std::size_t done = 0; done < buf.size();) {
            const ssize_t n =
                ::pwrite(fd_.get(), buf.data() + done, buf.size() - done, static_cast<off_t>(end_));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                if (n == 0) errno = ENOSPC;
                fail("write", folder_);
            }
            done += static_cast<std::size_t>(n);
            end_ += static_cast<std::uint64_t>(n);
        }
        buf.clear();
    };
    for (const IndexEntry& e : sorted) {
        if (buf.size() + kFixed + e.key.size() > buf.capacity()) flush();
        const auto size = static_cast<std::uint16_t>(e.key.size());
        const std::uint8_t head[2] = {static_cast<std::uint8_t>(size),
                                      static_cast<std::uint8_t>(size >> 8)};
        buf.insert(buf.end(), head, head + 2);
        buf.insert(buf.end(), e.key.begin(), e.key.end());
        const std::uint8_t tail[4] = {static_cast<std::uint8_t>(e.page),
                                      static_cast<std::uint8_t>(e.page >> 8),
                                      static_cast<std::uint8_t>(e.page >> 16), e.row};
        buf.insert(buf.end(), tail, tail + 4);
    }
    flush();
    run.bytes = end_ - run.offset;
    return run;
}

void EntrySpill::read(std::uint64_t offset, std::uint8_t* to, std::size_t size) const {
    while (size > 0) {
        const ssize_t n = ::pread(fd_.get(), to, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            fail("read", folder_);
        }
        to += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
}

void EntrySpill::merge(const std::vector<Run>& runs, std::vector<IndexEntry>& tail,
                       std::size_t bufferBytes,
                       const std::function<void(IndexEntry&&)>& emit) const {
    const std::size_t perRun =
        std::max<std::size_t>(64 * 1024, bufferBytes / std::max<std::size_t>(runs.size(), 1));
    std::vector<RunReader> readers;
    readers.reserve(runs.size());
    for (const Run& r : runs)
        readers.emplace_back(r, perRun);
    auto readFn = [this](std::uint64_t at, std::uint8_t* to, std::size_t n) { read(at, to, n); };
    // One head per source: the runs, then the tail at index runs.size().
    std::vector<IndexEntry> heads(runs.size() + 1);
    std::size_t tailAt = 0;
    auto advance = [&](std::size_t s) {
        if (s < readers.size()) return readers[s].next(heads[s], readFn);
        if (tailAt >= tail.size()) return false;
        heads[s] = std::move(tail[tailAt++]);
        return true;
    };
    auto after = [&](std::size_t a, std::size_t b) { return heads[b].compare(heads[a]) < 0; };
    std::priority_queue<std::size_t, std::vector<std::size_t>, decltype(after)> queue(after);
    for (std::size_t s = 0; s < heads.size(); ++s)
        if (advance(s)) queue.push(s);
    while (!queue.empty()) {
        const std::size_t s = queue.top();
        queue.pop();
        emit(std::move(heads[s]));
        if (advance(s)) queue.push(s);
    }
    std::vector<IndexEntry>().swap(tail);
}

} // namespace tarnwick::jet
