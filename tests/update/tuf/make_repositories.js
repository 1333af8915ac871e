// Writes the signed-update repositories that the launcher's TUF tests serve, with
// @tufjs/models (a TUF implementation this project did not write): the metadata and its
// signatures come from there, so the launcher is checked against another reading of TUF.
//
//   node make_repositories.js OUT_DIR JAR_KEY
//
// OUT_DIR/manifest.json lists the cases: each has the root the launcher is built with and
// steps, each step a server folder (the folder of Config.ini's URL) to run the update
// against and what the run must leave. OUT_DIR/jars/<name>.pak are the packages as served
// (jars scrambled with JAR_KEY).
'use strict';

const crypto = require('crypto');
const fs = require('fs');
const path = require('path');
const { Metadata, Root, Timestamp, Snapshot, Targets, Key, MetaFile, TargetFile, Signature } =
  require('@tufjs/models');
const { canonicalize } = require('@tufjs/canonical-json');

const [outDir, jarKeyText] = process.argv.slice(2);
if (!outDir || !jarKeyText) {
  console.error('usage: make_repositories.js OUT_DIR JAR_KEY');
  process.exit(2);
}
const jarKey = Number(jarKeyText);

// ---- files ----------------------------------------------------------------------------

// CRC-32 of zip entries (zlib's own is missing from older Node.js).
const crcTable = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});
function crc32(bytes) {
  let c = 0xffffffff;
  for (const b of bytes) c = crcTable[(c ^ b) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

// A zip archive of stored entries: what a jar is, as far as the launcher checks.
function zip(entries) {
  const locals = [];
  const centrals = [];
  let offset = 0;
  for (const [name, text] of entries) {
    const data = Buffer.from(text);
    const nameBytes = Buffer.from(name);
    const crc = crc32(data);
    const local = Buffer.alloc(30);
    local.writeUInt32LE(0x04034b50, 0);
    local.writeUInt16LE(10, 4);
    local.writeUInt32LE(crc, 14);
    local.writeUInt32LE(data.length, 18);
    local.writeUInt32LE(data.length, 22);
    local.writeUInt16LE(nameBytes.length, 26);
    const central = Buffer.alloc(46);
    central.writeUInt32LE(0x02014b50, 0);
    central.writeUInt16LE(20, 4);
    central.writeUInt16LE(10, 6);
    central.writeUInt32LE(crc, 16);
    central.writeUInt32LE(data.length, 20);
    central.writeUInt32LE(data.length, 24);
    central.writeUInt16LE(nameBytes.length, 28);
    central.writeUInt32LE(offset, 42);
    locals.push(local, nameBytes, data);
    centrals.push(central, nameBytes);
    offset += 30 + nameBytes.length + data.length;
  }
  const directory = Buffer.concat(centrals);
  const end = Buffer.alloc(22);
  end.writeUInt32LE(0x06054b50, 0);
  end.writeUInt16LE(entries.length, 8);
  end.writeUInt16LE(entries.length, 10);
  end.writeUInt32LE(directory.length, 12);
  end.writeUInt32LE(offset, 16);
  return Buffer.concat([...locals, directory, end]);
}

function scramble(bytes) {
  return Buffer.from(bytes.map((b) => b ^ jarKey));
}

function packageOf(label) {
  return scramble(zip([['META-INF/MANIFEST.MF', 'Manifest-Version: 1.0\r\n\r\n'],
                       ['zobj/Run.class', `release ${label} `.repeat(300)]]));
}

const jars = {v1: packageOf('v1'), v2: packageOf('v2'), v3: packageOf('v3')};
const libs = {
  a: zip([['zlib/A.class', 'library a']]),
  b: zip([['zlib/B.class', 'library b']]),
  c: zip([['zlib/C.class', 'library c']]),
};

const sha256 = (bytes) => crypto.createHash('sha256').update(bytes).digest('hex');

// ---- keys and metadata ----------------------------------------------------------------

function newKey() {
  const { publicKey, privateKey } = crypto.generateKeyPairSync('ec', { namedCurve: 'P-256' });
  const keyObject = {
    keytype: 'ecdsa',
    scheme: 'ecdsa-sha2-nistp256',
    keyval: { public: publicKey.export({ type: 'spki', format: 'pem' }) },
  };
  const keyID = sha256(Buffer.from(canonicalize(keyObject)));
  return {
    keyID,
    privateKey,
    tuf: new Key({ keyID, keyType: keyObject.keytype, scheme: keyObject.scheme, keyVal: keyObject.keyval }),
  };
}

const tufTime = (date) => date.toISOString().replace(/\.\d{3}Z$/, 'Z');
const DAY = 86400 * 1000;
const now = Date.now();
const future = tufTime(new Date(now + 30 * DAY));
const past = tufTime(new Date(Math.floor((now - DAY) / 1000) * 1000));

function sign(metadata, keys) {
  for (const key of keys)
    metadata.sign((data) => new Signature({
      keyID: key.keyID,
      sig: crypto.sign('sha256', data, key.privateKey).toString('hex'),
    }));
  return metadata;
}

const bytesOf = (metadata) => Buffer.from(JSON.stringify(metadata.toJSON(), null, 1));

// One root: its keys for each role and thresholds.
function rootBytes({ version, keys, thresholds = {}, signers, expires = future }) {
  const allKeys = {};
  const roles = {};
  for (const role of ['root', 'timestamp', 'snapshot', 'targets']) {
    for (const key of keys[role]) allKeys[key.keyID] = key.tuf;
    roles[role] = { keyids: keys[role].map((k) => k.keyID), threshold: thresholds[role] || 1 };
  }
  const root = Root.fromJSON({
    _type: 'root', spec_version: '1.0.31', version, expires, keys: Object.fromEntries(
      Object.entries(allKeys).map(([id, key]) => [id, key.toJSON()])),
    roles, consistent_snapshot: true,
  });
  return bytesOf(sign(new Metadata(root), signers));
}

function targetsBytes({ version, release, expires = future, signers }) {
  const targets = new Targets({ version, specVersion: '1.0.31', expires });
  for (const file of release.files) {
    targets.addTarget(new TargetFile({
      path: file.path, length: file.bytes.length, hashes: { sha256: sha256(file.bytes) },
      unrecognizedFields: file.custom ? { custom: file.custom } : {},
    }));
  }
  return bytesOf(sign(new Metadata(targets), signers));
}

function snapshotBytes({ version, targetsVersion, targets, expires = future, signers }) {
  const meta = targets
    ? new MetaFile({ version: targetsVersion, length: targets.length, hashes: { sha256: sha256(targets) } })
    : new MetaFile({ version: targetsVersion });
  const snapshot = new Snapshot({ version, specVersion: '1.0.31', expires, meta: { 'targets.json': meta } });
  return bytesOf(sign(new Metadata(snapshot), signers));
}

function timestampBytes({ version, snapshotVersion, snapshot, expires = future, signers }) {
  const snapshotMeta = new MetaFile({ version: snapshotVersion, length: snapshot.length,
                                      hashes: { sha256: sha256(snapshot) } });
  const timestamp = new Timestamp({ version, specVersion: '1.0.31', expires, snapshotMeta });
  return bytesOf(sign(new Metadata(timestamp), signers));
}

// ---- releases and server folders ------------------------------------------------------

function release(jar, libraryNames) {
  const files = [{ path: 'main.jar', bytes: jars[jar] }];
  // Class-path places run against the names' order, so that the order shown is the signed one.
  libraryNames.forEach((name, i) => files.push({
    path: `libs/lib/${name}.jar`, bytes: libs[name], custom: { class_path_index: libraryNames.length - i },
  }));
  return { jar, files };
}

const V1 = release('v1', ['a', 'b']);
const V2 = release('v2', ['a', 'b', 'c']);

// The vendor's keys: root and targets with a threshold of two.
const vendor = {
  root: [newKey(), newKey(), newKey()],
  timestamp: [newKey()],
  snapshot: [newKey()],
  targets: [newKey(), newKey()],
};
const thresholds = { root: 2, targets: 2 };
const stranger = newKey();

// A consistent-snapshot server folder: every root, timestamp.json, the snapshot and the
// targets metadata under their versions, and the release's files under their hashes.
function serverFolder({
  roots, release: rel, targetsVersion = 1, snapshotVersion = 1, timestampVersion = 1,
  keys = vendor, expires = {}, signers = {}, targetsFile, snapshotTargets, extra = {},
}) {
  const files = {};
  roots.forEach((bytes, i) => { files[`tuf/${i + 1}.root.json`] = bytes; });
  const targets = targetsFile || targetsBytes({
    version: targetsVersion, release: rel, expires: expires.targets,
    signers: signers.targets || keys.targets.slice(0, 2),
  });
  files[`tuf/${targetsVersion}.targets.json`] = targets;
  const snapshot = snapshotBytes({
    version: snapshotVersion, targetsVersion, targets: snapshotTargets || targets, expires: expires.snapshot,
    signers: signers.snapshot || keys.snapshot,
  });
  files[`tuf/${snapshotVersion}.snapshot.json`] = snapshot;
  files['tuf/timestamp.json'] = timestampBytes({
    version: timestampVersion, snapshotVersion, snapshot, expires: expires.timestamp,
    signers: signers.timestamp || keys.timestamp,
  });
  for (const file of rel.files) {
    const dir = path.posix.dirname(file.path);
    const name = `${sha256(file.bytes)}.${path.posix.basename(file.path)}`;
    files[`tuf/targets/${dir === '.' ? '' : dir + '/'}${name}`] = file.bytes;
  }
  return Object.assign(files, extra);
}

const targetName = (file) => {
  const dir = path.posix.dirname(file.path);
  return `tuf/targets/${dir === '.' ? '' : dir + '/'}${sha256(file.bytes)}.${path.posix.basename(file.path)}`;
};

const root1 = rootBytes({ version: 1, keys: vendor, thresholds, signers: vendor.root.slice(0, 2) });
const v1Folder = serverFolder({ roots: [root1], release: V1 });
const classPathV1 = ['lib/b.jar', 'lib/a.jar'];
const classPathV2 = ['lib/c.jar', 'lib/b.jar', 'lib/a.jar'];

// What a run leaves when it installs `jar` (or keeps it) and launches with the class path.
const launches = (jar, classPath, more = {}) => ({ error: '', jar, classPath, ...more });
// What a refused update leaves: the installed v1 starts with its libraries.
const keepsV1 = (more = {}) => launches('v1', classPathV1, more);

// The v2 release in the second step, everything versioned one up.
const v2Args = { release: V2, targetsVersion: 2, snapshotVersion: 2, timestampVersion: 2 };

// Keys after the timestamp key was rotated by root version 2.
const rotated = { ...vendor, timestamp: [newKey()] };
const root2Rotated = rootBytes({ version: 2, keys: rotated, thresholds,
                                 signers: vendor.root.slice(0, 2) });

const cases = [];
function addCase(name, steps, builtInRoot = root1) { cases.push({ name, builtInRoot, steps }); }

addCase('a release installs, then costs two requests, then the next release installs', [
  { folder: v1Folder,
    expect: launches('v1', classPathV1, { libs: ['lib/a.jar', 'lib/b.jar'],
                                          logs: ['install signed release: targets version 1'] }) },
  { folder: v1Folder,
    expect: launches('v1', classPathV1, { requests: ['tuf/2.root.json', 'tuf/timestamp.json'] }) },
  { folder: serverFolder({ roots: [root1], ...v2Args }),
    expect: launches('v2', classPathV2, { libs: ['lib/a.jar', 'lib/b.jar', 'lib/c.jar'] }) },
  // A timestamp re-signed for a new snapshot of the same targets: no download.
  { folder: serverFolder({ roots: [root1], ...v2Args, snapshotVersion: 3, timestampVersion: 3 }),
    expect: launches('v2', classPathV2, {
      requests: ['tuf/2.root.json', 'tuf/timestamp.json', 'tuf/3.snapshot.json'] }) },
]);

addCase('nothing installed and no metadata to be had fails with the version-file text', [
  { folder: {}, expect: { error: 'version', jar: null, logs: ['update metadata not available: timestamp.json'] } },
]);

const expiredCases = [['timestamp'], ['snapshot'], ['targets']];
for (const [role] of expiredCases) {
  addCase(`an expired ${role} installs nothing and the installed release starts`, [
    { folder: v1Folder, expect: keepsV1() },
    { folder: serverFolder({ roots: [root1], ...v2Args, expires: { [role]: past } }),
      expect: keepsV1({ logStarts: [`update metadata expired: ${role}, expired ${past}, clock `] }) },
  ]);
}
addCase('expired metadata with nothing installed fails with the version-file text', [
  { folder: serverFolder({ roots: [root1], release: V1, expires: { timestamp: past } }),
    expect: { error: 'version', jar: null, logStarts: [`update metadata expired: timestamp, expired ${past}, clock `] } },
]);

addCase('a target whose bytes differ is refused', [
  { folder: v1Folder, expect: keepsV1() },
  { folder: (() => {
      const f = serverFolder({ roots: [root1], ...v2Args });
      f[targetName(V2.files[0])] = jars.v3;
      return f;
    })(),
    expect: keepsV1({ logStarts: ['signed file refused: main.jar from:'] }) },
]);
addCase('a package whose bytes differ with nothing installed fails with the signature text', [
  { folder: (() => {
      const f = serverFolder({ roots: [root1], release: V1 });
      f[targetName(V1.files[0])] = jars.v3;
      return f;
    })(),
    expect: { error: 'signature', jar: null } },
]);
addCase('an endless target stops at its signed length and is refused', [
  { folder: v1Folder, expect: keepsV1() },
  { folder: serverFolder({ roots: [root1], ...v2Args }),
    behave: { [targetName(V2.files[0])]: 'endless' },
    expect: keepsV1({ logs: [`exception:the body is longer than ${jars.v2.length} bytes`],
                      noPartialLargerThan: jars.v2.length }) },
]);
addCase('a longer body whose first bytes are the signed ones installs those bytes', [
  { folder: (() => {
      const f = serverFolder({ roots: [root1], release: V1 });
      f[targetName(V1.files[0])] = Buffer.concat([jars.v1, Buffer.from('trailing bytes past the signed length')]);
      return f;
    })(),
    expect: launches('v1', classPathV1) },
]);

addCase('a verified package that cannot replace the jar stays and installs at the next start', [
  // A folder in the jar's place (as a jar held open, or a full disk): the package waits.
  { folder: v1Folder, blockJar: true,
    expect: { error: 'write', jar: null, files: [`${sha256(jars.v1)}.pak.part`, 'lib/a.jar', 'lib/b.jar'] } },
  // Nothing but the rest after the bytes it has is asked for: there is none.
  { folder: v1Folder,
    expect: launches('v1', classPathV1, {
      requests: ['tuf/2.root.json', 'tuf/timestamp.json', targetName(V1.files[0])],
      rangeStarts: { [targetName(V1.files[0])]: [jars.v1.length] } }) },
]);

addCase('a broken-off download keeps its bytes, also through a run without metadata', [
  { folder: v1Folder, expect: keepsV1() },
  // Every attempt breaks off after 1000 more bytes: the download error, the bytes stay.
  { folder: serverFolder({ roots: [root1], ...v2Args }), behave: { [targetName(V2.files[0])]: 'drop_after 1000' },
    expect: { error: 'package', jar: 'v1', files: [`${sha256(jars.v2)}.pak.part`] } },
  { folder: serverFolder({ roots: [root1], ...v2Args }), behave: { 'tuf/timestamp.json': 'status 404' },
    expect: keepsV1({ files: [`${sha256(jars.v2)}.pak.part`] }) },
  // The next run with the release goes on from them.
  { folder: serverFolder({ roots: [root1], ...v2Args }),
    expect: launches('v2', classPathV2, { rangeStarts: { [targetName(V2.files[0])]: [3000] } }) },
]);

addCase('a timestamp of a lower version than the trusted one is refused', [
  { folder: serverFolder({ roots: [root1], release: V1, timestampVersion: 5 }), expect: keepsV1() },
  { folder: serverFolder({ roots: [root1], ...v2Args, timestampVersion: 4 }),
    expect: keepsV1({ logs: ['update metadata refused: timestamp metadata version 4 is lower than the trusted 5'] }) },
]);
addCase('a timestamp naming a lower snapshot version than the trusted one is refused', [
  { folder: serverFolder({ roots: [root1], release: V1, snapshotVersion: 5, timestampVersion: 5 }), expect: keepsV1() },
  { folder: serverFolder({ roots: [root1], ...v2Args, snapshotVersion: 4, timestampVersion: 6 }),
    expect: keepsV1({ logs: ['update metadata refused: timestamp names snapshot version 4, lower than the trusted 5'] }) },
]);
addCase('a snapshot naming an older release\'s targets metadata is refused', [
  { folder: serverFolder({ roots: [root1], release: V1, targetsVersion: 5 }), expect: keepsV1() },
  { folder: serverFolder({ roots: [root1], release: V2, targetsVersion: 4, snapshotVersion: 2, timestampVersion: 2 }),
    expect: keepsV1({ logs: ['update metadata refused: snapshot names targets.json version 4, lower than the trusted 5'] }) },
]);
addCase('targets metadata of another release under the name the snapshot gives is refused', [
  { folder: v1Folder, expect: keepsV1() },
  { folder: (() => {
      const other = targetsBytes({ version: 2, release: release('v3', ['a']), signers: vendor.targets });
      return serverFolder({ roots: [root1], ...v2Args, targetsFile: other,
                            snapshotTargets: targetsBytes({ version: 2, release: V2, signers: vendor.targets }) });
    })(),
    expect: keepsV1({ logStarts: ['update metadata refused: targets metadata '] }) },
]);

addCase('a root signed by fewer root keys than the threshold is refused', [
  { folder: v1Folder, expect: keepsV1() },
  { folder: serverFolder({
      roots: [root1, rootBytes({ version: 2, keys: rotated, thresholds, signers: vendor.root.slice(0, 1) })],
      ...v2Args, keys: rotated }),
    expect: keepsV1({ logs: ['update metadata refused: root metadata version 2 has 1 valid signatures of root keys, 2 needed'],
                      storeLacks: ['2.root.json'] }) },
]);
addCase('a built-in root signed by fewer keys than its threshold installs nothing', [
  { folder: v1Folder, expect: { error: 'version', jar: null, logStarts: ['update metadata refused: built-in root: '] } },
], rootBytes({ version: 1, keys: vendor, thresholds, signers: vendor.root.slice(0, 1) }));
for (const role of ['timestamp', 'snapshot', 'targets']) {
  addCase(`${role} metadata signed with a key the root does not list is refused`, [
    { folder: v1Folder, expect: keepsV1() },
    { folder: serverFolder({ roots: [root1], ...v2Args,
                             signers: { [role]: role === 'targets' ? [stranger, vendor.targets[0]] : [stranger] } }),
      expect: keepsV1({ logStarts: [`update metadata refused: ${role} metadata version 2 has `] }) },
  ]);
}
addCase('a rotation chain with a gap is not followed', [
  { folder: v1Folder, expect: keepsV1() },
  { folder: (() => {
      const root3 = rootBytes({ version: 3, keys: rotated, thresholds, signers: vendor.root.slice(0, 2) });
      const f = serverFolder({ roots: [root1, root2Rotated, root3], ...v2Args, keys: rotated });
      delete f['tuf/2.root.json'];
      return f;
    })(),
    expect: keepsV1({ logStarts: ['update metadata refused: timestamp metadata version 2 has 0 valid'],
                      storeLacks: ['2.root.json', '3.root.json'] }) },
]);
addCase('a rotated timestamp key voids a far-future timestamp of the old key', [
  { folder: serverFolder({ roots: [root1], release: V1, timestampVersion: 1000000 }), expect: keepsV1() },
  { folder: serverFolder({ roots: [root1, root2Rotated], ...v2Args, keys: rotated }),
    expect: launches('v2', classPathV2, { storeHas: ['2.root.json'] }) },
]);
addCase('withheld metadata installs nothing and the installed release starts', [
  { folder: v1Folder, expect: keepsV1() },
  { folder: serverFolder({ roots: [root1], ...v2Args }), behave: { 'tuf/timestamp.json': 'status 404' },
    expect: keepsV1({ logs: ['update metadata not available: timestamp.json'] }) },
]);
addCase('a clock far in the past is logged as such', [
  { folder: v1Folder, clock: '1990-01-01T00:00:00Z',
    expect: launches('v1', classPathV1, { logStarts: ['client clock far in the past: 1990-01-01T00:00:00Z'] }) },
]);
addCase('a clock far in the future is logged as such', [
  { folder: v1Folder, clock: '2300-01-01T00:00:00Z',
    expect: { error: 'version', jar: null,
              logStarts: ['client clock far in the future: 2300-01-01T00:00:00Z', 'update metadata expired: root, expired '] } },
]);

// ---- output ---------------------------------------------------------------------------

fs.rmSync(outDir, { recursive: true, force: true });
fs.mkdirSync(path.join(outDir, 'jars'), { recursive: true });
for (const [name, bytes] of Object.entries(jars)) fs.writeFileSync(path.join(outDir, 'jars', `${name}.pak`), bytes);
const manifest = { cases: [] };
cases.forEach((c, i) => {
  const caseDir = `case-${String(i).padStart(2, '0')}`;
  fs.mkdirSync(path.join(outDir, caseDir), { recursive: true });
  fs.writeFileSync(path.join(outDir, caseDir, 'root.json'), c.builtInRoot);
  const steps = c.steps.map((step, j) => {
    const folder = `${caseDir}/step-${j}`;
    const files = [];
    for (const [name, bytes] of Object.entries(step.folder)) {
      const file = path.join(outDir, folder, name);
      fs.mkdirSync(path.dirname(file), { recursive: true });
      fs.writeFileSync(file, bytes);
      files.push(name);
    }
    return { folder, files: files.sort(), behave: step.behave || {}, clock: step.clock || '',
             blockJar: !!step.blockJar, expect: step.expect };
  });
  manifest.cases.push({ name: c.name, root: `${caseDir}/root.json`, steps });
});
fs.writeFileSync(path.join(outDir, 'manifest.json'), JSON.stringify(manifest, null, 1));
