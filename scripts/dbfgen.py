#!/usr/bin/env python3
"""Writes dBase-family tables byte by byte, independently of the ZARBEL engine.

Used to make the sample sources in examples/ and the benchmark tree in bench/.
Dialects: 'db3' (0x03, 0x83 with a dBase III .dbt), 'db4' (0x03, 0x8B with a
dBase IV .dbt), 'fox' (0x03, 0xF5 with a FoxPro .fpt), 'clipper' (0x03 with
the 0x0D 0x00 header end Clipper writes, 0x83 with a dBase III .dbt).
Fields: (name, type, length, decimals) with types C N F D L M.
Records: lists of Python values (str, int, float, datetime.date, bool, None);
a record may be wrapped as ('*', values) to be written deleted.
Text is encoded in the given code page (cp866 by default).
"""
import datetime
import os
import struct


def _memo_ext(dialect):
    return '.fpt' if dialect == 'fox' else '.dbt'


class MemoWriter:
    def __init__(self, path, dialect, block=512):
        self.path, self.dialect, self.block = path, dialect, block
        self.data = bytearray()
        if dialect in ('db3', 'clipper'):
            self.data += struct.pack('<I', 1) + bytes(508)
        elif dialect == 'db4':
            self.data += struct.pack('<II', 1, 0) + bytes(12) + struct.pack('<H', block) + bytes(512 - 22)
        else:
            self.data += struct.pack('>II', 1, block) + bytes(504)
            self.block = block

    def _pad(self):
        b = self.block if self.dialect != 'db3' and self.dialect != 'clipper' else 512
        rem = len(self.data) % b
        if rem:
            self.data += bytes(b - rem)

    def add(self, payload):
        """Stores one memo value and returns its block number."""
        self._pad()
        b = 512 if self.dialect in ('db3', 'clipper') else self.block
        blockno = len(self.data) // b
        if self.dialect in ('db3', 'clipper'):
            self.data += payload + b'\x1a\x1a'
        elif self.dialect == 'db4':
            self.data += b'\xff\xff\x08\x00' + struct.pack('<I', len(payload) + 8) + payload
        else:
            self.data += struct.pack('>II', 1, len(payload)) + payload
        self._pad()
        nxt = len(self.data) // b
        if self.dialect == 'fox':
            self.data[0:4] = struct.pack('>I', nxt)
        else:
            self.data[0:4] = struct.pack('<I', nxt)
        return blockno

    def close(self):
        with open(self.path, 'wb') as f:
            f.write(self.data)


def write_table(path, fields, records, dialect='db3', codepage='cp866',
                codepage_byte=0x00, eof=True, memo_block=512):
    has_memo = any(f[1] == 'M' for f in fields)
    version = 0x03
    if has_memo:
        version = {'db3': 0x83, 'clipper': 0x83, 'db4': 0x8B, 'fox': 0xF5}[dialect]
    memo = None
    if has_memo:
        memo = MemoWriter(os.path.splitext(path)[0] + _memo_ext(dialect), dialect, memo_block)
    widths = []
    for name, typ, length, dec in fields:
        widths.append({'D': 8, 'L': 1, 'M': 10}.get(typ, length))
    reclen = 1 + sum(widths)
    terminator = b'\x0d\x00' if dialect == 'clipper' else b'\x0d'
    hdrlen = 32 + 32 * len(fields) + len(terminator)
    today = datetime.date(2024, 5, 17)
    out = bytearray()
    out += struct.pack('<BBBBIHH', version, today.year - 1900, today.month, today.day,
                       len(records), hdrlen, reclen)
    out += bytes(16) + bytes([0, codepage_byte]) + bytes(2)
    for name, typ, length, dec in fields:
        nb = name.encode(codepage)[:10]
        d = bytearray(32)
        d[0:len(nb)] = nb
        d[11] = ord(typ)
        w = {'D': 8, 'L': 1, 'M': 10}.get(typ, length)
        if typ == 'C':
            d[16:18] = struct.pack('<H', w)
        else:
            d[16] = w
            d[17] = dec
        out += d
    out += terminator
    for rec in records:
        flag = b' '
        if isinstance(rec, tuple) and rec[0] == '*':
            flag, rec = b'*', rec[1]
        row = bytearray(flag)
        for (name, typ, length, dec), w, v in zip(fields, widths, rec):
            if v is None:
                row += b' ' * w
            elif typ == 'C':
                row += v.encode(codepage)[:w].ljust(w, b' ')
            elif typ in 'NF':
                s = ('%.*f' % (dec, v)) if dec else ('%d' % v)
                if len(s) > w:
                    raise ValueError('number too wide: %r' % v)
                row += s.rjust(w).encode('ascii')
            elif typ == 'D':
                row += v.strftime('%Y%m%d').encode('ascii')
            elif typ == 'L':
                row += b'T' if v else b'F'
            elif typ == 'M':
                if v == '':
                    row += b' ' * 10
                else:
                    row += ('%10d' % memo.add(v.encode(codepage))).encode('ascii')
        assert len(row) == reclen
        out += row
    if eof:
        out += b'\x1a'
    with open(path, 'wb') as f:
        f.write(out)
    if memo:
        memo.close()
