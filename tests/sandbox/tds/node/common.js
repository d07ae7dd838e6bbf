'use strict';
// What the Node clients' checks share: the statements they send and how a value is printed, so
// the C++ test compares one text for every client and version.

const HOSTILE = "x'); DROP TABLE node_keep; --; ]] \" \u00e9\u65e5\u672c [x]";
const LONG = '\u00e9'.repeat(5000);

const SETUP = [
  'CREATE TABLE #t (i INT, b BIGINT, v VARCHAR(20), nv NVARCHAR(20), d DATETIME, f FLOAT, ' +
    'bt BIT, img IMAGE, nt NTEXT)',
  "INSERT INTO #t VALUES (7, 9000000000, 'Gr\u00fc\u00dfe', N'\u65e5\u672c\u8a9e', " +
    "'2003-01-02 10:20:30.500', 2.5, 1, 0x0102, N'\u03a9mega')",
  'INSERT INTO #t VALUES (NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)',
];
const SELECT_ROWS = 'SELECT * FROM #t ORDER BY i DESC';
const SELECT_PARAMETERS =
  'SELECT @i AS i, @b AS b, @t AS t, @v AS v, @n AS n, @d AS d, @bit AS bit, LEN(@t) AS l';

// A procedure with an output parameter and a return status, and a table that a hostile
// parameter must leave alone.
const PROCEDURE =
  'CREATE PROCEDURE node_double @x INT, @label NVARCHAR(40), @y INT OUTPUT, ' +
  '@echo NVARCHAR(60) OUTPUT AS\n' +
  "SET @y = @x * 2\nSET @echo = @label + N'!'\nPRINT 'in node_double'\nRETURN 5";
const PREPARE = [
  "IF OBJECT_ID('node_keep') IS NULL CREATE TABLE node_keep (v INT)",
  'DELETE FROM node_keep',
  'INSERT INTO node_keep VALUES (1)',
  "IF OBJECT_ID('node_double') IS NOT NULL DROP PROCEDURE node_double",
];

// Dates as UTC text, binary as hex, so that every value has one printed form.
function show(value) {
  return JSON.stringify(value, (key, v) => {
    const buffer = v && v.type === 'Buffer' && Array.isArray(v.data);
    return buffer ? '0x' + Buffer.from(v.data).toString('hex') : v;
  });
}

// Runs checks in order and prints one line per check; a check that throws prints its error
// and the rest still run.
async function runChecks(name, checks) {
  for (const [label, check] of checks) {
    let result;
    try {
      result = await check();
    } catch (error) {
      result = 'failed: ' + (error && error.message);
      if (error && error.number) result += ' ' + error.number;
    }
    console.log(name + ' ' + label + ' ' + (typeof result === 'string' ? result : show(result)));
  }
}

module.exports = {
  HOSTILE, LONG, SETUP, SELECT_ROWS, SELECT_PARAMETERS, PROCEDURE, PREPARE, show, runChecks,
};
