#!/usr/bin/env python3
"""Writes a deterministic music-like 44.1 kHz stereo WAV for the decoder comparison.

Chords of harmonic notes with attack/decay envelopes, panned across the stereo field, a bass line,
noise bursts as percussion (they make the encoder switch to short blocks) and a little hiss, so that
an encoder spends its bits as on real music. Usage: make_test_signal.py OUT.wav SECONDS
"""
import math
import random
import struct
import sys

RATE = 44100


def main():
    out, seconds = sys.argv[1], float(sys.argv[2])
    n = int(seconds * RATE)
    rng = random.Random(1)
    left = [0.0] * n
    right = [0.0] * n

    # One harmonic tone per note, synthesised from a one-period wavetable.
    table_size = 4096
    harmonics = [1.0, 0.5, 0.33, 0.25, 0.15, 0.1, 0.07]
    wave = [sum(a * math.sin(2 * math.pi * (h + 1) * i / table_size) for h, a in enumerate(harmonics))
            for i in range(table_size)]
    peak = max(abs(v) for v in wave)
    wave = [v / peak for v in wave]

    def add_note(start, length, freq, gain, pan):
        step = freq * table_size / RATE
        phase = rng.random() * table_size
        gl, gr = gain * math.cos(pan * math.pi / 2), gain * math.sin(pan * math.pi / 2)
        attack = int(0.01 * RATE)
        end = min(n, start + length)
        for i in range(start, end):
            t = i - start
            env = (t / attack if t < attack else math.exp(-3.0 * (t - attack) / length))
            v = wave[int(phase) & (table_size - 1)] * env
            phase += step
            left[i] += v * gl
            right[i] += v * gr

    beat = int(0.25 * RATE)
    chords = [[0, 4, 7, 11], [5, 9, 12, 16], [7, 11, 14, 17], [-3, 0, 4, 7]]
    for bar, start in enumerate(range(0, n, 8 * beat)):
        chord = chords[bar % len(chords)]
        for k, semis in enumerate(chord):
            add_note(start, 8 * beat, 261.63 * 2 ** (semis / 12), 0.12, 0.2 + 0.2 * k)
        for b in range(8):
            note = chord[rng.randrange(len(chord))] + 12 * rng.choice([0, 1])
            add_note(start + b * beat, beat, 523.25 * 2 ** (note / 12), 0.08, rng.random())
            add_note(start + b * beat, beat, 65.41 * 2 ** (chord[0] / 12), 0.2, 0.5)
            # Percussion: a short noise burst on every other beat.
            if b % 2 == 1:
                for i in range(start + b * beat, min(n, start + b * beat + 2000)):
                    v = (rng.random() * 2 - 1) * 0.25 * math.exp(-(i - start - b * beat) / 300)
                    left[i] += v
                    right[i] += v * 0.8

    frames = bytearray()
    for l, r in zip(left, right):
        l += (rng.random() - 0.5) * 0.002
        r += (rng.random() - 0.5) * 0.002
        frames += struct.pack('<hh', max(-32768, min(32767, int(l * 32767))),
                              max(-32768, min(32767, int(r * 32767))))
    with open(out, 'wb') as f:
        f.write(b'RIFF' + struct.pack('<I', 36 + len(frames)) + b'WAVE')
        f.write(b'fmt ' + struct.pack('<IHHIIHH', 16, 1, 2, RATE, RATE * 4, 4, 16))
        f.write(b'data' + struct.pack('<I', len(frames)) + frames)


if __name__ == '__main__':
    main()
