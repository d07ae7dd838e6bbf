'use strict';
// Logs in to the sandbox's TDS listener with mssql (over tedious), at the version it asks for
// by default and at 7.1, and prints what it reads.
// Usage: node mssql_client.js PORT PASSWORD. One line per check, compared by the C++ test.

const sql = require('mssql');
const common = require('./common');

const port = Number(process.argv[2]);
const password = process.argv[3];

function pool(secret, tdsVersion) {
  const options = { encrypt: false, maxRetriesOnTransientErrors: 0 };
  if (tdsVersion) options.tdsVersion = tdsVersion;
  // One connection, so that #tables and USE last from one request to the next.
  return new sql.ConnectionPool({
    server: '127.0.0.1',
    port,
    user: 'sa',
    password: secret,
    options,
    connectionTimeout: 10000,
    requestTimeout: 30000,
    pool: { min: 0, max: 1 },
  }).connect();
}

// A request's messages (PRINT and the like) as well as its result.
async function run(request, call) {
  const messages = [];
  request.on('info', (info) => messages.push(info.message));
  const result = await call(request);
  return { result, messages };
}

function failure(error) {
  const { name, number, state, message } = error;
  return { name, number, state, class: error.class, message };
}

async function checks(name, tdsVersion) {
  const db = await pool(password, tdsVersion);
  await common.runChecks(name, [
    ['version', async () => {
      const conn = await db.acquire();
      db.release(conn);
      return conn.config.options.tdsVersion;
    }],
    ['rows', async () => {
      for (const statement of common.SETUP) await db.request().batch(statement);
      const result = await db.request().query(common.SELECT_ROWS);
      return [result.recordset.columns.nv.type === sql.NVarChar, result.recordsets];
    }],
    ['updated', async () => (await db.request().query('UPDATE #t SET i = 1')).rowsAffected],
    ['print', async () => {
      const { messages } = await run(db.request(), (r) => r.batch("PRINT 'hello there' SELECT 1"));
      return messages;
    }],
    ['raiserror', async () => {
      try {
        await db.request().batch("RAISERROR('boom %d', 16, 3, 7)");
        return 'not raised';
      } catch (error) {
        return failure(error);
      }
    }],
    ['database', async () => {
      const use = await run(db.request(), (r) => r.batch('USE tempdb'));
      const here = await db.request().query('SELECT DB_NAME() AS here');
      await db.request().batch('USE master');
      return [use.messages, here.recordset];
    }],
    ['parameters', async () => {
      for (const statement of common.PREPARE) await db.request().batch(statement);
      const result = await db.request()
        .input('i', sql.Int, 7)
        .input('b', sql.BigInt, 9000000000)
        .input('t', sql.NVarChar, common.HOSTILE)
        .input('v', sql.VarChar(20), 'Gr\u00fc\u00dfe')
        .input('n', sql.NVarChar, null)
        .input('d', sql.DateTime, new Date(Date.UTC(2003, 0, 2, 10, 20, 30, 500)))
        .input('bit', sql.Bit, true)
        .query(common.SELECT_PARAMETERS);
      return result.recordset;
    }],
    ['long', async () => {
      // mssql sends any long text as nvarchar(max), which 7.1 does not have; its longest
      // nvarchar there is 4000 characters.
      const text = tdsVersion === '7_1' ? common.LONG.slice(0, 4000) : common.LONG;
      const type = tdsVersion === '7_1' ? sql.NVarChar(4000) : sql.NVarChar(sql.MAX);
      const result = await db.request().input('t', type, text)
        .query('SELECT @t AS t, LEN(@t) AS l');
      return [result.recordset[0].t === text, result.recordset[0].l];
    }],
    ['table kept', async () => {
      return (await db.request().query('SELECT COUNT(*) AS n FROM node_keep')).recordset;
    }],
    ['parameter update', async () => {
      const result = await db.request().input('a', sql.Int, 2).input('b', sql.Int, 1)
        .query('UPDATE node_keep SET v = @a WHERE v = @b');
      return result.rowsAffected;
    }],
    ['procedure', async () => {
      await db.request().batch(common.PROCEDURE);
      const { result, messages } = await run(db.request(), (r) => r
        .input('x', sql.Int, 21)
        .input('label', sql.NVarChar(40), 'h\u00e9llo')
        .output('y', sql.Int)
        .output('echo', sql.NVarChar(60))
        .execute('node_double'));
      return [result.output, result.returnValue, messages];
    }],
    ['missing procedure', async () => {
      try {
        await db.request().input('x', sql.Int, 1).execute('node_missing');
        return 'not raised';
      } catch (error) {
        return failure(error);
      }
    }],
    ['transactions', async () => {
      await db.request().batch('CREATE TABLE #x (v INT)');
      const rolledBack = new sql.Transaction(db);
      await rolledBack.begin();
      const inside = await new sql.Request(rolledBack)
        .query('INSERT INTO #x VALUES (1) SELECT @@TRANCOUNT AS n');
      await rolledBack.rollback();
      const committed = new sql.Transaction(db);
      await committed.begin();
      await new sql.Request(committed).query('INSERT INTO #x VALUES (2)');
      await committed.commit();
      const after = await db.request().query('SELECT v, @@TRANCOUNT AS n FROM #x');
      return [inside.recordset, after.recordset];
    }],
  ]);
  await db.close();
  await common.runChecks(name, [
    ['refused', async () => {
      try {
        const other = await pool('wrong', tdsVersion);
        await other.close();
        return 'wrong password accepted';
      } catch (error) {
        return [error.name, error.code, error.message];
      }
    }],
  ]);
}

(async () => {
  await checks('mssql-default', undefined);
  await checks('mssql-7.1', '7_1');
})().catch((error) => {
  console.log('mssql failed: ' + error.message);
  process.exitCode = 1;
});
