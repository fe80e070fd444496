#!/usr/bin/env python3
"""Independent reader for archives made by vaultwick's writer.

    read_archive.py ARCHIVE                   list members after a full CRC check
    read_archive.py ARCHIVE --extract MEMBER  write one member's content to stdout

The listing prints one line per member:
    name<TAB>method<TAB>flags(hex)<TAB>compressed<TAB>size<TAB>crc(hex)
Any error (unreadable archive, bad CRC, missing member) exits with status 1.
"""
import sys
import zipfile


def main(argv):
    if len(argv) not in (2, 4) or (len(argv) == 4 and argv[2] != "--extract"):
        print("usage: read_archive.py ARCHIVE [--extract MEMBER]", file=sys.stderr)
        return 2
    try:
        with zipfile.ZipFile(argv[1]) as archive:
            if len(argv) == 4:
                with archive.open(argv[3]) as member:
                    while True:
                        block = member.read(1 << 20)
                        if not block:
                            break
                        sys.stdout.buffer.write(block)
                sys.stdout.buffer.flush()
                return 0
            bad = archive.testzip()
            if bad is not None:
                print(f"bad member: {bad}", file=sys.stderr)
                return 1
            for info in archive.infolist():
                print(f"{info.filename}\t{info.compress_type}\t{info.flag_bits:x}\t"
                      f"{info.compress_size}\t{info.file_size}\t{info.CRC:x}")
    except Exception as error:  # any failure to read counts as a broken archive
        print(f"error: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
