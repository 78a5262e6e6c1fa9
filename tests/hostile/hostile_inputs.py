"""The hostile inputs: crafted GIFs, damaged saved forms, special files and the
bodies a hostile HTTP server sends, each made here byte by byte so that the
suite needs nothing from outside. run_hostile.py runs the tool on them.

  hostile_inputs.py FOLDER   writes every input into FOLDER and prints a JSON
                             object of name -> path
"""

import base64
import gzip
import json
import os
import struct
import sys


# --- GIF bytes -----------------------------------------------------------------


class BitWriter:
    """LZW codes packed least significant bit first, as GIF stores them."""

    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.bits = 0

    def put(self, code, width):
        self.acc |= code << self.bits
        self.bits += width
        while self.bits >= 8:
            self.out.append(self.acc & 0xFF)
            self.acc >>= 8
            self.bits -= 8

    def finish(self):
        if self.bits:
            self.out.append(self.acc & 0xFF)
        return bytes(self.out)


def lzw_single_colour(pixels, min_code_size=2):
    """The LZW data of `pixels` pixels of colour 0, as compact as LZW gets:
    after each clear every code is one pixel longer than the one before, so a
    64 Mpixel image takes about 50 KB."""
    clear = 1 << min_code_size
    end = clear + 1
    w = BitWriter()
    width = min_code_size + 1
    w.put(clear, width)
    next_code = end + 1
    first = True
    length = 1  # pixels the next code stands for
    left = pixels
    while left > 0:
        if first:
            w.put(0, width)
            left -= 1
            first = False
            length = 2
            continue
        take = min(length, left)
        # A code for `take` pixels: the root for one, else an entry made earlier
        # (entries hold 2, 3, ... pixels from end + 1 on) or the one being made.
        code = 0 if take == 1 else end + 1 + (take - 2)
        w.put(code, width)
        left -= take
        next_code += 1
        length += 1
        if next_code == (1 << width) and width < 12:
            width += 1
        if next_code == 4096:
            w.put(clear, width)
            width = min_code_size + 1
            next_code = end + 1
            first = True
    w.put(end, width)
    return w.finish()


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out.append(0)
    return bytes(out)


def gif_header(width, height):
    # Logical screen with a two-colour global table whose last byte is 0, so
    # that the first Graphic Control Extension follows a 00.
    return (b"GIF89a" + struct.pack("<HHBBB", width, height, 0x80, 0, 0) +
            b"\xff\xff\xff\x00\x00\x00")


NETSCAPE_LOOP = b"\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00"


def gif_frame(width, height, left=0, top=0, delay=10, data=None):
    gce = b"\x21\xf9\x04\x00" + struct.pack("<H", delay) + b"\x00\x00"
    descriptor = b"\x2c" + struct.pack("<HHHHB", left, top, width, height, 0)
    if data is None:
        data = lzw_single_colour(width * height)
    return gce + descriptor + b"\x02" + sub_blocks(data)


def gif_file(width, height, frames):
    return gif_header(width, height) + NETSCAPE_LOOP + b"".join(frames) + b"\x3b"


def big_frames_gif(count=40, side=8192):
    frame = gif_frame(side, side, data=lzw_single_colour(side * side))
    return gif_file(side, side, [frame] * count)


def film_gif(width=1920, height=1080, count=300):
    """A film the size of a real one: every frame a whole screen."""
    return gif_file(width, height, [gif_frame(width, height)] * count)


def screen_gif(width, height):
    """One small image on a logical screen of the size given."""
    return gif_file(width, height, [gif_frame(1, 1)])


def small_gif(frames=3):
    return gif_file(4, 4, [gif_frame(4, 4, delay=5 + i) for i in range(frames)])


# --- saved forms ---------------------------------------------------------------


def entry(key, kind, value, **extra):
    e = {"key": key, "type": kind, "value": value}
    e.update(extra)
    return e


def buffer_entry(gif):
    # Buffer: two bytes per character of the GIF text, low byte first.
    return entry("Buffer", "Bytes", base64.b64encode(
        bytes(b for c in gif for b in (c, 0))).decode())


def form(controls):
    return {"format": "Flipreel saved form", "version": 1, "controls": controls}


def control(name, properties, cls="FlipreelControl.Flipreel"):
    return {"class": cls, "name": name, "properties": properties}


def form_text(controls):
    return json.dumps(form(controls)).encode()


def big_picture_form():
    """30 pictures of 8192 x 8192 that a reader restoring Flipreel1 must never
    decode: ten in a control of another class, ten in a control it does not
    restore, nine overwritten by a later entry of the same key. The one it
    restores is 1 x 1."""
    side = 8192
    big = base64.b64encode(gif_file(side, side, [gif_frame(side, side)])).decode()
    small = base64.b64encode(gif_file(1, 1, [gif_frame(1, 1)])).decode()
    pictures = [entry("BackGroundGraphic", "Picture", big) for _ in range(10)]
    ours = pictures[:9] + [entry("BackGroundGraphic", "Picture", small),
                           buffer_entry(small_gif())]
    return form_text([
        control("Other1", pictures, cls="Elsewhere.Picture"),
        control("Flipreel2", pictures),
        control("Flipreel1", ours),
    ])


def many_entries_form(count=500_000):
    properties = [entry("Key%d" % i, "Integer", i % 30000) for i in range(count)]
    properties.append(buffer_entry(small_gif()))
    return form_text([control("Flipreel1", properties)])


def deep_form(depth=100_000):
    return (b'{"format": "Flipreel saved form", "version": 1, "controls": ' +
            b"[" * depth + b"]" * depth + b"}")


def long_damaged_line_form():
    # One long line of JSON that breaks only at its very end.
    text = form_text([control("Flipreel1", [entry("Text%d" % i, "Text", "x" * 50)
                                            for i in range(1000)])])
    return text[:-2] + b"!}"


def cut_in_character_form():
    text = form_text([control("Flipreel1", [entry("FlipreelFile", "Text", "caf\u00e9")])])
    text = text.replace(b"caf\\u00e9", "café".encode())
    return text[:text.index("é".encode()) + 1]  # the first byte of two


def long_address_form(length=50 << 20):
    """A form whose GifFromURL is a text of 50 MB, beside a small GIF."""
    return form_text([control("Flipreel1", [
        entry("GifFromURL", "Text", "http://127.0.0.1/" + "x" * length),
        buffer_entry(small_gif())])])


def password_form():
    return form_text([control("Flipreel1", [entry("ServerPassword", "Text", "s3cret"),
                                            buffer_entry(small_gif())])])


# --- the folder ----------------------------------------------------------------


def write(folder, name, data):
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        f.write(data)
    return path


def make_all(folder):
    """Writes every input into folder and returns a dict of name -> path."""
    p = {}
    p["small"] = write(folder, "small.gif", small_gif())
    p["big_frames"] = write(folder, "big_frames.gif", big_frames_gif())
    # A second frame placed at 65535, 65535: the widget would be 65536 pixels wide.
    p["far_frame"] = write(folder, "far_frame.gif", gif_file(
        1, 1, [gif_frame(1, 1), gif_frame(1, 1, left=65535, top=65535)]))
    # Cut right after the first frame's extension header (21 F9).
    whole = small_gif()
    p["cut_after_extension"] = write(folder, "cut_after_extension.gif",
                                     whole[:whole.index(b"\x21\xf9") + 2])
    # A name that is not UTF-8, with control characters.
    p["bad_name"] = os.fsdecode(write(os.fsencode(folder), b"bad\xff\x1b[31mname.gif",
                                      small_gif()))
    # 2 GB that read as a GIF but hold nothing: sparse, so it costs no disk.
    sparse = os.path.join(folder, "sparse.gif")
    with open(sparse, "wb") as f:
        f.write(b"GIF89a")
        f.truncate(2 << 30)
    p["sparse"] = sparse
    sparse = os.path.join(folder, "sparse200.gif")
    with open(sparse, "wb") as f:
        f.write(small_gif())
        f.truncate(200 << 20)
    p["sparse_200"] = sparse
    p["film"] = write(folder, "film.gif", film_gif())
    p["huge_screen"] = write(folder, "huge_screen.gif", screen_gif(65535, 65535))
    # Frames of 2000 x 2000: a control of that size, whose contact sheet of
    # 64 ticks would take 1 GB.
    p["large_frames"] = write(folder, "large_frames.gif", gif_file(
        2000, 2000, [gif_frame(2000, 2000), gif_frame(2000, 2000)]))
    p["long_address_form"] = write(folder, "long_address.json", long_address_form())
    p["big_pictures_form"] = write(folder, "big_pictures.json", big_picture_form())
    p["big_buffer_form"] = write(folder, "big_buffer.json", form_text([
        control("Flipreel1", [buffer_entry(big_frames_gif(count=8))])]))
    p["many_entries_form"] = write(folder, "many_entries.json", many_entries_form())
    p["deep_form"] = write(folder, "deep.json", deep_form())
    p["long_line_form"] = write(folder, "long_line.json", long_damaged_line_form())
    p["cut_form"] = write(folder, "cut_in_character.json", cut_in_character_form())
    p["password_form"] = write(folder, "password.json", password_form())
    fifo = os.path.join(folder, "fifo")
    os.mkfifo(fifo)
    p["fifo"] = fifo
    p["folder"] = folder
    p["gzip_body"] = write(folder, "small.gif.gz", gzip.compress(small_gif()))
    return p


if __name__ == "__main__":
    # Paths that are not UTF-8 travel as JSON escapes of their surrogates.
    print(json.dumps(make_all(sys.argv[1])))
