#!/usr/bin/python3
"""Reads a table with python3-dbfread, taking every field of every record as text (str), as the
engine's read benchmark does; prints one line: records, seconds, records/s, peak RSS in KiB.
Deleted records are read too (dbfread keeps them apart in table.deleted)."""
import resource
import sys
import time

from dbfread import DBF


def main():
    path = sys.argv[1]
    start = time.perf_counter()
    cpu0 = time.process_time()
    table = DBF(path, encoding='cp866', load=False)
    n = 0
    chars = 0
    for records in (table.records, table.deleted):
        for rec in records:
            for v in rec.values():
                chars += len('' if v is None else str(v))
            n += 1
    secs = time.perf_counter() - start
    cpu = time.process_time() - cpu0
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print('dbfread records=%d seconds=%.3f cpu_seconds=%.3f records_per_second=%.0f peak_rss_kib=%d chars=%d'
          % (n, secs, cpu, n / secs, peak, chars))


if __name__ == '__main__':
    main()
