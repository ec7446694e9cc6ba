'use strict';
// Reads a service reply the way the application does: four plain replacements over the whole
// text ("&amp;" first), then an XML parse. The parser is strict on purpose: a reply the
// application could not parse must fail here too.

function unescapeLikeTheApp(text) {
    return text.split('&amp;').join('&').split('&quot;').join('"').split('&gt;').join('>').split('&lt;').join('<');
}

function decodeEntities(text) {
    return text.replace(/&(#x[0-9a-fA-F]+|#\d+|amp|lt|gt|quot|apos);|&/g, (all, e) => {
        if (e === undefined)
            throw new Error('bare "&" in XML text');
        if (e[0] === '#')
            return String.fromCodePoint(e[1] === 'x' ? parseInt(e.slice(2), 16) : parseInt(e.slice(1), 10));
        return {amp: '&', lt: '<', gt: '>', quot: '"', apos: "'"}[e];
    });
}

// Returns {name, attrs, children, text}; text is the first text child, as the application reads it.
function parseXml(src) {
    let pos = 0;
    const fail = (what) => { throw new Error(`${what} at ${pos}: ${src.slice(pos, pos + 40)}`); };
    const skipSpace = () => { while (/\s/.test(src[pos] ?? '')) pos++; };
    if (src.startsWith('<?xml'))
        pos = src.indexOf('?>') + 2;
    skipSpace();

    function element() {
        if (src[pos] !== '<')
            fail('element expected');
        const name = /^<([A-Za-z_][\w.:-]*)/.exec(src.slice(pos))?.[1] ?? fail('element name expected');
        pos += 1 + name.length;
        const attrs = {};
        for (;;) {
            skipSpace();
            const m = /^([A-Za-z_][\w.:-]*)\s*=\s*("([^"<]*)"|'([^'<]*)')/.exec(src.slice(pos));
            if (!m)
                break;
            attrs[m[1]] = decodeEntities(m[3] ?? m[4]);
            pos += m[0].length;
        }
        const node = {name, attrs, children: [], text: ''};
        if (src.startsWith('/>', pos)) {
            pos += 2;
            return node;
        }
        if (src[pos] !== '>')
            fail('">" expected');
        pos++;
        let sawText = false;
        for (;;) {
            if (pos >= src.length)
                fail(`</${name}> expected`);
            if (src.startsWith('</', pos)) {
                if (!src.startsWith(`</${name}>`, pos))
                    fail(`</${name}> expected`);
                pos += name.length + 3;
                return node;
            }
            if (src[pos] === '<') {
                node.children.push(element());
                continue;
            }
            const end = src.indexOf('<', pos);
            const text = decodeEntities(src.slice(pos, end < 0 ? src.length : end));
            if (end < 0)
                pos = src.length;
            else
                pos = end;
            if (!sawText) {
                node.text = text;
                sawText = true;
            }
        }
    }

    const root = element();
    skipSpace();
    if (pos !== src.length)
        fail('trailing content');
    return root;
}

// {root, info}: info maps each child of the "ProjectInfo" elements (later ones win) to its
// element, so that callers can read text and nested children.
function readReply(body) {
    const root = parseXml(unescapeLikeTheApp(body));
    const info = {};
    for (const pi of root.children.filter((c) => c.name === 'ProjectInfo'))
        for (const c of pi.children)
            info[c.name] = c;
    return {root: root.name, info};
}

module.exports = {readReply, unescapeLikeTheApp, parseXml};
