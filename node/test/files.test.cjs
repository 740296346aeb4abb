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
const { testModules, scratch } = require('./support.cjs');

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
    [['lint', file], 2],
    [['extract', path.join(dir, 'nothing'), path.join(dir, 'b')], 5],
  ];
  for (const [args, status] of cases) assert.equal(run(...args).status, status, args.join(' '));
});
