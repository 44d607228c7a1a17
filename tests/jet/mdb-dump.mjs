// Prints, as JSON, what the npm package mdb-reader reads from a Jet file: the
// password, the creation date, the table names, and every user table with
// its columns and rows. The Jet writer tests compare this with what they wrote.
//
// Usage: node mdb-dump.mjs NPM_DIR FILE
//   NPM_DIR  the folder whose node_modules holds mdb-reader (see scripts/install-deps.sh)
//
// Dates come out as milliseconds since 1970 (mdb-reader turns the stored OLE
// date into a JavaScript Date); numbers that JSON cannot hold (NaN, Infinity)
// as strings.
import { readFileSync } from "node:fs";
import { createRequire } from "node:module";
import path from "node:path";
import { pathToFileURL } from "node:url";

const [npmDir, file] = process.argv.slice(2);
if (!npmDir || !file) {
    console.error("usage: node mdb-dump.mjs NPM_DIR FILE");
    process.exit(2);
}
const require = createRequire(path.join(path.resolve(npmDir), "package.json"));
const { default: MDBReader } = await import(pathToFileURL(require.resolve("mdb-reader")).href);

const value = (v) => {
    if (v instanceof Date) return v.getTime();
    if (typeof v === "number" && !Number.isFinite(v)) return String(v);
    return v;
};

const reader = new MDBReader(readFileSync(file));
const dump = {
    password: reader.getPassword(),
    creationDate: value(reader.getCreationDate()),
    systemTables: reader.getTableNames({ normalTables: false, systemTables: true }),
    tables: reader.getTableNames().map((name) => {
        const table = reader.getTable(name);
        const columns = table.getColumns();
        return {
            name,
            rowCount: table.rowCount,
            columns: columns.map((c) => ({ name: c.name, type: c.type, size: c.size })),
            rows: table.getData().map((row) => columns.map((c) => value(row[c.name]))),
        };
    }),
};
// Qt's JSON parser drops a raw U+FEFF inside strings; written escaped it stays.
process.stdout.write(JSON.stringify(dump).replace(/\ufeff/g, "\\ufeff"));
