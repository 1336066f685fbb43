// Prints every user table of an Access file as the npm library mdb-reader reads it, in the form
// of `tarnwick-jet export --json`, so that the two can be compared row for row.
//
//   node mdbreader-dump.mjs PEERS_DIR FILE
//
// PEERS_DIR holds node_modules/mdb-reader (scripts/install-peers.sh). Per table one line
// {"table":NAME,"columns":[...]} naming the columns read (complex columns are left out), or
// {"table":NAME,"unreadable":WHY}; then one JSON object per row. Run with TZ=UTC.
//
// Each value is turned into the exporter's form:
// - Currency and Decimal: the library's digit string as it is (4 decimals, the column's scale);
// - Single and Double: the library's number (compared by value, not by text);
// - NaN and infinities: their names as strings; -0 as -0;
// - date/time: the library's Date as YYYY-MM-DDTHH:MM:SS, with .mmm when the milliseconds are not 0;
// - extended date/time: "YYYY.MM.DD HH:MM:SS.nnnnnnnnn" as YYYY-MM-DDTHH:MM:SS with seven
//   decimals (100 ns) when finer than milliseconds, three when finer than seconds;
// - binary and OLE: base64; GUID: upper case in braces; big integers: their digits.

import { readFileSync } from "node:fs";
import { join } from "node:path";
import { pathToFileURL } from "node:url";

const [peers, file] = process.argv.slice(2);
if (!peers || !file) {
    process.stderr.write("usage: node mdbreader-dump.mjs PEERS_DIR FILE\n");
    process.exit(2);
}
const pkgDir = join(peers, "node_modules", "mdb-reader");
const pkg = JSON.parse(readFileSync(join(pkgDir, "package.json"), "utf8"));
const { default: MDBReader } = await import(pathToFileURL(join(pkgDir, pkg.exports["."].node)));

const two = (n) => String(n).padStart(2, "0");

function dateTime(d) {
    const base = `${String(d.getUTCFullYear()).padStart(4, "0")}-${two(d.getUTCMonth() + 1)}-` +
        `${two(d.getUTCDate())}T${two(d.getUTCHours())}:${two(d.getUTCMinutes())}:` +
        `${two(d.getUTCSeconds())}`;
    const ms = d.getUTCMilliseconds();
    return ms ? `${base}.${String(ms).padStart(3, "0")}` : base;
}

function extDateTime(s) {
    const m = /^(\d+)\.(\d\d)\.(\d\d) (\d\d:\d\d:\d\d)\.(\d{9})$/.exec(s);
    if (!m) return s;
    const ticks = m[5].slice(0, 7);
    const frac = ticks.endsWith("0000") ? (ticks === "0000000" ? "" : "." + ticks.slice(0, 3))
        : "." + ticks;
    return `${m[1].padStart(4, "0")}-${m[2]}-${m[3]}T${m[4]}${frac}`;
}

// JSON text of one value of a column of the given type.
function json(type, v) {
    if (v === null || v === undefined) return "null";
    switch (type) {
    case "float":
    case "double":
        if (Object.is(v, -0)) return "-0";
        return Number.isFinite(v) ? String(v) : JSON.stringify(String(v));
    case "bigint":
        return v.toString();
    case "datetime":
        return JSON.stringify(dateTime(v));
    case "datetimextended":
        return JSON.stringify(extDateTime(v));
    case "binary":
    case "ole":
        return JSON.stringify(Buffer.from(v).toString("base64"));
    case "repid":
        return JSON.stringify(`{${v.toUpperCase()}}`);
    default:
        return JSON.stringify(v);
    }
}

const reader = new MDBReader(readFileSync(file));
const out = [];
for (const name of reader.getTableNames()) {
    let columns, rows;
    try {
        const table = reader.getTable(name);
        columns = table.getColumns().filter((c) => c.type !== "complex");
        rows = table.getData({ columns: columns.map((c) => c.name) });
    } catch (e) {
        out.push(JSON.stringify({ table: name, unreadable: String(e.message) }));
        continue;
    }
    out.push(JSON.stringify({ table: name, columns: columns.map((c) => c.name) }));
    for (const row of rows)
        out.push("{" + columns.map((c) => `${JSON.stringify(c.name)}:${json(c.type, row[c.name])}`)
            .join(",") + "}");
}
process.stdout.write(out.join("\n") + (out.length ? "\n" : ""));
