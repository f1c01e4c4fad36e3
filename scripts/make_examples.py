#!/usr/bin/env python3
"""Writes the placeholder sample sources in examples/sources/: small dBase III tables
(version byte 0x03, no memo) in nested directories, text in the DOS code page CP866, the
tool's default. Run from the repository root: python3 scripts/make_examples.py
"""
import os
import struct

ROOT = os.path.join('examples', 'sources')


def table(path, fields, records, date=(126, 12, 7)):
    """fields: (name, type, length, decimals); records: tuples of Python values."""
    record_length = 1 + sum(f[2] for f in fields)
    header_length = 32 + 32 * len(fields) + 1
    out = bytearray()
    out += struct.pack('<B3BIHH20x', 0x03, *date, len(records), header_length, record_length)
    for name, ftype, length, dec in fields:
        out += struct.pack('<11sc4xBB14x', name.encode('ascii'), ftype.encode('ascii'), length, dec)
    out += b'\r'
    for rec in records:
        out += b' '
        for (name, ftype, length, dec), value in zip(fields, rec):
            if ftype == 'C':
                raw = value.encode('cp866')[:length].ljust(length, b' ')
            elif ftype == 'N':
                raw = ('' if value is None else '{:.{}f}'.format(value, dec)).rjust(length).encode('ascii')
            elif ftype == 'D':
                raw = (value or '').ljust(8).encode('ascii')
            elif ftype == 'L':
                raw = {True: b'T', False: b'F', None: b'?'}[value]
            assert len(raw) == length, (name, value)
            out += raw
    out += b'\x1a'
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f:
        f.write(out)


def main():
    table(os.path.join(ROOT, 'clients.dbf'),
          [('NAME', 'C', 20, 0), ('CITY', 'C', 20, 0), ('SUM', 'N', 10, 2)],
          [('Иванов И.И.', 'Москва', 1500.5), ('Петрова А.С.', 'Тверь', 320.0),
           ('Ёлкин П.', 'Казань', None)])
    table(os.path.join(ROOT, '2025', 'orders.dbf'),
          [('NAME', 'C', 40, 0), ('CODE', 'N', 5, 0), ('DATE', 'D', 8, 0)],
          [('Сидоров В.В.', 101, '20250314'), ('Smith J.', 102, '20251201')])
    table(os.path.join(ROOT, '2025', 'q4', 'payments.dbf'),
          [('NAME', 'C', 20, 0), ('SUM', 'N', 10, 2), ('PAID', 'L', 1, 0)],
          [('Иванов И.И.', 99.99, True), ('Петрова А.С.', 10.0, False)])
    with open(os.path.join(ROOT, '2025', 'notes.txt'), 'w', encoding='utf-8', newline='\n') as f:
        f.write('Not a table: the scan leaves this file alone.\n')


if __name__ == '__main__':
    main()
