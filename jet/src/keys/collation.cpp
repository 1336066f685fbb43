#include "keys/collation.h"

#include <algorithm>
#include <array>

namespace tarnwick::jet::collation {

namespace {

// One character's codes, expanded from its run.
struct Code {
    bool known = false;
    std::uint8_t inlineLength = 0, extraLength = 0, unprintableLength = 0;
    std::uint8_t modifier = 0;
    std::uint8_t crazy = 0;
    std::array<std::uint8_t, 12> bytes{};
};

using CodeTable = std::vector<Code>; // indexed by UTF-16 unit

void expand(CodeTable& t, const TextRun* runs, std::size_t size) {
    for (const TextRun* r = runs; r != runs + size; ++r)
        for (std::uint32_t i = 0; i < r->count; ++i) {
            Code& c = t[r->first + i];
            c = {true, r->inlineLength, r->extraLength, r->unprintableLength, r->modifier, r->crazy,
                 {}};
            std::copy(r->bytes, r->bytes + sizeof r->bytes, c.bytes.begin());
            // Add step * i to the inline code, last byte first.
            std::uint32_t carry = r->step * i;
            for (int b = r->inlineLength - 1; b >= 0 && carry; --b) {
                carry += c.bytes[static_cast<std::size_t>(b)];
                c.bytes[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(carry);
                carry >>= 8;
            }
        }
}

CodeTable expand(const TextRun* runs, std::size_t size, const TextRun* surrogates,
                 std::size_t surrogateCount) {
    CodeTable t(0x10000);
    expand(t, runs, size);
    expand(t, surrogates, surrogateCount);
    return t;
}

// Inline codes first; then 0x01 and the accent bytes (0x02 for a character without one, the
// trailing ones left out); then, when there are Kana flags or unprintable characters, 0x01 0x01,
// the Kana flags packed three to a byte with their suffix, and 0x01 with one record per
// unprintable character (its position, 0x06, its codes); then 0x00.
std::optional<std::uint32_t> appendText(std::vector<std::uint8_t>& out, const CodeTable& table,
                                        const std::u16string& text) {
    thread_local std::vector<std::uint8_t> extras, crazy, hidden;
    extras.clear();
    crazy.clear();
    hidden.clear();
    for (char16_t ch : text)
        if (!table[ch].known) return ch;
    std::size_t printable = 0, extraChars = 0;
    for (char16_t ch : text) {
        const Code& c = table[ch];
        const std::size_t pos = printable;
        const std::uint8_t* bytes = c.bytes.data();
        out.insert(out.end(), bytes, bytes + c.inlineLength);
        if (c.inlineLength) ++printable;
        if (c.extraLength || c.modifier) {
            if (extraChars < pos) {
                extras.insert(extras.end(), pos - extraChars, 0x02);
                extraChars = pos;
            }
            if (c.extraLength) {
                extras.insert(extras.end(), bytes + c.inlineLength,
                              bytes + c.inlineLength + c.extraLength);
                ++extraChars;
            } else {
                if (extras.empty()) extras.push_back(0x00); // nothing before it to modify
                extras.back() = static_cast<std::uint8_t>(extras.back() + c.modifier);
            }
        }
        if (c.unprintableLength) {
            const auto offset = static_cast<std::uint16_t>(0x8000 | (7 + 4 * pos));
            hidden.insert(hidden.end(), {static_cast<std::uint8_t>(offset >> 8),
                                         static_cast<std::uint8_t>(offset & 0xFF), 0x06});
            const std::uint8_t* u = bytes + c.inlineLength + c.extraLength;
            hidden.insert(hidden.end(), u, u + c.unprintableLength);
        }
        if (c.crazy) crazy.push_back(c.crazy);
    }
    out.push_back(0x01);
    while (!extras.empty() && extras.back() <= 0x02)
        extras.pop_back();
    out.insert(out.end(), extras.begin(), extras.end());
    const bool kana = !crazy.empty();
    if (kana || !hidden.empty()) {
        out.insert(out.end(), {0x01, 0x01});
        if (kana) {
            while (!crazy.empty() && crazy.back() == 3)
                crazy.pop_back();
            for (std::size_t i = 0; i < crazy.size(); i += 3) {
                std::uint8_t b = 0x80;
                for (std::size_t k = 0; k < 3 && i + k < crazy.size(); ++k)
                    b = static_cast<std::uint8_t>(b | crazy[i + k] << (4 - 2 * k));
                out.push_back(b);
            }
            out.insert(out.end(), {0xFF, 0x02, 0x80, 0xFF, 0x80});
            if (!hidden.empty()) out.push_back(0xFF);
        }
        if (!hidden.empty()) {
            out.push_back(0x01);
            out.insert(out.end(), hidden.begin(), hidden.end());
        }
    }
    out.push_back(0x00);
    return std::nullopt;
}

} // namespace

std::optional<std::uint32_t> appendGeneral97(std::vector<std::uint8_t>& out,
                                             const std::vector<std::uint8_t>& text) {
    for (std::uint8_t b : text)
        if (!general97[b].known) return b;
    // Accents follow the base codes as nibbles: 0, then per accented character one 2 for each
    // significant character since the previous accent and its own nibble, then 0.
    std::vector<std::uint8_t> nibbles{0};
    bool accented = false;
    std::size_t significant = 0;
    for (std::uint8_t b : text) {
        const General97Code& c = general97[b];
        out.insert(out.end(), c.codes, c.codes + c.length);
        if (c.extra) {
            nibbles.insert(nibbles.end(), significant, 2);
            nibbles.push_back(c.extra);
            significant = 0;
            accented = true;
        } else if (c.significant) {
            ++significant;
        }
    }
    if (!accented) {
        out.push_back(0);
        return std::nullopt;
    }
    nibbles.push_back(0);
    if (nibbles.size() % 2) nibbles.push_back(0);
    for (std::size_t i = 0; i < nibbles.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(nibbles[i] << 4 | nibbles[i + 1]));
    return std::nullopt;
}

std::optional<std::uint32_t> appendGeneralLegacy(std::vector<std::uint8_t>& out,
                                                 const std::u16string& text) {
    static const CodeTable table = expand(generalLegacy, generalLegacySize, generalLegacySurrogates,
                                          generalLegacySurrogatesSize);
    return appendText(out, table, text);
}

std::optional<std::uint32_t> appendGeneral(std::vector<std::uint8_t>& out,
                                           const std::u16string& text) {
    static const CodeTable table =
        expand(general, generalSize, generalSurrogates, generalSurrogatesSize);
    return appendText(out, table, text);
}

} // namespace tarnwick::jet::collation
