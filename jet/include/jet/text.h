#pragma once

#include "jet/bytes.h"

#include <string>
#include <string_view>

namespace tarnwick::jet {

// Appends the UTF-8 form of a code point; anything that is not a scalar value becomes U+FFFD.
void appendUtf8(std::string& out, std::uint32_t cp);

// Jet 3 text: single bytes in the database code page. Code page 1252 is decoded exactly (its
// five undefined bytes map to the C1 controls of the same number, as Access does); any other
// code page falls back to Latin-1.
std::string decodeCodePage(Bytes bytes, int codePage);
// The reverse for one code point: its byte in the code page, or -1 when it has none.
int encodeCodePage(std::uint32_t cp, int codePage);
// The code points of UTF-8 text; malformed sequences become U+FFFD.
std::u32string utf8ToCodePoints(std::string_view utf8);
void utf8ToCodePoints(std::string_view utf8, std::u32string& out); // `out` is replaced

// Jet 4 text: UCS-2 little-endian, or the compressed form that starts with FF FE and switches
// between one-byte and two-byte characters at each 0x00 byte. Unpaired surrogates become U+FFFD.
// A trailing odd byte of plain UCS-2 is ignored.
std::string decodeUcs2(Bytes bytes);
std::string decodeJet4Text(Bytes bytes);

} // namespace tarnwick::jet
