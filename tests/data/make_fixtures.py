#!/usr/bin/env python3
"""Make the committed Layer III test streams and their reference PCM.

For each fixture below: sox synthesises a short signal (tones, sweeps, noise
bursts, clicks and silence), lame encodes it with -t (no information frame,
no tags), and mpg123 decodes it to raw signed 16-bit little-endian PCM,
interleaved by channel, without gapless trimming, so that the reference
holds every sample of every frame from the first frame on.

Each stream is then checked by mp3_walk.py (an independent frame walker):
version, rate, channels, stereo mode, CRC words, VBR and block types must be
what the fixture is meant to exercise, and the reference must hold exactly
frames x samples-per-frame x channels samples. fixtures.txt is written from
those checked facts.

The gapless streams (GAPLESS below) are lame files as users have them: with
the Xing/Info information frame and its LAME tag (encoder delay, padding).
They have no reference PCM; gapless.txt records the source length and the
lengths that `lame --decode` and mpg123 (gapless by default) give, which
must all be equal, with the tag's frame count, delay and padding.

Usage: python3 tests/data/make_fixtures.py   (installs sox, lame and mpg123
with apt-get when they are missing; runs as root or with sudo).
"""

import array
import os
import re
import shutil
import subprocess
import sys
import tempfile
import wave

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # keep the fixture folder free of caches
import mp3_walk  # noqa: E402

TOOLS = {"sox": "sox", "lame": "lame", "mpg123": "mpg123"}  # command -> Debian package
SIZE_BUDGET = 1_500_000  # bytes for the whole folder


# Signal segments. Each is (kind, seconds, *args); stereo tones take one
# frequency per channel, or one for both (identical channels suit M/S stereo).
def tone(seconds, *freqs, gain=-6):
    return ("tone", seconds, freqs, gain)


def sweep(seconds, span, gain=-6):
    return ("sweep", seconds, span, gain)


def noise(seconds, gain=-6, colour="whitenoise"):
    return ("noise", seconds, colour, gain)


def silence(seconds):
    return ("silence", seconds)


def click():
    # A 3 ms full-scale square burst out of silence: a hard attack.
    return ("click", 0.003)


def segment_args(seg, channels):
    kind, seconds = seg[0], seg[1]
    dur = "%.4f" % seconds
    if kind == "silence":
        return ["trim", "0", dur]
    if kind == "tone":
        freqs, gain = seg[2], seg[3]
        args = ["synth", dur]
        for f in freqs:
            args += ["sine", str(f)]
        return args + ["gain", str(gain), "fade", "0.005", dur, "0.005"]
    if kind == "sweep":
        return ["synth", dur, "sine", seg[2], "gain", str(seg[3])]
    if kind == "noise":
        args = ["synth", dur] + [seg[2]] * channels
        return args + ["gain", str(seg[3])]
    if kind == "click":
        return ["synth", dur, "square", "400", "gain", "-1"]
    raise ValueError(kind)


class Fixture:
    def __init__(self, name, rate, channels, segments, lame_args, expect, notes, free_kbps=None):
        self.name = name
        self.free_kbps = free_kbps  # free format (bitrate_index 0) encoded at this bitrate
        self.rate = rate
        self.channels = channels
        self.segments = segments
        self.lame_args = lame_args
        self.expect = expect  # summary facts the walker must confirm
        self.notes = notes


# Stereo programme: identical channels (M/S friendly), then distinct ones.
def stereo_programme(low, high):
    return [tone(0.25, low), noise(0.04, gain=-8), tone(0.2, low, high), silence(0.08),
            click(), tone(0.15, high, low * 2), sweep(0.12, "%d-%d" % (low, high * 3))]


def mono_programme(low, high):
    return [tone(0.3, low), noise(0.05, gain=-8), silence(0.1), click(), tone(0.2, high),
            sweep(0.2, "%d-%d" % (low, high * 3)), noise(0.05, gain=-10)]


# The 8 kHz stream: clicks and noise bursts between quiet tones, so that the
# encoder switches to short blocks again and again.
# Long stretches of steady tone between them keep long blocks in the mix.
TRANSIENTS = [tone(0.4, 300, gain=-12), click(), silence(0.1), noise(0.03, gain=-3),
              tone(0.45, 500, gain=-12), click(), silence(0.05), click(), silence(0.1),
              tone(0.45, 700, gain=-12), noise(0.04, gain=-3), silence(0.1),
              tone(0.3, 350, gain=-12)]

FIXTURES = [
    Fixture("mpeg1_44k_joint_cbr128", 44100, 2, stereo_programme(440, 1250),
            ["-m", "j", "-b", "128"],
            {"version": "1", "mode": "joint", "vbr": False, "crc": False, "ms": True},
            "CBR 128 kbit/s, joint stereo (M/S and L/R frames), padded frames"),
    Fixture("mpeg1_48k_stereo_vbr", 48000, 2, stereo_programme(523, 1500),
            ["-m", "s", "-V", "2"],
            {"version": "1", "mode": "stereo", "vbr": True, "crc": False},
            "VBR, plain stereo"),
    Fixture("mpeg1_32k_mono_crc", 32000, 1, mono_programme(330, 1100),
            ["-m", "m", "-b", "64", "-p"],
            {"version": "1", "mode": "mono", "vbr": False, "crc": True},
            "CBR 64 kbit/s, CRC words, 17-byte side information"),
    Fixture("mpeg2_22k_joint_cbr64", 22050, 2, stereo_programme(392, 1000),
            ["-m", "j", "-b", "64"],
            {"version": "2", "mode": "joint", "vbr": False, "crc": False, "ms": True},
            "CBR 64 kbit/s, joint stereo (M/S and L/R frames)"),
    Fixture("mpeg2_24k_mono_vbr", 24000, 1, mono_programme(294, 900),
            ["-m", "m", "-V", "4"],
            {"version": "2", "mode": "mono", "vbr": True, "crc": False},
            "VBR, 9-byte side information"),
    Fixture("mpeg2_16k_stereo_crc", 16000, 2, stereo_programme(262, 700),
            ["-m", "s", "-b", "32", "-p"],
            {"version": "2", "mode": "stereo", "vbr": False, "crc": True},
            "CBR 32 kbit/s, plain stereo, CRC words"),
    Fixture("mpeg25_8k_mono_transients", 8000, 1, TRANSIENTS,
            ["-m", "m", "-b", "24"],
            {"version": "2.5", "mode": "mono", "vbr": False, "crc": False, "short": True},
            "CBR 24 kbit/s, clicks and noise bursts: short blocks (block_type 2)"),
    Fixture("mpeg25_11k_stereo_cbr64", 11025, 2, stereo_programme(220, 800),
            ["-m", "s", "-b", "64"],
            {"version": "2.5", "mode": "stereo", "vbr": False, "crc": False,
             "longer_than_table": True},
            "CBR 64 kbit/s, plain stereo; frames of floor(72*64000/11025) = 417 bytes "
            "(+1 padded), not 2 x 208 = 416"),
    Fixture("mpeg25_12k_joint_vbr", 12000, 2, stereo_programme(247, 900),
            ["-m", "j", "-V", "5"],
            {"version": "2.5", "mode": "joint", "vbr": True, "crc": False, "ms": True},
            "VBR, joint stereo (M/S and L/R frames)"),
    # Free format: every header has bitrate_index 0; the frame length (the
    # standard one for the bitrate, here not a listed bitrate) is only known
    # from the distance between sync patterns.
    Fixture("mpeg1_44k_stereo_free200", 44100, 2, stereo_programme(370, 1100),
            ["-m", "s", "--freeformat", "-b", "200"],
            {"version": "1", "mode": "stereo", "vbr": False, "crc": False, "free": True},
            "free format at 200 kbit/s: 653-byte frames (654 padded)", free_kbps=200),
    Fixture("mpeg2_22k_mono_free50", 22050, 1, mono_programme(311, 950),
            ["-m", "m", "--freeformat", "-b", "50"],
            {"version": "2", "mode": "mono", "vbr": False, "crc": False, "free": True},
            "free format at 50 kbit/s: 163-byte frames (164 padded)", free_kbps=50),
]


class GaplessFixture(Fixture):
    def __init__(self, name, rate, channels, segments, lame_args, tag, notes):
        super().__init__(name, rate, channels, segments, lame_args, {}, notes)
        self.tag = tag  # "Xing" (VBR) or "Info" (CBR)


# Source lengths that are no multiple of a frame, so the end trim matters.
GAPLESS = [
    GaplessFixture("gapless_mpeg1_44k_stereo_vbr", 44100, 2,
                   [tone(0.6, 440, 660), noise(0.05, gain=-12), tone(0.6137, 550)],
                   ["-m", "j", "-V", "6"], "Xing", "VBR, Xing frame and LAME tag"),
    GaplessFixture("gapless_mpeg2_22k_mono_cbr64", 22050, 1,
                   [tone(0.4, 330), click(), tone(0.5071, 880)],
                   ["-m", "m", "-b", "64"], "Info", "CBR 64 kbit/s, Info frame and LAME tag"),
]


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


def ensure_tools():
    missing = [pkg for cmd, pkg in TOOLS.items() if shutil.which(cmd) is None]
    if not missing:
        return
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    run(sudo + ["apt-get", "update", "-q"], env=env)
    run(sudo + ["apt-get", "install", "-y", "-q", "--no-install-recommends"] + missing, env=env)


def tool_versions():
    def first_line(cmd):
        out = subprocess.run(cmd, capture_output=True, text=True).stdout
        return out.strip().splitlines()[0] if out.strip() else "?"
    def version(name, cmd):
        found = re.search(r"\d+\.\d+(\.\d+)?", first_line(cmd))
        return "%s %s" % (name, found.group(0) if found else "?")
    return [version("sox", ["sox", "--version"]), version("lame", ["lame", "--version"]),
            version("mpg123", ["mpg123", "--version"])]


def mpg123_cpu():
    # The portable C decoder, so the reference does not depend on the host's SIMD.
    out = subprocess.run(["mpg123", "--list-cpu"], capture_output=True, text=True).stdout
    return ["--cpu", "generic"] if "generic" in out.split() else []


def synthesise(fx, tmp):
    parts = []
    for i, seg in enumerate(fx.segments):
        part = os.path.join(tmp, "%s_%02d.wav" % (fx.name, i))
        # Rate and channels on the null input, so sox synthesises at the target
        # rate (no resampling); -D: no dither, -R: repeatable noise.
        run(["sox", "-R", "-D", "-r", str(fx.rate), "-c", str(fx.channels), "-n",
             "-b", "16", part] + segment_args(seg, fx.channels))
        parts.append(part)
    wav = os.path.join(tmp, fx.name + ".wav")
    run(["sox", "-R", "-D"] + parts + [wav])
    return wav


def encode(fx, wav, mp3):
    # -t: no information frame; --resample pins the rate (lame may lower it otherwise).
    run(["lame", "--quiet", "-t", "--resample", "%g" % (fx.rate / 1000)]
        + fx.lame_args + [wav, mp3])


def decode(mp3, pcm):
    raw = subprocess.run(["mpg123", "-q", "--no-gapless", "-e", "s16", "-s"] + mpg123_cpu()
                         + [mp3], check=True, capture_output=True).stdout
    if sys.byteorder != "little":  # -s writes host order; the reference is little-endian
        samples = array.array("h", raw)
        samples.byteswap()
        raw = samples.tobytes()
    with open(pcm, "wb") as fh:
        fh.write(raw)
    return len(raw)


def wav_frames(path):
    with wave.open(path, "rb") as w:
        return w.getnframes()


def lame_tag(data):
    """Frame count, encoder delay and padding from the information frame."""
    for tag in (b"Xing", b"Info"):
        at = data.find(tag, 0, 64)
        if at >= 0:
            break
    else:
        raise SystemExit("no information frame")
    flags = int.from_bytes(data[at + 4:at + 8], "big")
    p = at + 8
    frames = int.from_bytes(data[p:p + 4], "big") if flags & 1 else 0
    p += 4 * bool(flags & 1) + 4 * bool(flags & 2) + 100 * bool(flags & 4) + 4 * bool(flags & 8)
    if data[p:p + 4] != b"LAME":
        raise SystemExit("no LAME tag")
    d = data[p + 21:p + 24]
    # The tag's last word: CRC-16/ARC of the frame's bytes in front of it.
    if crc16_arc(data[:p + 34]) != int.from_bytes(data[p + 34:p + 36], "big"):
        raise SystemExit("LAME tag CRC does not match")
    return tag.decode(), frames, (d[0] << 4) | (d[1] >> 4), ((d[1] & 15) << 8) | d[2]


def crc16_arc(data):
    crc = 0
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def make_gapless(fx, tmp):
    wav = synthesise(fx, tmp)
    source = wav_frames(wav)
    mp3 = os.path.join(HERE, fx.name + ".mp3")
    run(["lame", "--quiet", "--resample", "%g" % (fx.rate / 1000)] + fx.lame_args + [wav, mp3])
    lame_wav = os.path.join(tmp, fx.name + ".lame.wav")
    run(["lame", "--quiet", "--decode", mp3, lame_wav])
    mpg_wav = os.path.join(tmp, fx.name + ".mpg123.wav")
    run(["mpg123", "-q"] + mpg123_cpu() + ["-w", mpg_wav, mp3])
    with open(mp3, "rb") as fh:
        data = fh.read()
    tag, frames, delay, padding = lame_tag(data)
    _walked, summary = mp3_walk.walk(data)
    lengths = {"source": source, "lame --decode": wav_frames(lame_wav), "mpg123": wav_frames(mpg_wav)}
    problems = []
    if tag != fx.tag:
        problems.append("information frame %s, expected %s" % (tag, fx.tag))
    if len(set(lengths.values())) != 1:
        problems.append("lengths differ: %r" % lengths)
    if summary["frames"] != frames + 1:
        problems.append("%d frames walked, the tag counts %d plus itself" % (summary["frames"], frames))
    if frames * summary["samples_per_frame"] - delay - padding != source:
        problems.append("frames x %d - delay - padding is not the source length"
                        % summary["samples_per_frame"])
    if problems:
        raise SystemExit("%s: %s" % (fx.name, "; ".join(problems)))
    print("%s: %s frame, %d audio frames, delay %d, padding %d, %d samples per channel, %d bytes"
          % (fx.name, tag, frames, delay, padding, source, len(data)))
    return ("%-37s %-4s %-6d %-3d %-6d %-6d %-5d %-7d %-7d %-7d %s"
            % (fx.name + ".mp3", tag, fx.rate, fx.channels, frames, delay, padding, source,
               lengths["lame --decode"], lengths["mpg123"], fx.notes))


def check(fx, summary, pcm_bytes):
    problems = []
    want = {"rate": fx.rate, "channels": fx.channels}
    want.update({k: v for k, v in fx.expect.items() if k in ("version", "mode", "vbr", "crc")})
    want["free"] = fx.free_kbps is not None
    for key, value in want.items():
        if summary[key] != value:
            problems.append("%s is %r, expected %r" % (key, summary[key], value))
    if fx.expect.get("crc") and summary["crc_frames_ok"] != summary["frames"]:
        problems.append("not every frame has a verified CRC word")
    if fx.expect.get("short") and summary["block_types"][2] == 0:
        problems.append("no block_type 2 granule")
    if fx.expect.get("ms") and not 0 < summary["ms_frames"] < summary["frames"]:
        problems.append("expected both M/S and L/R frames, M/S in %d of %d"
                        % (summary["ms_frames"], summary["frames"]))
    if fx.expect.get("longer_than_table") and summary["lsf_table_mismatch"] != summary["frames"]:
        problems.append("expected every frame longer than twice the MPEG-2 table entry")
    values = summary["frames"] * summary["samples_per_frame"] * summary["channels"]
    if pcm_bytes != 2 * values:
        problems.append("reference holds %d bytes, frames give %d" % (pcm_bytes, 2 * values))
    if problems:
        raise SystemExit("%s: %s" % (fx.name, "; ".join(problems)))
    return values


def manifest_line(fx, s, values):
    if s["free"]:
        rate = "free:%d" % s["bitrates"][0]
    elif s["vbr"]:
        rate = "vbr:%d-%d" % (s["bitrates"][0], s["bitrates"][-1])
    else:
        rate = str(s["bitrates"][0])
    blocks = "/".join(str(n) for n in s["block_types"])
    return ("%-31s %-4s %-6d %-3d %-7s %-7d %-9d %-10s %-4s %-13s %-4d %s"
            % (fx.name + ".mp3", s["version"], s["rate"], s["channels"], s["mode"],
               s["frames"], values, rate, "yes" if s["crc"] else "no", blocks,
               s["ms_frames"], fx.notes))


def main():
    ensure_tools()
    lines = []
    with tempfile.TemporaryDirectory() as tmp:
        for fx in FIXTURES:
            mp3 = os.path.join(HERE, fx.name + ".mp3")
            pcm = os.path.join(HERE, fx.name + ".pcm")
            encode(fx, synthesise(fx, tmp), mp3)
            pcm_bytes = decode(mp3, pcm)
            with open(mp3, "rb") as fh:
                _frames, summary = mp3_walk.walk(fh.read(), fx.free_kbps)
            values = check(fx, summary, pcm_bytes)
            lines.append(manifest_line(fx, summary, values))
            print("%s: %d frames, %d bytes, reference %d bytes"
                  % (fx.name, summary["frames"], os.path.getsize(mp3), pcm_bytes))
    header = [
        "# Layer III fixtures made by make_fixtures.py; checked by mp3_walk.py.",
        "# Tools: %s; mpg123 %s--no-gapless -e s16." % ("; ".join(tool_versions()),
                                                       " ".join(mpg123_cpu()) + " "),
        "# NAME.pcm beside each stream: mpg123's output, signed 16-bit little-endian,",
        "# interleaved, every sample of every frame from the first (sample 0 = first",
        "# sample of frame 0); values = frames x samples per frame x channels.",
        "# bitrate in kbit/s (free:N = free format encoded at N); blocks = granule-channel count of block_type 0/1/2/3;",
        "# ms = frames using M/S stereo. Notes run to the end of the line.",
        "# file                          ver  rate   ch  mode    frames  values    bitrate"
        "    crc  blocks        ms   notes",
    ]
    with open(os.path.join(HERE, "fixtures.txt"), "w") as fh:
        fh.write("\n".join(header + lines) + "\n")
    gapless = []
    with tempfile.TemporaryDirectory() as tmp:
        for fx in GAPLESS:
            gapless.append(make_gapless(fx, tmp))
    header = [
        "# Gapless fixtures made by make_fixtures.py: lame files with an information frame",
        "# and a LAME tag. Tools: %s; mpg123 %s(gapless, the default)." % (
            "; ".join(tool_versions()), " ".join(mpg123_cpu()) + " "),
        "# frames = audio frames the tag counts (the information frame not included);",
        "# delay and padding from the tag; source = samples per channel that lame encoded;",
        "# lame and mpg123 = samples per channel of `lame --decode` and of mpg123.",
        "# file                                tag  rate   ch  frames delay  pad   source  lame    mpg123  notes",
    ]
    with open(os.path.join(HERE, "gapless.txt"), "w") as fh:
        fh.write("\n".join(header + gapless) + "\n")
    total = sum(os.path.getsize(os.path.join(HERE, f)) for f in os.listdir(HERE)
                if os.path.isfile(os.path.join(HERE, f)))
    print("tests/data holds %d bytes" % total)
    if total > SIZE_BUDGET:
        raise SystemExit("tests/data exceeds its %d-byte budget" % SIZE_BUDGET)


if __name__ == "__main__":
    main()
