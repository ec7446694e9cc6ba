'use strict';
// Shared-access signatures for the local blob store, signed with the storage emulator's
// publicly documented development account and key (the only account Azurite knows by default).

const crypto = require('node:crypto');

const ACCOUNT_NAME = 'devstoreaccount1';
const ACCOUNT_KEY = Buffer.from(
    'Eby8vdM02xNOcqFlqUwJPLlmEtlCDXJ1OUzFT50uSRZ6IFsuFq2UVErCz4I6tq/K1SZFPTOtr/KBHBeksoGMGw==',
    'base64');

// The signed-version determines the layout of the string to sign; this one has the
// encryption-scope line (2020-12-06 and later).
const SIGNED_VERSION = '2021-08-06';

function sign(stringToSign) {
    return crypto.createHmac('sha256', ACCOUNT_KEY).update(stringToSign, 'utf8').digest('base64');
}

// Without milliseconds: the signed text must equal the query value, and that is the usual form.
function isoTime(date) {
    return date.toISOString().replace(/\.\d{3}Z$/, 'Z');
}

function toQuery(params) {
    return Object.entries(params)
        .map(([k, v]) => `${k}=${encodeURIComponent(v)}`)
        .join('&');
}

// Service SAS on one container. Returns the query string without the leading "?".
function containerSas(container, permissions, expiry) {
    const se = isoTime(expiry);
    const stringToSign = [
        permissions, '', se, `/blob/${ACCOUNT_NAME}/${container}`, '', '', 'http,https', SIGNED_VERSION,
        'c', '', '', '', '', '', '', ''
    ].join('\n');
    return toQuery({sv: SIGNED_VERSION, spr: 'http,https', se, sr: 'c', sp: permissions,
                    sig: sign(stringToSign)});
}

// Account SAS for the service's own housekeeping (creating the container, listing, reading).
function accountSas(permissions, expiry) {
    const se = isoTime(expiry);
    const stringToSign =
        [ACCOUNT_NAME, permissions, 'b', 'sco', '', se, '', 'http,https', SIGNED_VERSION, '', ''].join('\n');
    return toQuery({sv: SIGNED_VERSION, ss: 'b', srt: 'sco', spr: 'http,https', se, sp: permissions,
                    sig: sign(stringToSign)});
}

module.exports = {ACCOUNT_NAME, containerSas, accountSas};
