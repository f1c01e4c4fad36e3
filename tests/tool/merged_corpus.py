#!/usr/bin/python3
"""Checks a merge of a whole tree against its sources with an independent reader (dbfread).

    merged_corpus.py OUTPUT LOG ENCODING

LOG is the run's load log (CP1251): the transfer part names every source in the order it was
merged and tells which opened. ENCODING (cp866 for -oem, cp1251 for -win) decodes the sources
and the output alike; a table whose text does not decode strictly (byte 0x98 under cp1251) is
decoded with surrogate escapes, which keep every byte, so text is compared byte for byte while
the other kinds are still parsed by dbfread.

Checked:
  * every source that opened contributed all its records, none failed;
  * the output's fields are the union by identity (full name upper-cased + occurrence in its
    table), named by the first 10 characters or the "_n" rule, in order of first occurrence,
    the kinds without user data (_NULLFLAGS, letters without a dataset field) left out;
    Visual FoxPro V of its real length as text, Q and W as memo bytes;
  * every value of every source record (deleted ones too, in file order) equals the output's,
    by the output kind: text (cut to a shorter output field), numbers (decimal text for I, +,
    O, B, Y, N, F), dates, date-times to the second (T, @ as text), logicals, memo text and
    blob bytes.
A value the engine reads differently from dbfread by design (see corpus_compare.py: null bits,
numbers and dates it cannot parse, logicals other than T/F, text after a zero byte, memo
readers' quirks) is accepted only when the output holds no value or the engine's reading;
such values are counted per reason. Prints "ok <records> <values> [reason=count ...]" or the
first differences; exit 1 on a difference.
"""
import datetime
import decimal
import re
import struct
import sys

import dbfread

from merged_values import file_order

LEFT_OUT = set('0')  # not user data


def left_out(ftype, length):
    """Kinds without user data or without a dataset field (a W that is no memo reference)."""
    return ftype in LEFT_OUT or (ftype == 'W' and length != 4)


class Parser(dbfread.FieldParser):
    """dbfread's parser with Visual FoxPro's blob (memo bytes, as G) and varbinary (raw bytes)."""

    def parseW(self, field, data):
        return self.parseG(field, data)

    def parseQ(self, field, data):
        return data


def read_log(path):
    lines = open(path, 'rb').read().decode('cp1251').split('\r\n')
    rule = '_' * 43
    start = [i for i, l in enumerate(lines) if l == rule]
    if len(start) < 2:
        raise SystemExit('the log has no transfer part')
    sources, current = [], None
    for l in lines[start[1] + 1:]:
        if l.startswith('Открытие файла: '):
            current = [l[len('Открытие файла: '):], None, None, None]
            sources.append(current)
        elif l.startswith('   Загрузка записей: ') and current:
            current[1] = int(l.split(': ')[1])
        elif l.startswith('   Загружено: ') and current:
            m = re.match(r'   Загружено: (\d+) / ошибки: (\d+)', l)
            current[2], current[3] = int(m.group(1)), int(m.group(2))
    cut = set(l for l in lines if l.startswith('   Обрезаны значения поля '))
    # Renamings, in the order the union met them: (path, source name) -> output names.
    renamed = {}
    for l in lines:
        m = re.match(r'   Поле (.*) файла (.*) загружается в поле (.*)$', l)
        if m:
            renamed.setdefault((m.group(2), m.group(1)), []).append(m.group(3))
    return [s for s in sources if s[1] is not None], cut, renamed


class Table:
    """A table through dbfread: fields (name, type, length) and records in file order."""

    def __init__(self, path, encoding):
        try:
            self.records = self._load(path, encoding, 'strict')
        except UnicodeDecodeError:
            self.records = self._load(path, encoding, 'surrogateescape')

    def _load(self, path, encoding, errors):
        t = dbfread.DBF(path, encoding=encoding, ignore_missing_memofile=True, char_decode_errors=errors,
                        parserclass=Parser, recfactory=lambda items: [v for _, v in items])  # duplicate names kept
        self.fields = [(f.name, f.type, f.length) for f in t.fields]
        # Facts of the engine's own reading that dbfread does not share: Visual FoxPro null
        # bits (a set bit reads as no value) and dBase memo blocks other than 512 bytes (which
        # dbfread's reader assumes).
        with open(path, 'rb') as f:
            head = f.read(32 + 32 * len(self.fields))
        vfp = head[0] in (0x30, 0x31, 0x32)
        self.nullable = [vfp and len(head) >= 64 + 32 * k and head[32 + 32 * k + 18] & 0x02 != 0
                         for k in range(len(self.fields))]
        # V and Q: a bit of _NULLFLAGS, before the field's null bit, says the value is shorter
        # than the field, its length being the field's last byte.
        self.varbit, bit = [None] * len(self.fields), 0
        for k, (_, ftype, _) in enumerate(self.fields):
            if vfp and ftype in 'VQ':
                self.varbit[k], bit = bit, bit + 1
            bit += 1 if self.nullable[k] else 0
        self.raw = []  # the records' bytes in file order, as file_order lists them
        with open(path, 'rb') as f:
            h = f.read(12)
            hl, rl = struct.unpack('<HH', h[8:12])
            f.seek(hl)
            while True:
                r = f.read(rl)
                if len(r) < rl or r[:1] == b'\x1a':
                    break
                self.raw.append(r)
        self.offsets, off = [], 1
        for _, _, length in self.fields:
            self.offsets.append(off)
            off += length
        self.flags_at = next((k for k, f in enumerate(self.fields) if f[1] == '0' and f[0].upper() == '_NULLFLAGS'),
                             None)
        self.odd_memo_blocks = False
        for ext in ('.dbt', '.DBT'):
            try:
                with open(path[:-4] + ext, 'rb') as m:
                    mh = m.read(22)
                self.odd_memo_blocks = len(mh) == 22 and struct.unpack('<H', mh[20:22])[0] not in (0, 512)
            except OSError:
                pass
        return file_order(t, path, missing=False)


def text(v, encoding):
    if isinstance(v, (bytes, bytearray)):
        v = bytes(v).decode(encoding, 'surrogateescape')
    return v


def cut_at_nul(s):
    i = s.find('\x00')
    return s if i < 0 else s[:i]


def as_number(v):
    if v is None:
        return None
    if isinstance(v, (bytes, bytearray)):
        v = v.decode('latin-1')
    if isinstance(v, str):
        s = v.strip().replace(',', '.')
        if not s:
            return None
        try:
            return float(s)
        except ValueError:
            return 'bad'
    return float(v)


def same_number(a, b):
    if a is None or b is None or a == 'bad' or b == 'bad':
        return a == b
    return abs(a - b) <= 1e-9 * max(1.0, abs(a), abs(b)) or abs(a - b) < 1e-4 * max(1.0, abs(a))


def compare(src_type, out_type, v, o, encoding):
    """(True, None) when equal; (True, reason) when the engine's own reading explains it."""
    if out_type == 'C' and src_type in 'CV':
        s, ot = cut_at_nul(text(v, encoding) or ''), text(o, encoding) or ''
        s, ot = s.rstrip(' '), ot.rstrip(' \x00')
        if s == ot:
            return True, None
        if s.startswith(ot) and len(ot) > 0:
            return True, 'cut'
        if ot == '' and '\x00' in (text(v, encoding) or ''):
            return True, 'textnul'
        return False, None
    if out_type == 'C' and src_type == 'L':
        ot = (text(o, encoding) or '').strip()
        want = '' if v is None else ('True' if v else 'False')
        return (ot == want[:len(ot)] and (ot != '' or want == ''), None) if v is not None or ot == '' else (False, None)
    if out_type == 'C' and src_type == 'D':
        ot = (text(o, encoding) or '').strip()
        want = '' if not isinstance(v, datetime.date) else v.strftime('%d.%m.%Y')
        return ot == want[:len(ot)] and (ot != '') == (want != ''), None
    if out_type == 'C' and src_type in 'T@':
        ot = (text(o, encoding) or '').strip()
        if v is None:
            return ot == '', None
        if not ot:
            return True, 'date'
        want = v if isinstance(v, datetime.datetime) else datetime.datetime.combine(v, datetime.time())
        m = re.match(r'(\d+)\.(\d+)\.(\d+)(?: (\d+):(\d+):(\d+))?$', ot)
        if not m:
            return False, None
        g = [int(x) if x else 0 for x in m.groups()]
        got = datetime.datetime(g[2], g[1], g[0], g[3], g[4], g[5])
        return abs((got - want.replace(microsecond=0)).total_seconds()) <= 1, None
    if out_type in 'CNF':
        a, b = as_number(v), as_number(o)
        if same_number(a, b):
            return True, None
        if b is None:
            return True, 'numeric'
        return False, None
    if out_type == 'D':
        if v == o:
            return True, None
        if o is None:
            return True, 'date'
        return False, None
    if out_type == 'L':
        if v == o:
            return True, None
        if o is None:
            return True, 'logical'
        return False, None
    if out_type == 'M' and isinstance(v, (bytes, bytearray)):
        # Blob bytes, stored untranslated: dbfread reads the output's dBase IV memo with up to
        # 8 bytes more (its length word counts the block header).
        got = o.encode(encoding, 'surrogateescape') if isinstance(o, str) else (o or b'')
        extra = got[len(v):]
        if got[:len(v)] == bytes(v) and len(extra) <= 8 and extra.strip(b'\x00\x1a') == b'':
            return True, 'memolen' if extra else None
        if got and bytes(v).startswith(got) and bytes(v)[len(got):len(got) + 1] == b'\x1f':
            return True, 'memo1f'  # dbfread's dBase IV memo reader stops at a 0x1F byte
        if not got:
            return True, 'memo'
        return False, None
    if out_type == 'M':
        s = text(v, encoding) or ''
        ot = text(o, encoding) or ''
        if isinstance(s, str) and s.rstrip('\x00 \x1a') == ot.rstrip('\x00 \x1a'):
            return True, None
        if ot == '':
            return True, 'memo'
        if isinstance(s, str) and s.startswith(ot.rstrip('\x00 \x1a')[:len(ot) - 8]) and len(s) <= len(ot) + 8:
            return True, 'memolen'
        return False, None
    return False, None


def unrepresentable(ch):
    """A CP866 character that CP1251 lacks: the engine's OEM translation gives '?' for it."""
    try:
        ch.encode('cp1251')
        return False
    except UnicodeEncodeError:
        return True


def main():
    out_path, log_path, encoding = sys.argv[1:4]
    sources, cut_lines, renamed = read_log(log_path)
    problems = []
    for path, count, loaded, errors in sources:
        if loaded != count or errors != 0:
            problems.append('%s: %d records, %s loaded, %s failed' % (path, count, loaded, errors))
    out = Table(out_path, encoding)
    out_fields = [f[0].upper() for f in out.fields]
    out_types = {f[0].upper(): f[1] for f in out.fields}
    reasons = {}

    def count(reason, n=1):
        reasons[reason] = reasons.get(reason, 0) + n

    # The union by identity, rebuilt from the sources in merge order. A table dbfread cannot
    # read (dBase 7 long descriptors, unknown letters) still takes output names the rebuild
    # cannot see: its names are matched by what is left.
    names, taken, tables = {}, set(out_fields), []
    order = []
    for path, n, loaded, errors in sources:
        try:
            t = Table(path, encoding)
        except Exception:  # noqa: BLE001 - dbfread cannot read what the engine did
            tables.append((path, None, None, loaded))
            count('unreadable')
            continue
        seen, mapping = {}, []
        with open(path, 'rb') as f:
            rl = struct.unpack('<H', f.read(12)[10:12])[0]
        end = 1
        for name, ftype, length in t.fields:
            key = name.strip().upper()
            seen[key] = seen.get(key, 0) + 1
            end += length
            ident = (key, seen[key])
            if not key or left_out(ftype, length) or end > rl:
                mapping.append(None)
                continue
            if ident not in names:
                # The first 10 characters, or a free "_n" name among the output's. The log's
                # renaming lines say which names tables unreadable here took first.
                cand = key[:10].strip()
                pending = renamed.get((path, key), [])
                left = sum(1 for f in t.fields if f[0].strip().upper() == key) - seen[key] + 1
                if pending and (cand in names.values() or len(pending) >= left):
                    cand = pending.pop(0)
                elif cand in names.values():
                    k = 0
                    while True:
                        k += 1
                        cand = key[:10 - len('_%d' % k)] + '_%d' % k
                        if cand not in names.values():
                            break
                names[ident] = cand
                order.append(cand)
            mapping.append(names[ident])
        tables.append((path, t, mapping, loaded))
    # Every identity has its field, in order of first occurrence (names the engine's OEM
    # translation cannot keep aside).
    pos = [out_fields.index(n) for n in order if n in out_fields]
    missing = [n for n in order if n not in out_fields and all(ord(c) < 128 for c in n)]
    if missing:
        problems.append('identities without an output field: %s' % missing)
    if 'unreadable' not in reasons:  # otherwise such a table may have come first
        for a, b in zip(pos, pos[1:]):
            if a > b:
                problems.append('output fields out of order of first occurrence: %s before %s' %
                                (out_fields[b], out_fields[a]))
                break

    i, values = 0, 0
    cut_targets, memo_notes = set(), []
    for path, t, mapping, loaded in tables:
        if t is None:
            i += loaded
            continue
        fields_end = 1 + sum(f[2] for f in t.fields)
        with open(path, 'rb') as f:
            rl = struct.unpack('<H', f.read(12)[10:12])[0]
        if fields_end != rl:
            # dbfread reads records by the field lengths, the engine by the header's record
            # length: dbfread's records drift through the file.
            count('driftreader', len(t.records))
            i += loaded
            continue
        if len(t.records) != loaded:
            problems.append('%s: dbfread sees %d records, %d loaded' % (path, len(t.records), loaded))
        for j, rec in enumerate(t.records):
            if i >= len(out.records):
                problems.append('output ends before a record of %s' % path)
                break
            o = out.records[i]
            i += 1
            if rec is False or o is False:
                count('flagbyte')
                continue
            row = dict(zip(out_fields, o))  # output names are unique
            for k, ((name, ftype, length), target, v, nullable) in enumerate(zip(t.fields, mapping, rec,
                                                                                   t.nullable)):
                if target is None or target not in row:
                    continue
                values += 1
                if t.varbit[k] is not None and t.flags_at is not None:
                    # The value by the length bit, from the field's bytes; dbfread shows the
                    # whole field (stripped of trailing blanks and zeros), which must start so.
                    raw = t.raw[j]
                    whole = raw[t.offsets[k]:t.offsets[k] + length]
                    fo = t.offsets[t.flags_at]
                    flags = raw[fo:fo + t.fields[t.flags_at][2]]
                    bit = t.varbit[k]
                    if bit // 8 < len(flags) and flags[bit // 8] & (1 << (bit % 8)):
                        whole = whole[:min(whole[-1], len(whole) - 1)]
                        count('varlength')
                    shown = v.encode(encoding, 'surrogateescape') if isinstance(v, str) else bytes(v or b'')
                    if not shown.rstrip(b'\0 ').startswith(whole.rstrip(b'\0 ')):
                        problems.append('%s record %d field %s: dbfread shows %r, the field holds %r' %
                                        (path, i, name, shown, whole))
                    v = whole.decode(encoding, 'surrogateescape') if ftype == 'V' else whole
                ok, reason = compare(ftype, out_types[target], v, row[target], encoding)
                if not ok and nullable and row[target] in ('', None):
                    ok, reason = True, 'nullbit'
                if not ok and ftype == 'M' and t.odd_memo_blocks:
                    ok, reason = True, 'memoblock'
                if not ok and encoding == 'cp866' and isinstance(v, (str, bytes)):
                    # CP866 characters without a CP1251 counterpart (box drawing, other
                    # languages' text) come back as '?' from the engine's OEM round trip.
                    if isinstance(v, bytes):
                        want = bytes(b'?'[0] if unrepresentable(bytes([b]).decode('cp866')) else b for b in v)
                    else:
                        want = ''.join('?' if unrepresentable(c) else c for c in cut_at_nul(v))
                    ok, reason = compare(ftype, out_types[target], want, row[target], encoding)
                    reason = 'oemgap' if ok else None
                if reason:
                    count(reason)
                if reason == 'cut':
                    cut_targets.add(target)
                if reason == 'memo' and len(memo_notes) < 20:
                    memo_notes.append('%s:%s' % (path, name))
                if not ok and len(problems) < 20:
                    problems.append('%s record %d field %s (%s): source %r, output %s %r' %
                                    (path, i, name, ftype, v, target, row[target]))
    for target in sorted(cut_targets):
        if not any(l.startswith('   Обрезаны значения поля %s: ' % target) for l in cut_lines):
            problems.append('values of %s were cut without a log line' % target)
    if memo_notes and '-v' in sys.argv:
        print('memo values the engine reads empty:', ' '.join(memo_notes))
    if i != len(out.records):
        problems.append('output has %d records, sources %d' % (len(out.records), i))
    if problems:
        print('\n'.join(problems))
        return 1
    print('ok %d %d %s' % (i, values, ' '.join('%s=%d' % kv for kv in sorted(reasons.items()))))
    return 0


if __name__ == '__main__':
    sys.exit(main())
