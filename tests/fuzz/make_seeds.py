#!/usr/bin/env python3
"""Writes the generated seed inputs of the fuzzers into tests/fuzz/corpus/.

The seeds are small, well-formed (or nearly well-formed) inputs that give
each fuzzer a start deep inside the code it feeds: archives with entries,
folders and an empty file, an executable carrying them as resources, stored
DIBs of every depth and compression, RLE8 streams, and formats. Inputs that
once made a fuzzer fail are kept beside them under names starting with
"regression-"; this script leaves those alone. Run it again after changing
it; the same script always writes the same bytes.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def write(harness, name, data):
    folder = os.path.join(CORPUS, harness)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# --- archives ---------------------------------------------------------------

def archive(entries, times=(1, 2, 3)):
    """An archive as the writer lays it out: D, the zlib streams, the directory."""
    body = bytearray()
    records = bytearray()
    for name, data in entries:
        stream = zlib.compress(data, 6)
        offset = 4 + len(body)
        body += stream
        raw = name.encode("latin-1")
        records += bytes([len(raw)]) + raw
        records += struct.pack("<6I", offset, len(stream), len(data), *times)
    directory = 4 + len(body)
    return struct.pack("<I", directory) + bytes(body) + struct.pack("<I", len(entries)) + bytes(records)


def pe_with_resources(resources):
    """A PE32 file whose one section, .rsrc, holds the resources
    [(type, name, language, data)], all of one type, string names only."""
    file_align = 0x200
    rva = 0x1000
    section = resource_section(resources, rva)

    headers = bytearray(file_align)
    headers[0:2] = b"MZ"
    e_lfanew = 0x40
    struct.pack_into("<I", headers, 0x3C, e_lfanew)
    headers[e_lfanew:e_lfanew + 4] = b"PE\0\0"
    coff = e_lfanew + 4
    optional_size = 224
    struct.pack_into("<HHIIIHH", headers, coff, 0x14C, 1, 0, 0, 0, optional_size, 0x0102)
    opt = coff + 20
    struct.pack_into("<H", headers, opt, 0x10B)
    struct.pack_into("<I", headers, opt + 92, 16)                 # data directory count
    struct.pack_into("<II", headers, opt + 112, rva, len(section))  # resources
    sect = opt + optional_size
    raw_size = (len(section) + file_align - 1) // file_align * file_align
    headers[sect:sect + 8] = b".rsrc\0\0\0"
    struct.pack_into("<IIII", headers, sect + 8, len(section), rva, raw_size, file_align)
    return bytes(headers) + section + bytes(raw_size - len(section))


def resource_section(resources, rva):
    """The bytes of a resource section at rva holding [(type, name, language,
    data)], all of one type, string names only."""
    rtype = resources[0][0]
    # Layout of the tree: root, type entry -> name directory -> one language
    # directory per name -> data entries; then the strings; then the data.
    n = len(resources)
    root = 0
    name_dir = 16 + 8
    lang_dirs = name_dir + 16 + 8 * n
    data_entries = lang_dirs + (16 + 8) * n
    strings = data_entries + 16 * n
    string_blob = bytearray()

    def add_string(text):
        offset = strings + len(string_blob)
        string_blob.extend(struct.pack("<H", len(text)) + text.encode("utf-16-le"))
        return offset

    type_string = add_string(rtype)
    name_strings = [add_string(r[1]) for r in resources]
    data_start = (strings + len(string_blob) + 3) & ~3
    tree = bytearray(data_start)

    def directory(at, named, ids):
        struct.pack_into("<IIHHHH", tree, at, 0, 0, 0, 0, named, ids)

    directory(root, 1, 0)
    struct.pack_into("<II", tree, root + 16, 0x80000000 | type_string, 0x80000000 | name_dir)
    directory(name_dir, n, 0)
    blobs = bytearray()
    for i, (_, _, language, data) in enumerate(resources):
        lang_dir = lang_dirs + 24 * i
        struct.pack_into("<II", tree, name_dir + 16 + 8 * i, 0x80000000 | name_strings[i],
                         0x80000000 | lang_dir)
        directory(lang_dir, 0, 1)
        entry = data_entries + 16 * i
        struct.pack_into("<II", tree, lang_dir + 16, language, entry)
        struct.pack_into("<IIII", tree, entry, rva + data_start + len(blobs), len(data), 0, 0)
        blobs += data
        blobs += bytes((-len(blobs)) % 4)
    tree[strings:strings + len(string_blob)] = string_blob
    return bytes(tree) + bytes(blobs)


def stub(text_raw_at=None, text_vsize=0x200, rsrc_raw_at=None, rsrc_raw_size=None,
         rsrc_rva=0x2000):
    """A launcher stub as kvpack takes one: headers, .text, .rsrc (a picture
    and an old archive) and .reloc, aligned as a linker aligns them; the
    arguments move or resize parts the way a damaged stub has them."""
    fa, sa = 0x200, 0x1000
    rsrc = resource_section([("KVARC", "OLD", 1031, archive([("a.txt", b"old")])),
                             ("KVARC", "BASE", 1031, b"BM" + bytes(30))], rsrc_rva)
    rsrc_raw = (len(rsrc) + fa - 1) // fa * fa
    reloc = struct.pack("<II", 0x1000, 12) + bytes(4)
    text_at = 0x200 if text_raw_at is None else text_raw_at
    rsrc_at = 0x400 if rsrc_raw_at is None else rsrc_raw_at
    reloc_at = 0x400 + rsrc_raw
    reloc_rva = rsrc_rva + (len(rsrc) + sa - 1) // sa * sa
    image_size = reloc_rva + sa
    headers = bytearray(fa)
    headers[0:2] = b"MZ"
    struct.pack_into("<I", headers, 0x3C, 0x40)
    headers[0x40:0x44] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", headers, 0x44, 0x14C, 3, 0, 0, 0, 224, 0x0102)
    opt = 0x58
    struct.pack_into("<HBBIII", headers, opt, 0x10B, 2, 30, 0x200, len(rsrc) + 0x200, 0)
    struct.pack_into("<IIIII", headers, opt + 16, 0x1000, 0x1000, 0, 0x400000, sa)
    struct.pack_into("<I", headers, opt + 36, fa)
    struct.pack_into("<HH", headers, opt + 48, 4, 0)
    struct.pack_into("<III", headers, opt + 56, image_size, fa, 0)
    struct.pack_into("<HH", headers, opt + 68, 2, 0)
    struct.pack_into("<I", headers, opt + 92, 16)
    struct.pack_into("<II", headers, opt + 96 + 8 * 2, rsrc_rva, len(rsrc))
    struct.pack_into("<II", headers, opt + 96 + 8 * 5, reloc_rva, len(reloc))
    sect = opt + 224
    for i, (name, vsize, va, raw, at) in enumerate([
            (b".text", text_vsize, 0x1000, 0x200, text_at),
            (b".rsrc", len(rsrc), rsrc_rva, rsrc_raw if rsrc_raw_size is None else rsrc_raw_size,
             rsrc_at),
            (b".reloc", len(reloc), reloc_rva, fa, reloc_at)]):
        h = sect + 40 * i
        headers[h:h + 8] = name.ljust(8, b"\0")
        struct.pack_into("<IIII", headers, h + 8, vsize, va, raw, at)
    body = bytearray(bytes(headers) + b"\xC3" * 0x200 + rsrc + bytes(rsrc_raw - len(rsrc)) +
                     reloc + bytes(fa - len(reloc)))
    return bytes(body)


def stub_seeds():
    h = "stub_rebuild_fuzz"
    write(h, "stub", stub())
    # Stubs that once made kvpack read or write outside its buffers, or
    # write a broken executable with exit code 0.
    write(h, "regression-rsrc-raw-offset-1gib", stub(rsrc_raw_at=0x40000000, rsrc_raw_size=0))
    write(h, "regression-rsrc-raw-offset-inside", stub(rsrc_raw_at=0x600, rsrc_raw_size=0))
    write(h, "regression-rsrc-in-headers", stub(rsrc_raw_at=0x100))
    write(h, "regression-text-after-rsrc", stub(text_raw_at=0x600))
    write(h, "regression-text-overlaps-rsrc", stub(text_vsize=0x1800))


def inspect_seeds():
    h = "setup_listing_fuzz"
    one = archive([("StageRun.exe", b"MZ stand-in " * 20), ("a\\b.txt", b"bee")])
    write(h, "archive", one)
    write(h, "setup", pe_with_resources([("KVARC", "BASE", 1031, one),
                                         ("KVARC", "KVVERSION", 1031, archive([("v.txt", b"1")]))]))
    # 20 records on one stream: each would inflate the same bytes again.
    stream = zlib.compress(b"\0" * 100000, 9)
    records = b"".join(bytes([4]) + b"f%03d" % i + struct.pack("<6I", 4, len(stream), 100000, 0, 0, 0)
                       for i in range(20))
    write(h, "regression-shared-stream",
          struct.pack("<I", 4 + len(stream)) + stream + struct.pack("<I", 20) + records)
    # A name directory whose 300 entries all lead to one language directory:
    # a tree that folds back on itself, once taken for 300 archives.
    exe = bytearray(pe_with_resources([("KVARC", "BASE", 1031, one)]))
    write(h, "regression-folded-tree", folded_tree(bytes(exe), 300))


def folded_tree(exe, count):
    """exe (from pe_with_resources, one resource) with its name directory
    replaced by `count` id entries that all point at the one language
    directory. The tree grows into the section's padding."""
    exe = bytearray(exe)
    tree = 0x200
    name_dir = tree + 16 + 8
    lang_dir_word = struct.unpack_from("<I", exe, name_dir + 16 + 4)[0]
    grown = bytearray(exe[:tree]) + bytearray(exe[tree:]) + bytes(8 * count + 0x200)
    # Move the name directory to the end of the section, where there is room.
    new_dir = len(exe) - tree
    struct.pack_into("<I", grown, tree + 16 + 4, 0x80000000 | new_dir)
    struct.pack_into("<IIHHHH", grown, tree + new_dir, 0, 0, 0, 0, 0, count)
    for i in range(count):
        struct.pack_into("<II", grown, tree + new_dir + 16 + 8 * i, i + 1, lang_dir_word)
    # The section (and the resource directory) now cover the grown bytes.
    sect = 0x40 + 24 + 224
    raw = len(grown) - tree
    struct.pack_into("<II", grown, sect + 8, raw, 0x1000)
    struct.pack_into("<I", grown, sect + 16, raw)
    struct.pack_into("<I", grown, 0x40 + 24 + 116, raw)
    return bytes(grown)


def bmp(width, height, bits, compression, pixels, colours):
    offset = 14 + 40 + 4 * colours
    return (b"BM" + struct.pack("<III", offset + len(pixels), 0, offset) +
            struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, len(pixels),
                        2835, 2835, colours, 0) +
            bytes(i % 256 for i in range(4 * colours)) + pixels)


def ico(images, entries=None):
    """An icon file with the images [bytes]; entries [(size, offset)] in
    place of the true ones, if given."""
    count = len(entries) if entries is not None else len(images)
    out = struct.pack("<HHH", 0, 1, count)
    at = 6 + 16 * count
    if entries is None:
        entries = []
        for image in images:
            entries.append((len(image), at))
            at += len(image)
    for size, offset in entries:
        out += struct.pack("<BBBBHHII", 16, 16, 0, 0, 1, 32, size, offset)
    return out + b"".join(images)


def image_seeds():
    h = "publisher_images_fuzz"
    write(h, "bmp-8bit", bmp(5, 3, 8, 0, bytes(24), 16))
    write(h, "bmp-24bit", bmp(3, 2, 24, 0, bytes(24), 0))
    write(h, "bmp-rle8", bmp(4, 2, 8, 1, bytes.fromhex("0401000004020001"), 2))
    icon = struct.pack("<IiiHHIIiiII", 40, 16, 32, 1, 32, 0, 0, 0, 0, 0, 0) + bytes(16 * 16 * 4 + 64)
    write(h, "ico-two-images", ico([icon, b"\x89PNG\r\n\x1a\n pretend png"]))
    # 1000 entries on one image: once 1000 copies of it.
    write(h, "regression-ico-shared-image",
          ico([icon], [(len(icon), 6 + 16 * 1000)] * 1000))


def archive_seeds():
    h = "archive_reader_fuzz"
    two = archive([("StageRun.exe", b"MZ stand-in " * 20),
                   ("data\\sub\\notes.txt", b"line one\r\nline two\r\n"),
                   ("empty.dat", b"")])
    write(h, "three-entries", two)
    write(h, "no-entries", archive([]))
    write(h, "long-name", archive([("d\\" + "n" * 253, b"x")]))
    write(h, "truncated", two[:len(two) - 7])
    # An entry whose record claims one byte more than its stream inflates to.
    bad = bytearray(archive([("a.txt", b"abc")]))
    struct.pack_into("<I", bad, len(bad) - 16, 4)
    write(h, "length-mismatch", bytes(bad))
    write(h, "executable", pe_with_resources([
        ("KVARC", "BASE", 1031, archive([("a\\b.txt", b"bee")])),
        ("KVARC", "KVVERSION", 1031, archive([("version.txt", b"1.0")])),
    ]))


# --- DIBs -------------------------------------------------------------------

def dib_header(width, height, bits, compression=0, size_image=0, clr_used=0, size=40):
    return struct.pack("<IiiHHIIiiII", size, width, height, 1, bits, compression, size_image,
                       2835, 2835, clr_used, 0) + bytes(size - 40)


def row_bytes(width, bits):
    return ((width * bits + 31) & ~31) // 8


def dib_seeds():
    h = "dib_fuzz"
    stored = b"\0"  # first byte even: a stored DIB follows
    table4 = bytes(range(16))
    pixels = bytes(row_bytes(5, 8) * 3)
    write(h, "rgb-8bit", stored + dib_header(5, 3, 8, clr_used=4) + table4 + pixels)
    write(h, "rgb-24bit-top-down", stored + dib_header(3, -2, 24) + bytes(row_bytes(3, 24) * 2))
    write(h, "rgb-1bit-default-table", stored + dib_header(9, 2, 1) + bytes(8) + bytes(8))
    masks = struct.pack("<III", 0xF800, 0x07E0, 0x001F)
    write(h, "bitfields-16bit", stored + dib_header(2, 2, 16, 3) + masks + bytes(8))
    rle = bytes.fromhex("04 07 00 00 00 04 01 02 03 04 00 00 03 05 00 02 01 01 00 01".replace(" ", ""))
    write(h, "rle8", stored + dib_header(4, 3, 8, 1, len(rle), 4) + table4 + rle)
    write(h, "rle8-no-end", stored + dib_header(8, 2, 8, 1, 0, 2) + bytes(8) +
          bytes.fromhex("0809000503010203040506"))
    write(h, "rle4", stored + dib_header(4, 1, 4, 2, 4, 2) + bytes(8) + bytes.fromhex("04120001"))
    write(h, "header-v5", stored + dib_header(2, 1, 32, 3, size=124) + bytes(8))
    # Raw streams: first byte odd, then the image size (16 bits) and the room.
    write(h, "stream-documented", b"\x01" + struct.pack("<HB", 8, 0) +
          bytes.fromhex("04070000000401020304 0001".replace(" ", "")))
    write(h, "stream-short-room", b"\x01" + struct.pack("<HB", 8, 0x84) + bytes.fromhex("08070001"))
    write(h, "stream-short-scratch", b"\x03" + struct.pack("<HB", 6, 0x02) +
          bytes.fromhex("00060102030405060001"))


# --- formats ----------------------------------------------------------------

def format_seeds():
    # The fuzzer reads these as choices, not as text; a spread of lengths and
    # byte values gives it a variety of formats from the start.
    h = "format_estimate_fuzz"
    for i, seed in enumerate([
        bytes(range(0, 64)),
        bytes(range(255, 191, -1)),
        bytes([2, 3, 1, 4, 2, 0, 5, 9, 2, 3, 2, 200, 1]) * 4,
        b"%d.bat\x00 %s \x02\x03\x04\xff\xfe" * 3,
        bytes((i * 37 + 11) % 256 for i in range(96)),
    ]):
        write(h, f"choices-{i}", seed)


# --- replacing texts --------------------------------------------------------

def replace_seeds():
    """Choices for zk_replace_fuzz: the pieces of the text come from the front,
    counts and switches from the back."""
    h = "zk_replace_fuzz"
    for i, seed in enumerate([
        b"\x01a\x01a\x02bb\x01a" + bytes([0xFF] * 24),
        b"\x02ab\x03x\x00y\x01A\x02aB" + bytes(range(0, 32)),
        b"\x01a\x01a\x06bbbbbb" + bytes([0xFF, 0x00, 0xFF, 0x7F] * 8),
        bytes((i * 53 + 7) % 256 for i in range(80)),
    ]):
        write(h, f"choices-{i}", seed)


if __name__ == "__main__":
    archive_seeds()
    stub_seeds()
    inspect_seeds()
    image_seeds()
    dib_seeds()
    format_seeds()
    replace_seeds()
