"""Shared loading for the collation derivation scripts."""


def load(path):
    """Lines of jet-keydump: (format, ascending, code points, key bytes)."""
    out = []
    for line in open(path):
        left, right = line.split('|')
        left = left.split()
        chars = [int(x, 16) for x in left[2:]][:255]
        while chars and chars[-1] == 0x20:  # keys leave out trailing spaces
            chars.pop()
        out.append((left[0], left[1] == 'asc', chars,
                    bytes(int(x, 16) for x in right.split())))
    return out


def body(asc, key, fmt):
    """The key without its start byte, turned back into ascending form."""
    if asc:
        assert key[0] == 0x7F
        return key[1:]
    assert key[0] == 0x80
    b = bytes(x ^ 0xFF for x in key[1:])
    if fmt == 'jet4':  # descending text ends with one more 0x00 after the inverted bytes
        assert b[-1] == 0xFF
        b = b[:-1]
    return b


def runs(table):
    """Consecutive characters with the same codes, or whose inline code (read as a big-endian
    number) grows by the same step."""
    out = []
    for c in sorted(table):
        inline, *rest = table[c]
        if out:
            first, count, step, code = out[-1]
            if first + count == c and code[1:] == tuple(rest) and len(code[0]) == len(inline):
                d = int.from_bytes(inline, 'big') - int.from_bytes(code[0], 'big') \
                    if inline else 0
                if (count == 1 and 0 <= d < 256) or (count > 1 and d == step * count):
                    out[-1] = (first, count + 1, d if count == 1 else step, code)
                    continue
        out.append((c, 1, 0, (inline, *rest)))
    return out


def emit_runs(out, name, table):
    out.append('const TextRun %s[] = {' % name)
    for first, count, step, (inline, extra, modifier, unprintable, crazy) in runs(table):
        out.append('    {0x%04X, %d, %d, %d, %d, %d, %d, %d, {%s}},' % (
            first, count, step, len(inline), len(extra), len(unprintable), modifier, crazy,
            hexbytes(inline + extra + unprintable)))
    out += ['};', 'const std::size_t %sSize = sizeof %s / sizeof *%s;' % (name, name, name), '']


def hexbytes(b):
    return ', '.join('0x%02X' % x for x in b) if b else ''
