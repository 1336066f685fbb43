#pragma once

#include "jet/header.h"

namespace tarnwick::jet {

// The format a compaction writes.
enum class TargetFormat { Keep, Jet4, Ace12 };

// The format `formatVersion` (CompactOptions: 0 keep, 32 Jet 3, 64 Jet 4, 128 ACE 12) asks of a
// file with `header`. Throws JetError, before anything is written, for anything that would go to
// an older format or lose data: Jet 4 to Jet 3 (Unicode text), ACE to Jet 4 or Jet 3 (complex
// columns), and Jet 3 straight to ACE (it goes to Jet 4 first).
TargetFormat targetFormat(const DatabaseHeader& header, int formatVersion);

} // namespace tarnwick::jet
