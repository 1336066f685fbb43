#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The General text sort orders of Jet 3 (General 97, over code page bytes), Jet 4 and ACE
// (General Legacy, and General since Access 2010, over UCS-2). The tables are derived from keys
// stored in real files.
namespace tarnwick::jet::collation {

struct General97Code {
    bool known = false;
    std::uint8_t length = 0; // inline codes
    std::uint8_t codes[2] = {};
    std::uint8_t extra = 0;   // accent nibble of an international character, 0 for none
    bool significant = false; // counts towards the position of the next accent
};
extern const General97Code general97[256];

// A run of consecutive characters of the General Legacy (Jet 4, ACE 2007) or General (Access
// 2010) order: `bytes` holds the inline code of the first, its extra (accent) bytes and its
// unprintable codes; the inline code, read as a big-endian number, grows by `step` per
// character. Characters with no inline, extra or unprintable code are ignored; `modifier` is
// added to the accent byte of the character before; `crazy` is its Kana flag (0 for none).
struct TextRun {
    char16_t first;
    std::uint16_t count;
    std::uint8_t step;
    std::uint8_t inlineLength;
    std::uint8_t extraLength;
    std::uint8_t unprintableLength;
    std::uint8_t modifier;
    std::uint8_t crazy;
    std::uint8_t bytes[12];
};
extern const TextRun generalLegacy[];
extern const std::size_t generalLegacySize;
extern const TextRun general[];
extern const std::size_t generalSize;
// The halves of characters beyond the Basic Multilingual Plane, in each order
// (src/keys/collation_surrogates.cpp): each unit has a code of its own.
extern const TextRun generalLegacySurrogates[];
extern const std::size_t generalLegacySurrogatesSize;
extern const TextRun generalSurrogates[];
extern const std::size_t generalSurrogatesSize;

// Append the ascending key bytes of a text (trailing spaces and characters past 255 already
// removed) and return nothing, or return the first character that has no code (nothing is
// appended then).
std::optional<std::uint32_t> appendGeneral97(std::vector<std::uint8_t>& out,
                                             const std::vector<std::uint8_t>& codePageText);
std::optional<std::uint32_t> appendGeneralLegacy(std::vector<std::uint8_t>& out,
                                                 const std::u16string& text);
std::optional<std::uint32_t> appendGeneral(std::vector<std::uint8_t>& out,
                                           const std::u16string& text);

} // namespace tarnwick::jet::collation
