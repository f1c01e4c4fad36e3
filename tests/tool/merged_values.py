"""Checks a merged table against its sources with an independent reader (dbfread).

Usage: merged_values.py OUTPUT SOURCE...   (sources in the order the merge took them)
Every source record, deleted ones included, must appear in the output at its place in order,
with the same value in the output field of the same name (first 10 characters, upper-cased).
Prints "ok N" with the number of records checked, or the first difference; exit 1 on a difference.
"""
import struct
import sys

import dbfread


def norm(v):
    if isinstance(v, str):
        return v.rstrip(' \x00\x1a')
    if isinstance(v, float) and v == int(v):
        return int(v)
    return v


def file_order(table, path, missing=None):
    """The records of a dbfread table, live and deleted, in the order of the file; a record
    dbfread does not show (flag byte neither blank nor "*") gives `missing`, or ends the list
    when `missing` is None."""
    with open(path, 'rb') as f:
        head = f.read(32)
        hl, rl = struct.unpack('<HH', head[8:12])
        flags = []
        f.seek(hl)
        while True:
            rec = f.read(rl)
            if len(rec) < rl or rec[:1] == b'\x1a':
                break
            flags.append(rec[:1])
    live = iter(table._iter_records(b' '))
    dead = iter(table._iter_records(b'*'))
    out = []
    for fl in flags:
        try:
            out.append(next(dead) if fl == b'*' else next(live))
        except StopIteration:
            if missing is None:
                break
            out.append(missing)
    return out


def records_in_file_order(path):
    """All records with dbfread's decoding, live and deleted, in the order of the file."""
    table = dbfread.DBF(path, encoding='cp866', ignore_missing_memofile=True, char_decode_errors='replace')
    return file_order(table, path)


def main():
    out_path, sources = sys.argv[1], sys.argv[2:]
    merged = records_in_file_order(out_path)
    i = 0
    for src in sources:
        try:
            rows = records_in_file_order(src)
        except Exception:  # a source the merge could not open either
            continue
        for row in rows:
            if i >= len(merged):
                print('output ends before record %d of %s' % (i + 1, src))
                return 1
            for name, value in row.items():
                key = name[:10].upper().strip()
                got = {k.upper(): v for k, v in merged[i].items()}.get(key)
                if norm(got) != norm(value) and not (norm(value) in ('', None) and norm(got) in ('', None)):
                    print('record %d field %s: %r, source %s has %r' % (i + 1, key, got, src, value))
                    return 1
            i += 1
    if i != len(merged):
        print('output has %d records, sources %d' % (len(merged), i))
        return 1
    print('ok %d' % i)
    return 0


if __name__ == '__main__':
    sys.exit(main())
