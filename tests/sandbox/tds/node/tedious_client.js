'use strict';
// Logs in to the sandbox's TDS listener with tedious, at the version it asks for by default and
// at 7.1, and prints what it reads.
// Usage: node tedious_client.js PORT PASSWORD. One line per check, compared by the C++ test.

const { Connection, Request, TYPES } = require('tedious');
const common = require('./common');

const port = Number(process.argv[2]);
const password = process.argv[3];

function connect(secret, tdsVersion) {
  const options = {
    port,
    encrypt: false,
    connectTimeout: 10000,
    requestTimeout: 30000,
    maxRetriesOnTransientErrors: 0,
  };
  if (tdsVersion) options.tdsVersion = tdsVersion;
  const conn = new Connection({
    server: '127.0.0.1',
    authentication: { type: 'default', options: { userName: 'sa', password: secret } },
    options,
  });
  conn.messages = [];
  conn.errorNumbers = [];
  conn.on('infoMessage', (token) => conn.messages.push(token.message));
  conn.on('errorMessage', (token) => conn.errorNumbers.push(token.number));
  conn.on('databaseChange', (name) => conn.messages.push('database ' + name));
  return new Promise((resolve, reject) => {
    conn.connect((error) => (error ? reject(Object.assign(error, { conn })) : resolve(conn)));
  });
}

// Sends a request (a batch, a parameterised query or a procedure call) and gathers what comes
// back: result sets, the final row count, output values, return status and messages.
function send(conn, kind, text, inputs = [], outputs = [], timeout = undefined) {
  conn.messages = [];
  return new Promise((resolve) => {
    const reply = { sets: [], outputs: {} };
    const request = new Request(text, (error, rowCount) => {
      reply.rowCount = rowCount;
      if (error) {
        const { code, number, state, message } = error;
        reply.error = { code, number, state, class: error.class, message };
      }
      reply.messages = conn.messages;
      resolve(reply);
    });
    for (const [name, type, value, extra] of inputs) request.addParameter(name, type, value, extra);
    for (const [name, type, extra] of outputs) request.addOutputParameter(name, type, null, extra);
    request.on('columnMetadata', () => reply.sets.push([]));
    request.on('row', (columns) => {
      reply.sets[reply.sets.length - 1].push(columns.map((c) => c.value));
    });
    request.on('returnValue', (name, value) => (reply.outputs[name] = value));
    request.on('doneProc', (rowCount, more, returnStatus) => (reply.status = returnStatus));
    if (timeout) request.setTimeout(timeout);
    if (kind === 'batch') conn.execSqlBatch(request);
    else if (kind === 'procedure') conn.callProcedure(request);
    else conn.execSql(request);
  });
}

async function batch(conn, text) {
  const reply = await send(conn, 'batch', text);
  if (reply.error) throw Object.assign(new Error(reply.error.message), reply.error);
  return reply;
}

function transaction(conn, method) {
  return new Promise((resolve, reject) => {
    conn[method]((error) => (error ? reject(error) : resolve()));
  });
}

async function checks(name, tdsVersion) {
  const conn = await connect(password, tdsVersion);
  await common.runChecks(name, [
    ['version', async () => conn.config.options.tdsVersion],
    ['rows', async () => {
      for (const statement of common.SETUP) await batch(conn, statement);
      return (await batch(conn, common.SELECT_ROWS)).sets;
    }],
    ['updated', async () => (await batch(conn, 'UPDATE #t SET i = 1')).rowCount],
    ['print', async () => (await batch(conn, "PRINT 'hello there'")).messages],
    ['raiserror', async () => (await send(conn, 'batch', "RAISERROR('boom %d', 16, 3, 7)")).error],
    ['database', async () => {
      const use = await batch(conn, 'USE tempdb');
      const here = await batch(conn, 'SELECT DB_NAME()');
      await batch(conn, 'USE master');
      return [use.messages, here.sets];
    }],
    ['parameters', async () => {
      for (const statement of common.PREPARE) await batch(conn, statement);
      const reply = await send(conn, 'query', common.SELECT_PARAMETERS, [
          ['i', TYPES.Int, 7],
          ['b', TYPES.BigInt, 9000000000],
          ['t', TYPES.NVarChar, common.HOSTILE],
          ['v', TYPES.VarChar, 'Gr\u00fc\u00dfe'],
          ['n', TYPES.NVarChar, null],
          ['d', TYPES.DateTime, new Date(Date.UTC(2003, 0, 2, 10, 20, 30, 500))],
          ['bit', TYPES.Bit, true],
        ]);
      return reply.error || reply.sets;
    }],
    ['hostile', async () => {
      const reply = await send(conn, 'query', 'SELECT @t AS t, LEN(@t) AS l',
        [['t', TYPES.NVarChar, common.HOSTILE]]);
      return reply.error || [reply.sets[0][0][0] === common.HOSTILE, reply.sets[0][0][1]];
    }],
    ['long', async () => {
      // Past 4000 characters tedious sends nvarchar(max), which 7.1 does not have: ntext there.
      const type = tdsVersion === '7_1' ? TYPES.NText : TYPES.NVarChar;
      const reply = await send(conn, 'query', 'SELECT @t AS t, LEN(@t) AS l',
        [['t', type, common.LONG]]);
      return reply.error || [reply.sets[0][0][0] === common.LONG, reply.sets[0][0][1]];
    }],
    ['hostile name', async () => {
      const reply = await send(conn, 'query', 'SELECT @a AS a',
        [['a int, @b int; DROP TABLE node_keep; --', TYPES.Int, 1]]);
      return reply.error && reply.error.number;
    }],
    ['table kept', async () => (await batch(conn, 'SELECT COUNT(*) FROM node_keep')).sets],
    ['parameter update', async () => {
      const reply = await send(conn, 'query', 'UPDATE node_keep SET v = @a WHERE v = @b',
        [['a', TYPES.Int, 2], ['b', TYPES.Int, 1]]);
      return reply.error || reply.rowCount;
    }],
    ['procedure', async () => {
      await batch(conn, common.PROCEDURE);
      const reply = await send(conn, 'procedure', 'node_double',
        [['x', TYPES.Int, 21], ['label', TYPES.NVarChar, 'h\u00e9llo']],
        [['y', TYPES.Int], ['echo', TYPES.NVarChar, { length: 60 }]]);
      return reply.error || [reply.outputs, reply.status, reply.messages];
    }],
    ['missing procedure', async () => {
      const reply = await send(conn, 'procedure', 'node_missing', [['x', TYPES.Int, 1]]);
      return reply.error && [reply.error.number, reply.error.message];
    }],
    ['time-out', async () => {
      // tedious cancels a request that outlives its time-out; the connection goes on.
      const slow = await send(conn, 'query', "WAITFOR DELAY '00:00:10' SELECT @a AS a",
        [['a', TYPES.Int, 1]], [], 500);
      const after = await batch(conn, 'SELECT 2');
      return [slow.error.code, slow.sets, after.sets];
    }],
    ['transactions', async () => {
      await batch(conn, 'CREATE TABLE #x (v INT)');
      await transaction(conn, 'beginTransaction');
      const inside = await batch(conn, 'INSERT INTO #x VALUES (1) SELECT @@TRANCOUNT');
      await transaction(conn, 'rollbackTransaction');
      await transaction(conn, 'beginTransaction');
      await batch(conn, 'INSERT INTO #x VALUES (2)');
      await transaction(conn, 'commitTransaction');
      const after = await batch(conn, 'SELECT v, @@TRANCOUNT FROM #x');
      return [inside.sets, after.sets];
    }],
  ]);
  conn.close();
  await common.runChecks(name, [
    ['refused', async () => {
      try {
        const other = await connect('wrong', tdsVersion);
        other.close();
        return 'wrong password accepted';
      } catch (error) {
        return [error.code, error.message, error.conn.errorNumbers];
      }
    }],
  ]);
}

(async () => {
  await checks('tedious-default', undefined);
  await checks('tedious-7.1', '7_1');
})().catch((error) => {
  console.log('tedious failed: ' + error.message);
  process.exitCode = 1;
});
