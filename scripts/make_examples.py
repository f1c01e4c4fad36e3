#!/usr/bin/env python3
"""Makes the sample source tree in examples/sources (run once; the output is committed).

The tables are written byte by byte by dbfgen.py, independently of the engine.
"""
import datetime
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from dbfgen import write_table  # noqa: E402

D = datetime.date


def main(root):
    os.makedirs(os.path.join(root, 'dbase3'), exist_ok=True)
    os.makedirs(os.path.join(root, 'dbase4'), exist_ok=True)
    os.makedirs(os.path.join(root, 'foxpro', 'archive'), exist_ok=True)
    os.makedirs(os.path.join(root, 'clipper'), exist_ok=True)

    # dBase III, Cyrillic text in CP866, one deleted record.
    write_table(os.path.join(root, 'dbase3', 'CLIENTS.DBF'),
                [('NAME', 'C', 30, 0), ('CITY', 'C', 20, 0), ('SUM', 'N', 10, 2),
                 ('BORN', 'D', 8, 0), ('ACTIVE', 'L', 1, 0)],
                [['Иванов Иван Иванович', 'Москва', 1250.5, D(1970, 3, 14), True],
                 ['Петрова Анна', 'Санкт-Петербург', 99.99, D(1985, 11, 2), False],
                 ('*', ['Сидоров (удалён)', 'Тверь', 10.0, D(1990, 1, 1), True]),
                 ['Ёлкин Степан', 'Екатеринбург', None, None, None]],
                dialect='db3')

    # dBase IV with a memo file (.dbt, dBase IV layout).
    write_table(os.path.join(root, 'dbase4', 'NOTES.DBF'),
                [('NAME', 'C', 40, 0), ('NOTE', 'M', 10, 0), ('CREATED', 'D', 8, 0)],
                [['Иванов Иван Иванович', 'Постоянный клиент.\r\nСкидка 5%.', D(2001, 6, 30)],
                 ['Петрова Анна', '', D(2003, 2, 28)],
                 ['Новиков Олег', 'Долг погашен ' + '— ' * 0 + 'полностью.', D(2010, 12, 31)]],
                dialect='db4')

    # FoxPro 2.x with a memo file (.fpt); the field "Sum" differs from SUM only in case.
    write_table(os.path.join(root, 'foxpro', 'archive', 'orders.dbf'),
                [('ORDERNO', 'N', 6, 0), ('Name', 'C', 25, 0), ('Sum', 'N', 12, 2),
                 ('COMMENT', 'M', 10, 0)],
                [[1001, 'Иванов Иван Иванович', 5400.0, 'Доставка курьером'],
                 [1002, 'Смирнова Ольга', 120.75, ''],
                 [1003, 'Кузнецов Пётр', 88000.0, 'Оплата по счёту №17']],
                dialect='fox', memo_block=64)

    # Clipper, with the header end Clipper writes (0x0D 0x00).
    write_table(os.path.join(root, 'clipper', 'STOCK.DBF'),
                [('CODE', 'C', 10, 0), ('NAME', 'C', 30, 0), ('QTY', 'N', 8, 0),
                 ('PRICE', 'N', 12, 2)],
                [['A-001', 'Гвозди 100 мм', 1500, 0.85],
                 ['B-017', 'Шурупы', 320, 2.4]],
                dialect='clipper')

    # A file that is not a table at all: it fails to open and the merge goes on.
    with open(os.path.join(root, 'clipper', 'BROKEN.DBF'), 'wb') as f:
        f.write('Это не таблица, а текстовый файл.\r\n'.encode('cp866'))


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'examples/sources')
