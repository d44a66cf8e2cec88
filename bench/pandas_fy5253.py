#!/usr/bin/env python3
"""Times pandas' FY5253 offset rolling dates forward to their 52/53-week year end
(last Saturday of December, as the 4-4-5 book of the benchmark data) and prints
JSON: {"ns_per_date": ..., "dates": ..., "pandas": version}. Exit 3 when pandas
cannot be imported."""
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
offset.rollforward(dates[0])  # first use outside the timing
start = time.process_time()
for d in dates:
    offset.rollforward(d)
elapsed = time.process_time() - start
print(json.dumps({"ns_per_date": elapsed * 1e9 / COUNT, "dates": COUNT, "pandas": pd.__version__}))
