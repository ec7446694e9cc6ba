#!/usr/bin/env node
'use strict';
// Stand-in of the plant's web service: VerifyUser and CreateActivities under ".../QelService.svc/",
// plus a control interface under "/control/" for tests, and the blob front (blobFront.js) that the
// handed-out SAS URLs name. Plain HTTP, meant for 127.0.0.1 only.
//
// Usage: node server.js --blob-endpoint http://127.0.0.1:PORT/devstoreaccount1   (Azurite's)
//                       [--host 127.0.0.1] [--port 0] [--blob-front-port 0] [--config customers.json]
//                       [--ready-file FILE]
// Once the container exists and both listen, the ready file receives the lines
// "SERVICE_PORT=<port>" and "BLOB_FRONT_PORT=<port>".

const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');
const zlib = require('node:zlib');
const {render, ESCAPINGS} = require('./reply');
const {containerSas} = require('./sas');
const {BlobStore} = require('./blobs');
const {BlobFront} = require('./blobFront');
const {checkProject} = require('./uploadCheck');

function parseArgs(argv) {
    const opts = {
        host: '127.0.0.1',
        port: 0,
        blobFrontPort: 0,
        config: process.env.CORVANE_STANDIN_CONFIG || path.join(__dirname, '..', 'customers.json'),
        blobEndpoint: process.env.CORVANE_BLOB_ENDPOINT || '',
        readyFile: '',
    };
    const names = {'--host': 'host', '--port': 'port', '--config': 'config', '--blob-endpoint': 'blobEndpoint',
                   '--blob-front-port': 'blobFrontPort', '--ready-file': 'readyFile'};
    for (let i = 0; i < argv.length; i += 2) {
        const key = names[argv[i]];
        if (!key || i + 1 >= argv.length)
            throw new Error(`unknown or incomplete option "${argv[i]}"`);
        opts[key] = argv[i + 1];
    }
    if (!opts.blobEndpoint)
        throw new Error('--blob-endpoint (or CORVANE_BLOB_ENDPOINT) is required');
    opts.port = Number(opts.port);
    opts.blobFrontPort = Number(opts.blobFrontPort);
    return opts;
}

// Customer and project numbers arrive trimmed and in capitals; the keys are matched the same way.
const norm = (s) => String(s ?? '').trim().toUpperCase();

function loadConfig(file) {
    const config = JSON.parse(fs.readFileSync(file, 'utf8'));
    config.container ??= 'corvane-upload';
    config.sasValidHours ??= 24;
    config.customers = Object.fromEntries(Object.entries(config.customers ?? {}).map(([k, v]) => [norm(k), v]));
    for (const [number, c] of Object.entries(config.customers))
        validateCustomer(number, c);
    return config;
}

function validateCustomer(number, c) {
    if (typeof c !== 'object' || c === null || Array.isArray(c))
        throw new Error(`customer ${number}: entry must be an object`);
    if (c.escaping !== undefined && !ESCAPINGS.includes(c.escaping))
        throw new Error(`customer ${number}: escaping must be one of ${ESCAPINGS.join(', ')}`);
    c.projects = Object.fromEntries(Object.entries(c.projects ?? {}).map(([k, v]) => [norm(k), v]));
}

function versionLess(a, b) {
    const pa = String(a).split('.').map((x) => parseInt(x, 10) || 0);
    const pb = String(b).split('.').map((x) => parseInt(x, 10) || 0);
    for (let i = 0; i < Math.max(pa.length, pb.length); i++) {
        if ((pa[i] ?? 0) !== (pb[i] ?? 0))
            return (pa[i] ?? 0) < (pb[i] ?? 0);
    }
    return false;
}

class PlantService {
    // sasEndpoint: the account URL that handed-out SAS URLs name (the blob front's)
    constructor(opts, front, sasEndpoint) {
        this.opts = opts;
        this.front = front;
        this.sasEndpoint = sasEndpoint.replace(/\/+$/, '');
        this.config = loadConfig(opts.config);
        this.store = new BlobStore(opts.blobEndpoint, this.config.container);
        this.requests = [];      // service calls received, oldest first
        this.nextReplies = [];   // verbatim replies queued by /control/next-reply
    }

    // Keeps the container name: the container was created for it at start.
    reset() {
        const container = this.config.container;
        this.config = loadConfig(this.opts.config);
        this.config.container = container;
        this.requests = [];
        this.nextReplies = [];
        this.front.reset();
    }

    style(customer) {
        return {escaping: customer?.escaping ?? 'standard', root: customer?.root ?? 'string'};
    }

    sasUri(project) {
        if (project.sasUri !== undefined)
            return String(project.sasUri);
        const expiry = new Date(Date.now() + this.config.sasValidHours * 3600 * 1000);
        const sas = containerSas(this.config.container, project.sasPermissions ?? 'rw', expiry);
        return `${this.sasEndpoint}/${this.config.container}?${sas}`;
    }

    verifyUser(q) {
        const customer = this.config.customers[norm(q.get('customerID'))];
        const style = this.style(customer);
        const error = (text) => render([['Error', text]], style);

        if (q.get('brand') !== '0')
            return error('Unknown brand.');
        const update = customer?.update ??
            (this.config.minimumVersion && versionLess(q.get('versionNumber') ?? '0', this.config.minimumVersion)
                 ? {updateMessage: this.config.updateMessage, downloadLink: this.config.downloadLink ?? ''}
                 : null);
        if (update) {
            const parts = [];
            if (update.updateMessage !== undefined)
                parts.push(['UpdateMessage', update.updateMessage]);
            if (update.downloadLink !== undefined)
                parts.push(['DownloadLink', update.downloadLink]);
            return render([['UpdateAvailable', parts]], style);
        }
        if (!customer)
            return error('The customer number is not known. Please check your CT#.');
        if (customer.verifyError)
            return error(customer.verifyError);
        const project = customer.projects[norm(q.get('projectID'))];
        if (!project)
            return error('The project number is not known for this customer. Please check your SO#/QT#.');
        return render([
            ['CustomerID', customer.customerId ?? ''],
            ['ProjectID', project.projectId ?? ''],
            ['SASUri', this.sasUri(project)],
            // the service writes booleans the .NET way
            ['isMultiDisc', project.multiDisc ? 'True' : 'False'],
        ], style);
    }

    async createActivities(q) {
        let customer, project;
        for (const c of Object.values(this.config.customers)) {
            if (c.customerId === undefined || c.customerId !== q.get('customerID'))
                continue;
            project = Object.values(c.projects).find((p) => p.projectId === q.get('projectID'));
            if (project) {
                customer = c;
                break;
            }
        }
        const style = this.style(customer);
        const error = (text) => render([['Error', text]], style);

        if (q.get('brand') !== '0')
            return error('Unknown brand.');
        if (!project)
            return error('Unknown customer or project id.');
        if (project.createError ?? customer.createError)
            return error(project.createError ?? customer.createError);
        let result;
        try {
            result = await checkProject(this.store, project.projectId);
        } catch (e) {
            console.error(e);
            return error(`The uploaded files could not be checked: ${e.message}`);
        }
        console.log(`check of ${project.projectId}: ${JSON.stringify(result)}`);
        if (!result.ok)
            return error(`The uploaded files failed the check:\n${result.problems.join('\n')}`);
        const files = result.checked === 1 ? '1 file' : `${result.checked} files`;
        return render([['Success', `Thank you. ${files} of project ${project.projectId} ` +
                                   `(${result.folders.join(', ')}) arrived intact; processing has started.`]], style);
    }

    async handleService(call, url, req, res) {
        this.requests.push({call, method: req.method, url: req.url, time: new Date().toISOString()});
        if (this.requests.length > 1000)
            this.requests.shift();
        if (req.method !== 'GET')
            return send(req, res, 405, 'text/plain', 'GET only\n');
        const queued = this.nextReplies.findIndex((r) => r.call === call);
        if (queued >= 0) {
            const [r] = this.nextReplies.splice(queued, 1);
            return send(req, res, r.status ?? 200, r.contentType ?? 'application/xml; charset=utf-8', r.body ?? '');
        }
        const body = call === 'VerifyUser' ? this.verifyUser(url.searchParams)
                                           : await this.createActivities(url.searchParams);
        return send(req, res, 200, 'application/xml; charset=utf-8', body);
    }

    async handleControl(rest, req, res) {
        const json = (status, value) =>
            send(req, res, status, 'application/json', JSON.stringify(value, null, 2) + '\n');
        const customer = /^customers\/([^/]+)$/.exec(rest);
        if (rest === 'config' && req.method === 'GET')
            return json(200, this.config);
        if (rest === 'requests' && req.method === 'GET')
            return json(200, this.requests);
        if (rest === 'blob-requests' && req.method === 'GET')
            return json(200, this.front.log);
        if (rest === 'blob-faults' && req.method === 'POST') {
            const faults = JSON.parse(await readBody(req));
            for (const f of Array.isArray(faults) ? faults : [faults])
                this.front.addFault(f);
            return json(200, {faults: this.front.faults});
        }
        if (rest === 'reset' && req.method === 'POST') {
            this.reset();
            return json(200, {reset: true});
        }
        if (rest === 'next-reply' && req.method === 'POST') {
            const r = JSON.parse(await readBody(req));
            if (r.call !== 'VerifyUser' && r.call !== 'CreateActivities')
                return json(400, {error: 'call must be VerifyUser or CreateActivities'});
            this.nextReplies.push(r);
            return json(200, {queued: this.nextReplies.length});
        }
        if (customer && req.method === 'PUT') {
            const number = norm(decodeURIComponent(customer[1]));
            const entry = JSON.parse(await readBody(req));
            validateCustomer(number, entry);
            this.config.customers[number] = entry;
            return json(200, {[number]: entry});
        }
        if (customer && req.method === 'DELETE') {
            delete this.config.customers[norm(decodeURIComponent(customer[1]))];
            return json(200, {deleted: true});
        }
        return json(404, {error: 'unknown control request'});
    }

    async handle(req, res) {
        const url = new URL(req.url, 'http://localhost');
        console.log(`${new Date().toISOString()} ${req.method} ${req.url}`);
        try {
            const service = /\/QelService\.svc\/(VerifyUser|CreateActivities)$/.exec(url.pathname);
            if (service)
                return await this.handleService(service[1], url, req, res);
            if (url.pathname.startsWith('/control/'))
                return await this.handleControl(url.pathname.slice('/control/'.length), req, res);
            return send(req, res, 404, 'text/plain', 'Not found\n');
        } catch (e) {
            console.error(e);
            // a malformed control body is the caller's fault
            return send(req, res, e instanceof SyntaxError ? 400 : 500, 'text/plain', `${e.message}\n`);
        }
    }
}

function readBody(req) {
    return new Promise((resolve, reject) => {
        const chunks = [];
        let size = 0;
        req.on('data', (c) => {
            size += c.length;
            if (size > 1 << 20) {
                reject(new Error('request body too large'));
                req.destroy();
            } else {
                chunks.push(c);
            }
        });
        req.on('end', () => resolve(Buffer.concat(chunks).toString('utf8')));
        req.on('error', reject);
    });
}

// Compresses when the client accepts gzip, as the plant's web server does.
function send(req, res, status, contentType, text) {
    let body = Buffer.from(text, 'utf8');
    const headers = {'Content-Type': contentType};
    if (/\bgzip\b/.test(req.headers['accept-encoding'] ?? '')) {
        body = zlib.gzipSync(body);
        headers['Content-Encoding'] = 'gzip';
    }
    headers['Content-Length'] = body.length;
    res.writeHead(status, headers);
    res.end(body);
}

async function main() {
    const opts = parseArgs(process.argv.slice(2));
    const azurite = new URL(opts.blobEndpoint);
    const front = new BlobFront(azurite.origin);
    const frontPort = await front.listen(opts.blobFrontPort, opts.host);
    const service = new PlantService(opts, front, `http://${opts.host}:${frontPort}${azurite.pathname}`);
    await service.store.createContainer();
    const server = http.createServer((req, res) => service.handle(req, res));
    server.listen(opts.port, opts.host, () => {
        const {port} = server.address();
        console.log(`plant service stand-in listening on http://${opts.host}:${port}/QelService.svc/, ` +
                    `blob front on ${service.sasEndpoint}`);
        if (opts.readyFile) {
            // renamed into place so that a waiting script never reads half a file
            fs.writeFileSync(`${opts.readyFile}.tmp`, `SERVICE_PORT=${port}\nBLOB_FRONT_PORT=${frontPort}\n`);
            fs.renameSync(`${opts.readyFile}.tmp`, opts.readyFile);
        }
    });
    const stop = () => {
        let open = 2;
        const closed = () => --open === 0 && process.exit(0);
        server.close(closed);
        front.server.close(closed);
        server.closeAllConnections();
        front.server.closeAllConnections();
        setTimeout(() => process.exit(0), 2000).unref();
    };
    process.on('SIGTERM', stop);
    process.on('SIGINT', stop);
}

if (require.main === module) {
    main().catch((e) => {
        console.error(`plant service stand-in: ${e.message}`);
        process.exit(1);
    });
}

module.exports = {PlantService, loadConfig, versionLess};
