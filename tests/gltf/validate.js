// Validates each .glb named on the command line with the Khronos
// glTF-Validator: one line per file with its counts of errors, warnings,
// infos and hints, then each error and warning. Exit status 0 if no file has
// an error or a warning, 1 if one has, 2 if the validator cannot run.
'use strict';
const fs = require('fs');
const validator = require('gltf-validator');

async function main(files) {
  let clean = true;
  for (const file of files) {
    const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(file)), {maxIssues: 50});
    const issues = report.issues;
    console.log(`${file}: ${issues.numErrors} errors, ${issues.numWarnings} warnings, ` +
                `${issues.numInfos} infos, ${issues.numHints} hints`);
    for (const message of issues.messages) {
      // Severity 0 is an error, 1 a warning, 2 an info, 3 a hint.
      console.log(`  ${['error', 'warning', 'info', 'hint'][message.severity]} ${message.code} ` +
                  `${message.pointer || ''}: ${message.message}`);
    }
    if (issues.numErrors > 0 || issues.numWarnings > 0) clean = false;
  }
  return clean ? 0 : 1;
}

main(process.argv.slice(2)).then(
    (status) => process.exit(status),
    (error) => {
      console.error(`validate.js: ${error}`);
      process.exit(2);
    });
