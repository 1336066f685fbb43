#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The General text sort orders of Jet 3 (General 97, over code page bytes) and Jet 4 (General
// Legacy, over UCS-2). The tables are derived from keys stored in real files.
namespace tarnwick::jet::collation {

struct General97Code {
    bool known = false;
    std::uint8_t length = 0; // inline codes
    std::uint8_t codes[2] = {};
    std::uint8_t extra = 0;   // accent nibble of an international character, 0 for none
    bool significant = false; // counts towards the position of the next accent
};
extern const General97Code general97[256];

// kind: 'S' inline codes (+ accent byte), 'Z' the same but the text gets the Kana suffix,
// 'U' no inline code: recorded by position at the end with code `extra`.
struct LegacyCode {
    char16_t ch;
    char kind;
    std::uint8_t length;
    std::uint8_t codes[2];
    std::uint8_t extra; // accent byte; 2 means none
};
extern const LegacyCode generalLegacy[];
extern const std::size_t generalLegacySize;

// Append the ascending key bytes of a text (trailing spaces and characters past 255 already
// removed) and return nothing, or return the first character that has no code (nothing is
// appended then).
std::optional<std::uint32_t> appendGeneral97(std::vector<std::uint8_t>& out,
                                             const std::vector<std::uint8_t>& codePageText);
std::optional<std::uint32_t> appendGeneralLegacy(std::vector<std::uint8_t>& out,
                                                 const std::u16string& text);

} // namespace tarnwick::jet::collation
