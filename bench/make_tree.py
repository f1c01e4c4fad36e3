#!/usr/bin/env python3
"""Generates the merge benchmark's source tree: TABLES tables x RECORDS records.

Several dialects (dBase III, dBase IV with memo, FoxPro with memo, Clipper),
memo fields and Cyrillic text in CP866, spread over nested directories.
Usage: make_tree.py DIR [TABLES] [RECORDS] [wide]
"wide": only the memo dialects, five more C(100) fields (records of about 600 bytes) and a
memo value in three records of four.
"""
import datetime
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'scripts'))
from dbfgen import write_table  # noqa: E402

NAMES = ['Иванов', 'Петров', 'Сидоров', 'Кузнецов', 'Смирнова', 'Попова', 'Ёлкин', 'Соколов',
         'Lebedev', 'Kozlov', 'Новиков', 'Морозова']
CITIES = ['Москва', 'Тверь', 'Казань', 'Омск', 'Пермь', 'Samara', 'Уфа', 'Сочи']
DIALECTS = ['db3', 'db4', 'fox', 'clipper']


def main(root, tables=200, records=5000, wide=False):
    rnd = random.Random(20261208)
    base = datetime.date(1950, 1, 1)
    for t in range(tables):
        dialect = ('db4', 'fox')[t % 2] if wide else DIALECTS[t % 4]
        sub = os.path.join(root, 'dir%02d' % (t % 10), dialect)
        os.makedirs(sub, exist_ok=True)
        fields = [('ID', 'N', 9, 0), ('NAME', 'C', 40, 0), ('CITY', 'C', 20, 0),
                  ('AMOUNT', 'N', 12, 2), ('BORN', 'D', 8, 0), ('ACTIVE', 'L', 1, 0)]
        with_memo = dialect in ('db4', 'fox')
        if with_memo:
            fields.append(('NOTE', 'M', 10, 0))
        if t % 5 == 0:
            fields.append(('EXTRA%d' % (t % 3), 'C', 15, 0))
        if wide:
            fields += [('TEXT%d' % k, 'C', 100, 0) for k in range(5)]
        recs = []
        for r in range(records):
            row = [t * records + r,
                   '%s %s' % (rnd.choice(NAMES), rnd.choice(NAMES)),
                   rnd.choice(CITIES),
                   round(rnd.uniform(-99999, 99999), 2),
                   base + datetime.timedelta(days=rnd.randrange(25000)),
                   rnd.random() < 0.5]
            if with_memo:
                empty = (r % 4 == 0) if wide else (r % 3 != 0)
                row.append('' if empty else 'Заметка №%d: %s' % (r, rnd.choice(CITIES) * 3))
            if t % 5 == 0:
                row.append('доп. %d' % r)
            if wide:
                row += ['%s %d' % (rnd.choice(CITIES) * 6, r + k) for k in range(5)]
            recs.append(row)
        write_table(os.path.join(sub, 'T%03d.DBF' % t), fields, recs, dialect=dialect,
                    memo_block=64 if dialect == 'fox' else 512)


if __name__ == '__main__':
    a = sys.argv[1:]
    main(a[0], int(a[1]) if len(a) > 1 else 200, int(a[2]) if len(a) > 2 else 5000,
         len(a) > 3 and a[3] == 'wide')
