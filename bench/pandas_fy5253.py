#!/usr/bin/env python3
"""Times pandas' FY5253 offset rolling dates forward to their 52/53-week year end
(last Saturday of December, as the 4-4-5 book of the benchmark data) and prints
JSON: {"ns_per_date": ..., "pass_ns": [...], "dates": ..., "passes": ...,
"pandas": version}: the median of several passes, and each pass. Exit 3 when pandas cannot be imported."""
import json
import random
import sys
import time

try:
    import pandas as pd
except ImportError:
    sys.exit(3)

COUNT = 20000
rnd = random.Random(5253)
first = pd.Timestamp("2001-01-01")
dates = [first + pd.Timedelta(days=rnd.randrange(9000)) for _ in range(COUNT)]
offset = pd.offsets.FY5253(weekday=5, startingMonth=12, variation="last")
PASSES = 5
offset.rollforward(dates[0])  # first use outside the timing
times = []
for _ in range(PASSES):
    start = time.process_time()
    for d in dates:
        offset.rollforward(d)
    times.append(time.process_time() - start)
# The median pass, as the library's figure is the median of its repetitions;
# every pass too, so that runs before and after the library's can be pooled.
per_date = [t * 1e9 / COUNT for t in times]
print(json.dumps({"ns_per_date": sorted(per_date)[PASSES // 2], "pass_ns": per_date, "dates": COUNT,
                  "passes": PASSES, "pandas": pd.__version__}))
