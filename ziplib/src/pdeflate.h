// Deflate of one file on all cores: the file is cut into blocks that workers compress
// at the same time, each primed with the 32 KiB before it, and the blocks are joined
// (sync flush between them, final block last) into one raw deflate stream.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ziplib {

class DeflatePool {
public:
    // threads == 0: one per core. With a single core the pool has no workers and
    // work runs on the caller's thread.
    explicit DeflatePool(unsigned threads = 0);
    ~DeflatePool();
    DeflatePool(const DeflatePool&) = delete;
    DeflatePool& operator=(const DeflatePool&) = delete;

    unsigned workers() const { return static_cast<unsigned>(m_threads.size()); }
    void submit(std::function<void()> task);

private:
    void loop();
    std::vector<std::thread> m_threads;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_tasks;
    bool m_quit = false;
};

class ParallelDeflater {
public:
    static constexpr size_t kBlock = 1u << 20;
    static constexpr size_t kWindow = 32768;

    // Compresses `size` bytes of fd from offset 0. The fd stays owned by the caller.
    ParallelDeflater(int fd, uint64_t size, int level, DeflatePool& pool);
    ~ParallelDeflater();

    // Copies compressed bytes into buf; 0 at the end of the stream, -1 on failure.
    int64_t read(uint8_t* buf, size_t len);
    uint32_t crc() const { return m_crc; }
    // Uncompressed bytes handed out since the last call (for progress reports).
    uint64_t takeProgress();
    const std::string& error() const { return m_error; }
    int errorNumber() const { return m_errno; }

private:
    struct Block;
    bool fill();
    static void compress(Block& b, int level);

    int m_fd;
    uint64_t m_size;
    int m_level;
    DeflatePool& m_pool;
    uint64_t m_readOffset = 0;
    bool m_allQueued = false;
    std::vector<uint8_t> m_tail; // last window of the previous block
    std::deque<std::shared_ptr<Block>> m_queue;
    size_t m_outPos = 0;
    uint32_t m_crc = 0;
    uint64_t m_progress = 0;
    std::string m_error;
    int m_errno = 0;
    std::mutex m_mutex;
    std::condition_variable m_done;
};

// Whole-buffer form of the same stream, for tests and small data.
std::vector<uint8_t> parallelDeflate(const uint8_t* data, size_t size, int level, DeflatePool& pool,
                                     uint32_t* crc = nullptr);

} // namespace ziplib
