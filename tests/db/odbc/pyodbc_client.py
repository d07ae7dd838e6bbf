"""Logs in to the sandbox's TDS listener with pyodbc and FreeTDS's ODBC driver and prints what
it reads.

Usage: pyodbc_client.py DRIVER PORT PASSWORD. One line per check, compared by the C++ test.
"""
import sys

import pyodbc

driver, port, password = sys.argv[1], int(sys.argv[2]), sys.argv[3]

SETUP = [
    "CREATE TABLE #t (i INT, b BIGINT, v VARCHAR(20), nv NVARCHAR(20), d DATETIME, f FLOAT, "
    "bt BIT, img IMAGE, nt NTEXT)",
    "INSERT INTO #t VALUES (7, 9000000000, 'Grüße', N'日本語', '2003-01-02 10:20:30.500', 2.5, 1, "
    "0x0102, N'Ωmega')",
    "INSERT INTO #t VALUES (NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)",
]


def connect(pw, version, autocommit=True):
    # Braces keep ";" and "=" of the password inside the value.
    return pyodbc.connect(
        "DRIVER={%s};SERVER=127.0.0.1;PORT=%d;UID=sa;PWD={%s};TDS_Version=%s;"
        % (driver, port, pw, version), autocommit=autocommit, timeout=10)


def check(name, version):
    conn = connect(password, version)
    cur = conn.cursor()
    for statement in SETUP:
        cur.execute(statement)
    cur.execute("SELECT * FROM #t ORDER BY i DESC")
    print(name, "rows", [tuple(row) for row in cur.fetchall()])
    cur.execute("UPDATE #t SET i = 1")
    print(name, "updated", cur.rowcount)
    try:
        cur.execute("RAISERROR('boom %d', 16, 3, 7)")
        print(name, "raiserror not raised")
    except pyodbc.Error as error:
        print(name, "raiserror", "boom 7" in str(error))
    cur.execute("PRINT 'hello' SELECT 1 AS one")
    print(name, "print", cur.fetchall()[0][0], any("hello" in m[1] for m in cur.messages))
    cur.execute("USE tempdb")
    cur.execute("SELECT DB_NAME()")
    print(name, "database", cur.fetchall()[0][0])
    conn.close()
    try:
        connect("wrong", version)
        print(name, "wrong password accepted")
    except pyodbc.Error as error:
        print(name, "refused", "Login failed" in str(error))
    conn = connect(password, version, autocommit=False)
    cur = conn.cursor()
    cur.execute("CREATE TABLE #x (v INT)")
    conn.commit()
    cur.execute("INSERT INTO #x VALUES (1)")
    conn.rollback()
    cur.execute("INSERT INTO #x VALUES (2)")
    conn.commit()
    cur.execute("SELECT v FROM #x")
    print(name, "transactions", [tuple(row) for row in cur.fetchall()])
    conn.close()


for version in ["7.4", "7.1"]:
    check("pyodbc-" + version, version)
