# SPDX-License-Identifier: GPL-3.0-or-later
"""Screenshots as the end-to-end scripts look at them (PNG files of 8-bit RGB or RGBA).

  pictures.py drawn FILE                   pixels that stand out from the most common colour
  pictures.py changed FILE1 FILE2 X Y W H  pixels that differ between two pictures in a rectangle
  pictures.py kwin FILE                    saves what KWin shows (its ScreenShot2 interface)
"""
import collections
import struct
import sys
import zlib


def read(path):
    """The rows of the picture at path, each a list of (R, G, B)."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{path} is not a PNG")
    pos, chunks, header = 8, [], None
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            chunks.append(body)
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    channels = {2: 3, 6: 4}.get(colour)
    if depth != 8 or channels is None or interlace:
        sys.exit(f"unsupported PNG: depth {depth}, colour type {colour}, interlace {interlace}")
    raw, stride, rows, prior = zlib.decompress(b"".join(chunks)), width * channels, [], None
    for y in range(height):
        kind, row = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        up = prior or bytearray(stride)
        for i in range(stride if kind else 0):
            left = row[i - channels] if i >= channels else 0
            corner = up[i - channels] if i >= channels else 0
            if kind == 1:
                row[i] = (row[i] + left) & 255
            elif kind == 2:
                row[i] = (row[i] + up[i]) & 255
            elif kind == 3:
                row[i] = (row[i] + (left + up[i]) // 2) & 255
            elif kind == 4:
                p = left + up[i] - corner
                pa, pb, pc = abs(p - left), abs(p - up[i]), abs(p - corner)
                row[i] = (row[i] + (left if pa <= pb and pa <= pc else up[i] if pb <= pc else corner)) & 255
        prior = row
        rows.append([tuple(row[x * channels:x * channels + 3]) for x in range(width)])
    return rows


def write(path, width, height, rows):
    """Writes rows of RGBA bytes as a PNG file."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n"
                  + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
                  + chunk(b"IDAT", zlib.compress(b"".join(b"\0" + row for row in rows), 6))
                  + chunk(b"IEND", b""))


def drawn(path):
    pixels = [p for row in read(path) for p in row]
    background = collections.Counter(pixels).most_common(1)[0][0]
    return sum(1 for p in pixels if sum(abs(a - b) for a, b in zip(p, background)) > 60)


def changed(first, second, x, y, w, h):
    a, b = read(first), read(second)
    return sum(a[row][col] != b[row][col] for row in range(y, y + h) for col in range(x, x + w))


def kwin(path):
    import os
    import threading
    import dbus
    shot = dbus.Interface(dbus.SessionBus().get_object("org.kde.KWin", "/org/kde/KWin/ScreenShot2"),
                          "org.kde.KWin.ScreenShot2")
    read_end, write_end = os.pipe()
    blocks = []

    def drain():
        with os.fdopen(read_end, "rb") as pipe:
            while block := pipe.read(1 << 16):
                blocks.append(block)
    reader = threading.Thread(target=drain)
    reader.start()
    meta = shot.CaptureWorkspace({"native-resolution": True}, dbus.types.UnixFd(write_end), timeout=20)
    os.close(write_end)
    reader.join(20)
    data = b"".join(blocks)
    width, height, stride, image_format = (int(meta[k]) for k in ("width", "height", "stride", "format"))
    if len(data) < stride * height:
        sys.exit(f"KWin sent {len(data)} bytes for {width}x{height}")
    rows = []
    for y in range(height):
        row = data[y * stride:y * stride + width * 4]
        # QImage's (A)RGB32 formats (4, 5, 6): B, G, R, A in memory on this little-endian machine.
        if image_format in (4, 5, 6):
            pixels = bytearray(row)
            pixels[0::4], pixels[2::4] = row[2::4], row[0::4]
            row = bytes(pixels)
        elif image_format not in (16, 17, 18):
            sys.exit(f"unknown image format {image_format}")
        rows.append(row)
    write(path, width, height, rows)
    return f"{width}x{height}"


if __name__ == "__main__":
    command, args = sys.argv[1] if len(sys.argv) > 1 else "", sys.argv[2:]
    if command == "drawn" and len(args) == 1:
        print(drawn(args[0]))
    elif command == "changed" and len(args) == 6:
        print(changed(args[0], args[1], *map(int, args[2:])))
    elif command == "kwin" and len(args) == 1:
        print(kwin(args[0]))
    else:
        sys.exit(__doc__)
