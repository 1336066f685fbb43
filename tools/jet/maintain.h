#pragma once

// The commands that write: compact and repair. Each returns the program's exit status.
int runCompact(int argc, const char* const* argv);
int runRepair(int argc, const char* const* argv);

// Says why a rewrite of `file` failed and gives the exit status: 1 refused or failed with the
// original untouched, 2 the file cannot be read. Called inside a catch block, of any exception.
int rewriteFailed(const char* file);
