// Test peer: a real socket.io v4 server standing in for the collaboration server.
//
//   node peer.js --port N --token TOKEN [--ping-interval MS] [--ping-timeout MS]
//
// Port 0 picks a free port; the first line on standard output is "listening <port>".
// A connection is accepted when the "token" query parameter of its handshake equals TOKEN
// (compared byte for byte, line ends included); otherwise it is refused with a connect error
// (packet 44{"message":"invalid token"}).
//
// Control channel, plain HTTP on the same port:
//   POST /control  {"refuse": text|null, "closeHandshake": bool,
//                   "rules": {"<event>" or "*": {"mode": "ack"|"late"|"never"|"disconnect"|"error",
//                                              "delayMs": N, "payload": [ ... ]}}}
//     Members present replace the current setting. Default: every event acknowledged at once
//     with an empty argument list.
//     "refuse": refuse every connection with this message; "closeHandshake": destroy the TCP
//     connection in the middle of the WebSocket handshake; "late": acknowledge after delayMs;
//     "never": record but never acknowledge; "disconnect": record, then close the connection;
//     "error": record, then send a namespace error 44{"message": rule.message}.
//   GET /events    {"connections": [{"token", "result"}], "events": [{"event", "args", "ack"}],
//                   "clientPings": N, "disconnects": N}
//   POST /reset    forgets the recorded data and restores the default behaviour.
'use strict';

const http = require('http');
const { Server } = require('socket.io');

function argValue(name, fallback) {
  const i = process.argv.indexOf(name);
  return i >= 0 && i + 1 < process.argv.length ? process.argv[i + 1] : fallback;
}

const port = Number(argValue('--port', '0'));
const expectedToken = argValue('--token', '');
const pingInterval = Number(argValue('--ping-interval', '25000'));
const pingTimeout = Number(argValue('--ping-timeout', '20000'));

function defaults() {
  return { refuse: null, closeHandshake: false, rules: { '*': { mode: 'ack', payload: [] } } };
}
let control = defaults();
let record = { connections: [], events: [], clientPings: 0, disconnects: 0 };

function readBody(req) {
  return new Promise((resolve) => {
    let body = '';
    req.setEncoding('utf8');
    req.on('data', (chunk) => { body += chunk; });
    req.on('end', () => resolve(body));
  });
}

function answer(res, status, value) {
  const text = JSON.stringify(value);
  res.writeHead(status, { 'Content-Type': 'application/json', 'Content-Length': Buffer.byteLength(text) });
  res.end(text);
}

const httpServer = http.createServer(async (req, res) => {
  if (req.method === 'GET' && req.url === '/events') return answer(res, 200, record);
  if (req.method === 'POST' && req.url === '/reset') {
    control = defaults();
    record = { connections: [], events: [], clientPings: 0, disconnects: 0 };
    return answer(res, 200, { ok: true });
  }
  if (req.method === 'POST' && req.url === '/control') {
    let change;
    try {
      change = JSON.parse(await readBody(req));
    } catch (e) {
      return answer(res, 400, { error: String(e) });
    }
    if ('refuse' in change) control.refuse = change.refuse;
    if ('closeHandshake' in change) control.closeHandshake = !!change.closeHandshake;
    if ('rules' in change) control.rules = change.rules;
    return answer(res, 200, { ok: true });
  }
  answer(res, 404, { error: 'not found' });
});

const io = new Server(httpServer, {
  pingInterval,
  pingTimeout,
  // Hold the upgrade request and drop the TCP connection without an answer.
  allowRequest: (req, callback) => {
    if (control.closeHandshake) {
      const token = new URL(req.url, 'http://peer').searchParams.get('token');
      record.connections.push({ token, result: 'closed' });
      req.socket.destroy();
      return;
    }
    callback(null, true);
  },
});

io.use((socket, next) => {
  const token = socket.handshake.query.token;
  if (control.refuse !== null) {
    record.connections.push({ token, result: 'refused' });
    return next(new Error(control.refuse));
  }
  if (token !== expectedToken) {
    record.connections.push({ token, result: 'refused' });
    return next(new Error('invalid token'));
  }
  record.connections.push({ token, result: 'ok' });
  next();
});

io.on('connection', (socket) => {
  socket.conn.on('packet', (packet) => {
    if (packet.type === 'ping') record.clientPings += 1;
  });
  socket.on('disconnect', () => { record.disconnects += 1; });
  socket.onAny((event, ...args) => {
    let ack = null;
    if (args.length > 0 && typeof args[args.length - 1] === 'function') ack = args.pop();
    record.events.push({ event, args, ack: ack !== null });
    const rule = control.rules[event] || control.rules['*'] || { mode: 'ack' };
    const payload = Array.isArray(rule.payload) ? rule.payload : [];
    switch (rule.mode) {
      case 'never':
        break;
      case 'disconnect':
        socket.disconnect(true);
        break;
      case 'error':
        // A namespace error while the event waits for its acknowledgement: 44{"message"}.
        socket.packet({ type: 4, data: { message: String(rule.message || 'namespace error') } });
        break;
      case 'late':
        setTimeout(() => { if (ack) ack(...payload); }, Number(rule.delayMs || 0));
        break;
      default:
        if (ack) ack(...payload);
    }
  });
});

httpServer.listen(port, '127.0.0.1', () => {
  process.stdout.write(`listening ${httpServer.address().port}\n`);
});

// The test closes standard input (or dies) when it is done: leave with it.
process.stdin.on('end', () => process.exit(0));
process.stdin.on('error', () => process.exit(0));
process.stdin.resume();
process.on('SIGTERM', () => process.exit(0));
