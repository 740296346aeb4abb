'use strict';
// The package as users get it: packed, installed into a scratch project
// without the network, and its API, rcedit call and command run from there.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync, spawnSync } = require('node:child_process');
const { testModules, scratch } = require('./support.cjs');

const packageDir = path.join(__dirname, '..');
const sample = testModules().sort((a, b) => fs.statSync(a).size - fs.statSync(b).size)[0];
const npm = process.platform === 'win32' ? 'npm.cmd' : 'npm';

test('packed, installed offline and run from a scratch project', { skip: !sample, timeout: 180000 }, (t) => {
  const dir = scratch(t);
  const quiet = { cwd: dir, encoding: 'utf8', env: { ...process.env, npm_config_cache: path.join(dir, 'cache'), npm_config_update_notifier: 'false', npm_config_fund: 'false', npm_config_audit: 'false' } };
  const tgz = process.env.QM_NODE_PACKAGE || path.join(dir, execFileSync(npm, ['pack', '--silent', packageDir, '--pack-destination', dir], quiet).trim().split('\n').pop());
  const listed = execFileSync('tar', ['-tzf', tgz], { encoding: 'utf8' });
  assert.match(listed, /package\/wasm\/quillmark-core\.wasm/);
  const project = path.join(dir, 'project');
  fs.mkdirSync(project);
  fs.writeFileSync(path.join(project, 'package.json'), '{"name":"scratch","version":"1.0.0","private":true}');
  execFileSync(npm, ['install', '--offline', '--no-package-lock', tgz], { ...quiet, cwd: project });
  const installed = path.join(project, 'node_modules', 'quillmark');
  // No install script, no native addon.
  const manifest = JSON.parse(fs.readFileSync(path.join(installed, 'package.json'), 'utf8'));
  assert.equal(manifest.scripts && (manifest.scripts.install || manifest.scripts.postinstall || manifest.scripts.preinstall), undefined);
  assert.equal(listed.split('\n').filter((f) => f.endsWith('.node')).length, 0);
  const module = path.join(project, 'app.exe');
  fs.copyFileSync(sample, module);
  const script = (body, ext) => {
    const file = path.join(project, 'run' + ext);
    fs.writeFileSync(file, body);
    return spawnSync(process.execPath, [file], { cwd: project, encoding: 'utf8' });
  };
  let r = script(`const q = require('quillmark'); q.stampFile('app.exe', { fileVersion: '4.3.2.1' }); console.log(q.readFile('app.exe').fileVersion);`, '.cjs');
  assert.equal(r.stdout.trim(), '4.3.2.1', r.stderr);
  r = script(`import { readFile } from 'quillmark'; import rcedit from 'quillmark/rcedit';
await rcedit('app.exe', { 'product-version': '8.0', 'version-string': { ProductName: 'Scratch' } });
const info = readFile('app.exe'); console.log(info.productVersion, JSON.stringify(info.stringTables[0].strings));`, '.mjs');
  assert.match(r.stdout, /^8\.0\.0\.0 .*"ProductName","Scratch"/, r.stderr);
  r = spawnSync(path.join(project, 'node_modules', '.bin', 'quillmark'), ['show', 'app.exe'], { cwd: project, encoding: 'utf8' });
  assert.equal(r.status, 0, r.stderr);
  assert.match(r.stdout, /Scratch/);
});
