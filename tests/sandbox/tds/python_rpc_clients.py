"""Parameterised queries and procedure calls through pytds and pymssql, which send them as RPC.

Usage: python_rpc_clients.py PORT PASSWORD [ODBC_DRIVER]. One line per check, compared by the
C++ test; with the path of FreeTDS's ODBC driver, pyodbc runs its checks too.
"""
import datetime
import decimal
import sys

import pymssql
import pytds
import pytds.tds_base

port = int(sys.argv[1])
password = sys.argv[2]
odbc_driver = sys.argv[3] if len(sys.argv) > 3 and sys.argv[3] else None

HOSTILE = "x'); DROP TABLE rpc_keep; --; ]] \" \u00e9\u65e5"

PROCEDURES = [
    """CREATE PROCEDURE rpc_double @x INT, @label NVARCHAR(40), @y INT OUTPUT,
    @echo NVARCHAR(60) OUTPUT AS
SET @y = @x * 2
SET @echo = @label + N'!'
RETURN 5""",
    """CREATE PROCEDURE rpc_rows @label NVARCHAR(40) AS
SELECT @label AS label UNION ALL SELECT N'second'""",
]


def setup(conn):
    cur = conn.cursor()
    cur.execute("IF OBJECT_ID('rpc_keep') IS NULL CREATE TABLE rpc_keep (v INT)")
    for procedure in PROCEDURES:
        name = procedure.split()[2]
        cur.execute("IF OBJECT_ID('" + name + "') IS NULL EXEC ('" + procedure.replace("'", "''") +
                    "')")
    cur.execute("DELETE FROM rpc_keep")
    cur.execute("INSERT INTO rpc_keep VALUES (1)")


def pytds_checks(name, conn):
    setup(conn)
    cur = conn.cursor()
    # pytds sends a query with parameters as sp_executesql.
    cur.execute(
        "SELECT %s AS i, %s AS t, %s AS n, %s AS d, %s AS dt, %s AS b",
        (7, "Gr\u00fc\u00dfe \u65e5\u672c", None, decimal.Decimal("12.345"),
         datetime.datetime(2003, 1, 2, 10, 20, 30, 500000), 9000000000))
    print(name, "values", cur.fetchall())
    cur.execute("SELECT %s AS v, LEN(%s) AS n", (HOSTILE, HOSTILE))
    row = cur.fetchone()
    print(name, "hostile", row[0] == HOSTILE, row[1] == len(HOSTILE))
    cur.execute("SELECT COUNT(*) FROM rpc_keep")
    print(name, "table kept", cur.fetchall())
    cur.execute("UPDATE rpc_keep SET v = %s WHERE v = %s", (2, 1))
    print(name, "updated", cur.rowcount)
    results = cur.callproc("rpc_double", (21, "h\u00e9llo", pytds.output(param_type=int),
                                          pytds.output(param_type=str)))
    print(name, "proc outputs", results[2:], cur.get_proc_return_status())
    cur.callproc("rpc_rows", ("\u00e9t\u00e9",))
    print(name, "proc rows", cur.fetchall())
    try:
        cur.callproc("rpc_missing", (1,))
        print(name, "missing procedure not reported")
    except pytds.ProgrammingError as error:
        print(name, "missing procedure", "rpc_missing" in str(error))
    # Prepared statements, called by name.
    handle = cur.callproc("sp_prepare", (pytds.output(param_type=int), "@a int, @b nvarchar(10)",
                                         "SELECT @a * 3 AS a, @b + N'?' AS b"))[0]
    for a, b in [(14, "one"), (None, "tw'o")]:
        cur.callproc("sp_execute", (handle, a, b))
        print(name, "prepared", cur.fetchall())
    cur.callproc("sp_unprepare", (handle,))
    try:
        cur.callproc("sp_execute", (handle, 1, "x"))
        print(name, "unprepared handle still runs")
    except pytds.Error as error:
        print(name, "unprepared", "Could not find prepared statement" in str(error))
    conn.close()


def pymssql_checks(name, conn):
    setup(conn)
    cur = conn.cursor()
    # pymssql calls procedures as RPC (it quotes query parameters itself).
    results = cur.callproc("rpc_double", (4, "w", pymssql.output(int), pymssql.output(str)))
    print(name, "proc outputs", results[2:])
    conn.close()


def pyodbc_checks(name, conn):
    """FreeTDS's ODBC driver sends bound parameters as RPC."""
    setup(conn)
    cur = conn.cursor()
    cur.execute("SELECT ? AS i, ? AS t, ? AS n, ? AS d, ? AS dt",
                7, "Gr\u00fc\u00dfe \u65e5\u672c", None, decimal.Decimal("12.345"),
                datetime.datetime(2003, 1, 2, 10, 20, 30, 500000))
    print(name, "values", [tuple(row) for row in cur.fetchall()])
    for value in (HOSTILE, "second"):
        cur.execute("SELECT ?, LEN(?)", value, value)
        row = cur.fetchone()
        print(name, "hostile", row[0] == value, row[1] == len(value))
    cur.execute("SELECT COUNT(*) FROM rpc_keep")
    print(name, "table kept", cur.fetchall()[0][0])
    conn.close()


for label, version in [("default", None), ("7.1", pytds.tds_base.TDS71)]:
    extra = {} if version is None else {"tds_version": version}
    pytds_checks("pytds-" + label, pytds.connect(
        server="127.0.0.1", port=port, user="sa", password=password, autocommit=True, **extra))
for version in ["7.3", "7.1"]:
    pymssql_checks("pymssql-" + version, pymssql.connect(
        server="127.0.0.1", port=str(port), user="sa", password=password, autocommit=True,
        tds_version=version))
if odbc_driver:
    import pyodbc
    for version in ["7.4", "7.1"]:
        pyodbc_checks("pyodbc-" + version, pyodbc.connect(
            "DRIVER={%s};SERVER=127.0.0.1;PORT=%d;UID=sa;PWD={%s};TDS_Version=%s;"
            % (odbc_driver, port, password, version), autocommit=True, timeout=10))
