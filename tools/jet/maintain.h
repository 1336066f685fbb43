#pragma once

// The commands that write: compact and repair. Each returns the program's exit status.
int runCompact(int argc, const char* const* argv);
int runRepair(int argc, const char* const* argv);
