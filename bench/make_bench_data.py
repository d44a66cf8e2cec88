#!/usr/bin/env python3
"""Writes the benchmark company databases and report rows into a folder.

  make_bench_data.py SCHEMA_SQL OUTDIR [ROWS...]

OUTDIR/built.db   schema 4: calendars built from books and short years
  company 1  start 1990-01-01, year ends in December (book 1: June); book 2 has
             24 short years
  company 2  like company 1 with other year ends: the second company of the
             alternating report
  company 3  book 2 with 1,000 short years; company 4 the same with 10,000
  company 5  one plain book: the company a cold load is measured after
OUTDIR/stored.db  schema 5: one stored calendar per company, book 0's
  company 1..4  calendars of 3, 103, 1,003 and 10,003 cycles
  company 5     one 4-4-5 cycle, years ending on the last Saturday of December
OUTDIR/rows-N.csv for each N in ROWS: company,book,date,cost

The benchmark programs rely on this layout.
"""
import datetime
import os
import random
import sqlite3
import sys


def day(d):
    return d.strftime("%Y-%m-%d 00:00:00")


def books(db, company, ends, calendars=None):
    for book in range(7):
        cal = calendars[book] if calendars and book < len(calendars) else None
        db.execute("INSERT INTO Book VALUES (?, ?, ?, 'T', ?)", (company, book, ends[book], cal))


def short_years(db, company, book, count, first, step_days, rnd):
    d = first
    for i in range(count):
        db.execute("INSERT INTO BookShYr VALUES (?, ?, ?, ?)", (company, book, i + 1, day(d)))
        d += datetime.timedelta(days=step_days + rnd.randrange(step_days))


def built(path, schema, rnd):
    db = sqlite3.connect(path)
    db.executescript(schema)
    db.execute("INSERT INTO VersionTable VALUES (0, 0, '4.1')")
    start = datetime.date(1990, 1, 1)
    for company in (1, 2, 3, 4, 5):
        db.execute("INSERT INTO Company VALUES (?, ?)", (company, day(start)))
    books(db, 1, [12, 6, 12, 12, 12, 12, 12])
    books(db, 2, [3, 9, 6, 12, 12, 12, 12])
    books(db, 3, [12] * 7)
    books(db, 4, [12] * 7)
    books(db, 5, [12] * 7)
    # A short year every one to two years from 1991 to about 2025.
    short_years(db, 1, 2, 24, datetime.date(1991, 3, 15), 400, rnd)
    short_years(db, 2, 2, 24, datetime.date(1991, 5, 20), 400, rnd)
    # Long histories: a short year every 5 to 9 days.
    short_years(db, 3, 2, 1000, datetime.date(1990, 2, 1), 5, rnd)
    short_years(db, 4, 2, 10000, datetime.date(1990, 2, 1), 5, rnd)
    # A consolidated report's 1,000 companies, 1001 to 2000: seven books each,
    # year ends spread over the months, two short years on book 2.
    for company in range(1001, 2001):
        db.execute("INSERT INTO Company VALUES (?, ?)", (company, day(start)))
        books(db, company, [1 + (company + book) % 12 for book in range(7)])
        short_years(db, company, 2, 2, datetime.date(2001, 1 + company % 12, 10), 400, rnd)
    db.commit()
    db.close()


def stored(path, schema, rnd):
    db = sqlite3.connect(path)
    db.executescript(schema)
    db.execute("INSERT INTO VersionTable VALUES (0, 0, '5.0')")
    cycle_id = 0
    # One company per calendar size, its calendar the first of the company and
    # book 0's, so that every lookup finds it at the same place in the list.
    for company, n in ((1, 3), (2, 103), (3, 1003), (4, 10003), (5, 1)):
        db.execute("INSERT INTO Company VALUES (?, ?)", (company, day(datetime.date(1990, 1, 1))))
        books(db, company, [12] * 7, calendars=[1])
        db.execute("INSERT INTO Calendar VALUES (?, 1, ?, 0)", (company, "Cycles %d" % n))
        if company == 5:
            # 4-4-5: years end on the last Saturday of December.
            db.execute("INSERT INTO CycleObject VALUES (5, 1, 1, ?, NULL, 328, 7, 334, 336, 12, 0, 0)",
                       (day(datetime.date(1950, 1, 1)),))
            continue
        # Cycles every few weeks or months, the types and rules mixed; the lookups
        # ask about 2001 to 2025, in the middle of the longest history.
        d = datetime.date(1900, 1, 1) if n > 1000 else datetime.date(1990, 1, 1)
        step = 8 if n > 1000 else 120
        for i in range(n):
            cycle_id += 1
            kind = 327 + rnd.randrange(5)
            db.execute("INSERT INTO CycleObject VALUES (?, 1, ?, ?, NULL, ?, ?, 334, ?, ?, 0, 0)",
                       (company, cycle_id, day(d), kind, 1 + rnd.randrange(7), 336 + rnd.randrange(2),
                        1 + rnd.randrange(12)))
            d += datetime.timedelta(days=step)
    db.commit()
    db.close()


def rows(path, count, rnd):
    first = datetime.date(2001, 1, 1).toordinal()
    with open(path, "w") as out:
        out.write("company,book,date,cost\n")
        for i in range(count):
            d = datetime.date.fromordinal(first + rnd.randrange(9000))
            out.write("1,%d,%s,%d.%02d\n" % (i % 3, d.isoformat(), rnd.randrange(1000000), rnd.randrange(100)))


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    with open(sys.argv[1]) as f:
        schema = f.read()
    out = sys.argv[2]
    os.makedirs(out, exist_ok=True)
    rnd = random.Random(20261207)
    for name, make in (("built.db", built), ("stored.db", stored)):
        target = os.path.join(out, name)
        if os.path.exists(target):
            os.remove(target)
        make(target, schema, rnd)
    for n in sys.argv[3:]:
        rows(os.path.join(out, "rows-%s.csv" % n), int(n), rnd)


if __name__ == "__main__":
    main()
