'use strict';
// The service's own access to the local blob store: create the container, list and read blobs.

const http = require('node:http');
const crypto = require('node:crypto');
const {accountSas} = require('./sas');

function decodeEntities(text) {
    return text.replace(/&(#x[0-9a-fA-F]+|#\d+|amp|lt|gt|quot|apos);/g, (_, e) => {
        if (e[0] === '#')
            return String.fromCodePoint(e[1] === 'x' ? parseInt(e.slice(2), 16) : parseInt(e.slice(1), 10));
        return {amp: '&', lt: '<', gt: '>', quot: '"', apos: "'"}[e];
    });
}

class BlobStore {
    // endpoint: "http://127.0.0.1:PORT/devstoreaccount1" (path-style, no trailing slash)
    constructor(endpoint, container) {
        this.endpoint = endpoint.replace(/\/+$/, '');
        this.container = container;
    }

    containerUrl() { return `${this.endpoint}/${this.container}`; }

    ownSas() { return accountSas('rlc', new Date(Date.now() + 3600 * 1000)); }

    // Blob names are sent as the uploader sends them: path segments are not percent-encoded
    // except for characters a URL cannot carry.
    blobUrl(name) { return `${this.containerUrl()}/${encodeURI(name)}?${this.ownSas()}`; }

    request(method, url, onResponse) {
        return new Promise((resolve, reject) => {
            const req = http.request(url, {method, headers: {'x-ms-version': '2021-08-06'}}, (res) => {
                Promise.resolve(onResponse(res)).then(resolve, reject);
            });
            req.on('error', reject);
            req.end();
        });
    }

    static readBody(res) {
        return new Promise((resolve, reject) => {
            const chunks = [];
            res.on('data', (c) => chunks.push(c));
            res.on('end', () => resolve(Buffer.concat(chunks)));
            res.on('error', reject);
        });
    }

    async createContainer() {
        const url = `${this.containerUrl()}?restype=container&${this.ownSas()}`;
        const {status, body} = await this.request('PUT', url, async (res) => ({
            status: res.statusCode, body: (await BlobStore.readBody(res)).toString('utf8')}));
        if (status !== 201 && status !== 409)
            throw new Error(`creating container ${this.container}: HTTP ${status} ${body}`);
    }

    // Names of committed blobs starting with prefix.
    async list(prefix) {
        const names = [];
        let marker = '';
        do {
            const url = `${this.containerUrl()}?restype=container&comp=list&prefix=${
                encodeURIComponent(prefix)}${marker ? `&marker=${encodeURIComponent(marker)}` : ''}&${
                this.ownSas()}`;
            const {status, body} = await this.request('GET', url, async (res) => ({
                status: res.statusCode, body: (await BlobStore.readBody(res)).toString('utf8')}));
            if (status !== 200)
                throw new Error(`listing blobs: HTTP ${status} ${body}`);
            for (const m of body.matchAll(/<Blob>[\s\S]*?<Name>([\s\S]*?)<\/Name>/g))
                names.push(decodeEntities(m[1]));
            const next = /<NextMarker>([\s\S]*?)<\/NextMarker>/.exec(body);
            marker = next ? decodeEntities(next[1]) : '';
        } while (marker);
        return names;
    }

    async read(name) {
        return this.request('GET', this.blobUrl(name), async (res) => {
            const body = await BlobStore.readBody(res);
            if (res.statusCode !== 200)
                throw new Error(`reading ${name}: HTTP ${res.statusCode}`);
            return body;
        });
    }

    // Hex MD5 of a blob's content, streamed.
    async md5(name) {
        return this.request('GET', this.blobUrl(name), (res) => new Promise((resolve, reject) => {
            if (res.statusCode !== 200) {
                res.resume();
                reject(new Error(`reading ${name}: HTTP ${res.statusCode}`));
                return;
            }
            const hash = crypto.createHash('md5');
            res.on('data', (c) => hash.update(c));
            res.on('end', () => resolve(hash.digest('hex')));
            res.on('error', reject);
        }));
    }
}

module.exports = {BlobStore, decodeEntities};
