#!/usr/bin/env python3
"""Writes the read benchmark's table byte by byte (independently of the engine).

    make_read_table.py PATH RECORDS

dBase III (version byte 0x03, code page byte 0x65: CP866), ten fields of the kinds C, N, D, L,
101 bytes a record (the deletion flag included); every 97th record is marked deleted. The
values are deterministic: the same RECORDS always give the same bytes.
"""
import struct
import sys

FIELDS = [  # name, type, length, decimals
    ('ID', 'N', 9, 0),
    ('NAME', 'C', 20, 0),
    ('CITY', 'C', 15, 0),
    ('AMOUNT', 'N', 12, 2),
    ('QTY', 'N', 6, 0),
    ('BORN', 'D', 8, 0),
    ('ACTIVE', 'L', 1, 0),
    ('CODE', 'C', 10, 0),
    ('BIG', 'N', 11, 0),
    ('NOTE', 'C', 8, 0),
]
NAMES = ['Иванов', 'Петрова', 'Сидоренко', 'Smith', 'Кузнецов', 'Lebedeva', 'Ёлкин', 'Orlov']
CITIES = ['Москва', 'Санкт-Петербург', 'Kazan', 'Новосибирск', 'Omsk', 'Тверь']


def header(count):
    reclen = 1 + sum(f[2] for f in FIELDS)
    hdrlen = 32 + 32 * len(FIELDS) + 1
    out = bytearray(struct.pack('<B3BIHH', 0x03, 124, 5, 17, count, hdrlen, reclen))
    out += bytes(17) + b'\x65' + bytes(2)
    for name, typ, length, dec in FIELDS:
        out += name.encode('ascii').ljust(11, b'\0') + typ.encode('ascii') + bytes(4)
        out += bytes([length, dec]) + bytes(14)
    out += b'\x0d'
    return out, reclen


def records(count):
    names = [n.encode('cp866') for n in NAMES]
    cities = [c.encode('cp866') for c in CITIES]
    for i in range(1, count + 1):
        h = (i * 2654435761) & 0xFFFFFFFF
        flag = b'*' if i % 97 == 0 else b' '
        name = names[h % len(names)] + b' %d' % (h % 1000)
        amount = (h % 10000000) / 100.0 * (-1 if h & 0x100 else 1)
        year, month, day = 1940 + h % 80, 1 + (h >> 8) % 12, 1 + (h >> 12) % 28
        rec = b''.join([
            flag,
            b'%9d' % i,
            name.ljust(20)[:20],
            cities[(h >> 4) % len(cities)].ljust(15)[:15],
            b'%12.2f' % amount,
            b'%6d' % (h % 100000) if h % 13 else b' ' * 6,
            b'%04d%02d%02d' % (year, month, day),
            b'T' if h & 1 else b'F',
            (b'K-%07X' % (h & 0xFFFFFFF)).ljust(10)[:10],
            b'%11d' % ((h % 10000000) * 1000 + i % 1000),
            b'note%04d' % (i % 10000),
        ])
        yield rec


def main():
    path, count = sys.argv[1], int(sys.argv[2])
    hdr, reclen = header(count)
    with open(path, 'wb') as f:
        f.write(hdr)
        chunk = []
        for rec in records(count):
            assert len(rec) == reclen, len(rec)
            chunk.append(rec)
            if len(chunk) == 10000:
                f.write(b''.join(chunk))
                chunk.clear()
        f.write(b''.join(chunk))
        f.write(b'\x1a')


if __name__ == '__main__':
    main()
