#pragma once

#include "jet/bytes.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <utility>

namespace tarnwick::jet {

// The bytes of one index key. A large file has millions of index entries and most keys are
// short, so a key of up to `kInline` bytes lives inside the object and only longer ones take
// a heap block: sorting, building and walking indexes then hardly allocate.
class KeyBytes {
public:
    static constexpr std::size_t kInline = 30;

    KeyBytes() = default;
    KeyBytes(const std::uint8_t* data, std::size_t size) { assign(data, size); }
    explicit KeyBytes(Bytes bytes) { assign(bytes.data(), bytes.size()); }
    KeyBytes(std::initializer_list<std::uint8_t> bytes) { assign(bytes.begin(), bytes.size()); }
    KeyBytes(const KeyBytes& other) { assign(other.data(), other.size()); }
    KeyBytes(KeyBytes&& other) noexcept { take(other); }
    KeyBytes& operator=(const KeyBytes& other) {
        if (this != &other) assign(other.data(), other.size());
        return *this;
    }
    KeyBytes& operator=(KeyBytes&& other) noexcept {
        if (this != &other) {
            release();
            take(other);
        }
        return *this;
    }
    ~KeyBytes() { release(); }

    void assign(const std::uint8_t* data, std::size_t size) {
        std::uint8_t* to = prepare(size);
        if (size) std::memmove(to, data, size);
    }
    void assign(Bytes bytes) { assign(bytes.data(), bytes.size()); }
    // Makes the key `size` bytes long and returns them to be written; their values are left
    // unspecified.
    std::uint8_t* prepare(std::size_t size) {
        if (size > kMaxSize) throw JetError("index key", JetError::noPage, "key is too long");
        if (size > kInline && (!onHeap() || capacity() < size)) {
            auto* block = new std::uint8_t[size + sizeof(std::uint16_t)];
            release();
            std::memcpy(block, &size, sizeof(std::uint16_t)); // the block's capacity
            std::memcpy(buf_, &block, sizeof block);
        } else if (size <= kInline) {
            release();
        }
        size_ = static_cast<std::uint16_t>(size);
        return data();
    }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const std::uint8_t* data() const { return onHeap() ? heap() + sizeof(std::uint16_t) : buf_; }
    std::uint8_t* data() { return onHeap() ? heap() + sizeof(std::uint16_t) : buf_; }
    const std::uint8_t* begin() const { return data(); }
    const std::uint8_t* end() const { return data() + size_; }
    std::uint8_t* begin() { return data(); }
    std::uint8_t* end() { return data() + size_; }
    std::uint8_t operator[](std::size_t i) const { return data()[i]; }
    std::uint8_t& operator[](std::size_t i) { return data()[i]; }
    Bytes bytes() const { return {data(), size_}; }

    // Keys are short: a word at a time, in line.
    friend bool operator==(const KeyBytes& a, const KeyBytes& b) {
        if (a.size_ != b.size_) return false;
        const std::uint8_t *x = a.data(), *y = b.data();
        for (std::size_t i = 0; i < a.size_; i += 8) {
            const std::size_t m = a.size_ - i < 8 ? a.size_ - i : 8;
            if (loadPadded(x + i, m) != loadPadded(y + i, m)) return false;
        }
        return true;
    }

private:
    static constexpr std::size_t kMaxSize = 0xFFFF;

    bool onHeap() const { return size_ > kInline; }
    std::uint8_t* heap() const {
        std::uint8_t* p;
        std::memcpy(&p, buf_, sizeof p);
        return p;
    }
    std::size_t capacity() const {
        std::uint16_t c;
        std::memcpy(&c, heap(), sizeof c);
        return c;
    }
    void release() {
        if (onHeap()) delete[] heap();
        size_ = 0;
    }
    void take(KeyBytes& other) {
        std::memcpy(buf_, other.buf_, sizeof buf_);
        size_ = std::exchange(other.size_, 0);
    }

    std::uint8_t buf_[kInline] = {};
    std::uint16_t size_ = 0;
};

} // namespace tarnwick::jet
