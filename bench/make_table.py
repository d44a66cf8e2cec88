#!/usr/bin/env python3
"""Writes bench/README.md from one benchmark run.

  make_table.py OUT.md FYEND.json SIZE.json [PANDAS.json]

FYEND.json and SIZE.json: Google Benchmark JSON output of bench_fyend and
bench_calendar_size; PANDAS.json: the line bench/pandas_fy5253.py printed (absent
or empty when pandas was not available). Each row of the table is a measure, its
figure, the floor measured in the same run, their ratio and the target.
"""
import datetime
import json
import os
import platform
import subprocess
import sys

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def base_name(name):
    """The benchmark's name and argument without the options Google Benchmark appends."""
    parts = name.split("/")
    while len(parts) > 1 and (parts[-1] in ("manual_time", "real_time") or parts[-1].startswith("iterations:")
                              or parts[-1].startswith("repeats:") or parts[-1].startswith("min_time:")):
        parts.pop()
    return "/".join(parts)


def load(path):
    with open(path) as f:
        data = json.load(f)
    runs = {}
    for b in data.get("benchmarks", []):
        if b.get("run_type", "iteration") == "iteration":
            runs.setdefault(base_name(b["name"]), b)
    # Repeated benchmarks: the median of the repetitions stands for the run.
    for b in data.get("benchmarks", []):
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") == "median":
            runs[base_name(b["run_name"])] = b
    return data.get("context", {}), runs


def load_pandas(path):
    """pandas' time per date: the median of every pass of every line the script
    printed (one line per run); None when it did not run."""
    if not path or not os.path.exists(path):
        return None
    runs = []
    with open(path) as f:
        for line in f:
            if line.strip():
                runs.append(json.loads(line))
    if not runs:
        return None
    passes = sorted(t for r in runs for t in r.get("pass_ns", [r["ns_per_date"]]))
    n = len(passes)
    median = passes[n // 2] if n % 2 else (passes[n // 2 - 1] + passes[n // 2]) / 2
    return {"ns_per_date": median, "pandas": runs[0].get("pandas", "?"), "passes": n}


def ns(run, manual=False):
    """A run's time per iteration in ns: CPU time, or the manual time for child runs."""
    if run is None or run.get("error_occurred"):
        return None
    value = run["real_time"] if manual else run["cpu_time"]
    return value * UNIT_NS[run.get("time_unit", "ns")]


def fmt_time(v):
    if v is None:
        return "not measured"
    if v < 1e3:
        return "%.0f ns" % v
    if v < 1e6:
        return "%.2f µs" % (v / 1e3)
    if v < 1e9:
        return "%.1f ms" % (v / 1e6)
    return "%.2f s" % (v / 1e9)


def fmt_rate(v):
    if v is None:
        return "not measured"
    if v >= 1e6:
        return "%.2fM rows/s" % (v / 1e6)
    return "%.1fk rows/s" % (v / 1e3)


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def git_commit(root):
    try:
        return subprocess.run(["git", "-C", root, "rev-parse", "--short", "HEAD"], capture_output=True, text=True,
                              check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "unknown"


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    out, fyend_path, size_path = sys.argv[1:4]
    pandas_path = sys.argv[4] if len(sys.argv) > 4 else None
    context, fy = load(fyend_path)
    _, size = load(size_path)
    pandas = load_pandas(pandas_path)

    rows = []  # measure, figure, floor, ratio text, target, met

    def ratio_row(measure, figure, floor, floor_text, target_text, limit, higher_is_better=False, fmt=fmt_time,
                  percent=False):
        if figure is None or floor is None or floor == 0:
            rows.append((measure, fmt(figure), floor_text % fmt(floor), "—", target_text, "not measured"))
            return
        r = figure / floor
        text = "%.0f%%" % (r * 100) if percent else "%.2f×" % r
        met = r >= limit if higher_is_better else r <= limit
        rows.append((measure, fmt(figure), floor_text % fmt(floor), text, target_text, "yes" if met else "no"))

    ratio_row("warm `ZelFYEnd` through the export, plain book", ns(fy.get("BM_ZelFYEnd_PlainBook")),
              ns(fy.get("BM_EngineFloor_PlainBook")), "engine `GetFiscalYear` + `get_YREndDate`: %s", "≤ 2×", 2.0)
    ratio_row("warm `ZelFYEnd`, book with 24 short years", ns(fy.get("BM_ZelFYEnd_ShortYearBook")),
              ns(fy.get("BM_EngineFloor_ShortYearBook")), "engine, same calendar: %s", "≤ 2×", 2.0)
    cycles = [ns(size.get("BM_ZelFYEnd_Cycles/%d" % n)) for n in (3, 103, 1003, 10003)]
    if None not in cycles:
        r = cycles[3] / cycles[0]
        rows.append(("warm `ZelFYEnd`, stored calendar of 3 / 103 / 1,003 / 10,003 cycles",
                     " / ".join(fmt_time(c) for c in cycles), "3 cycles: %s" % fmt_time(cycles[0]), "%.2f×" % r,
                     "10,003 ≤ 2× of 3", "yes" if r <= 2.0 else "no"))
    else:
        rows.append(("warm `ZelFYEnd`, stored calendar of 3 / 103 / 1,003 / 10,003 cycles", "not measured", "—", "—",
                     "10,003 ≤ 2× of 3", "not measured"))
    for n in (1000, 10000):
        cold = fy.get("BM_ColdLoad/%d" % n)
        label = "cold company load, %s short years" % format(n, ",")
        if cold and not cold.get("error_occurred") and cold.get("load_ns") and cold.get("statements_ns"):
            # Each load and its statements were timed in turn: the pair's figures.
            ratio_row(label, cold["load_ns"], cold["statements_ns"],
                      "its statements through ODBC, run in turn with it: %s", "≤ 1.5×", 1.5)
        else:
            ratio_row(label, ns(cold), ns(fy.get("BM_ColdLoadSql/%d" % n)), "its statements through ODBC: %s",
                      "≤ 1.5×", 1.5)
    pair = fy.get("BM_Report_Companies")
    ok = pair and not pair.get("error_occurred")
    # The floor is the same rows with each company's together; a run from before
    # that floor was timed has only the one-company report.
    grouped = ok and pair.get("grouped_rows_per_s") or None
    one_company = ok and pair.get("one_company_rows_per_s") or None
    ratio_row("report alternating two companies row by row (direct calls)",
              ok and pair.get("alternating_rows_per_s") or None, grouped or one_company,
              "the same rows, each company's together, run in turn with it: %s" if grouped
              else "same report, one company, run in turn with it: %s", "≥ 90%", 0.9, higher_is_better=True,
              fmt=fmt_rate, percent=True)
    thousand = fy.get("BM_Report_ThousandCompanies")
    ok = thousand and not thousand.get("error_occurred")
    ratio_row("report of 100,000 rows of one book cycling 1,000 companies row by row (direct calls)",
              ok and thousand.get("cycling_rows_per_s") or None, ok and thousand.get("grouped_rows_per_s") or None,
              "the same rows, each company's together, run in turn with it: %s", "≥ 90%", 0.9,
              higher_is_better=True, fmt=fmt_rate, percent=True)
    company_bytes = ok and thousand.get("company_bytes") or None
    engine_cycling = ok and thousand.get("engine_cycling_rows_per_s") or None
    engine_grouped = ok and thousand.get("engine_grouped_rows_per_s") or None
    rows.append(("memory of one company kept for the job (seven calendars, two short years), heap in use",
                 "%.1f KB" % (company_bytes / 1024) if company_bytes else "not measured",
                 "the job's budget: 256 MB", "%s companies" % format(int(256 * 2**20 / company_bytes), ",")
                 if company_bytes else "—", "thousands of companies", "yes" if company_bytes and
                 256 * 2**20 / company_bytes >= 2000 else "no"))
    host, loop = fy.get("BM_UfhostReport/1000000"), fy.get("BM_ReportCallsLoop")
    if host and not host.get("error_occurred") and host.get("loop_rows_per_s"):
        # Each child run was followed by the plain loop over as many rows: the pair's figures.
        host_rate, loop_rate = host.get("child_rows_per_s"), host["loop_rows_per_s"]
        loop_text = "the same calls in a plain loop, run in turn with it: %s"
    else:
        host_rate = 1e6 / (ns(host, manual=True) / 1e9) if ns(host, manual=True) else None
        loop_rate = loop and not loop.get("error_occurred") and loop["items_per_second"] or None
        loop_text = "the same calls in a plain loop: %s"
    ratio_row("`ufhost --report`, 1,000,000 rows (`ZelFYEnd`, `ZelCalYEnd`, `ZelNum`), CPU of the child", host_rate,
              loop_rate, loop_text, "≥ 45%", 0.45, higher_is_better=True, fmt=fmt_rate, percent=True)
    # The same template on calls that do next to nothing: the harness's own
    # cost per row, and the share of the loop's rate that ufhost can reach at
    # most while the harness costs that much: loop ÷ (loop + harness alone).
    alone = fy.get("BM_UfhostHarnessAlone/1000000")
    if alone and not alone.get("error_occurred") and alone.get("child_rows_per_s") and alone.get("loop_rows_per_s"):
        harness_ns, alone_loop_ns = 1e9 / alone["child_rows_per_s"], 1e9 / alone["loop_rows_per_s"]
        rows.append(("the same report on a library whose three calls only hand an argument back: the harness alone",
                     "%.0f ns a row" % harness_ns,
                     "the real calls in a plain loop, run in turn with it: %.0f ns a row" % alone_loop_ns,
                     "at most %.0f%%" % (100 * alone_loop_ns / (alone_loop_ns + harness_ns)),
                     "(the most the row above can reach)", "—"))
    else:
        rows.append(("the same report on a library whose three calls only hand an argument back: the harness alone",
                     "not measured", "—", "—", "(the most the row above can reach)", "—"))
    # The same report written by hand for its one template, doing only what
    # every row needs: what any harness can reach at most, loop ÷ least; first
    # inside the benchmark program, then as a program of its own, as ufhost runs.
    least_work = ("the same report written by hand for its one template, only the work each row needs"
                  " (read and split the line, size and guard the buffers, check them, write the text)")
    for name, rate, label, bound in (
            ("BM_ReportLeastHarness/1000000", "least_rows_per_s", least_work,
             "(the most a harness with these checks can reach)"),
            ("BM_ReportLeastProgram/1000000", "child_rows_per_s",
             "the same hand-written report as a program of its own, CPU of the child (its start, loading the"
             " library and the engine, the first company load and its ending included, as for `ufhost`)",
             "(the most a report program with these checks can reach)")):
        least = fy.get(name)
        if least and not least.get("error_occurred") and least.get(rate) and least.get("loop_rows_per_s"):
            least_ns, least_loop_ns = 1e9 / least[rate], 1e9 / least["loop_rows_per_s"]
            rows.append((label, "%.0f ns a row" % least_ns,
                         "the same calls in a plain loop, run in turn with it: %.0f ns a row" % least_loop_ns,
                         "%.0f%%" % (100 * least_loop_ns / least_ns), bound, "—"))
        else:
            rows.append((label, "not measured", "—", "—", bound, "—"))
    # ufhost measured against the hand-written program instead of the bare calls:
    # both are programs of their own, each taken against the loop run in turn
    # with it, so that a drift of the machine between the two cancels out.
    program = fy.get("BM_ReportLeastProgram/1000000")
    against_label = "`ufhost --report` against the hand-written program (each as a share of its own loop)"
    if (host_rate and loop_rate and program and not program.get("error_occurred")
            and program.get("child_rows_per_s") and program.get("loop_rows_per_s")):
        share = (host_rate / loop_rate) / (program["child_rows_per_s"] / program["loop_rows_per_s"])
        rows.append((against_label, "%.0f ns a row" % (1e9 / host_rate),
                     "the hand-written program: %.0f ns a row" % (1e9 / program["child_rows_per_s"]),
                     "%.0f%%" % (100 * share), "(the report row with the hand-written program as its floor)", "—"))
    else:
        rows.append((against_label, "not measured", "—", "—",
                     "(the report row with the hand-written program as its floor)", "—"))
    small = fy.get("BM_UfhostReport/100000")
    mem_small = small and not small.get("error_occurred") and small.get("maxrss_MB") or None
    mem_big = host and not host.get("error_occurred") and host.get("maxrss_MB") or None
    ratio_row("`ufhost --report` peak memory, 1,000,000 vs 100,000 rows", mem_big, mem_small, "100,000 rows: %s",
              "flat (≤ 1.1×)", 1.1, fmt=lambda v: "not measured" if v is None else "%.1f MB" % v)
    four = ns(size.get("BM_ZelFYEnd_FourFourFive"))
    # pandas run in turn with ZelFYEnd inside bench_calendar_size: the pair's figures.
    in_turn = size.get("BM_PandasInTurn")
    if in_turn and not in_turn.get("error_occurred") and in_turn.get("pandas_ns") and in_turn.get("zelfyend_ns"):
        ratio_row("pandas %s `FY5253` rollforward per date vs warm `ZelFYEnd`, 4-4-5 book"
                  % (pandas["pandas"] if pandas else "?"), in_turn["pandas_ns"], in_turn["zelfyend_ns"],
                  "`ZelFYEnd`, run in turn with it: %s", "pandas ≥ 100× slower", 100.0, higher_is_better=True)
    elif pandas is None:
        rows.append(("pandas `FY5253` rollforward per date vs warm `ZelFYEnd`, 4-4-5 book", "pandas not available",
                     fmt_time(four), "—", "pandas ≥ 100× slower", "not measured"))
    else:
        ratio_row("pandas %s `FY5253` rollforward per date vs warm `ZelFYEnd`, 4-4-5 book" % pandas["pandas"],
                  pandas["ns_per_date"], four, "`ZelFYEnd`: %s", "pandas ≥ 100× slower", 100.0,
                  higher_is_better=True)

    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    lines = [
        "# Benchmarks",
        "",
        "Generated by `bench/make_table.py` from the run of `bash scripts/bench.sh`; do not edit by hand.",
        "",
        "Machine: %s, %s logical CPUs, %s; load average at the start %s; run %s at commit %s;"
        " %s build of the library." % (
            cpu_model(), context.get("num_cpus", os.cpu_count()), platform.platform(),
            " / ".join("%.1f" % x for x in context.get("load_avg", [])) or "unknown",
            context.get("date", datetime.datetime.now().isoformat()), git_commit(root),
            os.environ.get("BENCH_BUILD_TYPE", "unknown")),
        "",
        "Times are CPU time per call or per load (the child's CPU time for `ufhost`), the median",
        "of the repetitions where a benchmark is repeated; each ratio is taken against its floor",
        "measured in the same run.",
        "",
        "| measure | figure | floor | ratio | target | met? |",
        "|---|---|---|---|---|---|",
    ]
    for r in rows:
        lines.append("| " + " | ".join(r) + " |")
    lines += [
        "",
        "A warm `ZelFYEnd` makes the floor's two engine calls and no other: the calendar each",
        "book slot resolves to (found once in the job by walking the company's calendars for its",
        "CalendarID, or the last calendar when none matches) is kept for the job, so neither the",
        "walk, its attribute reads nor the cycle-list calls are repeated. What the export costs",
        "beyond the floor is the export itself: the parameter block, the date conversion (from",
        "15 October 1582 on, where the host and the engine count the same days, the host's day",
        "number less a constant, not split into year, month and day and built again), the",
        "company and slot checks.",
        "",
        "The consolidated report's 1,000 companies (1001 to 2000, seven books each, two short",
        "years on book 2) are all read once by a first pass, then the 100,000 rows of book 0 run",
        "in the two orders in turn; both must give the same answers. The heap's growth over that",
        "first pass, per company, is the company's footprint; the job keeps companies up to a",
        "budget of 256 MB of estimated footprint and drops the least recently used beyond it.",
    ] + ([
        "The same two orders on the engine alone (the 1,000 book-0 calendars built in the engine",
        "by the benchmark, one after another, each row the floor's two calls) did %s row by row" %
        fmt_rate(engine_cycling),
        "and %s grouped (%.0f%%): a new calendar every row costs the engine little when its" %
        (fmt_rate(engine_grouped), 100 * engine_cycling / engine_grouped),
        "calendars lie together, more when, as in the library, each lies among its company's",
        "other calendars and cycles. A company's entry in the job is one cache line, kept with",
        "its neighbours in company order, and each book slot's calendars lie together apart from",
        "the entries, so a change of company reads one line of the library's own. The engine's",
        "calendar is aligned to a cache line and keeps what a warm lookup reads inside itself:",
        "the fiscal year it lends and its first cycle's rule. A new calendar every row reads",
        "three lines of it, all found from its address at once (callgrind's cache simulation,",
        "32 KB and 1 MB caches: 3.0 first-level read misses a row more than the grouped order,",
        "6.1 when the year and the rules lay in blocks of their own). What the cycling order",
        "still loses is about one trip a row to the second-level cache for a calendar that",
        "lies among its company's other calendars.",
    ] if engine_cycling and engine_grouped else []) + [
        "",
        "Where `ufhost --report` spends its time: the harness alone runs the same template on a",
        "library whose calls do next to nothing. The report written by hand does, in the benchmark",
        "program, only what every row of this one template needs: it reads the CSV in 64 KB blocks",
        "and splits each line at its commas, passes the cost in a buffer between 64-byte guards,",
        "asks `ZelNumStringRetSize` for the result's size and fills that buffer, makes the three",
        "calls, checks their codes, the guards, the argument and the result's NUL, and writes the",
        "line into 64 KB blocks. It must write what `ufhost` writes for the same rows before it is",
        "timed, and it starts no process. A harness that makes these calls with these checks does",
        "no less, so its ratio is the most such a harness can reach. Run as a program of its own",
        "(`least_report`), as `ufhost` runs, it also pays what every report program pays: its start,",
        "loading the library, the engine and the ODBC driver, the first company load, and its ending.",
        "",
        "Why the library's calls take longer inside `ufhost` than in the plain loop: the code a row",
        "runs, `ufhost`'s and the library's together, does not fit the first-level instruction cache.",
        "Callgrind's cache simulation (32 KB, 8-way) counts 31 instruction-cache misses a row for",
        "`ufhost` on the real library, 0.07 for `ufhost` on the null library and 0.6 for `least_report`",
        "on the real library. About 22 KB of code runs on every row: 9 KB of it `ufhost`'s own (the",
        "call path with its guards, the CSV reader, the field readings, the dates), 6 KB the standard",
        "library's number conversions (the library's `ZelNum` and the report's number fields), and",
        "6 KB the library and the engine. Reading the fields where they lie in the CSV reader's",
        "buffer, instead of copying each into a string of its own, halved these misses (59 a row).",
        "",
    ] + ([
        "The alternating report's floor is the same 1,000 rows with each company's rows together:",
        "the same calls and the same answers, with one change of company instead of one a row. The",
        "report on the first company alone, run in turn with both, did %s; the second" % fmt_rate(one_company),
        "company's year ends take a little longer to find than the first's.",
        "",
    ] if grouped and one_company else []) + [
        "The programs: `bench_fyend` (calendars built from books and short years, cold loads, the",
        "alternating report, `ufhost --report` and `least_report` as child processes),",
        "`bench_calendar_size` (stored calendars), `bench_functions` (the formula functions alone),",
        "`pandas_fy5253.py`. The data comes from `make_bench_data.py`.",
        "",
        "The book with short years is book 2: the first lookup walks the company's calendars by",
        "their CalendarID attribute and finds its calendar third, the plain book's first. The",
        "stored calendars of each size are each the first (and only) calendar of their company.",
        "",
    ]
    with open(out, "w") as f:
        f.write("\n".join(lines))


if __name__ == "__main__":
    main()
