#!/usr/bin/env python3
"""Builds audio/parse/huffman_tables.cpp from data/huffman_b7.txt (ISO/IEC 11172-3, Table B.7).

Each stored big-value table is a 16-entry first-level lookup, indexed by the next four stream bits, followed by
the code tree serialized depth first (node area). Each code set also gets a two-level wide lookup for the fast
decoder, indexed by the next 8 (small tables) or 10 bits (large ones): an entry finishes every codeword of at
most that many bits (x, y and the bits taken, signs included where they fit) or names a subtable indexed by the
bits after them, which finishes the longer codewords. The count1 lookups give a quadruple with its signs, as the
row of a table of all 81 quadruples. Run from the repository root:

    python3 tools/gen_huffman_tables.py > audio/parse/huffman_tables.cpp
"""
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CODE_SETS = [1, 2, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 16, 24]
SMALL = [t for t in CODE_SETS if t <= 12]
LINBITS = [0, 0, 0, 1, 2, 3, 4, 6, 8, 10, 13, 4, 5, 6, 7, 8, 9, 11, 13]  # table_select 13..31


def read_codes(path):
    pairs, quads = {}, {}
    for line in open(path):
        line = line.split('#', 1)[0].split()
        if not line:
            continue
        if line[0] in ('A', 'B'):
            quads.setdefault(line[0], []).append((tuple(int(v) for v in line[1:5]), line[6]))
        else:
            pairs.setdefault(int(line[0]), []).append(((int(line[1]), int(line[2])), line[4]))
    return pairs, quads


def build_tree(codes):
    # Node: ('leaf', (x, y)) or ['node', child0, child1].
    root = ['node', None, None]
    for value, code in codes:
        node = root
        for i, c in enumerate(code):
            b = 1 + int(c)
            if i == len(code) - 1:
                assert node[b] is None, code
                node[b] = ('leaf', value)
            else:
                if node[b] is None:
                    node[b] = ['node', None, None]
                node = node[b]
                assert node[0] == 'node', code
    return root


def leaf_value(x, y, large):
    if large:
        v = ((x - 16 if x >= 8 else x) * 64 + y * 4 + 1) & 0xFFFF
    else:
        v = x * 32 + y * 4 + 1
    return v


def serialize(root, large):
    """Depth first: an internal node is 2 x the index of its 1-child, its 0-child follows it."""
    area, index_of = [], {}

    def walk(node):
        at = len(area)
        index_of[id(node)] = at
        if node[0] == 'leaf':
            area.append(leaf_value(node[1][0], node[1][1], large))
            return
        area.append(None)
        walk(node[1])
        area[at] = 2 * len(area)
        walk(node[2])

    walk(root)
    return area, index_of


def signed_field(v, large):
    if large:
        assert -8 <= v <= 7
        return v & 15
    assert -2 <= v <= 1
    return v & 3


def first_level(root, index_of, large):
    codes = {}

    def collect(node, prefix):
        if node[0] == 'leaf':
            codes[prefix] = node[1]
        else:
            collect(node[1], prefix + '0')
            collect(node[2], prefix + '1')

    collect(root, '')
    xshift, yshift = (8, 4) if large else (6, 4)
    entries = []
    for p in range(16):
        bits = format(p, '04b')
        hit = [c for c in codes if len(c) <= 4 and bits.startswith(c)]
        if not hit:
            node = root
            for c in bits:
                node = node[1 + int(c)]
            assert node[0] == 'node'
            entries.append(2 * index_of[id(node)])
            continue
        code = hit[0]
        k = len(code)
        x, y = codes[code]
        s = (x != 0) + (y != 0)
        q = bits[k:]
        if k + s <= 4:
            kind = 4 - (k + s)
            signs = list(q)
            sx = -x if x and signs.pop(0) == '1' else x
            sy = -y if y and signs.pop(0) == '1' else y
            if large:
                assert sy == 0 or kind >= 2
            X, Y = signed_field(sx, large), signed_field(sy, large)
        elif s == 2 and k == 3:
            kind = 6
            X, Y = signed_field(-x if q[0] == '1' else x, large), y
            assert y == 1
        elif s == 2 and k == 4:
            kind, X, Y = 7, x, y
        elif k == 4 and s == 1:
            kind, X, Y = (4, x, 0) if y == 0 else (5, 0, y)
        else:
            raise AssertionError((p, code))
        assert X < (256 if large else 4) and Y < (16 if large else 4)
        entries.append((X << xshift) | (Y << yshift) | (kind << 1) | 1)
    return entries


def build_table(codes, large):
    root = build_tree(codes)
    area, index_of = serialize(root, large)
    first = first_level(root, index_of, large)
    if all(e & 1 for e in first):
        area = []
    return first + [v if v < 256 or large else None for v in area]


# Index widths of the wide lookups: 8 bits for the small tables, 10 for the large ones.
SMALL_BITS, LARGE_BITS = 8, 11


def lookup_bits(large):
    return LARGE_BITS if large else SMALL_BITS


def leaf_entry(x, y, length, rest, escapes):
    """A codeword of `length` bits among the `length + len(rest)` bits of a lookup level, rest the bits after it.
    Folded (bit 5 clear): the signs fit into rest and no escape follows (value 15 of a table with linbits):
    bits 4..0 the bits taken, codeword and signs; x in bits 10..6 and y in 15..11, signed, 5-bit two's
    complement. Otherwise (bit 5 set, bit 6 clear): bits 4..0 the codeword's bits, x and y magnitudes in bits
    11..8 and 15..12; escapes and signs follow."""
    signs = (x != 0) + (y != 0)
    if signs <= len(rest) and not (escapes and 15 in (x, y)):
        rest = list(rest)
        sx = -x if x and rest.pop(0) == '1' else x
        sy = -y if y and rest.pop(0) == '1' else y
        return ((sy & 31) << 11) | ((sx & 31) << 6) | (length + signs)
    return (y << 12) | (x << 8) | 0x20 | length


def wide_lookup(codes, large, escapes):
    """Two-level lookup. The first level, 2^K entries (K = lookup_bits), is indexed by the next K bits; an entry
    is a leaf (leaf_entry) for a codeword of at most K bits, or, for the longer ones, a pointer (bits 5 and 6
    set): the K bits are taken and the next m bits (m in bits 3..0, the longest rest of a codeword under that
    prefix) index the subtable at entry 2^K + 2 x (bits 15..7). Subtables follow the first level, in the order
    of their prefixes, and hold leaves whose bits taken count from the subtable's first bit."""
    k = lookup_bits(large)
    by_code = {c: v for v, c in codes}
    def level(prefix, width):
        entries, subtables = [], []
        for p in range(1 << width):
            bits = format(p, '0%db' % width) if width else ''
            hit = [c for c in by_code if len(c) <= len(prefix) + width and (prefix + bits).startswith(c)]
            if hit:
                code = hit[0]
                used = len(code) - len(prefix)
                entries.append(leaf_entry(*by_code[code], used, bits[used:], escapes))
                continue
            longer = [c for c in by_code if c.startswith(prefix + bits)]
            subtables.append((p, prefix + bits, max(len(c) for c in longer) - len(prefix) - width))
            entries.append(None)
        return entries, subtables
    first, pending = level('', k)
    area = []
    for p, prefix, m in pending:
        assert 1 <= m <= 15 and len(area) % 2 == 0 and len(area) // 2 < 512
        first[p] = ((len(area) // 2) << 7) | 0x60 | m
        sub, deeper = level(prefix, m)
        assert not deeper
        area += sub
    return first + area


def count1_table_a(codes):
    """Lookup by the next six bits p < 32 (p >= 32 is the 1-bit code of (0, 0, 0, 0))."""
    by_code = {c: q for q, c in codes}
    pack = lambda q: sum((v & 3) << (6 - 2 * i) for i, v in enumerate(q))
    table = [0] * 52
    for p in range(32):
        bits = format(p, '06b')
        code = [c for c in by_code if bits.startswith(c)][0]
        mags = by_code[code]
        if len(code) == 6:
            ones = sum(mags)
            kind = 4 if ones == 4 else (2 if mags == (0, 1, 0, 1) else 3)
            table[p] = (mags[0] << 6) | (mags[1] << 5) | (mags[2] << 4) | (mags[3] << 3) | kind
        elif len(code) == 5:
            table[p] = 32 + 2 * (p - 6)
            for second in (0, 1):
                signs = [bits[5], str(second)]
                q = [(-m if signs.pop(0) == '1' else m) if m else 0 for m in mags]
                table[table[p] + second] = pack(q)
        else:
            assert len(code) == 4
            q = [(-m if bits[4] == '1' else m) for m in mags]
            table[p] = pack(q)
    return table


def quad_index(values):
    """Row of a quadruple (values -1..1) in MP3_Count1Quads: the values plus one as base-3 digits, v first."""
    return sum((v + 1) * 3 ** (3 - i) for i, v in enumerate(values))


def count1_lookup(codes, k):
    """Count1 quadruple with its signs by the next k bits (every codeword and its signs fit): the bits taken in
    bits 3..0, the row of the quadruple in MP3_Count1Quads in bits 10..4."""
    entries = []
    for p in range(1 << k):
        bits = format(p, '0%db' % k)
        mags, code = [(q, c) for q, c in codes if bits.startswith(c)][0]
        rest = list(bits[len(code):])
        values = [(-m if rest.pop(0) == '1' else m) if m else 0 for m in mags]
        taken = len(code) + sum(1 for m in mags if m)
        assert taken <= k
        entries.append((quad_index(values) << 4) | taken)
    return entries


def emit(values, per_line, width):
    out = []
    for i in range(0, len(values), per_line):
        out.append('    ' + ', '.join(str(v).rjust(width) for v in values[i:i + per_line]) + ',')
    return '\n'.join(out)


def main():
    pairs, quads = read_codes(os.path.join(ROOT, 'data', 'huffman_b7.txt'))
    tables = {t: build_table(pairs[t], t >= 13) for t in CODE_SETS}
    print('// Generated by tools/gen_huffman_tables.py from data/huffman_b7.txt (ISO/IEC 11172-3, Table B.7).')
    print('// Do not edit: change the generator and run it again.')
    print('#include "audio/parse/huffman_tables.h"')
    print()
    print('namespace mpfix {')
    print()
    print('namespace {')
    print()
    for t in CODE_SETS:
        large = t >= 13
        kind = 'uint16_t' if large else 'uint8_t'
        data = tables[t]
        print(f'// Table {t}: 16 first-level entries, then {len(data) - 16} tree nodes.')
        print(f'constexpr {kind} kHuff{t}[{len(data)}] = {{')
        print(emit(data, 16, 5 if large else 3))
        print('};')
        print()
    wide = {t: wide_lookup(pairs[t], t >= 13, t in (16, 24)) for t in CODE_SETS}
    for t in CODE_SETS:
        data, k = wide[t], lookup_bits(t >= 13)
        print(f'// Table {t}: wide lookup by the next {k} bits, then {len(data) - (1 << k)} subtable entries.')
        print(f'constexpr uint16_t kLookup{t}[{len(data)}] = {{')
        print(emit(data, 16, 5))
        print('};')
        print()
    print('}  // namespace')
    print()
    small = ['nullptr' if t not in SMALL else f'kHuff{t}' for t in range(13)]
    print('// Indexed by table_select 0..12; 0 and 4 have no codes.')
    print('const uint8_t *const MP3_HuffSmallTables[13] = {')
    print(emit(small, 8, 8))
    print('};')
    large = ['nullptr' if t == 14 else f'kHuff{13 if t == 13 else 15 if t == 15 else 16 if t < 24 else 24}'
             for t in range(13, 32)]
    print('// Indexed by table_select - 13; 14 has no codes, 16..23 share the codes of 16, 24..31 those of 24.')
    print('const uint16_t *const MP3_HuffLargeTables[19] = {')
    print(emit(large, 8, 8))
    print('};')
    print('// Escape width of table_select 13..31 (the linbits column of Table B.7).')
    print('const uint8_t MP3_HuffLinbits[19] = {' + ', '.join(map(str, LINBITS)) + '};')
    sizes = [len(tables[t]) if t in tables else (len(tables[16]) if 16 <= t < 24 else len(tables[24]) if t >= 24
             else 0) for t in range(32)]
    print('// Stored entries (first level + node area) per table_select; 0 where a table has no codes.')
    print('const uint16_t MP3_HuffTableEntries[32] = {')
    print(emit(sizes, 16, 3))
    print('};')
    def code_set(t):
        return None if t in (0, 4, 14) else 16 if 16 <= t < 24 else 24 if t >= 24 else t
    lookups = ['nullptr' if code_set(t) is None else f'kLookup{code_set(t)}' for t in range(32)]
    print('// Wide lookups by table_select; 0, 4 and 14 have no codes.')
    print('const uint16_t *const MP3_HuffLookup[32] = {')
    print(emit(lookups, 8, 10))
    print('};')
    sizes = [0 if code_set(t) is None else len(wide[code_set(t)]) for t in range(32)]
    print('// Entries of the wide lookup (first level and subtables) by table_select.')
    print('const uint16_t MP3_HuffLookupEntries[32] = {')
    print(emit(sizes, 16, 4))
    print('};')
    print('// Count1 table A by the next six bits: 0..5 six-bit codes, 6..15 pair indexes into 32..51,')
    print('// 16..31 four-bit codes with their sign, 32..51 the two-sign quadruples of the five-bit codes.')
    print('const uint8_t MP3_Count1TableA[52] = {')
    print(emit(count1_table_a(quads['A']), 16, 3))
    print('};')
    print('// Count1 quadruples with their signs by the next 10 bits (table A) or 8 bits (table B): the bits taken')
    print('// in bits 3..0, the row of the quadruple in MP3_Count1Quads in bits 10..4.')
    print('const uint16_t MP3_Count1LookupA[1024] = {')
    print(emit(count1_lookup(quads['A'], 10), 16, 5))
    print('};')
    print('const uint16_t MP3_Count1LookupB[256] = {')
    print(emit(count1_lookup(quads['B'], 8), 16, 5))
    print('};')
    print('// Every quadruple of values -1..1; row 27 (v + 1) + 9 (w + 1) + 3 (x + 1) + (y + 1).')
    print('alignas(16) const int32_t MP3_Count1Quads[81][4] = {')
    rows = [[r // 27 - 1, r // 9 % 3 - 1, r // 3 % 3 - 1, r % 3 - 1] for r in range(81)]
    assert all(quad_index(q) == r for r, q in enumerate(rows))
    for i in range(0, 81, 6):
        print('    ' + ' '.join('{' + ', '.join('%2d' % v for v in q) + '},' for q in rows[i:i + 6]))
    print('};')
    print('// 2^n - 1 for n = 0..15.')
    print('const int32_t MP3_BitMasks[16] = {' + ', '.join(str((1 << n) - 1) for n in range(16)) + '};')
    print()
    print('}  // namespace mpfix')


if __name__ == '__main__':
    sys.exit(main())
