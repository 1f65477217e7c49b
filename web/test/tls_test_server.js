// A TLS server on 127.0.0.1 that offers HTTP/2 and HTTP/1.1, for tests.
// Usage: node tls_test_server.js PORT_FILE CERT KEY [tls10]
// Serves the certificate CERT (PEM, with its key KEY), over TLS 1.0 alone
// when told, logs each request's path to PORT_FILE.requests, listens on an ephemeral
// port and writes it to PORT_FILE. It ends when PORT_FILE is removed (the
// test's side may be a Windows program under Wine, which can remove a file
// but not end a Unix process), on /quit, and after two minutes in any case.
// Paths:
//   /cookies                 two Set-Cookie headers (a=1 with a path, b=2)
//   /headers                 the request's header lines as the body
//   /to?status=N&u=ADDRESS   status N (307 if absent) with Location ADDRESS
//   /json?body=TEXT          status 200, TEXT as an application/json body
//   /quit                    answers, then ends the server
//   anything else            the body "HTTP/" and the version spoken
'use strict';
const fs = require('fs');
const http2 = require('http2');

const [portFile, certFile, keyFile, versions] = process.argv.slice(2);
const cert = fs.readFileSync(certFile);
const key = fs.readFileSync(keyFile);
const old = versions === 'tls10' ?
  { minVersion: 'TLSv1', maxVersion: 'TLSv1', ciphers: 'DEFAULT@SECLEVEL=0' } : {};

const server = http2.createSecureServer({ cert, key, allowHTTP1: true, ...old }, (req, res) => {
  fs.appendFileSync(portFile + '.requests', req.url + '\n');
  const url = new URL(req.url, 'https://127.0.0.1');
  const version = 'HTTP/' + req.httpVersion;
  req.resume();  // a body is read and dropped
  if (url.pathname === '/cookies') {
    res.setHeader('Set-Cookie', ['a=1; Path=/', 'b=2']);
    res.end(version);
  } else if (url.pathname === '/headers') {
    let lines = '';
    for (let i = 0; i < req.rawHeaders.length; i += 2) {
      lines += req.rawHeaders[i] + ': ' + req.rawHeaders[i + 1] + '\r\n';
    }
    res.end(lines);
  } else if (url.pathname === '/to') {
    res.statusCode = Number(url.searchParams.get('status') || 307);
    res.setHeader('Location', url.searchParams.get('u') || '/');
    res.end('moving');
  } else if (url.pathname === '/json') {
    res.setHeader('Content-Type', 'application/json');
    res.end(url.searchParams.get('body') || '{}');
  } else if (url.pathname === '/quit') {
    res.end('bye', () => process.exit(0));
  } else {
    res.end(version);
  }
});
server.listen(0, '127.0.0.1', () => {
  fs.writeFileSync(portFile + '.part', String(server.address().port));
  fs.renameSync(portFile + '.part', portFile);
  setInterval(() => fs.existsSync(portFile) || process.exit(0), 200);
});
setTimeout(() => process.exit(0), 120000);
