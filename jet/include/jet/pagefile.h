#pragma once

#include "jet/bytes.h"
#include "jet/format.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarnwick::jet {

// Where the bytes come from. Implementations read whole ranges or fail; they never change the
// file.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Reads exactly out.size() bytes at offset; throws JetError when it cannot.
    virtual void read(std::uint64_t offset, std::span<std::uint8_t> out) const = 0;
    // The whole content in memory when the source can offer it (a mapped file, a buffer), so
    // that pages need no copies; empty otherwise.
    virtual Bytes mapping() const { return {}; }
    // Lets the system drop what of the mapping it holds in memory; it is read again on use.
    virtual void dropResident() const {}
};

// A file opened read-only.
std::unique_ptr<ByteSource> openFileSource(const std::string& path);
// A file already open (a locked database, a temporary file); the source reads through its own
// duplicate of `fd`.
std::unique_ptr<ByteSource> openFileSource(int fd, const std::string& name);
// The same, mapped into memory: pages are served without copies and the memory they take is
// given back as the walk moves on, so a file of any size is read in bounded memory. Only for
// files nobody truncates meanwhile (a locked database, our own temporary file).
std::unique_ptr<ByteSource> openMappedSource(int fd, const std::string& name);
// Bytes held in memory (tests, fuzzing). The source keeps its own copy.
std::unique_ptr<ByteSource> memorySource(std::vector<std::uint8_t> bytes);

// RC4 over a buffer with a short key; used for the page-0 mask and for encoded pages.
void rc4(std::span<const std::uint8_t> key, std::span<std::uint8_t> data);

// Page-level access: fixed-size pages, decoded with the database key when there is one, cached
// for the life of the object (or, for mapped sources of plain pages, served from the mapping).
// Every page number is checked against the file size.
class PageFile {
public:
    PageFile(std::unique_ptr<ByteSource> source, Format format, std::uint32_t databaseKey);

    const Format& format() const { return format_; }
    std::uint32_t pageSize() const { return format_.pageSize; }
    std::uint32_t pageCount() const { return pageCount_; }
    std::uint64_t fileSize() const { return source_->size(); }
    bool contains(std::uint32_t page) const { return page < pageCount_; }

    // The decoded page. The span stays valid as long as this object lives. Throws a JetError
    // naming `structure` when the page lies outside the file.
    Bytes page(std::uint32_t number, const std::string& structure = "page") const;
    ByteReader reader(std::uint32_t number, const std::string& structure) const {
        return ByteReader(page(number, structure), structure, number);
    }

    // Whether pages may be read from several threads at once: true when they are served from
    // the mapping, which reading never changes.
    bool readsConcurrently() const { return !mapped_.empty(); }

    // Pages held in the cache, and forgetting them all. Spans returned earlier become invalid:
    // long walks (compaction, verification) call this between units of work holding none.
    std::size_t cachedPages() const { return cached_; }
    void releaseCache() const;

private:
    std::unique_ptr<ByteSource> source_;
    Format format_;
    std::uint32_t key_;
    std::uint32_t pageCount_;
    mutable std::vector<std::unique_ptr<std::uint8_t[]>> cache_;
    mutable std::size_t cached_ = 0;
    Bytes mapped_; // the source's mapping, when pages need no decoding
    mutable std::atomic<std::size_t> touched_ = 0; // mapped pages served since the last drop
};

} // namespace tarnwick::jet
