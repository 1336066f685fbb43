#include "keys/collation.h"

#include <algorithm>
#include <array>

namespace tarnwick::jet::collation {

namespace {

const LegacyCode* searchLegacy(char16_t c) {
    const LegacyCode* end = generalLegacy + generalLegacySize;
    const LegacyCode* it = std::lower_bound(
        generalLegacy, end, c, [](const LegacyCode& e, char16_t v) { return e.ch < v; });
    return it != end && it->ch == c ? it : nullptr;
}

// Most text is Latin: its characters are looked up directly.
const LegacyCode* findLegacy(char16_t c) {
    static const auto latin = [] {
        std::array<const LegacyCode*, 0x100> t{};
        for (char16_t ch = 0; ch < t.size(); ++ch)
            t[ch] = searchLegacy(ch);
        return t;
    }();
    return c < latin.size() ? latin[c] : searchLegacy(c);
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
    // Scratch kept per thread: nearly every row of a large table has a text key.
    thread_local std::vector<const LegacyCode*> codes;
    thread_local std::vector<std::uint8_t> accents;
    thread_local std::vector<std::uint8_t> hidden; // unprintable entries
    codes.clear();
    accents.clear();
    hidden.clear();
    for (char16_t c : text) {
        const LegacyCode* code = findLegacy(c);
        if (!code) return c;
        codes.push_back(code);
    }
    bool kana = false;
    std::size_t printable = 0;
    for (const LegacyCode* c : codes) {
        if (c->kind == 'U') {
            const auto pos = static_cast<std::uint16_t>(0x8000 | (7 + 4 * printable));
            hidden.insert(hidden.end(), {static_cast<std::uint8_t>(pos >> 8),
                                         static_cast<std::uint8_t>(pos & 0xFF), 0x06, c->extra});
            continue;
        }
        out.insert(out.end(), c->codes, c->codes + c->length);
        accents.push_back(c->extra);
        kana = kana || c->kind == 'Z';
        ++printable;
    }
    out.push_back(0x01);
    while (!accents.empty() && accents.back() <= 0x02)
        accents.pop_back();
    out.insert(out.end(), accents.begin(), accents.end());
    if (kana || !hidden.empty()) {
        out.insert(out.end(), {0x01, 0x01});
        if (kana) {
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

} // namespace tarnwick::jet::collation
