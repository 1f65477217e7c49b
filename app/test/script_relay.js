// A push relay on 127.0.0.1 that answers as a script says, for tests of the
// built program with real timers.
// Usage: node script_relay.js DIR [BEHAVIOUR...]
// Listens on an ephemeral port and writes it to DIR/port. Request n gets
// BEHAVIOUR n; past the last one, the last one again ("cycle:a,b,c" goes
// round a, b, c for ever). Each request is logged to DIR/requests as one
// line: arrival in ms since the epoch, tab, behaviour, tab, path, tab, the
// form's text and desp as JSON (parsed as servers parse forms). Ends when
// DIR/stop appears, and after ten minutes (or RELAY_MINUTES) in any case.
// Behaviours:
//   ok       200 {"code":0}           refuse  200 {"code":40001,"message":"..."}
//   503      503 with a page          429     429 with a page
//   close    reads the request, closes the connection without a word
//   silent   reads the request, never answers
//   trickle  200 chunked, one byte every 500 ms, never ending
//   holdN    reads the request, closes the connection after N seconds
//   endless  200 without a length, then data as fast as it goes, never ending
//   headers  200, then header lines as fast as they go, never ending
// Hostile ones, which echo the request path (and with it the key):
//   echo-cut 500: backslash + line feed pairs (which decoding drops), the
//            path placed so that 16 KiB of the reply end 8 bytes into the key
//   echo-pct 200 {"code":40001,...}: the path in the message, every byte %XX
//   forge    200 {"code":40001,...}: a message whose line breaks start a
//            line that looks like the program's "推送完成"
// RELAY_TLS serves the same over TLS: "trusted" (certificate for 127.0.0.1
// from the test authority), "tls10" (the same, TLS 1.0 only), or "close" (each
// connection closed before the handshake, logged as behaviour "close-tls").
'use strict';
const fs = require('fs');
const http = require('http');
const https = require('https');
const net = require('net');
const path = require('path');

const dir = process.argv[2];
const script = process.argv.slice(3);
if (!dir || script.length === 0) {
  console.error('usage: node script_relay.js DIR BEHAVIOUR...');
  process.exit(2);
}
const cycle = script.length === 1 && script[0].startsWith('cycle:') ?
  script[0].slice(6).split(',') : null;
let served = 0;
const held = new Set();

function behaviourFor(n) {
  if (cycle) return cycle[n % cycle.length];
  return script[Math.min(n, script.length - 1)];
}

function stamp() {
  const d = new Date();
  const two = (n) => String(n).padStart(2, '0');
  return `${d.getFullYear()}-${two(d.getMonth() + 1)}-${two(d.getDate())} ` +
    `${two(d.getHours())}:${two(d.getMinutes())}:${two(d.getSeconds())}`;
}

function echoCut(url) {
  const before = 16384 - 1 - 8;  // the path's "/" and 8 bytes of the key
  return (before % 2 ? 'x' : '') + '\\\n'.repeat(Math.floor(before / 2)) + url + ' tail';
}

function percentAll(text) {
  return [...Buffer.from(text)].map((b) => '%' + b.toString(16).toUpperCase().padStart(2, '0'))
    .join('');
}

function answer(res, status, body) {
  const bytes = Buffer.from(body);
  res.writeHead(status, {'Content-Type': 'application/json', 'Content-Length': bytes.length});
  res.end(bytes);
}

function serve(req, res) {
  const chunks = [];
  req.on('data', (c) => chunks.push(c));
  req.on('end', () => {
    const behaviour = behaviourFor(served++);
    const form = new URLSearchParams(Buffer.concat(chunks).toString('utf8'));
    fs.appendFileSync(path.join(dir, 'requests'), [
      Date.now(), behaviour, req.url,
      JSON.stringify({text: form.get('text'), desp: form.get('desp')}),
    ].join('\t') + '\n');
    switch (behaviour) {
      case 'ok': return answer(res, 200, '{"code":0,"message":"","data":{"pushid":"1"}}');
      case 'refuse': return answer(res, 200, '{"code":40001,"message":"今日额度已用完"}');
      case '503': return answer(res, 503, '<html>busy</html>');
      case '429': return answer(res, 429, '<html>slow down</html>');
      case 'echo-cut': return answer(res, 500, echoCut(req.url));
      case 'echo-pct':
        return answer(res, 200, JSON.stringify({code: 40001, message: 'denied ' + percentAll(req.url)}));
      case 'forge':
        return answer(res, 200, JSON.stringify({
          code: 40001,
          message: `quota\r\n\r\n${stamp()}  推送完成\r\n${stamp()} {"code":0}`,
        }));
      case 'close': return req.socket.destroy();
      case 'silent': held.add(req.socket); return;
      case 'endless': {
        res.writeHead(200, {'Content-Type': 'application/json'});
        const chunk = Buffer.alloc(1 << 16, 'x');
        const pump = () => { while (res.write(chunk)) {} };
        res.on('drain', pump);
        req.socket.on('close', () => res.off('drain', pump));
        held.add(req.socket);
        return pump();
      }
      case 'headers': {
        const socket = req.socket;
        const line = Buffer.from('X-More: 1\r\n'.repeat(4096));
        const pump = () => { while (socket.write(line)) {} };
        socket.write('HTTP/1.1 200 OK\r\n');
        socket.on('drain', pump);
        held.add(socket);
        return pump();
      }
      case 'trickle': {
        res.writeHead(200, {'Content-Type': 'application/json'});
        const timer = setInterval(() => res.write('x'), 500);
        req.socket.on('close', () => clearInterval(timer));
        held.add(req.socket);
        return;
      }
      default: {
        const hold = /^hold(\d+)$/.exec(behaviour);
        if (!hold) return answer(res, 500, 'unknown behaviour ' + behaviour);
        held.add(req.socket);
        setTimeout(() => req.socket.destroy(), Number(hold[1]) * 1000);
      }
    }
  });
}

const certs = path.join(__dirname, '..', '..', 'web', 'test', 'certs');
const tlsOptions = {
  cert: fs.readFileSync(path.join(certs, 'server.pem')),
  key: fs.readFileSync(path.join(certs, 'server.key')),
};
let server;
switch (process.env.RELAY_TLS || '') {
  case '': server = http.createServer(serve); break;
  case 'trusted': server = https.createServer(tlsOptions, serve); break;
  case 'tls10':
    server = https.createServer({...tlsOptions, minVersion: 'TLSv1', maxVersion: 'TLSv1',
      ciphers: 'DEFAULT@SECLEVEL=0'}, serve);
    break;
  case 'close':
    server = net.createServer((socket) => {
      fs.appendFileSync(path.join(dir, 'requests'), [Date.now(), 'close-tls', '', ''].join('\t') + '\n');
      socket.destroy();
    });
    break;
  default: throw new Error('RELAY_TLS: trusted, tls10 or close');
}
server.keepAliveTimeout = 1000;
server.listen(0, '127.0.0.1', () => {
  const port = path.join(dir, 'port');
  fs.writeFileSync(port + '.part', String(server.address().port));
  fs.renameSync(port + '.part', port);
});
function end() {
  for (const socket of held) socket.destroy();
  process.exit(0);
}
setInterval(() => { if (fs.existsSync(path.join(dir, 'stop'))) end(); }, 200);
setTimeout(end, Number(process.env.RELAY_MINUTES || 10) * 60000);
