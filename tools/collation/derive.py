#!/usr/bin/env python3
"""Derives the General 97 (Jet 3) text collation table from the keys Access stored in real
files, and the General Legacy (Jet 4, ACE 2007) and General (Access 2010) tables over the Basic
Multilingual Plane from `jetpeer textkeys` files; writes jet/src/keys/collation_tables.cpp.

    build/tools/collation/jet-keydump V1997/*.mdb > jet3.txt
    jetpeer textkeys tk2007.accdb --format 2007; jetpeer textkeys tk2010.accdb --format 2010
    build/tools/collation/jet-keydump tk2007.accdb > legacy.txt
    build/tools/collation/jet-keydump tk2010.accdb > general.txt
    tools/collation/derive.py jet3.txt legacy.txt general.txt > jet/src/keys/collation_tables.cpp

General 97: every text segment of an index entry is split into its characters' codes, first
from strings with one unknown character. Which characters count as significant (letters and
digits, codes from 0x56 on) is inferred: the files only show it for A. The textkeys tables come
from the key of "a" + c + "b" for each character c. The C++ corpus tests prove the tables by
re-encoding every stored key of the sample files and of the textkeys files.
"""
import sys

from derive_common import body, emit_runs, hexbytes, load


def cp1252(c):
    return c if c < 0x100 else bytes(chr(c), 'cp1252')[0]


def solve_inline(ents, inline, fits):
    """Fills `inline` (char -> bytes); `fits(rest)` tells a valid remainder after the inline
    codes."""
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
        if len(inline) == before:
            return


def general97(path):
    ents = [(asc, [cp1252(c) for c in cps], body(asc, key, 'jet3'))
            for _, asc, cps, key in load(path)]

    def fits(t):
        return t == b'\0' or (len(t) > 0 and t[0] >> 4 == 0 and t[-1] & 15 == 0)

    inline = {}
    solve_inline(ents, inline, fits)
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


SUFFIX = bytes.fromhex('ff0280ff80')


def textkeys(path):
    """Per character of the Basic Multilingual Plane: (inline, extra, modifier, unprintable,
    crazy), read from the key of "a" + c + "b" in a `jetpeer textkeys` file."""
    keys = {tuple(cps): key[1:] for _, asc, cps, key in load(path) if asc}
    a, b = keys[(0x61,)], keys[(0x62,)]
    a, b = a[:a.index(1)], b[:b.index(1)]
    out = {}
    for c in list(range(1, 0xD800)) + list(range(0xE000, 0xFFFE)):
        k = keys[(0x61, c, 0x62)]
        assert k.startswith(a) and k[-1] == 0, hex(c)
        j = k.find(b + b'\x01', len(a))
        inline, tail = k[len(a):j], k[j + len(b) + 1:-1]
        cut = tail.find(b'\x01\x01')
        extra, rest = (tail, b'') if cut < 0 else (tail[:cut], tail[cut + 2:])
        modifier = 0
        if len(extra) == 1 and not inline:  # changes the accent byte of the "a" before it
            modifier, extra = extra[0] - 2, b''
        elif extra:
            assert extra[0] == 2, (hex(c), k.hex())  # "a" has no accent byte
            extra = extra[1:]
        crazy, unprintable = 0, b''
        if rest and rest[0] != 1:
            s = rest.index(SUFFIX)
            assert len(rest[:s]) <= 1, (hex(c), k.hex())
            crazy = rest[0] >> 4 & 3 if s else 3  # a trailing 3 is left out of the key
            rest = rest[s + len(SUFFIX):]
            if rest:
                assert rest[0] == 0xFF
                rest = rest[1:]
        if rest:  # one record: position of "a" + c, 0x06, the codes
            assert rest[:4] == b'\x01\x80\x0b\x06', (hex(c), k.hex())
            unprintable = rest[4:]
        out[c] = (inline, extra, modifier, unprintable, crazy)
    return out


def main():
    inline3, extra3 = general97(sys.argv[1])
    legacy, general = textkeys(sys.argv[2]), textkeys(sys.argv[3])
    out = ['// Generated by tools/collation/derive.py from the index keys of the files in',
           '// testdata/jet (V1997/testIndexCodesV1997.mdb holds every code page character) and of',
           '// `jetpeer textkeys` files (General Legacy: --format 2007, General: --format 2010).',
           '// Do not edit.',
           '#include "keys/collation.h"', '', '// clang-format off', 'namespace tarnwick::jet::collation {', '',
           'const General97Code general97[256] = {']
    for c in range(256):
        code = inline3.get(c)
        if code is None:
            out.append('    {}, // 0x%02X: not in the files' % c)
            continue
        significant = c not in extra3 and len(code) > 0 and code[0] >= 0x56
        out.append('    {true, %d, {%s}, %d, %s}, // 0x%02X' % (
            len(code), hexbytes(code), extra3.get(c, 0), 'true' if significant else 'false', c))
    out += ['};', '']
    emit_runs(out, 'generalLegacy', legacy)
    emit_runs(out, 'general', general)
    out += ['} // namespace tarnwick::jet::collation', '// clang-format on', '']
    sys.stdout.write('\n'.join(out))


main()
