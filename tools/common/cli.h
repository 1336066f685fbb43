#pragma once

// What the command-line programs share about their use: wrong use is said in one line with a
// hint where to read more, and always exits 2; --version says the program and its version.

#include <cstdio>
#include <string>

#ifndef TARNWICK_VERSION
#error "TARNWICK_VERSION is set by the build"
#endif

namespace tarnwick::cli {

constexpr int kBadUse = 2;

// Says what was wrong with the command line. Returns the exit status to use.
inline int badUse(const char* program, const std::string& why) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program, why.c_str(), program);
    return kBadUse;
}

// "<program> <version>" on standard output; the caller flushes and checks it.
inline void printVersion(const char* program) {
    std::printf("%s %s\n", program, TARNWICK_VERSION);
}

} // namespace tarnwick::cli
