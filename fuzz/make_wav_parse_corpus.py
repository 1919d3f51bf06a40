#!/usr/bin/env python3
"""Writes the seed files of the WAV reader's fuzz target into corpus/wav_parse."""

import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "wav_parse")


def fmt_chunk(channels, rate, bits):
    align = channels * bits // 8
    return b"fmt " + struct.pack("<IHHIIHH", 16, 1, channels, rate, rate * align, align, bits)


def wav(channels=2, rate=22050, bits=16, data=b"\0" * 64, extra=b"", size=None):
    body = b"WAVE" + fmt_chunk(channels, rate, bits) + extra
    body += b"data" + struct.pack("<I", len(data) if size is None else size) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


SEEDS = {
    "canonical.wav": wav(),
    "mono8.wav": wav(1, 8000, 8, bytes(range(256))),
    "six_channels.wav": wav(6, 48000, 16, b"\1\2" * 60),
    "extra_chunk.wav": wav(extra=b"LIST" + struct.pack("<I", 18) + b"INFOISFT\6\0\0\0rec\0\0\0"),
    "huge_size.wav": wav(size=0x80000000),
    "zero_size.wav": wav(size=0),
    "no_data.wav": b"RIFF" + struct.pack("<I", 28) + b"WAVE" + fmt_chunk(2, 22050, 16),
    "tags_at_end.wav": b"RIFF\0\0\0\0WAVE" + b"\xAA" * 984 + fmt_chunk(2, 22050, 16)[:12],
    "short.wav": wav()[:40],
}

os.makedirs(HERE, exist_ok=True)
for name, content in SEEDS.items():
    with open(os.path.join(HERE, name), "wb") as out:
        out.write(content)
