#pragma once

// tarnwick-jet convert: a file in a newer format. Returns the program's exit status.
int runConvert(int argc, const char* const* argv);
