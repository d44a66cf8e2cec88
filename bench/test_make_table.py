#!/usr/bin/env python3
"""Checks bench/make_table.py on made-up benchmark output: which run is the figure
and which the floor, the direction of each target, and the rows left unmeasured."""
import json
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))


def run(name, cpu_ns, **extra):
    r = {"name": name, "run_type": "iteration", "real_time": cpu_ns, "cpu_time": cpu_ns, "time_unit": "ns"}
    r.update(extra)
    return r


def table(fyend, size, pandas=None):
    """The generated table as {measure prefix: row cells}."""
    with tempfile.TemporaryDirectory() as d:
        paths = []
        for name, runs in (("fyend.json", fyend), ("size.json", size)):
            p = os.path.join(d, name)
            with open(p, "w") as f:
                json.dump({"context": {"num_cpus": 2, "load_avg": [1.0, 1.0, 1.0]}, "benchmarks": runs}, f)
            paths.append(p)
        pandas_path = os.path.join(d, "pandas.json")
        with open(pandas_path, "w") as f:
            # One line per run of the pandas script.
            runs = pandas if isinstance(pandas, list) else [pandas] if pandas else []
            f.write("".join(json.dumps(r) + "\n" for r in runs))
        out = os.path.join(d, "README.md")
        subprocess.run([sys.executable, os.path.join(HERE, "make_table.py"), out] + paths + [pandas_path], check=True)
        with open(out) as f:
            text = f.read()
    rows = {}
    for line in text.splitlines():
        if line.startswith("| ") and not line.startswith("| measure"):
            cells = [c.strip() for c in line.strip("|").split("|")]
            rows[cells[0]] = cells
    return rows


def find(rows, prefix):
    hits = [cells for measure, cells in rows.items() if measure.startswith(prefix)]
    assert len(hits) == 1, (prefix, list(rows))
    return hits[0]


FULL_FYEND = [
    run("BM_ZelFYEnd_PlainBook", 300), run("BM_EngineFloor_PlainBook", 100),
    run("BM_ZelFYEnd_ShortYearBook", 150), run("BM_EngineFloor_ShortYearBook", 100),
    run("BM_Report_ThousandCompanies", 3e8, cycling_rows_per_s=900e3, grouped_rows_per_s=1e6,
        company_bytes=16384, engine_cycling_rows_per_s=2.85e6, engine_grouped_rows_per_s=3e6),
    run("BM_ColdLoad/1000", 1.4e6), run("BM_ColdLoadSql/1000", 1e6),
    run("BM_ColdLoad/10000", 2e7), run("BM_ColdLoadSql/10000", 1e7),
    run("BM_Report_Companies", 2e6, alternating_rows_per_s=950e3, grouped_rows_per_s=1e6,
        one_company_rows_per_s=1.2e6),
    run("BM_ReportCallsLoop", 1e6, items_per_second=500e3),
    # ufhost: manual time is the child's CPU; 1e6 rows in 4 s is 250k rows/s.
    # Names as Google Benchmark writes them for fixed iterations and manual time.
    dict(run("BM_UfhostReport/1000000/iterations:1/manual_time", 0, maxrss_MB=30.0), real_time=4e9),
    dict(run("BM_UfhostReport/100000/iterations:1/manual_time", 0, maxrss_MB=20.0), real_time=4e8),
]
FULL_SIZE = [run("BM_ZelFYEnd_Cycles/3", 200), run("BM_ZelFYEnd_Cycles/103", 210),
             run("BM_ZelFYEnd_Cycles/1003", 220), run("BM_ZelFYEnd_Cycles/10003", 500),
             run("BM_ZelFYEnd_FourFourFive", 100)]


class MakeTableTest(unittest.TestCase):
    def test_ratios_and_targets(self):
        rows = table(FULL_FYEND, FULL_SIZE, {"ns_per_date": 20000, "dates": 10, "pandas": "9.9"})
        # (measure prefix, ratio cell, met cell): lower-is-better and higher-is-better targets.
        cases = [
            ("warm `ZelFYEnd` through the export", "3.00×", "no"),
            ("warm `ZelFYEnd`, book with", "1.50×", "yes"),
            ("warm `ZelFYEnd`, stored calendar", "2.50×", "no"),
            ("cold company load, 1,000", "1.40×", "yes"),
            ("cold company load, 10,000", "2.00×", "no"),
            ("report alternating", "95%", "yes"),
            ("`ufhost --report`, 1,000,000", "50%", "yes"),
            ("`ufhost --report` peak memory", "1.50×", "no"),
            ("pandas 9.9", "200.00×", "yes"),
        ]
        for prefix, ratio, met in cases:
            with self.subTest(prefix):
                cells = find(rows, prefix)
                self.assertEqual(ratio, cells[3])
                self.assertEqual(met, cells[5])
        self.assertEqual("250.0k rows/s", find(rows, "`ufhost --report`, 1,000,000")[1])

    def test_alternating_report_is_held_against_the_same_rows_grouped(self):
        cells = find(table(FULL_FYEND, FULL_SIZE), "report alternating")
        self.assertEqual(("950.0k rows/s", "95%", "yes"), (cells[1], cells[3], cells[5]))
        self.assertTrue(cells[2].startswith("the same rows, each company's together"), cells[2])
        self.assertIn("1.00M rows/s", cells[2])
        # A run from before the grouped report: the one-company report is the floor.
        older = [run("BM_Report_Companies", 2e6, alternating_rows_per_s=950e3, one_company_rows_per_s=1.2e6)
                 if r["name"] == "BM_Report_Companies" else r for r in FULL_FYEND]
        cells = find(table(older, FULL_SIZE), "report alternating")
        self.assertEqual(("79%", "no"), (cells[3], cells[5]))
        self.assertTrue(cells[2].startswith("same report, one company"), cells[2])

    def test_thousand_companies_against_the_same_rows_grouped_and_their_footprint(self):
        rows = table(FULL_FYEND, FULL_SIZE)
        cells = find(rows, "report of 100,000 rows")
        self.assertEqual(("900.0k rows/s", "90%", "yes"), (cells[1], cells[3], cells[5]))
        self.assertIn("1.00M rows/s", cells[2])
        # 16 KB a company: 16,384 companies in 256 MB.
        self.assertEqual(["16.0 KB", "16,384 companies", "yes"], [c for i, c in enumerate(find(rows, "memory of one company")) if i in (1, 3, 5)])
        failed = [dict(r, error_occurred=True) if r["name"] == "BM_Report_ThousandCompanies" else r for r in FULL_FYEND]
        self.assertEqual("not measured", find(table(failed, FULL_SIZE), "report of 100,000 rows")[5])
        self.assertEqual("not measured", find(table(failed, FULL_SIZE), "memory of one company")[1])

    def test_ufhost_paired_with_its_loop_when_the_run_has_both(self):
        fyend = [r for r in FULL_FYEND if not r["name"].startswith("BM_UfhostReport/1000000")]
        fyend.append(dict(run("BM_UfhostReport/1000000/iterations:1/manual_time", 0, maxrss_MB=30.0,
                              child_rows_per_s=600e3, loop_rows_per_s=800e3), real_time=4e9))
        cells = find(table(fyend, FULL_SIZE), "`ufhost --report`, 1,000,000")
        # 600k against the paired 800k, not the separate loop's 500k or the manual time's 250k.
        self.assertEqual(["600.0k rows/s", "75%", "yes"], [cells[1], cells[3], cells[5]])
        self.assertEqual("≥ 45%", cells[4])

    def test_harness_alone_bounds_the_report(self):
        fyend = FULL_FYEND + [dict(run("BM_UfhostHarnessAlone/1000000/iterations:1/manual_time", 0,
                                       child_rows_per_s=5e6, loop_rows_per_s=2.5e6), real_time=2e8)]
        cells = find(table(fyend, FULL_SIZE), "the same report on a library")
        # 200 ns a row of harness against 400 ns of calls: at most 400 / 600.
        self.assertEqual(["200 ns a row", "at most 67%", "—"], [cells[1], cells[3], cells[5]])
        self.assertIn("400 ns a row", cells[2])
        self.assertEqual("not measured", find(table(FULL_FYEND, FULL_SIZE), "the same report on a library")[1])

    def test_least_harness_is_the_reachable_share(self):
        fyend = FULL_FYEND + [dict(run("BM_ReportLeastHarness/1000000/iterations:1/manual_time", 0,
                                       least_rows_per_s=2e6, loop_rows_per_s=2.5e6), real_time=5e8)]
        cells = find(table(fyend, FULL_SIZE), "the same report written by hand")
        # 500 ns a row by hand against 400 ns of calls alone: 80%.
        self.assertEqual(["500 ns a row", "80%", "—"], [cells[1], cells[3], cells[5]])
        self.assertIn("400 ns a row", cells[2])
        failed = FULL_FYEND + [dict(run("BM_ReportLeastHarness/1000000/iterations:1/manual_time", 0),
                                    error_occurred=True)]
        self.assertEqual("not measured", find(table(failed, FULL_SIZE), "the same report written by hand")[1])

    def test_least_program_is_the_reachable_share_of_a_report_program(self):
        fyend = FULL_FYEND + [dict(run("BM_ReportLeastProgram/1000000/iterations:1/manual_time", 0,
                                       child_rows_per_s=1.6e6, loop_rows_per_s=2e6), real_time=6e8)]
        rows = table(fyend, FULL_SIZE)
        cells = find(rows, "the same hand-written report as a program")
        # 625 ns a row as a program against 500 ns of calls alone: 80%.
        self.assertEqual(["625 ns a row", "80%", "—"], [cells[1], cells[3], cells[5]])
        self.assertIn("500 ns a row", cells[2])
        # The in-process row is not taken from the program's figures.
        self.assertEqual("not measured", find(rows, "the same report written by hand")[1])

    def test_cold_load_paired_with_its_statements_when_the_run_has_both(self):
        fyend = [r for r in FULL_FYEND if r["name"] != "BM_ColdLoad/10000"]
        fyend.append(dict(run("BM_ColdLoad/10000/manual_time", 9e6), load_ns=5.2e6, statements_ns=4e6))
        cells = find(table(fyend, FULL_SIZE), "cold company load, 10,000")
        # 5.2 ms against the paired 4 ms, not the separate 10 ms statements or the 9 ms manual time.
        self.assertEqual(["5.2 ms", "1.30×", "yes"], [cells[1], cells[3], cells[5]])
        self.assertIn("run in turn with it: 4.0 ms", cells[2])
        # Without the pair, the two benchmarks timed apart: 20 ms against 10 ms.
        self.assertEqual(["2.00×", "no"], [find(table(FULL_FYEND, FULL_SIZE), "cold company load, 10,000")[i]
                                           for i in (3, 5)])

    def test_ufhost_against_the_hand_written_program(self):
        fyend = [r for r in FULL_FYEND if not r["name"].startswith("BM_UfhostReport/1000000")]
        fyend.append(dict(run("BM_UfhostReport/1000000/iterations:1/manual_time", 0, maxrss_MB=30.0,
                              child_rows_per_s=1.5e6, loop_rows_per_s=2e6), real_time=7e8))
        program = dict(run("BM_ReportLeastProgram/1000000/iterations:1/manual_time", 0,
                           child_rows_per_s=2.4e6, loop_rows_per_s=3e6), real_time=4e8)
        cells = find(table(fyend + [program], FULL_SIZE), "`ufhost --report` against the hand-written")
        # 75% of its loop against the program's 80% of its own: 93.75%, the loops' drift taken out.
        self.assertEqual(["667 ns a row", "94%", "—"], [cells[1], cells[3], cells[5]])
        self.assertIn("417 ns a row", cells[2])
        self.assertEqual("not measured", find(table(fyend, FULL_SIZE), "`ufhost --report` against the hand")[1])

    def test_pandas_passes_of_every_run_are_pooled(self):
        runs = [{"ns_per_date": 20000, "pass_ns": [10000, 30000, 20000], "pandas": "9.9"},
                {"ns_per_date": 20000, "pass_ns": [25000, 15000, 40000, 45000], "pandas": "9.9"}]
        # Pooled: 10, 15, 20, 25, 30, 40, 45 µs, median 25 µs against 100 ns.
        self.assertEqual("250.00×", find(table(FULL_FYEND, FULL_SIZE, runs), "pandas 9.9")[3])
        # An even count takes the middle two.
        runs[1]["pass_ns"] = [25000, 15000, 40000]
        self.assertEqual("225.00×", find(table(FULL_FYEND, FULL_SIZE, runs), "pandas 9.9")[3])

    def test_pandas_in_turn_with_zelfyend_when_the_run_has_it(self):
        size = FULL_SIZE + [dict(run("BM_PandasInTurn/iterations:4/manual_time", 11000), pandas_ns=12000,
                                 zelfyend_ns=96)]
        cells = find(table(FULL_FYEND, size, {"ns_per_date": 50000, "pass_ns": [50000], "pandas": "9.9"}),
                     "pandas 9.9")
        # 12 µs against the paired 96 ns, not the script's own 50 µs against the separate 100 ns.
        self.assertEqual(["12.00 µs", "125.00×", "yes"], [cells[1], cells[3], cells[5]])
        self.assertIn("run in turn with it: 96 ns", cells[2])

    def test_missing_and_failed_runs_are_not_measured(self):
        fyend = [r for r in FULL_FYEND if r["name"] != "BM_EngineFloor_PlainBook"]
        fyend = [dict(r, error_occurred=True) if r["name"] == "BM_ColdLoad/1000" else r for r in fyend]
        size = [r for r in FULL_SIZE if r["name"] != "BM_ZelFYEnd_Cycles/10003"]
        rows = table(fyend, size)
        for prefix in ("warm `ZelFYEnd` through the export", "cold company load, 1,000", "warm `ZelFYEnd`, stored",
                       "pandas"):
            with self.subTest(prefix):
                self.assertEqual("not measured", find(rows, prefix)[5])
        self.assertEqual("pandas not available", find(rows, "pandas")[1])
        self.assertEqual("yes", find(rows, "warm `ZelFYEnd`, book with")[5])

    def test_median_of_repetitions_stands_for_the_run(self):
        def median(name, cpu_ns):
            return dict(run(name + "_median", cpu_ns), run_name=name, run_type="aggregate", aggregate_name="median")

        fyend = [r for r in FULL_FYEND if not r["name"].startswith("BM_ZelFYEnd_PlainBook")]
        fyend += [median("BM_ZelFYEnd_PlainBook", 180), dict(median("BM_ZelFYEnd_PlainBook", 900),
                                                             aggregate_name="mean")]
        rows = table(fyend, FULL_SIZE)
        cells = find(rows, "warm `ZelFYEnd` through the export")
        self.assertEqual("1.80×", cells[3])
        self.assertEqual("yes", cells[5])


if __name__ == "__main__":
    unittest.main()
