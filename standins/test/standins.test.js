'use strict';
// Starts both stand-ins with the repository's scripts, talks to them with curl as the
// application does, and stops them again.

const {test, before, after} = require('node:test');
const assert = require('node:assert/strict');
const {execFileSync} = require('node:child_process');
const crypto = require('node:crypto');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const {readReply} = require('./appReply');

const scripts = path.join(__dirname, '..', '..', 'scripts');
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'standins-test-'));
const envFile = path.join(work, 'standins.env');
let env;

before(() => {
    execFileSync('bash', [path.join(scripts, 'standins-start.sh'), envFile],
                 {stdio: ['ignore', 'ignore', 'inherit']});
    const lines = fs.readFileSync(envFile, 'utf8').trim().split('\n');
    env = Object.fromEntries(lines.map((l) => l.split(/=(.*)/s).slice(0, 2)));
});

after(() => {
    if (fs.existsSync(envFile))
        execFileSync('bash', [path.join(scripts, 'standins-stop.sh'), envFile], {stdio: 'inherit'});
    fs.rmSync(work, {recursive: true, force: true});
});

// curl with the given arguments; returns {status, body}.
function curl(...args) {
    const out = execFileSync('curl', ['-sS', '--compressed', '-w', '\n%{http_code}', ...args], {encoding: 'utf8'});
    const cut = out.lastIndexOf('\n');
    return {status: Number(out.slice(cut + 1)), body: out.slice(0, cut)};
}

const md5 = (buf) => crypto.createHash('md5').update(buf);

function service(call, query) {
    const r = curl(`${env.CORVANE_SERVICE_URL}${call}?${query}`);
    assert.equal(r.status, 200, r.body);
    return {raw: r.body, ...readReply(r.body)};
}

const verify = (customer, project, version = '4.0.1.0') =>
    service('VerifyUser', `customerID=${customer}&projectID=${project}&brand=0&versionNumber=${version}`);
const createActivities = (customerId, projectId) =>
    service('CreateActivities', `customerID=${customerId}&projectID=${projectId}&brand=0`);

function control(method, what, body) {
    const args = ['-X', method, `${env.CORVANE_STANDINS_CONTROL_URL}${what}`];
    if (body !== undefined)
        args.push('-H', 'Content-Type: application/json', '--data-binary', JSON.stringify(body));
    const r = curl(...args);
    assert.equal(r.status, 200, r.body);
    return JSON.parse(r.body);
}

// Uploads files the way the application does: small ones whole with Content-MD5, the one named
// in `blocked` in blocks of `blockSize` followed by the commit document.
function upload(sasUri, folder, files, {blocked, blockSize = 1000} = {}) {
    const q = sasUri.indexOf('?');
    const container = q < 0 ? sasUri : sasUri.slice(0, q);
    const access = q < 0 ? '' : sasUri.slice(q);
    for (const [name, content] of Object.entries(files)) {
        const local = path.join(work, name);
        fs.writeFileSync(local, content);
        const url = `${container}/${folder}/${name}${access}`;
        if (name !== blocked) {
            const r = curl('-T', local, '-H', 'x-ms-blob-type: BlockBlob', '-H',
                           `Content-MD5: ${md5(content).digest('base64')}`, url);
            assert.equal(r.status, 201, `${name}: ${r.body}`);
            continue;
        }
        const ids = [];
        for (let off = 0; off < content.length; off += blockSize) {
            const block = content.subarray(off, off + blockSize);
            const id = Buffer.from(md5(block).digest('hex')).toString('base64');
            fs.writeFileSync(local, block);
            const r = curl('-T', local, '-H', 'x-ms-blob-type: BlockBlob', '-H',
                           `Content-MD5: ${md5(block).digest('base64')}`, `${url}&comp=block&blockid=${id}`);
            assert.equal(r.status, 201, `${name} block: ${r.body}`);
            ids.push(id);
        }
        const listed = curl(`${url}&comp=blocklist&blocklisttype=all`);
        assert.equal(listed.status, 200, listed.body);
        assert.match(listed.body, /<UncommittedBlocks><Block><Name>/);
        fs.writeFileSync(local, `<?xml version="1.0" encoding="UTF-8"?>\n\n<BlockList>\n${
            ids.map((id) => `  <Latest>${id}</Latest>\n`).join('')}</BlockList>\n`);
        const r = curl('-T', local, `${url}&comp=blocklist`);
        assert.equal(r.status, 201, `${name} commit: ${r.body}`);
    }
}

const checksumList = (files) =>
    Object.entries(files).map(([name, content]) => `${md5(content).digest('hex')} *${name}\r\n`).join('');

const text = (reply, name) => reply.info[name]?.text;

test('VerifyUser answers each kind of customer as the application reads it', () => {
    const cases = [
        {label: 'known single disc', c: 'CT10001', p: 'SO20001',
         want: {CustomerID: 'C-4711', ProjectID: 'P-20001', isMultiDisc: 'False'}},
        {label: 'known multi-disc', c: 'CT10001', p: 'SO20003',
         want: {CustomerID: 'C-4711', ProjectID: 'P-20003', isMultiDisc: 'True'}},
        {label: 'unknown customer', c: 'CT99999', p: 'SO20001', error: /customer number is not known/},
        {label: 'unknown project', c: 'CT10001', p: 'SO99999', error: /project number is not known/},
        {label: 'customer on hold', c: 'CT90001', p: 'SO20001', error: /^Your account is on hold/},
        {label: 'update demanded for the customer', c: 'CT90002', p: 'SO20001',
         update: {UpdateMessage: /Version 4\.1/, DownloadLink: /^http:\/\/127\.0\.0\.1\//}},
        {label: 'outdated application', c: 'CT10001', p: 'SO20001', version: '4.0.0.9',
         update: {UpdateMessage: /new version/, DownloadLink: /download/}},
    ];
    for (const k of cases) {
        const r = verify(k.c, k.p, k.version);
        assert.equal(r.root, 'string', k.label);
        assert.match(r.raw, /^<string [^>]*>&lt;ProjectInfo&gt;/, k.label);
        if (k.error) {
            assert.match(text(r, 'Error') ?? '', k.error, k.label);
            assert.equal(r.info.SASUri, undefined, k.label);
        } else if (k.update) {
            const u = Object.fromEntries(r.info.UpdateAvailable.children.map((c) => [c.name, c.text]));
            for (const [name, re] of Object.entries(k.update))
                assert.match(u[name] ?? '', re, `${k.label}: ${name}`);
        } else {
            for (const [name, value] of Object.entries(k.want))
                assert.equal(text(r, name), value, `${k.label}: ${name}`);
            assert.ok(text(r, 'SASUri').startsWith(`${env.CORVANE_BLOB_ENDPOINT}/${env.CORVANE_BLOB_CONTAINER}?`));
            assert.match(text(r, 'SASUri'), /[?&]sp=rw&/, k.label);
            assert.equal(r.info.Error, undefined, k.label);
        }
    }
});

test('odd escapings still carry the reply the application decodes', () => {
    control('PUT', 'customers/CT10009',
            // unescaped, an "&" in a value would reach the parser bare: a SAS URL without a query
            {customerId: 'C-4719', escaping: 'none',
             projects: {SO20009: {projectId: 'P-20009', sasUri: `${env.CORVANE_BLOB_ENDPOINT}/c`}}});
    const cases = [
        {label: 'quotes', c: 'CT10002', p: 'SO20004', raw: /&lt;ProjectInfo xmlns:i=&quot;/, id: 'P-20004'},
        {label: 'double', c: 'CT10003', p: 'SO20005', raw: /&amp;lt;ProjectInfo&amp;gt;/, id: 'P-20005'},
        {label: 'none', c: 'CT10009', p: 'SO20009', raw: /<string [^>]*><ProjectInfo>/, id: 'P-20009'},
    ];
    for (const k of cases) {
        const r = verify(k.c, k.p);
        assert.match(r.raw, k.raw, k.label);
        assert.equal(text(r, 'ProjectID'), k.id, k.label);
    }
});

test('CreateActivities checks the upload against its checksum list', () => {
    const sas = text(verify('CT10001', 'SO20001'), 'SASUri');
    const files = {
        DDPID: Buffer.from('DDP 2.00 identifier (test)'),
        'IMAGE.DAT': crypto.randomBytes(2500),
    };
    upload(sas, 'P-20001/Content/data', {
        ...files,
        'MD5-Checksum.md5': Buffer.from(checksumList(files)),
        'Filetype.txt': Buffer.from('Mastertype: Individual Files'),
    }, {blocked: 'IMAGE.DAT'});

    const ok = createActivities('C-4711', 'P-20001');
    assert.equal(ok.info.Error, undefined, text(ok, 'Error'));
    assert.match(text(ok, 'Success'), /2 files of project P-20001/);

    upload(sas, 'P-20001/Content/data', {DDPID: Buffer.from('DDP 2.00 identifier (tesT)')});
    const bad = createActivities('C-4711', 'P-20001');
    assert.equal(bad.info.Success, undefined);
    assert.match(text(bad, 'Error'), /data: DDPID does not match its checksum/);
    assert.doesNotMatch(text(bad, 'Error'), /IMAGE\.DAT/);
});

test('CreateActivities refuses incomplete uploads and numbers it did not hand out', () => {
    const sas = text(verify('CT10001', 'SO20003'), 'SASUri');
    const disc = {DDPID: Buffer.from('disc one')};
    upload(sas, 'P-20003/Content/disc1', {...disc, 'MD5-Checksum.md5': Buffer.from(checksumList(disc))});
    upload(sas, 'P-20003/Content/disc2', {DDPID: Buffer.from('disc two')});
    const listsMissing = {DDPID: Buffer.from('x'), 'CDTEXT.BIN': Buffer.from('y')};
    const sas4 = text(verify('CT10002', 'SO20004'), 'SASUri');
    upload(sas4, 'P-20004/Content/data',
           {DDPID: listsMissing.DDPID, 'MD5-Checksum.md5': Buffer.from(checksumList(listsMissing))});

    const cases = [
        {label: 'entered numbers instead of ids', c: 'CT10001', p: 'SO20001',
         error: /Unknown customer or project/},
        {label: 'nothing uploaded', c: 'C-4711', p: 'P-20002', error: /no files have been uploaded/},
        {label: 'a disc without checksum list', c: 'C-4711', p: 'P-20003',
         error: /disc2: MD5-Checksum\.md5 is missing/},
        {label: 'a listed file missing', c: 'C-4712', p: 'P-20004', error: /data: CDTEXT\.BIN is missing/},
    ];
    for (const k of cases)
        assert.match(text(createActivities(k.c, k.p), 'Error') ?? '', k.error, k.label);
});

test('control interface: queued replies, request logs, blob faults, reset', () => {
    control('POST', 'next-reply', {call: 'VerifyUser', body: '<STRING>&lt;projectinfo/&gt;</STRING>'});
    const queued = verify('CT10001', 'SO20001');
    assert.equal(queued.root, 'STRING');
    assert.equal(text(verify('CT10001', 'SO20001'), 'ProjectID'), 'P-20001', 'a queued reply is used once');

    createActivities('C-4711', 'P-20002');
    assert.deepEqual(control('GET', 'requests').slice(-2).map((r) => r.url), [
        '/QelService.svc/VerifyUser?customerID=CT10001&projectID=SO20001&brand=0&versionNumber=4.0.1.0',
        '/QelService.svc/CreateActivities?customerID=C-4711&projectID=P-20002&brand=0',
    ]);

    const sas = text(verify('CT10001', 'SO20001'), 'SASUri');
    control('POST', 'blob-faults', {method: 'PUT', contains: 'comp=block&', status: 503});
    const file = path.join(work, 'block');
    fs.writeFileSync(file, 'abc');
    const [base, access] = sas.split('?');
    const blockUrl = `${base}/P-20001/Content/data/X?${access}&comp=block&blockid=QUFB`;
    assert.equal(curl('-T', file, blockUrl).status, 503);
    assert.equal(curl('-T', file, blockUrl).status, 201, 'a fault fires once by default');
    assert.deepEqual(control('GET', 'blob-requests').slice(-2).map((r) => [r.method, r.status, r.contentLength]),
                     [['PUT', 503, 3], ['PUT', 201, 3]]);
    control('POST', 'blob-faults', {method: 'PUT', contains: 'comp=block&', delayMs: 1500});
    const started = Date.now();
    assert.equal(curl('-T', file, blockUrl).status, 201, 'a delayed request still arrives');
    assert.ok(Date.now() - started >= 1500, 'and arrives late');
    control('POST', 'blob-faults', {method: 'PUT', contains: 'comp=block&', skip: 1, status: 503});
    assert.equal(curl('-T', file, blockUrl).status, 201, 'a skipped request passes');
    assert.equal(curl('-T', file, blockUrl).status, 503, 'the next one meets the fault');

    control('POST', 'reset');
    assert.deepEqual(control('GET', 'requests'), []);
    assert.match(text(verify('CT10009', 'SO20009'), 'Error'), /customer number is not known/);
});
