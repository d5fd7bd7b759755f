#!/usr/bin/env python3
"""Checks the release archive as a Windows user gets it, and unpacks it.

    check_release_archive.py ARCHIVE PROGRAM GUIDE UNPACK_DIR

ARCHIVE is build/ZelvoBackup-<version>-<arch>.zip, PROGRAM the exe it must
hold, GUIDE the guide's source (UTF-8). The two files are unpacked, under
their names decoded from GBK, into UNPACK_DIR for the test that starts the
unpacked program.
"""
import hashlib
import os
import re
import shutil
import struct
import sys
import zipfile

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def main():
    archive, program, guide, unpack_dir = sys.argv[1:]
    name = os.path.basename(archive)
    data = open(archive, "rb").read()
    shutil.rmtree(unpack_dir, ignore_errors=True)

    # The SHA-256 file, as sha256sum writes it and `sha256sum -c` reads it.
    lines = open(archive + ".sha256", "rb").read().decode("ascii").split("\n")
    match = re.fullmatch(r"([0-9a-f]{64})  (\S+)", lines[0])
    check(len(lines) == 2 and lines[1] == "", "the SHA-256 file is not one line ending in LF")
    if check(match is not None, f"the SHA-256 file reads {lines[0]!r}"):
        check(match.group(1) == hashlib.sha256(data).hexdigest(), "the SHA-256 file's digest is not the archive's")
        check(match.group(2) == name, f"the SHA-256 file names {match.group(2)}, not {name}")

    with zipfile.ZipFile(archive) as z:
        check(z.testzip() is None, "an entry's CRC does not match")
        entries = z.infolist()
        # Without bit 11 zipfile decodes a name as code page 437, which gives the raw bytes back.
        raw_names = [e.filename.encode("cp437") if not e.flag_bits & 0x800 else None for e in entries]
        check(raw_names == [b"ZelvoBackup.exe", "使用说明.txt".encode("gbk")],
              f"entries {[e.filename for e in entries]} (flags {[e.flag_bits for e in entries]}): "
              "want ZelvoBackup.exe and 使用说明.txt, as GBK without the UTF-8 flag")
        for entry in entries:
            # The local header's flag too: some tools read that one.
            flags = struct.unpack_from("<H", data, entry.header_offset + 6)[0]
            check(not flags & 0x800, f"{entry.filename}: the local header has the UTF-8 flag")
        contents = [z.read(e) for e in entries]

    if len(contents) == 2:
        check(contents[0] == open(program, "rb").read(), f"the archived program is not {program}")
        text = contents[1]
        try:
            text.decode("utf-8")
            check(False, "the guide is still UTF-8")
        except UnicodeDecodeError:
            pass
        check(b"\n" not in text.replace(b"\r\n", b"") and b"\r" not in text.replace(b"\r\n", b""),
              "the guide has line ends other than CRLF")
        check(text.endswith(b"\r\n"), "the guide's last line has no CRLF")
        source = open(guide, encoding="utf-8").read()
        try:
            check(text.decode("gbk").replace("\r\n", "\n") == source, "the guide's text differs from its source")
        except UnicodeDecodeError as e:
            check(False, f"the guide is not GBK: {e}")

        os.makedirs(unpack_dir)
        for raw, content in zip(raw_names, contents):
            if raw is not None:
                with open(os.path.join(unpack_dir, raw.decode("gbk")), "wb") as f:
                    f.write(content)

    for failure in failures:
        print(f"{name}: {failure}")
    print(f"{name}: {len(data)} bytes, {'FAILED' if failures else 'all checks passed'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
