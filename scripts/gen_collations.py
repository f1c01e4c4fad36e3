#!/usr/bin/env python3
"""Generates index/HXCollationTables.cpp: the weight tables of the 18 built-in collations.

Run from the repository root (python3 scripts/gen_collations.py); the output is committed,
so the build never runs this script.

A weight table gives each byte value (the byte as stored in the index file) its weight; keys
compare byte by byte through it. Every table is a permutation of 0..255: the generator builds
an ORDER of the 256 byte values and the weight of a byte is its place in that order. Byte 0
always comes first (weight 0).

Collation tables decide how keys are stored, so programs that share an index file must order
alike. They are built from evidence where there is some:

  cltGermanCollation  read from an index written by CA-Visual Objects under its German
                      collation: xsharp/VO/German/test1Oem1.ntx of the test corpus (the
                      first --corpus directory, default ../shared/corpus). Its key is one
                      character field; record n holds byte n repeated, for n = 1..255, so its
                      tree order is the collation's order of the bytes 1..255. When the file
                      is absent the German row of the committed output is kept.
  cltClipper501Rus    the known rows of Clipper 5.01's Russian module for CP866: bytes 0..47
                      keep their weight, digits weigh 180..189, "A".."Z" 56..81, "a".."z"
                      82..107, the Cyrillic capitals from 108 with IO (240) between E (133)
                      and ZHE (134). Completed here in CP866 alphabetical order: the small
                      letters follow the capitals (a..ya with io after ie), and the remaining
                      bytes take the remaining weights in ascending byte order.

PROVISIONAL (no file written by a real program seen yet; when one shows otherwise, its
table changes): the other 16. Each is the byte order of its language's DOS code page with the
national letters moved, the way the German evidence shows Visual Objects does it:
  - a letter with a diacritic (found by Unicode decomposition in the code page's character
    set) comes right after its base letter of the same case, variants in byte order;
    "sharp s" comes after "s";
    so is the Polish L with stroke, after "L";
  - languages whose alphabet puts letters after Z (Swedish, Finnish, Danish, Norwegian,
    Icelandic) place those after "Z" / "z" in their alphabet's order; Icelandic puts ETH after D;
  - Greek letters (accented ones after their base) keep the code page's alphabetical layout.
Code pages: French, Spanish, Italian, Swedish, Finnish, Dutch, Icelandic850 CP850; Portuguese
CP860; Norwegian and Danish CP865; Icelandic861 CP861; Polish852 and Hungarian852 CP852;
Greek437 CP737 (the Greek page built on 437). Two code pages python3 lacks are stood in for
by a neighbour: Greek851 by CP869 and HungarianCWI (CWI-2) by CP437 with the Hungarian
letters it shares.
"""
import argparse
import os
import re
import struct
import sys
import unicodedata

OUT = 'index/HXCollationTables.cpp'

# In the order of THXCollationTypes from cltClipper501Rus on.
TYPES = [
    'cltClipper501Rus', 'cltGermanCollation', 'cltFrenchCollation', 'cltSpanishCollation',
    'cltItalianCollation', 'cltSwedishCollation', 'cltPortugueseCollation',
    'cltNorwegianCollation', 'cltFinnishCollation', 'cltDutchCollation', 'cltDanishCollation',
    'cltGreek437Collation', 'cltGreek851Collation', 'cltIcelandic850Collation',
    'cltIcelandic861Collation', 'cltPolish852Collation', 'cltHungarianCWICollation',
    'cltHungarian852Collation',
]

# name: (code page, letters after Z in alphabet order (upper case), extra "after" rules)
PROVISIONAL = {
    'cltFrenchCollation': ('cp850', '', {}),
    'cltSpanishCollation': ('cp850', '', {}),
    'cltItalianCollation': ('cp850', '', {}),
    'cltSwedishCollation': ('cp850', 'ÅÄÖ', {'Æ': 'Ä', 'Ø': 'Ö'}),
    'cltPortugueseCollation': ('cp860', '', {}),
    'cltNorwegianCollation': ('cp865', 'ÆØÅ', {'Ä': 'Æ', 'Ö': 'Ø'}),
    'cltFinnishCollation': ('cp850', 'ÅÄÖ', {'Æ': 'Ä', 'Ø': 'Ö'}),
    'cltDutchCollation': ('cp850', '', {}),
    'cltDanishCollation': ('cp865', 'ÆØÅ', {'Ä': 'Æ', 'Ö': 'Ø'}),
    'cltGreek437Collation': ('cp737', '', {}),
    'cltGreek851Collation': ('cp869', '', {}),
    'cltIcelandic850Collation': ('cp850', 'ÞÆÖ', {'Ð': 'D', 'Ø': 'Ö'}),
    'cltIcelandic861Collation': ('cp861', 'ÞÆÖ', {'Ð': 'D', 'Ø': 'Ö'}),
    'cltPolish852Collation': ('cp852', '', {'Ł': 'L'}),
    'cltHungarianCWICollation': ('cp437', '', {}),
    'cltHungarian852Collation': ('cp852', '', {}),
}


def walk_ntx(path):
    """The keys of an NTX file in tree order (header: root at 4, key size at 14)."""
    data = open(path, 'rb').read()
    root = struct.unpack_from('<I', data, 4)[0]
    key_size = struct.unpack_from('<H', data, 14)[0]
    keys = []

    def page(off, depth):
        if depth > 64 or off < 1024 or off + 1024 > len(data) or off % 1024:
            sys.exit('gen_collations: damaged NTX file ' + path)
        count = struct.unpack_from('<H', data, off)[0]
        for i in range(count + 1):
            item = off + struct.unpack_from('<H', data, off + 2 + 2 * i)[0]
            child = struct.unpack_from('<I', data, item)[0]
            if child:
                page(child, depth + 1)
            if i < count:
                keys.append(data[item + 8:item + 8 + key_size])

    page(root, 0)
    return keys


def german_order(corpus):
    path = os.path.join(corpus, 'xsharp/VO/German/test1Oem1.ntx')
    if not os.path.exists(path):
        return None
    order = [0]
    for k in walk_ntx(path):
        if len(set(k)) != 1 or k[0] in order:
            sys.exit('gen_collations: ' + path + ' is not the expected one-byte-per-record index')
        order.append(k[0])
    if sorted(order) != list(range(256)):
        sys.exit('gen_collations: ' + path + ' does not hold every byte 1..255')
    return order


def committed_row(name):
    """The committed weights of a table, to keep when its evidence is not at hand."""
    text = open(OUT, encoding='utf-8').read()
    m = re.search(r'// ' + name + r'\n    \{\n((?:    (?:\d+, )*\d+,\n){16})', text)
    if not m:
        sys.exit('gen_collations: no committed ' + name + ' table and no corpus')
    weights = [int(v) for v in re.findall(r'\d+', m.group(1))]
    order = [0] * 256
    for byte, w in enumerate(weights):
        order[w] = byte
    return order


def clipper501rus_order():
    weight = [None] * 256
    for b in range(48):
        weight[b] = b
    for i in range(10):
        weight[ord('0') + i] = 180 + i
    for i in range(26):
        weight[ord('A') + i] = 56 + i
        weight[ord('a') + i] = 82 + i
    capitals = list(range(128, 134)) + [240] + list(range(134, 160))       # A..E, IO, ZHE..YA
    smalls = list(range(160, 166)) + [241] + list(range(166, 176)) + list(range(224, 240))
    for i, b in enumerate(capitals + smalls):
        weight[b] = 108 + i
    free = sorted(set(range(256)) - {w for w in weight if w is not None})
    rest = [b for b in range(256) if weight[b] is None]
    for b, w in zip(rest, free):
        weight[b] = w
    order = [0] * 256
    for b, w in enumerate(weight):
        order[w] = b
    return order


def base_letter(ch):
    if ch == 'ß':
        return 's'
    d = unicodedata.normalize('NFD', ch)
    return d[0] if len(d) > 1 and unicodedata.category(d[0]).startswith('L') else None


def provisional_order(cp, after_z, after):
    chars = {}
    for b in range(256):
        try:
            chars[b] = bytes([b]).decode(cp)
        except UnicodeDecodeError:
            pass
    byte_of = {}
    for b, ch in sorted(chars.items()):
        byte_of.setdefault(ch, b)
    # anchor byte for each moved byte; moved bytes follow their anchor in byte order
    anchor = {}
    tail_upper = [byte_of[c] for c in after_z if c in byte_of]
    tail_lower = [byte_of[c.lower()] for c in after_z if c.lower() in byte_of]
    z_tail = set(tail_upper + tail_lower)
    for b, ch in chars.items():
        if b < 128 or b in z_tail:
            continue
        target = None
        for c, base in after.items():
            if ch == c:
                target = base
            elif ch == c.lower():
                target = base.lower()
        if target is None:
            target = base_letter(ch)
        if target is not None and target in byte_of and byte_of[target] != b:
            anchor[b] = byte_of[target]
    order = []
    placed = set()

    def put(b):
        if b in placed:
            return
        placed.add(b)
        order.append(b)
        for m in sorted(x for x, a in anchor.items() if a == b):
            put(m)
        if b == ord('Z'):
            for t in tail_upper:
                put(t)
        if b == ord('z'):
            for t in tail_lower:
                put(t)

    for b in range(256):
        if b in anchor or b in z_tail:
            continue
        put(b)
    for b in range(256):       # anchors that chain to a moved byte are placed by put already
        put(b)
    assert sorted(order) == list(range(256)) and order[0] == 0
    return order


def emit(orders):
    lines = [
        '// Generated by scripts/gen_collations.py. Do not edit: change the script and run it again.',
        '// The weight of every byte value under the 18 built-in collations (see the script for the',
        '// evidence behind each).',
        '// PROVISIONAL: every table except cltClipper501Rus and cltGermanCollation is a documented',
        '// guess for its language\'s code page, to be replaced when a real file shows otherwise.',
        '#include "index/HXCollationTables.h"',
        '',
        'namespace zarbel::collation_tables {',
        '',
        'const unsigned char kBuiltinWeights[18][256] = {',
    ]
    for name in TYPES:
        order = orders[name]
        weight = [0] * 256
        for w, b in enumerate(order):
            weight[b] = w
        lines.append('    // ' + name)
        lines.append('    {')
        for i in range(0, 256, 16):
            lines.append('    ' + ', '.join(str(v) for v in weight[i:i + 16]) + ',')
        lines.append('    },')
    lines += ['};', '', '}  // namespace zarbel::collation_tables', '']
    return '\n'.join(lines)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--corpus', default=os.path.join('..', 'shared', 'corpus'))
    args = ap.parse_args()
    orders = {'cltClipper501Rus': clipper501rus_order()}
    german = german_order(args.corpus)
    if german is None:
        print('gen_collations: corpus file absent, keeping the committed German table', file=sys.stderr)
        german = committed_row('cltGermanCollation')
    orders['cltGermanCollation'] = german
    for name, (cp, after_z, after) in PROVISIONAL.items():
        orders[name] = provisional_order(cp, after_z, after)
    text = emit(orders)
    with open(OUT, 'w', encoding='utf-8') as f:
        f.write(text)


if __name__ == '__main__':
    main()
