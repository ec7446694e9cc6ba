'use strict';
// Checks a project's uploaded filesets against their uploaded checksum lists.
// Layout in the container: "<projectId>/Content/<folder>/<file>", folder "data" for a single
// disc or "disc<N>" for each disc of a set; each folder carries its own "MD5-Checksum.md5".

const CHECKSUM_LIST = 'MD5-Checksum.md5';

// Accepts what md5sum writes and reads: "<32 hex> *NAME" or "<32 hex>  NAME", LF or CRLF.
function parseChecksumList(text) {
    const entries = [];
    const problems = [];
    const lines = text.split('\n');
    if (lines[lines.length - 1] === '')
        lines.pop();
    lines.forEach((raw, i) => {
        const line = raw.replace(/\r$/, '');
        const m = /^([0-9a-fA-F]{32}) [ *](.+)$/.exec(line);
        if (m)
            entries.push({md5: m[1].toLowerCase(), name: m[2]});
        else
            problems.push(`line ${i + 1} of ${CHECKSUM_LIST} cannot be read`);
    });
    return {entries, problems};
}

// Returns {ok, checked, problems}; problems are short texts naming the folder and file.
async function checkProject(store, projectId) {
    const base = `${projectId}/Content/`;
    const names = await store.list(base);
    const folders = new Map();
    for (const name of names) {
        const rest = name.slice(base.length);
        const slash = rest.indexOf('/');
        if (slash <= 0)
            continue; // directly under Content/: not part of any fileset
        const folder = rest.slice(0, slash);
        if (!folders.has(folder))
            folders.set(folder, new Set());
        folders.get(folder).add(rest.slice(slash + 1));
    }

    const problems = [];
    let checked = 0;
    if (folders.size === 0)
        problems.push(`no files have been uploaded for project ${projectId}`);

    const folderNames = [...folders.keys()].sort();
    for (const folder of folderNames) {
        const files = folders.get(folder);
        if (!files.has(CHECKSUM_LIST)) {
            problems.push(`${folder}: ${CHECKSUM_LIST} is missing`);
            continue;
        }
        const list = parseChecksumList((await store.read(`${base}${folder}/${CHECKSUM_LIST}`)).toString('latin1'));
        problems.push(...list.problems.map((p) => `${folder}: ${p}`));
        if (list.entries.length === 0 && list.problems.length === 0)
            problems.push(`${folder}: ${CHECKSUM_LIST} lists no files`);
        for (const {md5, name} of list.entries) {
            if (!files.has(name)) {
                problems.push(`${folder}: ${name} is missing`);
                continue;
            }
            const actual = await store.md5(`${base}${folder}/${name}`);
            if (actual !== md5)
                problems.push(`${folder}: ${name} does not match its checksum (${actual}, list has ${md5})`);
            else
                checked++;
        }
    }
    return {ok: problems.length === 0, checked, folders: folderNames, problems};
}

module.exports = {checkProject, parseChecksumList, CHECKSUM_LIST};
