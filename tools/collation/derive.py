#!/usr/bin/env python3
"""Derives the General 97 (Jet 3) and General Legacy (Jet 4) text collation tables from the
keys Access (and jetpeer) stored in real files, and writes jet/src/keys/collation_tables.cpp.

    build/tools/collation/jet-keydump V1997/*.mdb > jet3.txt
    build/tools/collation/jet-keydump V2000/*.mdb generated/*.mdb > jet4.txt
    tools/collation/derive.py jet3.txt jet4.txt > jet/src/keys/collation_tables.cpp

Every text segment of an index entry is split into its characters' codes: first from strings
with one unknown character, then characters above U+00FF taken as two inline bytes where the
rest of the string is known. Which General 97 characters count as significant (letters and
digits, codes from 0x56 on) is inferred: the files only show it for A. The C++ corpus test
proves the tables by re-encoding every stored key.
"""
import sys

from derive_common import body, load


def cp1252(c):
    return c if c < 0x100 else bytes(chr(c), 'cp1252')[0]


def solve_inline(ents, inline, fits, wide):
    """Fills `inline` (char -> bytes); `fits(rest)` tells a valid remainder after the inline
    codes; `wide` allows the two-byte rule for characters above U+00FF."""
    while True:
        before = len(inline)
        for _ in range(20):
            for _, s, b in ents:
                unknown = {c for c in s if c not in inline}
                if len(unknown) != 1:
                    continue
                x = unknown.pop()
                found = []
                for length in range(0, 5):
                    pos, guess, ok = 0, None, True
                    for c in s:
                        if c == x and guess is None:
                            guess = b[pos:pos + length]
                        code = guess if c == x else inline[c]
                        if b[pos:pos + len(code)] != code:
                            ok = False
                            break
                        pos += len(code)
                    if ok and fits(b[pos:]):
                        found.append(guess)
                if len(found) == 1:
                    inline[x] = found[0]
        if wide:
            for _, s, b in ents:
                if not all(c in inline or c > 0xFF for c in s):
                    continue
                pos, ok, got = 0, True, {}
                for c in s:
                    code = inline[c] if c in inline else got.setdefault(c, b[pos:pos + 2])
                    if b[pos:pos + len(code)] != code:
                        ok = False
                        break
                    pos += len(code)
                if ok and fits(b[pos:]):
                    inline.update(got)
        if len(inline) == before:
            return


def general97(path):
    ents = [(asc, [cp1252(c) for c in cps], body(asc, key, 'jet3'))
            for _, asc, cps, key in load(path)]

    def fits(t):
        return t == b'\0' or (len(t) > 0 and t[0] >> 4 == 0 and t[-1] & 15 == 0)

    inline = {}
    solve_inline(ents, inline, fits, False)
    extra, no_intl, strings = {}, set(), []
    for _, s, b in ents:
        t = b[sum(len(inline[c]) for c in s):]
        if t == b'\0':
            no_intl.update(s)
            continue
        nibbles = [n for x in t for n in (x >> 4, x & 15)][1:]
        while nibbles and nibbles[-1] == 0:
            nibbles.pop()
        groups, g = [], 0
        for n in nibbles:
            if n == 2:
                g += 1
            else:
                groups.append((g, n))
                g = 0
        strings.append((s, groups))
    for s, groups in strings:
        intl = [c for c in s if c not in no_intl]
        assert len(intl) == len(groups), s
        for c, (_, e) in zip(intl, groups):
            assert extra.setdefault(c, e) == e
    return inline, extra


def general_legacy(path):
    ents = [(asc, cps, body(asc, key, 'jet4')) for _, asc, cps, key in load(path)]
    inline = {}
    for _, s, b in ents:  # seed: plain ASCII words, one byte per character
        r = b[:b.index(1)]
        if len(r) == len(s) and all(c < 0x80 and (chr(c).isalnum() or c == 0x20) for c in s):
            inline.update((c, bytes([x])) for c, x in zip(s, r))
    solve_inline(ents, inline, lambda t: t[:1] == b'\x01', True)
    unsolved = sorted({c for _, s, _ in ents for c in s} - set(inline))
    if unsolved:
        print('General Legacy: no code derived for', ' '.join('U+%04X' % c for c in unsolved),
              file=sys.stderr)
    crazy_suffix = bytes.fromhex('ff0280ff80')
    extra, unprintable, plain, crazy_strings = {}, {}, set(), []
    for _, s, b in ents:
        if any(c not in inline for c in s):
            continue
        t = b[sum(len(inline[c]) for c in s):]
        assert t[0] == 1 and t[-1] == 0, (t.hex(), b.hex(), [(hex(c), inline[c].hex()) for c in s])
        t = t[1:-1]
        cut = t.find(1)
        extras, tail = (t, b'') if cut < 0 else (t[:cut], t[cut:])
        printable = [c for c in s if inline[c] != b'']
        for i, c in enumerate(printable):
            e = extras[i] if i < len(extras) else 2
            assert extra.setdefault(c, e) == e, (hex(c), e, extra[c])
        has_crazy = False
        if tail:
            assert tail[:2] == b'\x01\x01', tail.hex()
            tail = tail[2:]
            if tail.startswith(crazy_suffix):
                has_crazy = True
                tail = tail[len(crazy_suffix):]
                if tail:
                    assert tail[0] == 0xFF
                    tail = tail[1:]
            if tail:
                assert tail[0] == 1 and (len(tail) - 1) % 4 == 0, tail.hex()
                entries = [tail[i:i + 4] for i in range(1, len(tail), 4)]
                hidden = [(i, c) for i, c in enumerate(s) if inline[c] == b'']
                assert len(entries) == len(hidden), (s, tail.hex())
                for (i, c), e in zip(hidden, entries):
                    pos = ((e[0] << 8 | e[1]) & 0x7FFF) - 7
                    assert pos == 4 * sum(1 for x in s[:i] if inline[x] != b''), (s, e.hex())
                    assert e[2] == 6
                    assert unprintable.setdefault(c, e[3]) == e[3]
        if has_crazy:
            crazy_strings.append(s)
        else:
            plain.update(s)
    crazy = set()
    for s in crazy_strings:
        cands = [c for c in s if c not in plain]
        assert cands, s
        crazy.update(cands)
    # The sort order ignores case: every pair seen in both cases has the same codes, so a
    # character seen in one case gives its partner's codes too.
    def entry(c):
        return (inline[c], extra.get(c), unprintable.get(c), c in crazy)

    def partner(c):
        for p in (chr(c).upper(), chr(c).lower()):
            if len(p) == 1 and ord(p) != c and ord(p) <= 0xFFFF and \
                    (p.lower() == chr(c) or p.upper() == chr(c)):
                return ord(p)
        return None

    pairs = 0
    for c in list(inline):
        p = partner(c)
        if p is None:
            continue
        if p in inline:
            assert entry(p) == entry(c), (hex(c), hex(p))
            pairs += 1
            continue
        inline[p] = inline[c]
        for table in (extra, unprintable):
            if c in table:
                table[p] = table[c]
        if c in crazy:
            crazy.add(p)
    print('General Legacy: %d characters, %d case pairs seen in both cases' % (len(inline), pairs),
          file=sys.stderr)
    return inline, extra, unprintable, crazy


def hexbytes(b):
    return ', '.join('0x%02X' % x for x in b) if b else ''


def main():
    inline3, extra3 = general97(sys.argv[1])
    inline4, extra4, unprintable4, crazy4 = general_legacy(sys.argv[2])
    out = ['// Generated by tools/collation/derive.py from the index keys of the files in',
           '// testdata/jet (V1997/testIndexCodesV1997.mdb holds every code page character; the',
           '// Jet 4 characters come from the V2000 files and the generated samples). Do not edit.',
           '#include "jet/collation.h"', '', '// clang-format off', 'namespace tarnwick::jet::collation {', '',
           'const General97Code general97[256] = {']
    for c in range(256):
        code = inline3.get(c)
        if code is None:
            out.append('    {}, // 0x%02X: not in the files' % c)
            continue
        significant = c not in extra3 and len(code) > 0 and code[0] >= 0x56
        out.append('    {true, %d, {%s}, %d, %s}, // 0x%02X' % (
            len(code), hexbytes(code), extra3.get(c, 0), 'true' if significant else 'false', c))
    out += ['};', '', 'const LegacyCode generalLegacy[] = {']
    for c in sorted(inline4):
        code = inline4[c]
        if code == b'':
            kind, e = 'U', unprintable4[c]
        else:
            kind, e = ('Z' if c in crazy4 else 'S'), extra4.get(c, 2)
        out.append("    {0x%04X, '%s', %d, {%s}, 0x%02X}," % (c, kind, len(code), hexbytes(code), e))
    out += ['};', 'const std::size_t generalLegacySize = sizeof generalLegacy / sizeof *generalLegacy;',
            '', '} // namespace tarnwick::jet::collation', '// clang-format on', '']
    sys.stdout.write('\n'.join(out))


main()
