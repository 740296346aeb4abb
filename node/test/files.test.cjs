'use strict';
// Files replaced as the companion replaces them, the command's exit codes,
// and the rcedit-shaped call.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');
const q = require('..');
const rcedit = require('../lib/rcedit.cjs');
const { testModules, scratch, haveNative, bothCommands } = require('./support.cjs');

const sample = testModules().sort((a, b) => fs.statSync(a).size - fs.statSync(b).size)[0];
const bin = path.join(__dirname, '..', 'bin', 'quillmark.cjs');

test('stampFile replaces the module whole and keeps its mode', { skip: !sample }, (t) => {
  const dir = scratch(t);
  const file = path.join(dir, 'app.exe');
  fs.copyFileSync(sample, file);
  fs.chmodSync(file, 0o751);
  const expected = q.set(fs.readFileSync(file), { fileVersion: '3.1.4' }, { file }).bytes;
  q.stampFile(file, { fileVersion: '3.1.4' });
  assert.ok(fs.readFileSync(file).equals(Buffer.from(expected)));
  assert.equal(fs.statSync(file).mode & 0o777, 0o751);
  assert.deepEqual(fs.readdirSync(dir), ['app.exe']);
  assert.equal(q.readFile(file).fileVersion, '3.1.4.0');
  // A refusal leaves the file as it was.
  const before = fs.readFileSync(file);
  assert.throws(() => q.stampFile(file, { flags: ['nosuch'] }), { code: 'USAGE' });
  assert.throws(() => q.stampFile(path.join(dir, 'missing.exe'), { fileVersion: '1' }), { code: 'MODULE_UNREADABLE' });
  assert.ok(fs.readFileSync(file).equals(before));
});

test('rcedit takes node-rcedit options and refuses the rest by name', { skip: !sample }, async (t) => {
  const dir = scratch(t);
  const file = path.join(dir, 'app.exe');
  fs.copyFileSync(sample, file);
  const expected = q.set(fs.readFileSync(file), { fileVersion: '5.6.7', productVersion: '5.6', strings: { CompanyName: 'Acme', FileDescription: 'App' } }, { file }).bytes;
  await rcedit(file, { 'file-version': '5.6.7', 'product-version': '5.6', 'version-string': { CompanyName: 'Acme', FileDescription: 'App' } });
  assert.ok(fs.readFileSync(file).equals(Buffer.from(expected)));
  for (const option of ['icon', 'requested-execution-level', 'application-manifest', 'resource-string']) {
    await assert.rejects(rcedit(file, { [option]: 'x' }), (e) => e.code === 'USAGE' && e.message.includes(`"${option}"`));
  }
});

test('the command: output and exit codes', { skip: !sample }, (t) => {
  const dir = scratch(t);
  const file = path.join(dir, 'app.exe');
  fs.copyFileSync(sample, file);
  const run = (...args) => spawnSync(process.execPath, [bin, ...args], { encoding: 'utf8' });
  let r = run('set', file, '--file-version', '9.8.7.6', '--string', 'ProductName=Quill');
  assert.equal(r.status, 0, r.stderr);
  r = run('show', '--json', file);
  assert.equal(r.status, 0);
  assert.equal(JSON.parse(r.stdout).fileVersion, '9.8.7.6');
  const cases = [
    [['show', path.join(dir, 'nothing')], 3],
    [['set', file], 2],
    [['set', file, '--bogus'], 2],
    [['set', path.join(dir, 'nothing.exe'), '--flag', 'nosuch'], 2],
    [['set', path.join(dir, 'nothing.exe'), file, '--file-version', '1'], 5],
    [['frobnicate'], 2],
    [['get', file, '--fixed', 'nosuch'], 2],
    [['inject', file], 2],
    [['extract', path.join(dir, 'nothing'), path.join(dir, 'b')], 5],
  ];
  for (const [args, status] of cases) assert.equal(run(...args).status, status, args.join(' '));
});

// A child process running `body` with the package as q and `file` given.
function child(body, file) {
  const script = `const q = require(${JSON.stringify(path.join(__dirname, '..'))}); const file = ${JSON.stringify(file)};\n${body}`;
  return spawnSync(process.execPath, ['-e', script], { encoding: 'utf8', timeout: 60000 });
}

test('stamps from two processes follow each other: no change is lost', { skip: !sample, timeout: 120000 }, async (t) => {
  const dir = scratch(t);
  const file = path.join(dir, 'app.exe');
  fs.copyFileSync(sample, file);
  const writer = (prefix) => {
    const script = `const q = require(${JSON.stringify(path.join(__dirname, '..'))});
for (let i = 0; i < 60; ++i) q.stampFile(${JSON.stringify(file)}, { strings: { ${prefix}: String(i), ['${prefix}' + i]: 'x' } });`;
    return new Promise((resolve) => require('node:child_process').execFile(process.execPath, ['-e', script], (error, stdout, stderr) => resolve(error ? stderr : '')));
  };
  assert.deepEqual(await Promise.all([writer('A'), writer('B')]), ['', '']);
  const keys = q.readFile(file).stringTables.flatMap((table) => table.strings.map(([key]) => key));
  for (let i = 0; i < 60; ++i) assert.ok(keys.includes('A' + i) && keys.includes('B' + i), `a change ${i} was lost`);
  assert.deepEqual(fs.readdirSync(dir), ['app.exe']);
});

test('a held module is waited for, then refused; a hold its process left behind is taken over', { skip: !sample, timeout: 60000 }, (t) => {
  const dir = scratch(t);
  const file = path.join(dir, 'app.exe');
  fs.copyFileSync(sample, file);
  const before = fs.readFileSync(file);
  const letGo = q.holdFile(file);
  let r;
  try {
    r = child(`try { q.stampFile(file, { fileVersion: '2' }); } catch (e) { console.log(e.code, e.kind); console.error(e.message); }`, file);
  } finally {
    letGo();
  }
  assert.equal(r.stdout.trim(), 'MODULE_UNWRITABLE locked', r.stderr);
  assert.equal(r.stderr.trim(), `the module ${q.quoted(file)} cannot be stamped: another program is writing it (waited 3.0 s); it was left as it was`);
  assert.ok(fs.readFileSync(file).equals(before));
  // A process that ends while it holds the module.
  r = child('q.holdFile(file); process.exit(0);', file);
  assert.equal(r.status, 0, r.stderr);
  assert.equal(fs.readdirSync(dir).length, 2);
  q.stampFile(file, { fileVersion: '2' });
  assert.equal(q.readFile(file).fileVersion, '2.0.0.0');
  assert.deepEqual(fs.readdirSync(dir), ['app.exe']);
});

test('a file larger than the companion takes is refused before it is read, as the companion refuses it', { skip: !sample }, (t) => {
  const dir = scratch(t);
  const big = path.join(dir, 'big.exe');
  fs.writeFileSync(big, '');
  fs.truncateSync(big, q.MAX_INPUT_BYTES + 1);
  assert.throws(() => q.stampFile(big, { fileVersion: '1' }), { code: 'MODULE_UNREADABLE', kind: 'tooLarge' });
  assert.throws(() => q.readFile(big), { code: 'INPUT_UNREADABLE', kind: 'tooLarge' });
  if (!haveNative) return;
  for (const args of [['set', big, '--file-version', '1'], ['show', big], ['get', big, 'CompanyName'], ['inject', path.join(dir, 'app.exe'), big]]) {
    const { companion, ours } = bothCommands(args);
    assert.equal(ours.status, companion.status, args.join(' '));
    assert.equal(ours.err, companion.err, args.join(' '));
  }
});
