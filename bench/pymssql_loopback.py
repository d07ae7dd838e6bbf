"""pymssql against the sandbox served on loopback, for bench_odbc: SELECT 1 round trips per
second and rows per second of a 100,000-row result.

Usage: pymssql_loopback.py PORT PASSWORD. Prints "ROUND_TRIPS_PER_S ROWS_PER_S".
"""
import sys
import time

import pymssql

port, password = sys.argv[1], sys.argv[2]
conn = pymssql.connect(server="127.0.0.1", port=port, user="sa", password=password,
                       autocommit=True)
cur = conn.cursor()

count = 0
start = time.perf_counter()
while time.perf_counter() - start < 2.0:
    cur.execute("SELECT 1")
    cur.fetchall()
    count += 1
round_trips = count / (time.perf_counter() - start)

cur.execute("CREATE TABLE #rows (id int, name varchar(40), amount float)")
cur.execute("DECLARE @i int SET @i = 0 WHILE @i < 100000 BEGIN INSERT INTO #rows VALUES (@i, "
            "'row number ' + CONVERT(varchar(10), @i), @i * 1.5) SET @i = @i + 1 END")
rows = 0
start = time.perf_counter()
for _ in range(3):
    cur.execute("SELECT id, name, amount FROM #rows")
    rows += len(cur.fetchall())
rows_per_s = rows / (time.perf_counter() - start)
print(f"{round_trips:.0f} {rows_per_s:.0f}")
