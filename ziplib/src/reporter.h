// Talks to the caller's callback. Only ever used on the thread that called ZipLibExec.
#pragma once

#include "ziplib.h"

#include <cstdint>
#include <string>

namespace ziplib {

class Reporter {
public:
    Reporter(ZipCallbackFn fn, void* caller) : m_fn(fn), m_caller(caller) {}

    struct Answer {
        int32_t code = 0;
        int32_t size = 0;
        std::string text;
    };

    // Sends one record; returns the answer. A non-zero return of the callback sets stopped().
    Answer call(int32_t action, int32_t code, int64_t size, const std::string& text);

    // Convenience forms; each returns false once the caller asked to stop.
    bool message(int32_t code, const std::string& text);
    bool newFile(const std::string& name, uint64_t size);
    bool progress(uint64_t bytes);

    bool stopped() const { return m_stopped; }

private:
    ZipCallbackFn m_fn;
    void* m_caller;
    bool m_stopped = false;
};

// Sizes in the record are 32-bit; larger values are clamped.
int32_t clampSize(int64_t v);

} // namespace ziplib
