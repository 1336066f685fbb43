#include "jet/pagefile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick::jet {

namespace {

// Mapped pages served before the mapping's memory is given back: enough that two threads reading
// apart rarely drop what the other still reads, and few enough that the resident part of a
// mapping stays small (16 MiB of 4 KiB pages).
constexpr std::size_t kResidentPages = 4096;

class FileSource final : public ByteSource {
public:
    FileSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    ~FileSource() override { ::close(fd_); }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::uint64_t size() const override { return size_; }
    void read(std::uint64_t offset, std::span<std::uint8_t> out) const override {
        std::size_t done = 0;
        while (done < out.size()) {
            ssize_t n = ::pread(fd_, out.data() + done, out.size() - done,
                                static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0)
                throw JetError(
                    "file", JetError::noPage,
                    "cannot read " + std::to_string(out.size()) + " bytes at offset " +
                        std::to_string(offset) +
                        (n < 0 ? std::string(": ") + std::strerror(errno) : ": file is shorter"));
            done += static_cast<std::size_t>(n);
        }
    }

private:
    int fd_;
    std::uint64_t size_;
};

class MappedSource final : public ByteSource {
public:
    MappedSource(const std::uint8_t* base, std::uint64_t size) : base_(base), size_(size) {}
    ~MappedSource() override { ::munmap(const_cast<std::uint8_t*>(base_), size_); }
    MappedSource(const MappedSource&) = delete;
    MappedSource& operator=(const MappedSource&) = delete;

    std::uint64_t size() const override { return size_; }
    void read(std::uint64_t offset, std::span<std::uint8_t> out) const override {
        if (offset > size_ || out.size() > size_ - offset)
            throw JetError("file", JetError::noPage,
                           "cannot read " + std::to_string(out.size()) + " bytes at offset " +
                               std::to_string(offset) + ": file is shorter");
        if (!out.empty()) std::memcpy(out.data(), base_ + offset, out.size());
    }
    Bytes mapping() const override { return Bytes(base_, size_); }
    void dropResident() const override {
        ::madvise(const_cast<std::uint8_t*>(base_), size_, MADV_DONTNEED);
    }

private:
    const std::uint8_t* base_;
    std::uint64_t size_;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    std::uint64_t size() const override { return bytes_.size(); }
    void read(std::uint64_t offset, std::span<std::uint8_t> out) const override {
        if (offset > bytes_.size() || out.size() > bytes_.size() - offset)
            throw JetError("file", JetError::noPage,
                           "cannot read " + std::to_string(out.size()) + " bytes at offset " +
                               std::to_string(offset) + ": file is shorter");
        if (!out.empty()) std::memcpy(out.data(), bytes_.data() + offset, out.size());
    }
    Bytes mapping() const override { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

} // namespace

std::unique_ptr<ByteSource> openFileSource(const std::string& path) {
    // Never blocks: a FIFO or device is refused by the check below, not waited on.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        throw JetError("file", JetError::noPage,
                       "cannot open " + path + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw JetError("file", JetError::noPage, path + " is not a regular file");
    }
    return std::make_unique<FileSource>(fd, static_cast<std::uint64_t>(st.st_size));
}

std::unique_ptr<ByteSource> openFileSource(int fd, const std::string& name) {
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        throw JetError("file", JetError::noPage,
                       "cannot read " + name + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(own, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(own);
        throw JetError("file", JetError::noPage, name + " is not a regular file");
    }
    return std::make_unique<FileSource>(own, static_cast<std::uint64_t>(st.st_size));
}

std::unique_ptr<ByteSource> openMappedSource(int fd, const std::string& name) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        throw JetError("file", JetError::noPage, name + " is not a regular file");
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size > 0 && size <= SIZE_MAX) {
        void* base = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
        if (base != MAP_FAILED)
            return std::make_unique<MappedSource>(static_cast<const std::uint8_t*>(base), size);
    }
    return openFileSource(fd, name);
}

std::unique_ptr<ByteSource> memorySource(std::vector<std::uint8_t> bytes) {
    return std::make_unique<MemorySource>(std::move(bytes));
}

void rc4(std::span<const std::uint8_t> key, std::span<std::uint8_t> data) {
    if (key.empty()) return;
    std::uint8_t s[256];
    for (int i = 0; i < 256; ++i)
        s[i] = static_cast<std::uint8_t>(i);
    std::uint8_t j = 0;
    for (int i = 0; i < 256; ++i) {
        j = static_cast<std::uint8_t>(j + s[i] + key[static_cast<std::size_t>(i) % key.size()]);
        std::swap(s[i], s[j]);
    }
    std::uint8_t a = 0, b = 0;
    for (auto& byte : data) {
        a = static_cast<std::uint8_t>(a + 1);
        b = static_cast<std::uint8_t>(b + s[a]);
        std::swap(s[a], s[b]);
        byte ^= s[static_cast<std::uint8_t>(s[a] + s[b])];
    }
}

PageFile::PageFile(std::unique_ptr<ByteSource> source, Format format, std::uint32_t databaseKey)
    : source_(std::move(source)), format_(format), key_(databaseKey) {
    const std::uint64_t pages = source_->size() / format_.pageSize;
    // Page numbers are 24 bits in row pointers; anything beyond cannot be addressed anyway.
    pageCount_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(pages, 0x1000000u));
    if (key_ == 0) mapped_ = source_->mapping();
    if (mapped_.empty()) cache_.resize(pageCount_);
}

Bytes PageFile::page(std::uint32_t number, const std::string& structure) const {
    if (number >= pageCount_)
        throw JetError(structure, number,
                       "page lies beyond the end of the file (" + std::to_string(pageCount_) +
                           " pages)");
    if (!mapped_.empty()) {
        // Spans into the mapping stay valid; only the memory behind them is given back.
        if (touched_.fetch_add(1, std::memory_order_relaxed) + 1 > kResidentPages) {
            source_->dropResident();
            touched_.store(0, std::memory_order_relaxed);
        }
        return mapped_.subspan(static_cast<std::size_t>(number) * format_.pageSize,
                               format_.pageSize);
    }
    auto& slot = cache_[number];
    if (!slot) {
        auto buf = std::make_unique<std::uint8_t[]>(format_.pageSize);
        std::span<std::uint8_t> span(buf.get(), format_.pageSize);
        source_->read(static_cast<std::uint64_t>(number) * format_.pageSize, span);
        if (key_ != 0 && number != 0) {
            const std::uint32_t k = key_ ^ number;
            const std::uint8_t key[4] = {
                static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k >> 8),
                static_cast<std::uint8_t>(k >> 16), static_cast<std::uint8_t>(k >> 24)};
            rc4(key, span);
        }
        slot = std::move(buf);
        ++cached_;
    }
    return Bytes(slot.get(), format_.pageSize);
}

void PageFile::releaseCache() const {
    if (cached_ == 0) return;
    for (auto& slot : cache_)
        slot.reset();
    cached_ = 0;
}

} // namespace tarnwick::jet
