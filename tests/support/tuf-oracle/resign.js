// Signs a metadata file anew with @tufjs/models (not the project's code), after changing
// its version and expiry: what someone holding a stolen role key can make.
//
// Usage: node resign.js IN_FILE OUT_FILE KEY_PEM VERSION [EXPIRES]
//
// The signature replaces all others; its key id is the hash of the key as @tufjs/models
// computes it for an ecdsa-sha2-nistp256 key.
const crypto = require('crypto');
const fs = require('fs');
const { Metadata, Key, Signature } = require('@tufjs/models');

const [inFile, outFile, keyFile, version, expires] = process.argv.slice(2);
const document = JSON.parse(fs.readFileSync(inFile, 'utf8'));
const metadata = Metadata.fromJSON(document.signed._type, document);
metadata.signed.version = Number(version);
if (expires) metadata.signed.expires = expires;

const privateKey = crypto.createPrivateKey(fs.readFileSync(keyFile));
const publicPem = crypto.createPublicKey(privateKey).export({ type: 'spki', format: 'pem' });
const keyJSON = { keytype: 'ecdsa', scheme: 'ecdsa-sha2-nistp256', keyval: { public: publicPem } };
const canonical = require('@tufjs/canonical-json').canonicalize(keyJSON);
const keyID = crypto.createHash('sha256').update(canonical).digest('hex');
Key.fromJSON(keyID, keyJSON);  // refuses a key shape @tufjs/models would not verify

metadata.sign((bytes) => new Signature({
  keyID,
  sig: crypto.sign('sha256', bytes, privateKey).toString('hex'),
}), false);
fs.writeFileSync(outFile, JSON.stringify(metadata.toJSON(), null, 1));
