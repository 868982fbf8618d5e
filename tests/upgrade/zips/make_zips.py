#!/usr/bin/env python3
"""Writes the zip archives of tests/upgrade/ZipFileTest.cpp with Python's zipfile,
as other programs write them: run from this folder to make them again.

Every archive holds the same two images (ZipFileTest.cpp makes the same bytes):
  APP0.bin  20000 bytes that compress well (i * 7 % 251)
  APP1.bin  3000 bytes that do not (a linear congruential sequence)
"""
import io
import struct
import zipfile

APP0 = bytes(i * 7 % 251 for i in range(20000))


def noise(length):
    state, out = 12345, bytearray()
    for _ in range(length):
        state = (state * 1664525 + 1013904223) & 0xFFFFFFFF
        out.append(state >> 24)
    return bytes(out)


APP1 = noise(3000)
WHEN = (2024, 5, 17, 10, 30, 0)


def info(name, method):
    entry = zipfile.ZipInfo(name, WHEN)
    entry.compress_type = method
    return entry


def mixed():
    """Deflated and stored entries, a folder entry, an archive comment."""
    with zipfile.ZipFile("python-mixed.zip", "w") as z:
        z.writestr(info("APP0.bin", zipfile.ZIP_DEFLATED), APP0)
        z.writestr(info("images/", zipfile.ZIP_STORED), b"")
        z.writestr(info("images/APP1.bin", zipfile.ZIP_STORED), APP1)
        z.comment = b"written by zipfile"


class Unseekable(io.RawIOBase):
    def __init__(self, sink):
        self.sink = sink

    def writable(self):
        return True

    def write(self, data):
        self.sink.write(data)
        return len(data)


def streamed():
    """Written to a stream that cannot seek: sizes and CRC follow each entry's data
    (data descriptors), the local headers hold zeros."""
    sink = io.BytesIO()
    with zipfile.ZipFile(Unseekable(sink), "w") as z:
        for name, data in (("APP0.bin", APP0), ("APP1.bin", APP1)):
            with z.open(info(name, zipfile.ZIP_DEFLATED), "w") as out:
                out.write(data)
    open("python-streamed.zip", "wb").write(sink.getvalue())


def zip64():
    """zip64 local extra fields (force_zip64), and the end records rewritten into
    their zip64 form, as an archive of more than 65535 entries has them."""
    sink = io.BytesIO()
    with zipfile.ZipFile(sink, "w") as z:
        for name, data in (("APP0.bin", APP0), ("APP1.bin", APP1)):
            with z.open(info(name, zipfile.ZIP_DEFLATED), "w", force_zip64=True) as out:
                out.write(data)
    data = sink.getvalue()
    end = data.rfind(b"PK\x05\x06")
    (_, disk, cd_disk, count_disk, count, cd_size, cd_offset, comment) = struct.unpack("<IHHHHIIH", data[end:end + 22])
    record_offset = end
    record = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count, cd_size, cd_offset)
    locator = struct.pack("<IIQI", 0x07064B50, 0, record_offset, 1)
    new_end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
    open("python-zip64.zip", "wb").write(data[:end] + record + locator + new_end)


mixed()
streamed()
zip64()
