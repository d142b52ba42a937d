#!/usr/bin/env python3
"""Walk an MPEG audio Layer III file frame by frame and summarise it.

Written from ISO/IEC 11172-3 and ISO/IEC 13818-3 (plus the common MPEG-2.5
extension), independently of the decoder, so that the fixture facts in
fixtures.txt (version, rate, channels, frame count, CRC words, VBR, stereo
modes, block types) are checked by a second reader.

The walker is strict: the file must be a gap-free run of Layer III frames
from byte 0 to its last byte (no tags, no junk), and every CRC word present
must be correct. Free-format frames (bitrate_index 0) are walked only when
the bitrate they were encoded at is given: their length is then the standard
floor(factor * bitrate / rate) + padding, as for any other bitrate.

Usage: mp3_walk.py [-q] [--free KBPS] FILE...   prints a summary and a
       per-frame side-info dump; with -q only the summary.
"""

import sys

# Layer III bitrates in kbit/s by bitrate_index (0 = free format, 15 = bad).
BITRATES_MPEG1 = [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320]
BITRATES_LSF = [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160]
# Sample rates by sampling_frequency for MPEG-1; MPEG-2 halves, MPEG-2.5 quarters.
RATES_MPEG1 = [44100, 48000, 32000]
MODE_NAMES = ["stereo", "joint", "dual", "mono"]


class WalkError(Exception):
    pass


class Bits:
    """Most-significant-bit-first reader over a bytes object."""

    def __init__(self, data):
        self.data = data
        self.pos = 0

    def read(self, n):
        value = 0
        for _ in range(n):
            byte = self.data[self.pos >> 3]
            value = (value << 1) | ((byte >> (7 - (self.pos & 7))) & 1)
            self.pos += 1
        return value


def crc16(data):
    """CRC-16 of ISO/IEC 11172-3 (polynomial 0x8005, initial value 0xFFFF)."""
    crc = 0xFFFF
    for byte in data:
        for bit in range(7, -1, -1):
            top = (crc >> 15) & 1
            crc = (crc << 1) & 0xFFFF
            if top ^ ((byte >> bit) & 1):
                crc ^= 0x8005
    return crc


def parse_header(h, free_kbps=None):
    if h[0] != 0xFF or (h[1] & 0xE0) != 0xE0:
        raise WalkError("no sync pattern")
    version_bits = (h[1] >> 3) & 3
    if version_bits == 1:
        raise WalkError("reserved version")
    version = {3: "1", 2: "2", 0: "2.5"}[version_bits]
    layer = (h[1] >> 1) & 3
    if layer != 1:
        raise WalkError("not Layer III (layer bits %d)" % layer)
    fields = {
        "version": version,
        "protected": (h[1] & 1) == 0,
        "bitrate_index": h[2] >> 4,
        "sampling_frequency": (h[2] >> 2) & 3,
        "padding_bit": (h[2] >> 1) & 1,
        "mode": h[3] >> 6,
        "mode_extension": (h[3] >> 4) & 3,
    }
    if fields["bitrate_index"] == 15 or (fields["bitrate_index"] == 0 and free_kbps is None):
        raise WalkError("free format or bad bitrate_index %d" % fields["bitrate_index"])
    if fields["sampling_frequency"] == 3:
        raise WalkError("reserved sampling_frequency")
    divisor = {"1": 1, "2": 2, "2.5": 4}[version]
    fields["rate"] = RATES_MPEG1[fields["sampling_frequency"]] // divisor
    table = BITRATES_MPEG1 if version == "1" else BITRATES_LSF
    fields["bitrate"] = table[fields["bitrate_index"]] if fields["bitrate_index"] else free_kbps
    slot_factor = 144 if version == "1" else 72
    # Standard frame length: floor(factor * bitrate / rate) + padding.
    fields["frame_bytes"] = (slot_factor * fields["bitrate"] * 1000 // fields["rate"]
                             + fields["padding_bit"])
    fields["channels"] = 1 if fields["mode"] == 3 else 2
    fields["granules"] = 2 if version == "1" else 1
    if version == "1":
        fields["side_bytes"] = 17 if fields["channels"] == 1 else 32
    else:
        fields["side_bytes"] = 9 if fields["channels"] == 1 else 17
    return fields


def parse_side_info(side, hdr):
    bits = Bits(side)
    nch = hdr["channels"]
    mpeg1 = hdr["version"] == "1"
    info = {"main_data_begin": bits.read(9 if mpeg1 else 8)}
    bits.read((5 if nch == 1 else 3) if mpeg1 else (1 if nch == 1 else 2))
    if mpeg1:
        info["scfsi"] = [[bits.read(1) for _ in range(4)] for _ in range(nch)]
    granules = []
    for _gr in range(hdr["granules"]):
        row = []
        for _ch in range(nch):
            g = {
                "part2_3_length": bits.read(12),
                "big_values": bits.read(9),
                "global_gain": bits.read(8),
                "scalefac_compress": bits.read(4 if mpeg1 else 9),
                "window_switching_flag": bits.read(1),
            }
            if g["window_switching_flag"]:
                g["block_type"] = bits.read(2)
                if g["block_type"] == 0:
                    raise WalkError("window switching with block_type 0")
                g["mixed_block_flag"] = bits.read(1)
                g["table_select"] = [bits.read(5), bits.read(5)]
                g["subblock_gain"] = [bits.read(3) for _ in range(3)]
            else:
                g["block_type"] = 0
                g["mixed_block_flag"] = 0
                g["table_select"] = [bits.read(5) for _ in range(3)]
                g["region0_count"] = bits.read(4)
                g["region1_count"] = bits.read(3)
            if mpeg1:
                g["preflag"] = bits.read(1)
            g["scalefac_scale"] = bits.read(1)
            g["count1table_select"] = bits.read(1)
            row.append(g)
        granules.append(row)
    info["granules"] = granules
    if bits.pos != 8 * len(side):
        raise WalkError("side information length mismatch")
    return info


def walk(data, free_kbps=None):
    """Return (frames, summary); raise WalkError on anything unexpected.
    free_kbps: the bitrate of free-format frames, if the stream has them."""
    if data[:3] == b"ID3":
        raise WalkError("ID3v2 tag at the start")
    if len(data) >= 128 and data[-128:-125] == b"TAG":
        raise WalkError("ID3v1 tag at the end")
    frames = []
    offset = 0
    reservoir = 0  # main-data bytes of earlier frames a frame may refer back to
    while offset < len(data):
        if len(data) - offset < 4:
            raise WalkError("%d stray bytes at offset %d" % (len(data) - offset, offset))
        hdr = parse_header(data[offset:offset + 4], free_kbps)
        end = offset + hdr["frame_bytes"]
        if end > len(data):
            raise WalkError("truncated frame at offset %d" % offset)
        pos = offset + 4
        crc_ok = None
        if hdr["protected"]:
            stored = (data[pos] << 8) | data[pos + 1]
            pos += 2
        side = data[pos:pos + hdr["side_bytes"]]
        if hdr["protected"]:
            # The CRC covers header bytes 3 and 4 and the side information.
            crc_ok = crc16(data[offset + 2:offset + 4] + side) == stored
            if not crc_ok:
                raise WalkError("bad CRC word in frame %d" % len(frames))
        info = parse_side_info(side, hdr)
        main_bytes = end - pos - hdr["side_bytes"]
        if info["main_data_begin"] > reservoir:
            raise WalkError("frame %d reaches back %d bytes, only %d exist"
                            % (len(frames), info["main_data_begin"], reservoir))
        used_bits = sum(g["part2_3_length"] for row in info["granules"] for g in row)
        if used_bits > 8 * (info["main_data_begin"] + main_bytes):
            raise WalkError("frame %d: part2_3_length exceeds its main data" % len(frames))
        # What later frames may still reach: bytes after this frame's last used bit.
        reservoir = info["main_data_begin"] + main_bytes - (used_bits + 7) // 8
        frames.append({"offset": offset, "header": hdr, "side": info, "crc_ok": crc_ok})
        offset = end
    if not frames:
        raise WalkError("no frames")
    return frames, summarise(frames)


def lsf_table_bytes(hdr):
    """MPEG-2.5 frame length as twice the MPEG-2 entry of the same indexes."""
    return 2 * (72 * hdr["bitrate"] * 1000 // (2 * hdr["rate"])) + hdr["padding_bit"]


def summarise(frames):
    first = frames[0]["header"]
    for f in frames:
        h = f["header"]
        for key in ("version", "rate", "channels", "mode", "protected"):
            if h[key] != first[key]:
                raise WalkError("%s changes within the stream" % key)
    block_types = [0, 0, 0, 0]
    mixed = 0
    for f in frames:
        for row in f["side"]["granules"]:
            for g in row:
                block_types[g["block_type"]] += 1
                mixed += g["mixed_block_flag"]
    bitrates = sorted({f["header"]["bitrate"] for f in frames})
    s = {
        "version": first["version"],
        "rate": first["rate"],
        "channels": first["channels"],
        "mode": MODE_NAMES[first["mode"]],
        "frames": len(frames),
        "samples_per_frame": 576 * first["granules"],
        "bitrates": bitrates,
        "vbr": len(bitrates) > 1,
        "crc": first["protected"],
        "free": all(f["header"]["bitrate_index"] == 0 for f in frames),
        "crc_frames_ok": sum(1 for f in frames if f["crc_ok"]),
        "block_types": block_types,
        "mixed_blocks": mixed,
        "ms_frames": sum(1 for f in frames
                         if f["header"]["mode"] == 1 and f["header"]["mode_extension"] & 2),
        "is_frames": sum(1 for f in frames
                         if f["header"]["mode"] == 1 and f["header"]["mode_extension"] & 1),
        "frame_bytes": sorted({f["header"]["frame_bytes"] for f in frames}),
        "max_main_data_begin": max(f["side"]["main_data_begin"] for f in frames),
    }
    if first["version"] == "2.5":
        s["lsf_table_mismatch"] = sum(
            1 for f in frames if lsf_table_bytes(f["header"]) != f["header"]["frame_bytes"])
    return s


def describe(s):
    lines = ["MPEG-%s %d Hz %d ch %s, %d frames of %d samples"
             % (s["version"], s["rate"], s["channels"], s["mode"], s["frames"],
                s["samples_per_frame"]),
             "bitrates %s kbit/s (%s), frame bytes %s"
             % (s["bitrates"], "VBR" if s["vbr"] else "CBR", s["frame_bytes"]),
             "CRC %s (%d frames verified)" % ("yes" if s["crc"] else "no", s["crc_frames_ok"]),
             "block types 0/1/2/3: %s, mixed %d" % (s["block_types"], s["mixed_blocks"]),
             "M/S frames %d, intensity frames %d, largest main_data_begin %d"
             % (s["ms_frames"], s["is_frames"], s["max_main_data_begin"])]
    if "lsf_table_mismatch" in s:
        lines.append("frames whose length differs from twice the MPEG-2 table entry: %d"
                     % s["lsf_table_mismatch"])
    return "\n".join(lines)


def main(argv):
    quiet = "-q" in argv
    free_kbps = None
    if "--free" in argv:
        at = argv.index("--free")
        free_kbps = int(argv[at + 1])
        argv = argv[:at] + argv[at + 2:]
    paths = [a for a in argv if a != "-q"]
    if not paths:
        print(__doc__)
        return 2
    for path in paths:
        with open(path, "rb") as fh:
            data = fh.read()
        try:
            frames, s = walk(data, free_kbps)
        except WalkError as err:
            print("%s: %s" % (path, err))
            return 1
        print("%s:\n%s" % (path, describe(s)))
        if not quiet:
            for i, f in enumerate(frames):
                h = f["header"]
                types = " ".join("%d%s" % (g["block_type"], "m" if g["mixed_block_flag"] else "")
                                 for row in f["side"]["granules"] for g in row)
                print("  %4d @%-6d %3d kbit/s pad %d ext %d mdb %3d blocks %s"
                      % (i, f["offset"], h["bitrate"], h["padding_bit"], h["mode_extension"],
                         f["side"]["main_data_begin"], types))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
