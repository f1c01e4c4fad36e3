#!/usr/bin/python3
"""Compares zarbel-dump's JSON of the compatibility corpus with the corpus's expected/ views.

    corpus_compare.py CORPUS_DIR DUMP_DIR TABLE...

For each TABLE (a path relative to CORPUS_DIR) DUMP_DIR/TABLE.json holds zarbel-dump --json's
document. The reference is expected/TABLE.json: python3-dbfread's records (an independent
reader), or, where dbfread read the file only with raw=True or not at all, the raw field bytes
decoded here by the usual xBase rules. Every value is also checked against the table's own
bytes (sliced here from the file with the header's descriptor lengths), which is what the
deliberate differences below are decided on.

Prints one line per table: "OK <table> <records> <values> [rule=count ...]" or
"FAIL <table>: <what>" (at most a few per table). Exit status 0 unless the input is unusable.

Deliberate differences (engine behaviour that differs from dbfread on purpose):
  nullbit     A Visual FoxPro field whose bit in _NULLFLAGS is set reads as no value; dbfread
              ignores the null flags and shows the stored bytes.
  nullflags   The _NULLFLAGS field itself (type 0) answers no value; dbfread shows its bytes.
  flagbyte    A record whose flag byte is neither space nor "*" (e.g. 0x00) is a record for the
              engine (shown with its flag byte, not deleted); dbfread skips it silently.
  logical     An L byte other than the letters T, t, Y, y (true) and F, f, N, n (false) has
              no value for the engine, whatever dbfread makes of it (blank and "?" are
              None there too).
  numeric     N/F text that the engine's number parse refuses (NUL or "*" padding, a
              fraction in an N(x,0) field that the engine reads as an integer, text after
              the digits) reads as no value; dbfread strips and converts more freely.
  date        A D field whose 8 bytes are not all digits (blanks inside, NULs) or are zeros
              reads as no value; dbfread's int() accepts inner blanks.
  textnul     Text stops at the first zero byte (string values are zero-terminated);
              dbfread keeps the bytes after it.
  notype      A descriptor with a type letter the engine does not map (a zero byte, a W
              that is not 4 bytes wide) gets no dataset field: its value is null.
  varlength   Visual FoxPro V and Q: a field's length bit in _NULLFLAGS (given before its
              null bit, in field order) says the value is shorter than the field and its
              length is the field's last byte; dbfread shows the whole field, of which the
              value must be the start.
  memo        An empty engine value for a memo that dbfread shows (none expected now that the
              memo layer answers blob streams; kept countable, not failing).
  memolen     dbfread's dBase IV memo reader takes the length word as the text length although
              it counts the 8-byte block header: its text carries up to 8 bytes more (cut at
              the first 0x1F).
  memoblock   dbfread's dBase IV memo reader assumes 512-byte blocks; a .dbt whose header says
              otherwise (64, 2048) is read from the wrong places by it.
  memoerror   A memo value that cannot be read (listed tables only, in MEMO_ERRORS with the
              reason) is shown as {"error": message} by the dump.
  pastrecord  A field running past the record length (inconsistent header) gets no dataset
              field.
  driftreader Where the field lengths do not add up to the record length (an inconsistent
              header, or a C field with a non-zero decimals byte that dbfread takes for
              Clipper's extended length), dbfread's records drift through the file; the engine
              reads records by the header's record length, compared here with the file's own
              bytes.
  partialrecord A cut-off record at the end of the file: dbfread reads what there is, the
              engine counts whole records only.
  odouble     An O field in a Visual FoxPro table holds the dBase 7 order-preserving double
              (positives agree with the B column beside it in javadbf's numbers2); the engine
              decodes that form, dbfread reads a plain little-endian double.
"""
import datetime
import json
import math
import os
import struct
import sys

DIALECT_MEMO_TYPES = set('MGPBW')

# Tables whose memo values fail to read, with the reason.
MEMO_ERRORS = {
    'javadbf/bug-102/bug102.dbf': 'its .dbt holds only the 512-byte header: every reference points past the end',
}


def cp1251_bytes(s):
    """The engine's ANSI bytes of a UTF-8 JSON string (CP1251 with 0x98 mapped to U+0098)."""
    out = bytearray()
    for ch in s:
        if ch == '\u0098':
            out.append(0x98)
        else:
            out += ch.encode('cp1251')
    return bytes(out)


def engine_bytes(s, oem):
    if oem:
        # The dump shows an OEM table's text as its CP866 characters: back to the file's bytes.
        return s.encode('cp866', errors='replace')
    return cp1251_bytes(s)


class Table:
    def __init__(self, corpus, rel):
        self.rel = rel
        with open(os.path.join(corpus, rel), 'rb') as f:
            self.data = f.read()
        with open(os.path.join(corpus, 'expected', rel + '.json'), encoding='utf-8') as f:
            self.exp = json.load(f)
        h = self.exp['header']
        self.hdrlen = h['header_length']
        self.reclen = h['record_length']
        self.version = int(h['version_byte'], 16)
        self.fields = h['fields']
        # raw slices by descriptor lengths, as dbfread and the corpus builder slice them
        # (the plain length byte for every kind: no table here uses the extended C length)
        off = 1
        self.slices = []
        for fd in self.fields:
            self.slices.append((off, fd['length']))
            off += fd['length']
        self.whole_records = max(0, (len(self.data) - self.hdrlen) // self.reclen) if self.reclen else 0
        # Visual FoxPro's bitmap: per field in order, a length bit for V and Q, then a null bit.
        self.varbit = {}
        k = 0
        for i, fd in enumerate(self.fields):
            if self.version in (0x30, 0x31, 0x32) and fd['type'] in 'VQ':
                self.varbit[i] = k
                k += 1
            if self.version in (0x30, 0x31, 0x32) and int(fd.get('field_flags', '0x00'), 16) & 0x02:
                k += 1

    def record(self, recno):
        start = self.hdrlen + (recno - 1) * self.reclen
        return self.data[start:start + self.reclen]


def reference(d):
    """(mode, result) from the expected view: 'parsed' dbfread records, 'raw' dbfread raw
    records, 'slice' the corpus builder's slicing, or (None, None)."""
    db = d['dbfread']
    cands = [db['result']] + db.get('retries', [])
    for c in cands:
        if 'records' in c:
            return ('raw' if c['options'].get('raw') else 'parsed'), c
    if 'raw_records_own_slicing' in d:
        return 'slice', d['raw_records_own_slicing']
    return None, None


def strip_num(raw):
    return raw.strip().strip(b'*')


def decode_raw(ftype, raw, version, enc, errors, decimals):
    """The reference value of raw field bytes by the usual xBase rules (dbfread's where it has
    one; the dBase 7 binary kinds by their own layout)."""
    dbase7 = version in (0x04, 0x8C)
    if ftype in 'CV':
        return raw.rstrip(b'\0 ').decode(enc, errors=errors)
    if ftype in 'NF':
        t = strip_num(raw)
        if not t:
            return None
        try:
            return int(t)
        except ValueError:
            try:
                return float(t.replace(b',', b'.'))
            except ValueError:
                return 'unparsable'
    if ftype == 'D':
        try:
            return datetime.date(int(raw[:4]), int(raw[4:6]), int(raw[6:8])).isoformat()
        except ValueError:
            return None if raw.strip(b' 0') == b'' else 'unparsable'
    if ftype == 'L':
        if raw in (b'T', b't', b'Y', b'y'):
            return True
        if raw in (b'F', b'f', b'N', b'n'):
            return False
        return None
    if ftype in 'I+':
        if dbase7:
            u = struct.unpack('>I', raw)[0]
            return None if u == 0 else (u ^ 0x80000000) - (1 << 32 if u < 0x80000000 else 0)
        return struct.unpack('<i', raw)[0]
    if ftype == 'O':
        if dbase7 or version in (0x30, 0x31):
            u = struct.unpack('>Q', raw)[0]
            if u == 0:
                return None
            u = u & 0x7FFFFFFFFFFFFFFF if u & 0x8000000000000000 else (~u) & 0xFFFFFFFFFFFFFFFF
            return struct.unpack('<d', struct.pack('<Q', u))[0]
        return struct.unpack('<d', raw)[0]
    if ftype == 'B' and version in (0x30, 0x31, 0x32):
        return struct.unpack('<d', raw)[0]
    if ftype == 'Y':
        return struct.unpack('<q', raw)[0] / 10000.0
    if ftype in 'T@':
        if ftype == '@' and dbase7:
            u = struct.unpack('>Q', raw)[0]
            if u == 0:
                return None
            return ('dbase7ts', struct.unpack('>d', raw)[0])
        if not raw.strip():
            return None
        day, msec = struct.unpack('<LL', raw)
        if not day:
            return None
        return (datetime.datetime.fromordinal(day - 1721425) + datetime.timedelta(seconds=msec / 1000)).isoformat()
    return ('raw', raw.hex())


def num_equal(a, b):
    if isinstance(a, str) or isinstance(b, str):
        return str(a) == str(b)
    if isinstance(a, float) and math.isnan(a) and isinstance(b, float) and math.isnan(b):
        return True
    return abs(float(a) - float(b)) <= 1e-9 * max(1.0, abs(float(a)), abs(float(b)))


def parse_dt(s):
    return datetime.datetime.fromisoformat(s)


class Compare:
    def __init__(self, corpus, dumpdir, rel):
        self.rel = rel
        self.corpus = corpus
        self.t = Table(corpus, rel)
        with open(os.path.join(dumpdir, rel + '.json'), encoding='utf-8') as f:
            self.ours = json.load(f)
        self.fails = []
        self.rules = {}
        self.values = 0

    def fail(self, msg):
        if len(self.fails) < 6:
            self.fails.append(msg)

    def rule(self, name):
        self.rules[name] = self.rules.get(name, 0) + 1

    def run(self):
        t, ours = self.t, self.ours
        mode, ref = reference(t.exp)
        if mode is None:
            self.fail('no reference records in expected/')
            return
        enc = ref.get('options', {}).get('encoding', t.exp.get('encoding_used', 'cp437')) if mode != 'slice' \
            else t.exp.get('encoding_used', 'cp437')
        errors = ref.get('options', {}).get('char_decode_errors', 'strict') if mode != 'slice' else 'replace'
        if errors == 'strict':
            errors = 'replace'  # our bytes may hold what dbfread never had to decode
        ofields = ours['fields']
        if len(ofields) != len(t.fields):
            self.fail('%d fields, the header has %d' % (len(ofields), len(t.fields)))
            return
        orecs = ours['records']
        live = [r for r in orecs if not r['deleted'] and 'flag_byte' not in r]
        dele = [r for r in orecs if r['deleted']]
        other = [r for r in orecs if 'flag_byte' in r]
        for _ in other:
            self.rule('flagbyte')
        if mode != 'slice' and 1 + sum(f['length'] for f in ref['fields']) != t.reclen:
            # dbfread steps through a record by its field lengths: its records drift
            mode = 'own'
            self.rule('driftreader')
        if mode in ('slice', 'own'):
            # Every whole record in the file, sliced here by the header's lengths.
            if len(orecs) != t.whole_records:
                self.fail('%d records, the file holds %d whole records' % (len(orecs), t.whole_records))
                return
            pairs = []
            for o in orecs:
                rec = t.record(o['recno'])
                if (rec[0] == 0x2A) != o['deleted'] or (rec[0] not in (0x20, 0x2A)) != ('flag_byte' in o):
                    self.fail('record %d: deleted %s, flag byte 0x%02X' % (o['recno'], o['deleted'], rec[0]))
                pairs.append((o, [decode_raw(fd['type'], rec[a:a + n], t.version, enc, errors, fd.get('decimals', 0))
                                  for fd, (a, n) in zip(t.fields, t.slices)]))
        else:
            def values_of(rec):
                vals = [v for _, v in rec] if isinstance(rec, list) else list(rec.values())
                if mode == 'raw':
                    vals = [decode_raw(fd['type'], bytes.fromhex(v), t.version, enc, errors, fd.get('decimals', 0))
                            for fd, v in zip(t.fields, vals)]
                return vals
            erecs = list(ref['records'])
            edel = list(ref.get('deleted', []))
            if (len(t.data) - t.hdrlen) % t.reclen and erecs and len(live) == len(erecs) - 1:
                # dbfread reads a cut-off record at the end of the file; the engine counts whole
                # records only
                erecs.pop()
                self.rule('partialrecord')
            if len(live) != len(erecs):
                self.fail('%d live records, dbfread has %d' % (len(live), len(erecs)))
                return
            if len(dele) != len(edel):
                self.fail('%d deleted records, dbfread has %d' % (len(dele), len(edel)))
                return
            pairs = [(o, values_of(e)) for o, e in zip(live, erecs)] + \
                    [(o, values_of(e)) for o, e in zip(dele, edel)]
        nullflags_idx = next((i for i, fd in enumerate(t.fields) if fd['type'] == '0'
                              and fd['name'].upper() == '_NULLFLAGS'), None)
        for o, evals in pairs:
            raw_rec = t.record(o['recno'])
            for i, (fd, of) in enumerate(zip(t.fields, ofields)):
                self.values += 1
                self.value(o['recno'], fd, of, o['values'][i], evals[i], raw_rec, nullflags_idx, enc, errors, mode)

    def value(self, recno, fd, of, ov, ev, raw_rec, nf_idx, enc, errors, mode):
        t = self.t
        ftype = fd['type']
        idx = t.fields.index(fd)
        soff, sln = t.slices[idx]
        raw = raw_rec[soff:soff + sln]
        where = 'record %d field %s' % (recno, fd['name'])
        if isinstance(ov, dict) and 'error' in ov:
            if self.rel in MEMO_ERRORS and ftype in DIALECT_MEMO_TYPES:
                self.rule('memoerror')
            else:
                self.fail('%s: %s' % (where, ov['error']))
            return
        if of['data_type'] is None:
            if ov is not None:
                self.fail('%s: no dataset field but value %r' % (where, ov))
            elif soff + sln > t.reclen or of['offset'] + of['length'] > t.reclen:
                self.rule('pastrecord')
            else:
                self.rule('notype')
            return
        if ftype == '0':
            if ov is None:
                self.rule('nullflags')
            else:
                self.fail('%s: _NULLFLAGS has value %r' % (where, ov))
            return
        if of.get('null_bit') is not None and nf_idx is not None and ftype not in 'GMP':
            nsoff, nsln = t.slices[nf_idx]
            flags = raw_rec[nsoff:nsoff + nsln]
            bit = of['null_bit']
            if bit // 8 < len(flags) and flags[bit // 8] & (1 << (bit % 8)):
                if ov is None:
                    self.rule('nullbit')
                else:
                    self.fail('%s: null bit set but value %r' % (where, ov))
                return
        if ftype in 'VQ':
            self.varvalue(where, idx, ftype, of, ov, ev, raw, raw_rec, nf_idx, enc, errors)
            return
        if isinstance(ev, tuple) and ev[0] == 'raw':
            return  # kinds without a reference decoding (memo references of raw views)
        if ftype in 'CV':
            if ov is None:
                self.fail('%s: no value, expected %r' % (where, ev))
                return
            ob = bytes.fromhex(ov) if of['data_type'] == 'Bytes' else engine_bytes(ov, self.ours['oem'])
            mine = ob.rstrip(b'\0 ').decode(enc, errors=errors)
            exp = ev.split('\0')[0].rstrip(' ') if isinstance(ev, str) else ev
            if b'\0' in raw.rstrip(b'\0 '):
                self.rule('textnul')
                exp = raw.split(b'\0')[0].rstrip(b' ').decode(enc, errors=errors)
            if mine != exp:
                self.fail('%s: %r, expected %r' % (where, mine, exp))
            return
        if ftype in 'NF':
            if ov is None:
                if ev is None:
                    return
                t_ = strip_num(raw)
                if isinstance(ev, int) and not -2**63 <= ev < 2**63:
                    self.rule('numeric')  # beyond a 64-bit integer field
                    return
                if ev == 'unparsable' or b'\0' in raw or b'*' in raw or not all(
                        c in b'0123456789+-.,' for c in t_) or (of['decimals'] == 0 and b'.' in t_) or (
                        of['decimals'] == 0 and b',' in t_):
                    self.rule('numeric')
                    return
                self.fail('%s: no value, expected %r (raw %r)' % (where, ev, raw))
                return
            if ev is None or ev == 'unparsable' or not num_equal(ov, ev):
                self.fail('%s: %r, expected %r (raw %r)' % (where, ov, ev, raw))
            return
        if ftype == 'D':
            if ov != ev:
                if ov is None and (ev == 'unparsable' or not raw.isdigit() or raw.strip(b'0') == b''):
                    self.rule('date')
                    return
                self.fail('%s: %r, expected %r (raw %r)' % (where, ov, ev, raw))
            return
        if ftype == 'L':
            if ov != ev:
                if ov is None and raw not in (b'T', b't', b'Y', b'y', b'F', b'f', b'N', b'n'):
                    self.rule('logical')
                    return
                self.fail('%s: %r, expected %r (raw %r)' % (where, ov, ev, raw))
            return
        if ftype in 'T@':
            if isinstance(ev, tuple) and ev[0] == 'dbase7ts':
                if ov is None:
                    self.fail('%s: no value, raw %r' % (where, raw))
                    return
                ms = ev[1]
                exp = datetime.datetime(1, 1, 1) + datetime.timedelta(milliseconds=ms - 86400000)
                if abs((parse_dt(ov) - exp).total_seconds()) > 0.002:
                    self.fail('%s: %r, expected %s' % (where, ov, exp.isoformat()))
                return
            if ov is None or ev is None:
                if ov is not None or ev is not None:
                    self.fail('%s: %r, expected %r (raw %r)' % (where, ov, ev, raw))
                return
            if abs((parse_dt(ov) - parse_dt(ev)).total_seconds()) > 0.0015:
                self.fail('%s: %r, expected %r' % (where, ov, ev))
            return
        if ftype == 'O' and t.version in (0x30, 0x31):
            # O in a Visual FoxPro table: the dBase 7 order-preserving form (what the writer of
            # such tables stores); dbfread reads a plain little-endian double
            ev = decode_raw('O', raw, 0x04, enc, errors, 0)
            self.rule('odouble')
        if ftype in 'IY+O' or (ftype == 'B' and t.version in (0x30, 0x31, 0x32)):
            if ov is None and ev is None:
                return
            if ov is None or ev is None or not num_equal(ov, float(ev) if isinstance(ev, str) and ftype == 'Y' else ev):
                self.fail('%s: %r, expected %r (raw %r)' % (where, ov, ev, raw))
            return
        if ftype in DIALECT_MEMO_TYPES:
            self.memo(where, of, ov, ev, enc, errors)
            return
        self.fail('%s: type %r not compared' % (where, ftype))

    def varvalue(self, where, idx, ftype, of, ov, ev, raw, raw_rec, nf_idx, enc, errors):
        t = self.t
        value = raw
        if nf_idx is not None and idx in t.varbit:
            nsoff, nsln = t.slices[nf_idx]
            flags = raw_rec[nsoff:nsoff + nsln]
            bit = t.varbit[idx]
            if bit // 8 < len(flags) and flags[bit // 8] & (1 << (bit % 8)):
                value = raw[:min(raw[-1], len(raw) - 1)]
                self.rule('varlength')
        # dbfread's view: the whole field, as text (V) or as hex (Q, raw views)
        if isinstance(ev, tuple):
            ev = ev[1]
        shown = bytes.fromhex(ev) if ftype == 'Q' or isinstance(ev, str) and ev == raw.hex() else \
            ev.encode(enc, errors='replace')
        if not shown.startswith(value.rstrip(b'\0') if ftype == 'V' else value):
            self.fail('%s: dbfread shows %r, not starting with %r' % (where, shown, value))
        if ov is None:
            self.fail('%s: no value, expected %r' % (where, value))
            return
        if ftype == 'Q':
            mine = bytes.fromhex(ov[2:] if ov.startswith('0x') else ov)
            if mine != value:
                self.fail('%s: %r, expected %r' % (where, mine, value))
            return
        mine = engine_bytes(ov, self.ours['oem'])
        if mine.rstrip(b'\0 ') != value.split(b'\0')[0].rstrip(b' '):
            self.fail('%s: %r, expected %r' % (where, mine, value))

    def memo_block_size(self):
        """Block size in a dBase IV/VII .dbt header (dbfread assumes 512), else None."""
        stem = os.path.splitext(os.path.join(self.corpus, self.rel))[0]
        for ext in ('.dbt', '.DBT', '.Dbt'):
            if os.path.exists(stem + ext):
                with open(stem + ext, 'rb') as f:
                    h = f.read(22)
                return struct.unpack('<H', h[20:22])[0] if len(h) >= 22 else None
        return None

    def memo(self, where, of, ov, ev, enc, errors):
        binary = of['data_type'] not in ('Memo', 'FmtMemo')
        if ev is None:
            if ov not in (None, ''):
                self.fail('%s: %r, dbfread has no memo' % (where, ov[:40]))
            return
        if ov is None or ov == '':
            if ev in ('', None):
                return
            self.rule('memo')
            return
        if binary:
            exp = ev if isinstance(ev, str) else ''
            if ov != exp and of['type'] == 'M':
                # a Visual FoxPro binary M: dbfread decodes it as text, the dump shows its bytes
                try:
                    exp = bytes.fromhex(ov).decode(enc, errors=errors) == ev and ov or exp
                except ValueError:
                    pass
            if ov != exp:
                self.fail('%s: %s..., expected %s...' % (where, ov[:32], exp[:32]))
            return
        mine = engine_bytes(ov, self.ours['oem']).decode(enc, errors=errors)
        if mine != ev:
            dbt4 = self.t.version != 0x83 and self.memo_block_size() is not None
            cut = mine.split('\x1f', 1)[0]
            if dbt4 and ev.startswith(cut) and len(ev) - len(cut) <= 8:
                self.rule('memolen')
                return
            if dbt4 and self.memo_block_size() != 512:
                self.rule('memoblock')
                return
            self.fail('%s: %r, expected %r' % (where, mine[:60], ev[:60]))


def main():
    corpus, dumpdir = sys.argv[1], sys.argv[2]
    for rel in sys.argv[3:]:
        try:
            c = Compare(corpus, dumpdir, rel)
            c.run()
        except Exception as e:  # a comparator fault is a failure of the table, not a crash
            print('FAIL %s: comparator: %s: %s' % (rel, type(e).__name__, e))
            continue
        if c.fails:
            for f in c.fails:
                print('FAIL %s: %s' % (rel, f))
        else:
            print('OK %s %d %d %s' % (rel, len(c.ours['records']), c.values,
                                      ' '.join('%s=%d' % kv for kv in sorted(c.rules.items()))))
    return 0


if __name__ == '__main__':
    sys.exit(main())
