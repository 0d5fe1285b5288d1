#!/usr/bin/env python3
"""Adds character aliases to the cmap of a TrueType font.

The interface texts use U+2300 (diameter sign) and U+2011 (non-breaking hyphen), which
neither bundled font maps. Without a mapping the toolkit draws those characters from a
system font. This maps each alias to the glyph of a character the font does have, so the
text stays in one family. Standard library only.

    font-aliases.py IN.ttf OUT.ttf 0x2300=0x2205 0x2011=0x2010

The bundled resources/fonts/*.ttf were made from the static per-weight files of the npm
packages @expo-google-fonts/space-grotesk and @expo-google-fonts/jetbrains-mono (0.4.1):
Space Grotesk with 0x2300=0x2205 0x2011=0x2010 (the empty-set glyph is the circle with
a stroke), JetBrains Mono, which has no empty-set glyph, with 0x2300=0xD8 0x2011=0x2010.
"""
import struct
import sys


def read_tables(data):
    count = struct.unpack('>H', data[4:6])[0]
    tables = {}
    for i in range(count):
        tag, _, offset, length = struct.unpack('>4sIII', data[12 + 16 * i:28 + 16 * i])
        tables[tag] = data[offset:offset + length]
    return tables


def decode_format4(sub):
    seg2 = struct.unpack('>H', sub[6:8])[0]
    n = seg2 // 2
    ends = struct.unpack('>%dH' % n, sub[14:14 + seg2])
    starts = struct.unpack('>%dH' % n, sub[16 + seg2:16 + 2 * seg2])
    deltas = struct.unpack('>%dh' % n, sub[16 + 2 * seg2:16 + 3 * seg2])
    range_base = 16 + 3 * seg2
    offsets = struct.unpack('>%dH' % n, sub[range_base:range_base + seg2])
    mapping = {}
    for i in range(n):
        for c in range(starts[i], ends[i] + 1):
            if c == 0xFFFF:
                continue
            if offsets[i] == 0:
                glyph = (c + deltas[i]) & 0xFFFF
            else:
                at = range_base + 2 * i + offsets[i] + 2 * (c - starts[i])
                glyph = struct.unpack('>H', sub[at:at + 2])[0]
                if glyph:
                    glyph = (glyph + deltas[i]) & 0xFFFF
            if glyph:
                mapping[c] = glyph
    return mapping


def encode_format4(mapping):
    # One segment per run of consecutive characters with consecutive glyphs (idDelta only).
    segments = []
    for c in sorted(mapping):
        g = mapping[c]
        if segments and segments[-1][1] == c - 1 and segments[-1][2] + (c - segments[-1][0]) == g:
            segments[-1][1] = c
        else:
            segments.append([c, c, g])
    segments.append([0xFFFF, 0xFFFF, 1])
    n = len(segments)
    search = 2 ** (n.bit_length() - 1)
    ends = [s[1] for s in segments]
    starts = [s[0] for s in segments]
    deltas = [(s[2] - s[0]) & 0xFFFF for s in segments]
    body = struct.pack('>%dH' % n, *ends) + b'\0\0' + struct.pack('>%dH' % n, *starts)
    body += struct.pack('>%dH' % n, *deltas) + struct.pack('>%dH' % n, *([0] * n))
    length = 14 + len(body)
    header = struct.pack('>7H', 4, length, 0, 2 * n, 2 * search, (n.bit_length() - 1),
                         2 * n - 2 * search)
    return header + body


def checksum(blob):
    blob += b'\0' * (-len(blob) % 4)
    return sum(struct.unpack('>%dI' % (len(blob) // 4), blob)) & 0xFFFFFFFF


def write_font(tables, flavor):
    tags = sorted(tables)
    n = len(tags)
    search = 2 ** (n.bit_length() - 1)
    out = struct.pack('>IHHHH', flavor, n, 16 * search, n.bit_length() - 1, 16 * n - 16 * search)
    offset = 12 + 16 * n
    directory, payload = b'', b''
    for tag in tags:
        blob = tables[tag]
        directory += struct.pack('>4sIII', tag, checksum(blob), offset + len(payload), len(blob))
        payload += blob + b'\0' * (-len(blob) % 4)
    font = bytearray(out + directory + payload)
    head = 12 + 16 * n + sum(len(tables[t]) + (-len(tables[t]) % 4) for t in tags[:tags.index(b'head')])
    struct.pack_into('>I', font, head + 8, (0xB1B0AFBA - checksum(bytes(font))) & 0xFFFFFFFF)
    return bytes(font)


def main():
    source, target, *pairs = sys.argv[1:]
    data = open(source, 'rb').read()
    tables = read_tables(data)
    tables[b'head'] = tables[b'head'][:8] + b'\0\0\0\0' + tables[b'head'][12:]
    cmap = tables[b'cmap']
    count = struct.unpack('>H', cmap[2:4])[0]
    mapping = {}
    for i in range(count):
        platform, encoding, offset = struct.unpack('>HHI', cmap[4 + 8 * i:12 + 8 * i])
        if struct.unpack('>H', cmap[offset:offset + 2])[0] == 4:
            mapping.update(decode_format4(cmap[offset:]))
    for pair in pairs:
        alias, original = (int(x, 16) for x in pair.split('='))
        if original not in mapping:
            sys.exit('%s: U+%04X is not in the font' % (source, original))
        mapping.setdefault(alias, mapping[original])
    sub = encode_format4(mapping)
    tables[b'cmap'] = struct.pack('>HHHHIHHI', 0, 2, 0, 3, 20, 3, 1, 20) + sub
    open(target, 'wb').write(write_font(tables, struct.unpack('>I', data[:4])[0]))


if __name__ == '__main__':
    main()
