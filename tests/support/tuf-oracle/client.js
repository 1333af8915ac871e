// A TUF client that the project did not write (tuf-js): refreshes the metadata of a
// repository served over HTTP and downloads every target that its targets metadata lists.
//
// Usage: node client.js METADATA_DIR METADATA_URL TARGETS_URL DOWNLOAD_DIR
//
// METADATA_DIR holds the trusted root.json to start from and keeps what tuf-js trusts
// between runs (its own store, as an installed client would). Prints one JSON object:
//   {"ok": true, "versions": {"root": N, "timestamp": N, "snapshot": N, "targets": N},
//    "targets": {"<path>": {"length": N, "sha256": "...", "custom": {...}, "file": "..."}}}
// or {"ok": false, "error": "<tuf-js's error>"} with exit code 1.
const crypto = require('crypto');
const fs = require('fs');
const path = require('path');
const { Updater } = require('tuf-js');

async function main() {
  const [metadataDir, metadataBaseUrl, targetBaseUrl, downloadDir] = process.argv.slice(2);
  fs.mkdirSync(downloadDir, { recursive: true });
  const updater = new Updater({ metadataDir, metadataBaseUrl, targetBaseUrl, targetDir: downloadDir,
                                config: { fetchRetries: 0 } });
  await updater.refresh();
  // What tuf-js verified and stored: the list of targets comes from its own copy.
  const stored = (role) => JSON.parse(fs.readFileSync(path.join(metadataDir, `${role}.json`), 'utf8'));
  const result = { ok: true, versions: {}, targets: {} };
  for (const role of ['root', 'timestamp', 'snapshot', 'targets']) result.versions[role] = stored(role).signed.version;
  for (const targetPath of Object.keys(stored('targets').signed.targets).sort()) {
    const info = await updater.getTargetInfo(targetPath);
    if (!info) throw new Error(`no target info for ${targetPath}`);
    const file = path.join(downloadDir, encodeURIComponent(targetPath));
    await updater.downloadTarget(info, file);
    const bytes = fs.readFileSync(file);
    result.targets[targetPath] = {
      length: bytes.length,
      sha256: crypto.createHash('sha256').update(bytes).digest('hex'),
      custom: info.custom,
      file,
    };
  }
  return result;
}

main().then(
  (result) => process.stdout.write(JSON.stringify(result) + '\n'),
  (error) => {
    process.stdout.write(JSON.stringify({ ok: false, error: `${error.name}: ${error.message}` }) + '\n');
    process.exitCode = 1;
  });
