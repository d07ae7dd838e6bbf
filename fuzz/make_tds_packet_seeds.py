#!/usr/bin/env python3
# Writes the seeds of fuzz_tds_packet into fuzz/corpus/tds_packet: the client side of whole
# conversations (PRELOGIN, LOGIN7 at each protocol version, SQL batches in one and in many
# packets, attention, transaction-manager requests, RPC and bulk-load requests), framed as
# clients frame them. Run from the top of the tree.
import struct, os
out = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'corpus', 'tds_packet')
def u16(s): return s.encode('utf-16-le')
def packet(t, payload, size=4096):
    body = size - 8
    chunks = [payload[i:i+body] for i in range(0, len(payload), body)] or [b'']
    res = b''
    for i, c in enumerate(chunks):
        last = i == len(chunks) - 1
        res += struct.pack('>BBHHBB', t, 1 if last else 0, len(c) + 8, 0, i + 1, 0) + c
    return res
def prelogin(enc=2):
    opts = [(0, b'\x08\x00\x07\xd0\x00\x00'), (1, bytes([enc])), (2, b'\x00'), (3, b'\x00\x00\x00\x01'), (4, b'\x00')]
    off = len(opts) * 5 + 1
    head = b''; data = b''
    for t, d in opts:
        head += struct.pack('>BHH', t, off + len(data), len(d)); data += d
    return packet(18, head + b'\xff' + data)
def login7(user, password, version=0x74000004, integrated=False, database=''):
    pw = bytearray(u16(password))
    for i, b in enumerate(pw):
        b = ((b << 4) | (b >> 4)) & 0xFF
        pw[i] = b ^ 0xA5
    fields = [u16('fuzzhost'), u16(user), bytes(pw), u16('fuzz'), u16('local'), b'', u16('fuzz'), b'', u16(database)]
    fixed = 94
    total = fixed + sum(len(f) for f in fields)
    head = struct.pack('<IIIIII', total, version, 4096, 7, 1234, 0)
    head += bytes([0xE0, 0x83 if integrated else 0x03, 0, 0]) + struct.pack('<iI', 0, 0x409)
    off = fixed; body = b''
    for i, f in enumerate(fields):
        if i == 5:
            head += struct.pack('<HH', 0, 0); continue  # extension / unused
        head += struct.pack('<HH', off, len(f) // 2); body += f; off += len(f)
    head += b'\x00' * 6  # client id
    head += struct.pack('<HHHHHHI', off, 0, off, 0, off, 0, 0)  # sspi, attach db, change pw, sspi long
    assert len(head) == fixed, len(head)
    return packet(16, head + body)
def headers():
    h = struct.pack('<IHQI', 18, 2, 0, 1)
    return struct.pack('<I', 4 + len(h)) + h
def batch(sql, v74=True, size=4096):
    return packet(1, (headers() if v74 else b'') + u16(sql), size)
def tm(kind, v74=True, begin_after=False):
    p = (headers() if v74 else b'') + struct.pack('<H', kind)
    if kind == 5: p += b'\x00\x00'
    else: p += b'\x00' + bytes([1 if begin_after else 0]) + (b'\x00\x00' if begin_after else b'')
    return packet(14, p)
COLLATION = b'\x09\x04\xd0\x00\x34'
def nvarchar(name, text, output=False):
    v = u16(text)
    return (bytes([len(name)]) + u16(name) + bytes([1 if output else 0]) + b'\xe7' +
            struct.pack('<H', 8000) + COLLATION + struct.pack('<H', len(v)) + v)
def intn(name, value, output=False):
    head = bytes([len(name)]) + u16(name) + bytes([1 if output else 0]) + b'\x26\x04'
    return head + (b'\x00' if value is None else b'\x04' + struct.pack('<i', value))
def nvarchar_max(name, text):
    v = u16(text)
    return (bytes([len(name)]) + u16(name) + b'\x00\xe7\xff\xff' + COLLATION +
            struct.pack('<Q', len(v)) + struct.pack('<I', len(v)) + v + b'\x00\x00\x00\x00')
def rpc(calls, v74=True, separator=b'\xff'):
    return packet(3, (headers() if v74 else b'') + separator.join(calls))
def by_id(proc_id, *params):
    return struct.pack('<HHH', 0xFFFF, proc_id, 0) + b''.join(params)
def by_name(name, *params):
    return struct.pack('<H', len(name)) + u16(name) + b'\x00\x00' + b''.join(params)
seeds = {
  'login_batch_74': prelogin() + login7('sa', 'secret') + batch('SELECT name FROM sysobjects'),
  'login_70_no_prelogin': login7('sa', 'x', 0x70000000) + batch('select 1', v74=False),
  'login_71': prelogin() + login7('sa', 'x', 0x71000001) + batch('use tempdb', v74=False),
  'login_72_error': prelogin(0) + login7('sa', '', 0x72090002) + batch('select * from error'),
  'login_refused': prelogin() + login7('nobody', 'wrong'),
  'login_integrated': prelogin(1) + login7('', '', integrated=True),
  'attention': prelogin() + login7('sa', 's') + batch('waitfor delay') + packet(6, b''),
  'transactions': prelogin() + login7('sa', 's') + tm(5) + tm(7, begin_after=True) + tm(8) + tm(6),
  'rpc_bulk': prelogin() + login7('sa', 's') + packet(3, headers() + b'\xff\xff\x0a\x00\x00\x00') + packet(7, b'\x00'),
  'batch_many_packets': prelogin() + login7('sa', 's', database='tempdb') + batch('SELECT ' + "'x'," * 600 + '1', size=512),
  'prelogin_only': prelogin(3),
  'attention_mid_result': prelogin() + login7('sa', 's') + batch('select many') + packet(6, b'') + batch('select 1'),
  'rpc_executesql': prelogin() + login7('sa', 's') + rpc([by_id(10, nvarchar('', 'SELECT @a'), nvarchar('', '@a int'), intn('@a', 7)),
                                                          by_name('dbo.proc', intn('@x', None, True), nvarchar_max('@s', 'long text'))]),
  'rpc_prepare_71': prelogin() + login7('sa', 's', 0x71000001) + rpc([by_id(11, intn('', None, True), nvarchar('', '@a int'), nvarchar('', 'SELECT @a')),
                                                                      by_id(12, intn('', 1), intn('', 5)), by_id(15, intn('', 1))], v74=False, separator=b'\x80'),
  'batch_mid_result': prelogin() + login7('sa', 's') + batch('select many error') + batch('select 2'),
}
for name, data in seeds.items():
    open(os.path.join(out, name), 'wb').write(data)
