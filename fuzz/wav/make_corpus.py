#!/usr/bin/env python3
"""Writes the seed corpus for wav_reader: small crafted files, one per shape the
reader must handle (run from anywhere; the files land in ./corpus beside this script).
The files named by a hash are inputs the fuzzer found that reach further, merged in
with `wav_reader -merge=1`."""
import os
import struct

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def chunk(cid, body, size=None):
    return cid + struct.pack("<I", len(body) if size is None else size) + body


def fmt(channels, rate, bits, tag=1, extra=b""):
    align = channels * (bits // 8)
    return chunk(b"fmt ", struct.pack("<HHIIHH", tag, channels, rate, rate * align, align, bits) + extra)


def fmt_aligned(channels, rate, bits, align, tag=1):
    return chunk(b"fmt ", struct.pack("<HHIIHH", tag, channels, rate, rate * align, align, bits))


def fmt_extensible(channels, rate, bits, valid, sub=1):
    align = channels * (bits // 8)
    guid = struct.pack("<H", sub) + bytes([0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71])
    return chunk(b"fmt ", struct.pack("<HHIIHHHHI", 0xFFFE, channels, rate, rate * align, align, bits, 22, valid, 3) + guid)


def riff(*chunks, size=None):
    body = b"WAVE" + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body) if size is None else size) + body


def pcm16(*samples):
    return struct.pack("<%dh" % len(samples), *samples)


def vctr(minute, hour, day, month, year):
    return chunk(b"vctr", bytes([1, 2, 3, minute, hour, day, month, year]))


ramp = pcm16(*range(-2000, 2000, 250))
seeds = {
    "stereo16": riff(fmt(2, 44100, 16), chunk(b"data", ramp)),
    "mono16": riff(fmt(1, 8000, 16), chunk(b"data", ramp)),
    "stereo8": riff(fmt(2, 22050, 8), chunk(b"data", bytes(range(0, 256, 9)))),
    "mono24": riff(fmt(1, 22050, 24), chunk(b"data", bytes(range(30)))),
    "stereo32": riff(fmt(2, 48000, 32), chunk(b"data", bytes(range(32)))),
    "quad16": riff(fmt(4, 8000, 16), chunk(b"data", ramp)),
    "float": riff(fmt(2, 44100, 32, tag=3), chunk(b"data", bytes(16))),
    "list_first": riff(chunk(b"LIST", b"INFOICMT" + struct.pack("<I", 4) + b"note"), fmt(2, 8000, 16), chunk(b"data", ramp)),
    "odd_chunk": riff(chunk(b"odd!", b"abc"), fmt(1, 8000, 16), chunk(b"data", ramp)),
    "fmt_extra": riff(fmt(1, 8000, 16, extra=b"\x00\x00"), chunk(b"data", ramp)),
    "after_data": riff(fmt(2, 8000, 16), chunk(b"data", ramp), chunk(b"junk", b"xyzw")),
    "two_fmt": riff(fmt(2, 8000, 16), fmt(1, 11025, 8), chunk(b"data", ramp)),
    "vctr": riff(fmt(2, 8000, 16), vctr(30, 14, 5, 6, 24), chunk(b"data", ramp)),
    "vctr_bad": riff(fmt(2, 8000, 16), vctr(30, 14, 5, 13, 24), chunk(b"data", ramp)),
    "data_cut": riff(fmt(2, 8000, 16), chunk(b"data", ramp + b"\x01", size=0xFFFFFFFF)),
    "header_cut": riff(fmt(2, 8000, 16), chunk(b"data", ramp)) + b"LIS",
    "size_past_end": riff(fmt(2, 8000, 16), chunk(b"big!", b"", size=1000), chunk(b"data", ramp)),
    "no_fmt": riff(chunk(b"data", ramp)),
    "zero_channels": riff(fmt(0, 8000, 16), chunk(b"data", ramp)),
    "zero_rate": riff(fmt(2, 0, 16), chunk(b"data", ramp)),
    "narrow_bits": riff(fmt(1, 8000, 4), chunk(b"data", ramp)),
    "empty_data": riff(fmt(2, 8000, 16), chunk(b"data", b"")),
    "not_wave": b"RIFF\x04\x00\x00\x00AVI ",
    "extensible16": riff(fmt_extensible(2, 48000, 16, 16), chunk(b"data", ramp)),
    "extensible24in32": riff(fmt_extensible(2, 48000, 32, 24), chunk(b"data", ramp)),
    "extensible_float": riff(fmt_extensible(2, 48000, 32, 32, sub=3), chunk(b"data", ramp)),
    "odd_padded": riff(fmt(2, 8000, 16), chunk(b"inst", b"\x01" * 7) + b"\x00", chunk(b"data", ramp)),
    "odd_unpadded": riff(fmt(2, 8000, 16), chunk(b"inst", b"\x01" * 7), chunk(b"data", ramp)),
    "data_size_zero": riff(fmt(2, 8000, 16), chunk(b"data", ramp + b"\x01", size=0), size=0),
    "data_zero_then_list": riff(fmt(2, 8000, 16), chunk(b"data", b""), chunk(b"LIST", ramp)),
    "container12in2": riff(fmt_aligned(2, 8000, 12, 4), chunk(b"data", ramp)),
    "container20in3": riff(fmt_aligned(1, 8000, 20, 3), chunk(b"data", ramp)),
    "container24in4": riff(fmt_aligned(2, 8000, 24, 8), chunk(b"data", ramp)),
    "container_packed": riff(fmt_aligned(2, 8000, 12, 3), chunk(b"data", ramp)),
    "rifx": b"RIFX" + riff(fmt(2, 8000, 16), chunk(b"data", ramp))[4:],
    "tiny": b"RIFF",
}

os.makedirs(here, exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(here, name + ".wav"), "wb") as f:
        f.write(data)
