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
