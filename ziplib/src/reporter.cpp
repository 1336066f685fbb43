#include "reporter.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace ziplib {

int32_t clampSize(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, 0, std::numeric_limits<int32_t>::max()));
}

Reporter::Answer Reporter::call(int32_t action, int32_t code, int64_t size,
                                const std::string& text) {
    Answer a;
    a.code = code;
    a.size = clampSize(size);
    a.text = text;
    if (!m_fn) return a;
    ZipCallbackData d;
    std::memset(&d, 0, sizeof d);
    d.caller = m_caller;
    d.action = action;
    d.code = code;
    d.size = a.size;
    const size_t n = std::min(text.size(), sizeof d.text - 1);
    std::memcpy(d.text, text.data(), n);
    if (m_fn(&d) != 0) m_stopped = true;
    d.text[sizeof d.text - 1] = '\0';
    a.code = d.code;
    a.size = d.size;
    a.text = d.text;
    return a;
}

bool Reporter::message(int32_t code, const std::string& text) {
    call(ZIPLIB_ACTION_MESSAGE, code, 0, text);
    return !m_stopped;
}

bool Reporter::newFile(const std::string& name, uint64_t size) {
    call(ZIPLIB_ACTION_NEW_FILE, 0, static_cast<int64_t>(std::min<uint64_t>(size, INT64_MAX)),
         name);
    return !m_stopped;
}

bool Reporter::progress(uint64_t bytes) {
    call(ZIPLIB_ACTION_PROGRESS, 0, static_cast<int64_t>(std::min<uint64_t>(bytes, INT64_MAX)), "");
    return !m_stopped;
}

} // namespace ziplib
