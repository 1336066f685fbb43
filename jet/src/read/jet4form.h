#pragma once

// Jet 3 values in the form Jet 4 stores them, for converting a file: text decoded from the code
// page into UCS-2, property blobs with their names and text in UCS-2.

#include "jet/bytes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::jet {

// Whether Jet 3 text in `codePage` can be converted exactly (the code page is known).
bool convertibleCodePage(int codePage);

// Jet 3 text as UTF-8; bytes the code page leaves undefined become U+FFFD, and `replaced`
// (when given) is increased by their number. Unlike reading, nothing maps to a control.
std::string decodeJet3ForJet4(Bytes bytes, int codePage, std::size_t* replaced = nullptr);

// UTF-8 text as Jet 4 stores it, appended to `out`: compressed (FF FE and one byte a
// character) when `compress` allows it and every character is U+0001..U+00FF, else UCS-2 LE.
void appendJet4Text(std::vector<std::uint8_t>& out, std::string_view utf8, bool compress);
// Plain UCS-2 LE, as names and property values are kept.
void appendUcs2(std::vector<std::uint8_t>& out, std::string_view utf8);

// A Jet 3 property blob ("KKD\0") as Jet 4 keeps it ("MR2\0"): names, object names and text
// values in UCS-2, the database's AccessVersion "08.50" (Access 2000), everything else as it
// was. Throws JetError naming `structure` when the blob
// does not parse.
std::vector<std::uint8_t> jet4PropertyBlob(Bytes blob, int codePage, const std::string& structure,
                                           std::size_t* replaced = nullptr);

} // namespace tarnwick::jet
