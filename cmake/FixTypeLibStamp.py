#!/usr/bin/env python3
"""Replaces the time stamp that widl writes into a type library.

widl records when it ran in two custom data items of the library: the text
"Created by WIDL version V at <ctime>\\n" (a VT_BSTR) and, right after it,
the same time as a VT_UI4 number of seconds. Both are set here to the start
of 1970, so that the same IDL always gives the same bytes. A library that
does not have exactly this layout is an error: widl changed, and this script
must learn the new layout rather than let a stamp through.

Usage: FixTypeLibStamp.py FILE.tlb
"""
import struct
import sys

PREFIX = b"Created by WIDL version "
FIXED_TEXT = b"Thu Jan  1 00:00:00 1970"  # ctime's 24 characters
VT_BSTR = 8
VT_UI4 = 19


def fix(data: bytearray) -> None:
    start = data.find(PREFIX)
    if start < 6 or data.find(PREFIX, start + 1) != -1:
        raise ValueError("expected one \"%s\" text" % PREFIX.decode())
    vt, length = struct.unpack_from("<HI", data, start - 6)
    end = start + length
    if vt != VT_BSTR or data[end - 1:end] != b"\n" or length < len(PREFIX) + 25:
        raise ValueError("the creation text is not a VT_BSTR ending in a line feed")
    data[end - 25:end - 1] = FIXED_TEXT
    number = end
    while data[number:number + 1] == b"W":  # widl pads with "W" to four bytes
        number += 1
    (vt,) = struct.unpack_from("<H", data, number)
    if vt != VT_UI4 or number - end > 3:
        raise ValueError("no VT_UI4 time after the creation text")
    struct.pack_into("<I", data, number + 2, 0)


def main() -> int:
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    path = sys.argv[1]
    with open(path, "rb") as stream:
        data = bytearray(stream.read())
    try:
        fix(data)
    except (ValueError, struct.error) as error:
        print("%s: %s: %s" % (sys.argv[0], path, error), file=sys.stderr)
        return 1
    with open(path, "wb") as stream:
        stream.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
