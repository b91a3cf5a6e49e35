#!/usr/bin/env python3
"""Draws the wizard's pictures and writes the string-table part of the
resource script.

Outputs (all committed, so that the build needs no Python):
  side.bmp     bitmap 134, the picture on the left of the first and third page
  tree.bmp     bitmap 153, the seven 16x16 check-mark images of the user tree
  qel.ico      icon group 135, 32x32 and 16x16
  search.avi   AVI 150, the search animation (uncompressed 8-bit frames)
  strings.rc   STRINGTABLE blocks of the three languages, from strings_*.inc
  dialog_texts.inc  the texts of the dialog templates in QelScript.rc, for
               the pages that are not dialogs (the terminal wizard)

Run from anywhere: python3 res/gen_resources.py
"""
import math
import os
import re
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


# --- a tiny raster ----------------------------------------------------------
class Canvas:
    def __init__(self, w, h, colour):
        self.w, self.h = w, h
        self.px = [[colour] * w for _ in range(h)]

    def put(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def get(self, x, y):
        return self.px[y][x]

    def rect(self, x0, y0, x1, y1, c):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, c)

    def blend(self, x, y, c, a):
        if 0 <= x < self.w and 0 <= y < self.h and a > 0:
            o = self.px[y][x]
            self.px[y][x] = tuple(int(round(o[i] * (1 - a) + c[i] * a)) for i in range(3))

    def line(self, x0, y0, x1, y1, width, c):
        r = width / 2.0
        for y in range(int(min(y0, y1) - r - 2), int(max(y0, y1) + r + 3)):
            for x in range(int(min(x0, x1) - r - 2), int(max(x0, x1) + r + 3)):
                px, py = x + 0.5, y + 0.5
                dx, dy = x1 - x0, y1 - y0
                t = 0.0 if dx == dy == 0 else max(0.0, min(1.0, ((px - x0) * dx + (py - y0) * dy) / (dx * dx + dy * dy)))
                d = math.hypot(px - (x0 + t * dx), py - (y0 + t * dy))
                self.blend(x, y, c, min(1.0, max(0.0, r - d + 0.5)))


def shield_halfwidth(t, w):
    """Half width of a shield at height fraction t (0 top, 1 point)."""
    if t < 0.45:
        return w
    u = (t - 0.45) / 0.55
    return w * math.sqrt(max(0.0, 1 - u * u))


def draw_shield(cv, cx, top, height, half, edge, fill_top, fill_bottom, border):
    for y in range(top, top + height + 1):
        t = (y - top) / height
        hw = shield_halfwidth(t, half)
        fill = tuple(int(fill_top[i] + (fill_bottom[i] - fill_top[i]) * t) for i in range(3))
        for x in range(int(cx - half - 2), int(cx + half + 3)):
            d = abs(x + 0.5 - cx)
            a = min(1.0, max(0.0, hw - d + 0.5))
            if a <= 0:
                continue
            inner = hw - d > border and border <= y - top and t < (height - border) / height
            cv.blend(x, y, fill if inner else edge, a)


def write_bmp24(path, cv):
    row = (cv.w * 3 + 3) & ~3
    data = bytearray()
    for y in range(cv.h - 1, -1, -1):
        line = bytearray()
        for x in range(cv.w):
            r, g, b = cv.get(x, y)
            line += bytes((b, g, r))
        line += b"\0" * (row - len(line))
        data += line
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, cv.w, cv.h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


# --- bitmap 134: the side picture --------------------------------------------
def side_picture():
    # 100 x 214 dialog units of an 8-point MS Sans Serif dialog: 150 x 348
    # pixels at the usual 1.5 pixels a unit, 176 pixels wide where the font is
    # a little wider. The control centres the picture and cuts what does not
    # fit, so everything that matters stays in the middle 150 pixels.
    w, h = 176, 348
    dx = (w - 150) // 2
    top, bottom = (8, 38, 96), (18, 118, 150)
    cv = Canvas(w, h, top)
    for y in range(h):
        t = y / (h - 1)
        c = tuple(int(top[i] + (bottom[i] - top[i]) * t) for i in range(3))
        for x in range(w):
            s = 0.06 * math.sin((x + y * 0.6) / 23.0)  # a faint diagonal sheen
            cv.px[y][x] = tuple(max(0, min(255, int(c[i] * (1 + s)))) for i in range(3))
    cx, cy = 75 + dx, 120
    for r, a in ((70, 0.10), (56, 0.12), (42, 0.16)):  # soft rings behind the shield
        for y in range(h):
            for x in range(w):
                d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
                cv.blend(x, y, (255, 255, 255), a * max(0.0, 1 - abs(d - r) / 2.2))
    draw_shield(cv, cx, 62, 118, 44, (240, 246, 255), (70, 190, 110), (20, 120, 70), 4)
    cv.line(52 + dx, 122, 68 + dx, 140, 9, (255, 255, 255))
    cv.line(68 + dx, 140, 100 + dx, 98, 9, (255, 255, 255))
    # the domain: a server linked to three workstations
    white, pale = (235, 242, 250), (150, 200, 230)
    sx, sy = 75 + dx, 236
    cv.rect(sx - 10, sy - 14, sx + 10, sy + 14, white)
    for k in range(3):
        cv.rect(sx - 7, sy - 10 + k * 8, sx + 7, sy - 8 + k * 8, (40, 90, 140))
    for i, wx in enumerate((30 + dx, 75 + dx, 120 + dx)):
        wy = 300
        cv.line(sx, sy + 14, wx, wy - 10, 2, pale)
        cv.rect(wx - 13, wy - 10, wx + 13, wy + 8, white)
        cv.rect(wx - 10, wy - 7, wx + 10, wy + 5, (60, 150, 200) if i != 1 else (70, 190, 110))
        cv.rect(wx - 6, wy + 9, wx + 6, wy + 11, white)
    write_bmp24(os.path.join(HERE, "side.bmp"), cv)


# --- bitmap 153: the tree images ---------------------------------------------
MAGENTA = (255, 0, 255)


def cell_folder(cv, ox):
    dark, body, light = (150, 110, 10), (245, 200, 70), (255, 230, 140)
    cv.rect(ox + 1, 3, ox + 6, 4, dark)
    cv.rect(ox + 1, 4, ox + 14, 13, dark)
    cv.rect(ox + 2, 5, ox + 13, 12, body)
    cv.rect(ox + 2, 5, ox + 13, 6, light)


def cell_person(cv, ox, dx=0):
    skin, shirt, dark = (250, 205, 160), (40, 100, 200), (20, 50, 110)
    cx = ox + 8 + dx
    for y in range(16):
        for x in range(16):
            if (ox + x - cx) ** 2 + (y - 5) ** 2 <= 7:
                cv.put(ox + x, y, skin)
    cv.rect(cx - 4, 9, cx + 4, 14, shirt)
    cv.rect(cx - 3, 8, cx + 3, 8, shirt)
    cv.rect(cx - 4, 14, cx + 4, 14, dark)


def cell_small_person(cv, ox):
    cv.rect(ox + 8, 6, ox + 10, 8, (250, 205, 160))
    cv.rect(ox + 7, 9, ox + 11, 12, (40, 100, 200))


def cell_tick(cv, ox, big=False):
    green = (0, 140, 40)
    pts = [(2, 8), (6, 12), (13, 3)] if big else [(8, 9), (10, 12), (15, 6)]
    for (x0, y0), (x1, y1) in zip(pts, pts[1:]):
        steps = max(abs(x1 - x0), abs(y1 - y0)) * 2
        for s in range(steps + 1):
            x = x0 + (x1 - x0) * s / steps
            y = y0 + (y1 - y0) * s / steps
            for ddx in range(2):
                for ddy in range(2):
                    cv.put(ox + int(round(x)) + ddx - 1, int(round(y)) + ddy - 1, green)


def cell_cross(cv, ox):
    red = (210, 20, 20)
    for i in range(3, 13):
        for d in (0, 1):
            cv.put(ox + i + d, i, red)
            cv.put(ox + 15 - i - d, i, red)


def cell_frame(cv, ox):
    blue = (0, 60, 160)
    for i in range(16):
        cv.put(ox + i, 0, blue)
        cv.put(ox + i, 15, blue)
        cv.put(ox, i, blue)
        cv.put(ox + 15, i, blue)


def tree_bitmap():
    cv = Canvas(112, 16, MAGENTA)
    cell_folder(cv, 0)          # 0 container
    cell_small_person(cv, 0)
    cell_folder(cv, 16)         # 1 container checked, framed
    cell_small_person(cv, 16)
    cell_tick(cv, 16)
    cell_frame(cv, 16)
    cell_tick(cv, 32, big=True)  # 2 tick alone
    cell_cross(cv, 48)          # 3 cross alone
    cell_folder(cv, 64)         # 4 container partly checked (tick, no frame)
    cell_small_person(cv, 64)
    cell_tick(cv, 64)
    cell_person(cv, 80)         # 5 user
    cell_person(cv, 96, dx=-2)  # 6 user checked
    cell_tick(cv, 96)
    write_bmp24(os.path.join(HERE, "tree.bmp"), cv)


# --- icon group 135 -------------------------------------------------------------
def icon_image(size):
    s = size / 32.0
    cv = Canvas(size, size, (0, 0, 0))
    cover = Canvas(size, size, (0, 0, 0))
    white = (255, 255, 255)
    draw_shield(cover, size / 2, int(1 * s), int(29 * s), 13 * s, white, white, white, 0)
    draw_shield(cv, size / 2, int(1 * s), int(29 * s), 13 * s, (230, 240, 255), (70, 190, 110), (20, 120, 70),
                max(1, int(2 * s)))
    cv.line(9 * s, 15 * s, 14 * s, 21 * s, 3.2 * s, white)
    cv.line(14 * s, 21 * s, 23 * s, 9 * s, 3.2 * s, white)
    xor = bytearray()
    for y in range(size - 1, -1, -1):
        for x in range(size):
            r, g, b = cv.get(x, y)
            xor += bytes((b, g, r, cover.get(x, y)[0]))
    mask_row = ((size + 31) // 32) * 4
    andm = bytearray()
    for y in range(size - 1, -1, -1):
        bits = bytearray(mask_row)
        for x in range(size):
            if cover.get(x, y)[0] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        andm += bits
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(andm), 0, 0, 0, 0)
    return info + xor + andm


def icon_file():
    images = [icon_image(32), icon_image(16)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(os.path.join(HERE, "qel.ico"), "wb") as f:
        f.write(out + b"".join(images))


# --- AVI 150: the search animation ---------------------------------------------
def chunk(fourcc, data):
    pad = b"\0" if len(data) % 2 else b""
    return fourcc + struct.pack("<I", len(data)) + data + pad


def riff_list(kind, fourcc, body):
    return kind + struct.pack("<I", len(body) + 4) + fourcc + body


def search_avi():
    size, frames = 32, 12
    # palette: 0 the dialog face (the first pixel: transparent), then blues
    palette = [(212, 208, 200)] + [(int(212 - 192 * k / 15), int(208 - 118 * k / 15), 200) for k in range(1, 16)]
    palette += [(0, 0, 0)] * (256 - len(palette))
    frame_data = []
    for f in range(frames):
        pix = [[0] * size for _ in range(size)]
        for d in range(8):
            ang = 2 * math.pi * d / 8 - math.pi / 2
            cx, cy = 16 + 11 * math.cos(ang), 16 + 11 * math.sin(ang)
            age = (f * 8 // frames - d) % 8  # 0: the dot lit now
            shade = max(3, 15 - age * 2)
            r = 3.2 if age == 0 else 2.6
            for y in range(size):
                for x in range(size):
                    if math.hypot(x + 0.5 - cx, y + 0.5 - cy) <= r:
                        pix[y][x] = shade
        rows = bytearray()
        for y in range(size - 1, -1, -1):
            rows += bytes(pix[y])
        frame_data.append(bytes(rows))
    frame_bytes = size * size
    avih = struct.pack("<IIIIIIIIII4I", 100000, frame_bytes * 10, 0, 0x10, frames, 0, 1, frame_bytes,
                       size, size, 0, 0, 0, 0)
    strh = struct.pack("<4s4sIHHIIIIIIIIhhhh", b"vids", b"DIB ", 0, 0, 0, 0, 1, 10, 0, frames,
                       frame_bytes, 0xFFFFFFFF, 0, 0, 0, size, size)
    bih = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 8, 0, frame_bytes, 0, 0, 256, 0)
    pal = b"".join(bytes((b, g, r, 0)) for (r, g, b) in palette)
    strl = riff_list(b"LIST", b"strl", chunk(b"strh", strh) + chunk(b"strf", bih + pal))
    hdrl = riff_list(b"LIST", b"hdrl", chunk(b"avih", avih) + strl)
    movi_body = b""
    index = b""
    offset = 4
    for data in frame_data:
        c = chunk(b"00db", data)
        index += struct.pack("<4sIII", b"00db", 0x10, offset, len(data))
        offset += len(c)
        movi_body += c
    body = hdrl + riff_list(b"LIST", b"movi", movi_body) + chunk(b"idx1", index)
    with open(os.path.join(HERE, "search.avi"), "wb") as f:
        f.write(riff_list(b"RIFF", b"AVI ", body))


# --- the string tables of the resource script --------------------------------------
LANGUAGES = [
    ("strings_en.inc", "LANG_ENGLISH, SUBLANG_ENGLISH_US"),
    ("strings_zh_cn.inc", "LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED"),
    ("strings_zh_tw.inc", "LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL"),
]

ENTRY = re.compile(r'^QEL_STRING\((\d+),\s*"((?:[^"\\]|\\.)*)"\)\s*$')


def read_table(name):
    entries = []
    with open(os.path.join(HERE, name), encoding="utf-8") as f:
        for line in f:
            m = ENTRY.match(line.strip())
            if m:
                entries.append((int(m.group(1)), m.group(2)))
    return entries


def rc_literal(c_literal):
    # The tables hold C literals; the resource compiler wants "" for a quote.
    return '"' + c_literal.replace('\\"', '""') + '"'


def strings_rc():
    out = ["// Generated by gen_resources.py from strings_*.inc. Do not edit.", ""]
    for name, lang in LANGUAGES:
        out += ["LANGUAGE " + lang, "STRINGTABLE", "BEGIN"]
        for ident, text in read_table(name):
            out.append("    %d %s" % (ident, rc_literal(text)))
        out += ["END", ""]
    with open(os.path.join(HERE, "strings.rc"), "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(out))


DIALOG_LANGUAGES = {"LANG_ENGLISH, SUBLANG_ENGLISH_US": 1033,
                    "LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED": 2052,
                    "LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL": 1028}
DIALOG_TEXT = re.compile(r'^\s+(?:LTEXT|CONTROL|GROUPBOX|PUSHBUTTON)\s+"((?:[^"]|"")*)"')


def dialog_texts():
    out = ["// Generated by gen_resources.py from QelScript.rc. Do not edit.",
           "// QEL_DIALOG_TEXT(language, dialog, text): the non-empty control texts of",
           "// each dialog template, in template order.", ""]
    language = dialog = None
    with open(os.path.join(HERE, "QelScript.rc"), encoding="utf-8") as f:
        for line in f:
            if line.startswith("LANGUAGE "):
                language = DIALOG_LANGUAGES.get(line[len("LANGUAGE "):].strip())
            m = re.match(r"^(IDD_\w+)\s+DIALOGEX", line)
            if m:
                dialog = m.group(1)
            m = DIALOG_TEXT.match(line)
            if m and language and dialog and m.group(1):
                text = m.group(1).replace('""', '\\"')
                out.append('QEL_DIALOG_TEXT(%d, %s, "%s")' % (language, dialog, text))
    out.append("")
    with open(os.path.join(HERE, "dialog_texts.inc"), "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(out))


if __name__ == "__main__":
    side_picture()
    tree_bitmap()
    icon_file()
    search_avi()
    strings_rc()
    dialog_texts()
