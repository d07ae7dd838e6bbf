"""Every column type read back by pytds, pymssql and pyodbc, at each client's default protocol
version and at 7.1.

Usage: python_type_clients.py PORT PASSWORD [ODBC_DRIVER]. Prints "NAME types ok" per client, or
one line per value that came back otherwise; compared by the C++ test.
"""
import datetime
import decimal
import sys
import uuid

import pymssql
import pytds
import pytds.tds_base

port = int(sys.argv[1])
password = sys.argv[2]
odbc_driver = sys.argv[3] if len(sys.argv) > 3 and sys.argv[3] else None

D = decimal.Decimal
GUID = "6F9619FF-8B86-D011-B42D-00C04FC964FF"
# (declaration, literal, what the client must read)
CASES = [
    ("TINYINT", "255", 255),
    ("SMALLINT", "-32768", -32768),
    ("INT", "-2147483648", -2147483648),
    ("BIGINT", "9223372036854775807", 9223372036854775807),
    ("BIT", "1", True),
    ("REAL", "2.5", 2.5),
    ("FLOAT", "-1.0E+300", -1.0e300),
    ("DECIMAL(5, 2)", "-123.45", D("-123.45")),
    ("NUMERIC(18, 4)", "0.0001", D("0.0001")),
    ("DECIMAL(38, 10)", "12345.0000000001", D("12345.0000000001")),
    ("NUMERIC(38, 0)", "-123456789012", D("-123456789012")),
    ("MONEY", "922337203685477.5807", D("922337203685477.5807")),
    ("MONEY", "-922337203685477.5808", D("-922337203685477.5808")),
    ("SMALLMONEY", "-214748.3648", D("-214748.3648")),
    ("DATETIME", "'2003-01-02 10:20:30.500'", datetime.datetime(2003, 1, 2, 10, 20, 30, 500000)),
    ("SMALLDATETIME", "'2079-06-06 23:59'", datetime.datetime(2079, 6, 6, 23, 59)),
    ("UNIQUEIDENTIFIER", "'" + GUID + "'", uuid.UUID(GUID)),
    ("CHAR(5)", "'ab'", "ab   "),
    ("VARCHAR(20)", "'Gr\u00fc\u00dfe \u20ac'", "Gr\u00fc\u00dfe \u20ac"),
    ("VARCHAR(10)", "'[x]'';--'", "[x]';--"),
    ("NCHAR(3)", "N'\u03a9'", "\u03a9  "),
    ("NVARCHAR(20)", "N'\u65e5\u672c\U0001F600'", "\u65e5\u672c\U0001F600"),
    ("TEXT", "'caf\u00e9'", "caf\u00e9"),
    ("NTEXT", "N'\u03a9mega'", "\u03a9mega"),
    ("IMAGE", "0x0102FF", b"\x01\x02\xff"),
    ("BINARY(4)", "0xABCD", b"\xab\xcd\x00\x00"),
    ("VARBINARY(10)", "0xABCD", b"\xab\xcd"),
]


def same(got, expected):
    if isinstance(expected, uuid.UUID):
        return got is not None and str(got).upper() == str(expected).upper()
    if isinstance(expected, bytes):
        return isinstance(got, (bytes, bytearray)) and bytes(got) == expected
    if isinstance(expected, bool):
        return got in (True, 1) and not isinstance(got, (str, decimal.Decimal))
    if isinstance(expected, decimal.Decimal):
        return isinstance(got, decimal.Decimal) and got == expected
    return type(got) is type(expected) and got == expected


def check(name, conn):
    cur = conn.cursor()
    columns = ", ".join("c%d %s" % (i, c[0]) for i, c in enumerate(CASES))
    cur.execute("CREATE TABLE #types (" + columns + ")")
    cur.execute("INSERT INTO #types VALUES (" + ", ".join(c[1] for c in CASES) + ")")
    cur.execute("INSERT INTO #types VALUES (" + ", ".join("NULL" for _ in CASES) + ")")
    cur.execute("SELECT * FROM #types WHERE c0 IS NOT NULL")
    values = list(cur.fetchone())
    cur.execute("SELECT * FROM #types WHERE c0 IS NULL")
    nulls = list(cur.fetchone())
    wrong = 0
    for (declaration, literal, expected), got, null in zip(CASES, values, nulls):
        if not same(got, expected):
            wrong += 1
            print(name, declaration, literal, "read as", repr(got))
        if null is not None:
            wrong += 1
            print(name, declaration, "NULL read as", repr(null))
    if wrong == 0:
        print(name, "types ok")
    conn.close()


def procedure_rows(name, conn):
    """A procedure called as RPC that returns rows (its output parameters come after them)."""
    cur = conn.cursor()
    cur.execute("IF OBJECT_ID('types_rows') IS NOT NULL DROP PROCEDURE types_rows")
    cur.execute("EXEC ('CREATE PROCEDURE types_rows "
                "@n INT, @total INT OUTPUT AS SELECT @n AS n, CAST(''caf\u00e9'' AS "
                "VARCHAR(10)) AS v UNION ALL SELECT @n + 1, NULL SET @total = @n * 2 "
                "RETURN 3')")
    cur.callproc("types_rows", (41, pymssql.output(int)))
    # This pymssql reads the procedure's rows as the result after the call's own.
    if cur.description is None:
        cur.nextset()
    print(name, "callproc rows", cur.fetchall())
    conn.close()


for label, version in [("default", None), ("7.1", pytds.tds_base.TDS71)]:
    extra = {} if version is None else {"tds_version": version}
    check("pytds-" + label, pytds.connect(server="127.0.0.1", port=port, user="sa",
                                          password=password, autocommit=True, **extra))
for version in [None, "7.1"]:
    extra = {} if version is None else {"tds_version": version}
    label = "pymssql-" + (version or "default")
    connect = lambda: pymssql.connect(server="127.0.0.1", port=str(port), user="sa",
                                      password=password, autocommit=True, **extra)
    check(label, connect())
    procedure_rows(label, connect())
if odbc_driver:
    import pyodbc
    for version in ["7.4", "7.1"]:
        check("pyodbc-" + version, pyodbc.connect(
            "DRIVER={%s};SERVER=127.0.0.1;PORT=%d;UID=sa;PWD={%s};TDS_Version=%s;"
            % (odbc_driver, port, password, version), autocommit=True, timeout=10))
