"""Logs in to the sandbox's TDS listener with pytds and pymssql and prints what they read.

Usage: python_clients.py PORT PASSWORD. One line per check, compared by the C++ test.
"""
import sys

import pymssql
import pytds
import pytds.tds_base

port = int(sys.argv[1])
password = sys.argv[2]

SETUP = [
    "CREATE TABLE #t (i INT, b BIGINT, v VARCHAR(20), nv NVARCHAR(20), d DATETIME, f FLOAT, "
    "bt BIT, img IMAGE, nt NTEXT)",
    "INSERT INTO #t VALUES (7, 9000000000, 'Grüße', N'日本語', '2003-01-02 10:20:30.500', 2.5, 1, "
    "0x0102, N'Ωmega')",
    "INSERT INTO #t VALUES (NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)",
]


def check(name, connect):
    conn = connect(password)
    cur = conn.cursor()
    for statement in SETUP:
        cur.execute(statement)
    cur.execute("SELECT * FROM #t ORDER BY i DESC")
    print(name, "rows", cur.fetchall())
    cur.execute("UPDATE #t SET i = 1")
    print(name, "updated", cur.rowcount)
    try:
        cur.execute("RAISERROR('boom %d', 16, 3, 7)")
        print(name, "raiserror not raised")
    except Exception as error:  # each driver has its own class
        print(name, "raiserror", "boom 7" in str(error))
    cur.execute("USE tempdb")
    cur.execute("SELECT DB_NAME()")
    print(name, "database", cur.fetchall())
    conn.close()
    try:
        connect("wrong")
        print(name, "wrong password accepted")
    except Exception as error:
        print(name, "refused", "18456" in repr(error) or "Login failed" in str(error))


def transactions(name, conn):
    """Without autocommit the driver begins, commits and rolls back through the server."""
    cur = conn.cursor()
    cur.execute("CREATE TABLE #x (v INT)")
    conn.commit()
    cur.execute("INSERT INTO #x VALUES (1)")
    conn.rollback()
    cur.execute("INSERT INTO #x VALUES (2)")
    conn.commit()
    cur.execute("SELECT v FROM #x")
    print(name, "transactions", cur.fetchall())
    conn.close()


for label, version in [("default", None), ("7.1", pytds.tds_base.TDS71)]:
    extra = {} if version is None else {"tds_version": version}
    check("pytds-" + label, lambda pw, extra=extra: pytds.connect(
        server="127.0.0.1", port=port, user="sa", password=pw, autocommit=True, **extra))
    transactions("pytds-" + label, pytds.connect(
        server="127.0.0.1", port=port, user="sa", password=password, **extra))
for version in ["7.3", "7.1"]:
    check("pymssql-" + version, lambda pw, version=version: pymssql.connect(
        server="127.0.0.1", port=str(port), user="sa", password=pw, autocommit=True,
        tds_version=version))
