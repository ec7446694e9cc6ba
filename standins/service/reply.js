'use strict';
// Replies of the plant's service: a "string" element whose text is an escaped XML fragment
// "<ProjectInfo>...</ProjectInfo>", as a WCF service returning a string produces it.

const SERIALIZATION_NS = 'http://schemas.microsoft.com/2003/10/Serialization/';
const INSTANCE_NS = 'http://www.w3.org/2001/XMLSchema-instance';

const ESCAPINGS = ['standard', 'quotes', 'none', 'double'];

function escapeText(text, withQuotes) {
    let out = String(text).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
    return withQuotes ? out.replace(/"/g, '&quot;') : out;
}

// fields: ordered [name, value] pairs; a value that is an array of pairs becomes a nested element.
function fragment(fields, withQuotes) {
    const body = (pairs) =>
        pairs.map(([name, value]) => `<${name}>${
            Array.isArray(value) ? body(value) : escapeText(value, withQuotes)}</${name}>`).join('');
    const open = withQuotes ? `<ProjectInfo xmlns:i="${INSTANCE_NS}">` : '<ProjectInfo>';
    return open + body(fields) + '</ProjectInfo>';
}

// escaping:
//   standard  the fragment escaped once ("<" "&" ">"), as the real service sends it
//   quotes    attribute quotes in the fragment, double quotes escaped too ("&quot;")
//   none      the fragment unescaped inside the root, so its elements are real children
//   double    the fragment escaped twice ("&amp;lt;ProjectInfo&amp;gt;")
function render(fields, {escaping = 'standard', root = 'string'} = {}) {
    if (!ESCAPINGS.includes(escaping))
        throw new Error(`unknown escaping "${escaping}" (one of ${ESCAPINGS.join(', ')})`);
    const withQuotes = escaping === 'quotes';
    const inner = fragment(fields, withQuotes);
    let text;
    if (escaping === 'none')
        text = inner;
    else if (escaping === 'double')
        text = escapeText(escapeText(inner, false), false);
    else
        text = escapeText(inner, withQuotes);
    return `<${root} xmlns="${SERIALIZATION_NS}">${text}</${root}>`;
}

module.exports = {render, escapeText, ESCAPINGS};
