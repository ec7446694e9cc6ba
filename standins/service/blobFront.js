'use strict';
// A thin front of the local blob store, the address the handed-out SAS URLs name.
//
// It passes every request through byte for byte (bodies streamed, the query exactly as sent, so
// that the store judges the spelling of each operation as the real one does), records every
// request (for tests that count block uploads) and can be told to fail chosen requests, to
// exercise the uploader's error and resume paths.

const http = require('node:http');

const HOP_BY_HOP = ['connection', 'keep-alive', 'proxy-connection', 'transfer-encoding', 'upgrade', 'expect'];

function withoutHopByHop(headers) {
    const out = {...headers};
    for (const h of HOP_BY_HOP)
        delete out[h];
    return out;
}

function errorXml(code, message) {
    return `<?xml version="1.0" encoding="utf-8"?><Error><Code>${code}</Code><Message>${message}</Message></Error>`;
}

class BlobFront {
    // target: the store's origin, "http://127.0.0.1:PORT"
    constructor(target) {
        this.target = new URL(target);
        this.log = [];     // {time, method, url, status, contentMd5, contentLength}
        this.faults = [];  // {method?, contains?, skip?, status?, abort?, delayMs?, times}
        this.server = http.createServer((req, res) => this.handle(req, res));
    }

    reset() {
        this.log = [];
        this.faults = [];
    }

    // A fault answers matching requests with `status` (an error reply of the store's shape),
    // or with `abort` closes the connection without an answer, or with `delayMs` alone passes
    // them on that much later (a slow line, so that a test can cancel a transfer in flight).
    // `skip` lets that many matching requests through first; `times` defaults to 1.
    addFault(fault) {
        this.faults.push({times: 1, ...fault});
    }

    takeFault(req) {
        const i = this.faults.findIndex((f) => (!f.method || f.method === req.method) &&
                                               (!f.contains || req.url.includes(f.contains)));
        if (i < 0)
            return null;
        const fault = this.faults[i];
        if (fault.skip > 0) {
            --fault.skip;
            return null;
        }
        if (--fault.times <= 0)
            this.faults.splice(i, 1);
        return fault;
    }

    record(req, status) {
        this.log.push({time: new Date().toISOString(), method: req.method, url: req.url, status,
                       contentMd5: req.headers['content-md5'] ?? null,
                       contentLength: req.headers['content-length'] !== undefined
                           ? Number(req.headers['content-length']) : null});
        if (this.log.length > 10000)
            this.log.shift();
    }

    handle(req, res) {
        const fault = this.takeFault(req);
        if (fault && fault.delayMs !== undefined && fault.status === undefined && !fault.abort) {
            setTimeout(() => this.pass(req, res), fault.delayMs);
            return;
        }
        if (fault) {
            this.record(req, fault.abort ? 'aborted' : fault.status ?? 500);
            if (fault.abort) {
                req.socket.destroy();
                return;
            }
            req.resume();
            req.on('end', () => {
                const body = errorXml(fault.code ?? 'InternalError', fault.message ?? 'Injected fault.');
                res.writeHead(fault.status ?? 500, {'Content-Type': 'application/xml',
                                                    'Content-Length': Buffer.byteLength(body)});
                res.end(body);
            });
            return;
        }
        this.pass(req, res);
    }

    pass(req, res) {
        // A delayed request whose client has already left has nothing to pass on.
        if (req.destroyed && !req.complete) {
            this.record(req, 'client gone');
            return;
        }
        const upstream = http.request({
            host: this.target.hostname,
            port: this.target.port,
            method: req.method,
            path: req.url,
            headers: withoutHopByHop(req.headers),
        }, (up) => {
            this.record(req, up.statusCode);
            res.writeHead(up.statusCode, withoutHopByHop(up.headers));
            up.pipe(res);
        });
        let clientGone = false;
        upstream.on('error', (e) => {
            this.record(req, clientGone ? 'client gone' : 502);
            if (!res.headersSent)
                res.writeHead(502, {'Content-Type': 'text/plain'});
            res.end(`blob store unreachable: ${e.message}\n`);
        });
        // A client that leaves before its body is complete (it cancelled while a delay held its
        // request) leaves the store nothing to wait for.
        req.on('close', () => {
            if (!req.complete) {
                clientGone = true;
                upstream.destroy();
            }
        });
        req.pipe(upstream);
    }

    listen(port, host) {
        return new Promise((resolve, reject) => {
            this.server.once('error', reject);
            this.server.listen(port, host, () => resolve(this.server.address().port));
        });
    }
}

module.exports = {BlobFront};
