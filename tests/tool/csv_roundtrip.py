#!/usr/bin/python3
"""Checks zarbel-dump's CSV of the compatibility corpus against its JSON of the same tables.

    csv_roundtrip.py DUMP_DIR NAME...

For each NAME, DUMP_DIR holds NAME.json (--json), NAME.csv (--csv) and NAME.del.csv (--csv
--deleted). Python's csv module must read each CSV back to the values of the JSON document:
the header row is the field names (plus "deleted"), one row per record (live records only,
or every record with T/F in the last column), each value the JSON value's text (numbers
exactly as JSON writes them, logicals T/F, text without trailing blanks, no value empty). The
bytes must be exactly the RFC 4180 form of those values: CRLF after every row, a field quoted
(quotes doubled) when it holds a comma, a quote, CR or LF, an empty text written "", and so
is a row of one empty field.

Prints "OK NAME rows" or "FAIL NAME: what" per table, then one "COVERAGE" line, and "FAIL
coverage: ..." unless Cyrillic text was read back from three dialects and from a memo field.
"""
import csv
import io
import json
import re
import sys

TEXT_TYPES = {'String', 'FixedChar', 'WideString', 'Memo', 'FmtMemo'}
CYRILLIC = re.compile('[\u0410-\u044f\u0401\u0451]{3}')


def expected_field(value, field):
    """The text Python's csv module must read, and the token the file must hold."""
    if value is None or isinstance(value, dict):  # no value, or a value that failed to read
        return '', ''
    if isinstance(value, bool):
        text = 'T' if value else 'F'
    elif field['data_type'] in TEXT_TYPES and isinstance(value, str):
        text = value.rstrip(' ')
        if text == '':
            return '', '""'
    else:
        text = value  # numbers keep their JSON literal (parsed as strings below)
    if any(c in text for c in ',"\r\n'):
        return text, '"' + text.replace('"', '""') + '"'
    return text, text


def check(base):
    with open(base + '.json', encoding='utf-8') as f:
        doc = json.loads(f.read(), parse_int=str, parse_float=str)
    fields = doc['fields']
    problems = []
    stats = {'cyrillic': False, 'memo_cyrillic': False, 'rows': 0}
    for suffix, with_deleted in (('.csv', False), ('.del.csv', True)):
        raw = open(base + suffix, 'rb').read()
        header = [fd['name'] for fd in fields] + (['deleted'] if with_deleted else [])
        want_rows, want_bytes = [header], [','.join(expected_field(n, {'data_type': 'String'})[1] for n in header)]
        for rec in doc['records']:
            if rec['deleted'] and not with_deleted:
                continue
            row, tokens = [], []
            for value, fd in zip(rec['values'], fields):
                text, token = expected_field(value, fd)
                row.append(text)
                tokens.append(token)
                if CYRILLIC.search(text) and fd['data_type'] in TEXT_TYPES:
                    stats['cyrillic'] = True
                    if fd['data_type'] in ('Memo', 'FmtMemo'):
                        stats['memo_cyrillic'] = True
            if with_deleted:
                row.append('T' if rec['deleted'] else 'F')
                tokens.append(row[-1])
            want_rows.append(row)
            # a row of one empty field is written "", not as an empty line that readers skip
            want_bytes.append('""' if tokens == [''] else ','.join(tokens))
        got_rows = list(csv.reader(io.StringIO(raw.decode('utf-8'), newline=''), strict=True))
        if got_rows != want_rows:
            bad = next((i for i, (a, b) in enumerate(zip(got_rows, want_rows)) if a != b), min(len(got_rows), len(want_rows)))
            problems.append('%s: row %d read back as %r, JSON gives %r' % (
                suffix, bad, got_rows[bad][:8] if bad < len(got_rows) else None,
                want_rows[bad][:8] if bad < len(want_rows) else None))
        expected = ''.join(line + '\r\n' for line in want_bytes).encode('utf-8')
        if raw != expected:
            at = next((i for i, (a, b) in enumerate(zip(raw, expected)) if a != b), min(len(raw), len(expected)))
            problems.append('%s: bytes differ from the RFC 4180 form at %d: %r / %r' % (
                suffix, at, raw[max(0, at - 20):at + 20], expected[max(0, at - 20):at + 20]))
        if with_deleted:
            stats['rows'] = len(want_rows) - 1
    return doc['dialect'], stats, problems


def main():
    csv.field_size_limit(sys.maxsize)
    directory, names = sys.argv[1], sys.argv[2:]
    cyrillic_dialects, memo_cyrillic = set(), []
    for name in names:
        try:
            dialect, stats, problems = check(directory + '/' + name)
        except Exception as e:  # unreadable output is a failure of this table
            print('FAIL %s: %s: %s' % (name, type(e).__name__, e))
            continue
        if problems:
            for p in problems[:3]:
                print('FAIL %s %s' % (name, p))
            continue
        print('OK %s %d' % (name, stats['rows']))
        if stats['cyrillic']:
            cyrillic_dialects.add(dialect)
        if stats['memo_cyrillic']:
            memo_cyrillic.append(name)
    print('COVERAGE cyrillic dialects: %s; cyrillic memo text: %s' % (
        ', '.join(sorted(cyrillic_dialects)), ', '.join(memo_cyrillic)))
    if len(cyrillic_dialects) < 3 or not memo_cyrillic:
        print('FAIL coverage: Cyrillic text from fewer than three dialects, or no Cyrillic memo text')


main()
