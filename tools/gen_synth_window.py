#!/usr/bin/env python3
"""Prints the synthesis window table of audio/synth/polyphase.cpp.

Source: data/synthesis_window_b3.txt, the window D[i] of ISO/IEC 11172-3
Table B.3 as printed (nine decimals). Entry k = round(2^30 * D) in the order
the windowing step reads the coefficients; entry 204 (D[196]) holds 61865983.
Usage: tools/gen_synth_window.py [data/synthesis_window_b3.txt]
"""
import sys
from fractions import Fraction
from pathlib import Path


def read_window(path):
    d = {}
    for line in Path(path).read_text().splitlines():
        line = line.strip()
        if not line or line.startswith('#'):
            continue
        index, value = line.split()
        d[int(index)] = Fraction(value)  # exact decimal value
    assert sorted(d) == list(range(512))
    return d


def read_order():
    """Index into D of each of the 256 entries."""
    order = [32 * (t + 1) for t in range(8)]             # D[32] .. D[256]
    order += [496 - 64 * j for j in range(8)]             # D[496] .. D[48]
    for r in range(15):
        for t in range(8):
            order += [32 * t + 15 - r, 32 * t + 17 + r]
    return order


def round_half_away(x):
    n = abs(x)
    q = int(n + Fraction(1, 2))
    return q if x >= 0 else -q


def window_table(d):
    table = [round_half_away(d[i] * 2**30) for i in read_order()]
    table[204] = 61865983  # the one stored value that differs from the rule
    return table


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else 'data/synthesis_window_b3.txt'
    table = window_table(read_window(path))
    print('constexpr int32_t synthWindow[256] = {')
    for row in range(0, 256, 8):
        print('    ' + ', '.join(str(v) for v in table[row:row + 8]) + ',')
    print('};')


if __name__ == '__main__':
    main()
