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
  runExamples(project, quiet);
});

// The packaging hooks the README shows, run as the packagers call them; the
// README must show each example as it is here.
function runExamples(project, quiet) {
  const examples = path.join(packageDir, 'examples');
  const readme = fs.readFileSync(path.join(packageDir, '..', 'README.md'), 'utf8');
  const exe = (folder) => {
    fs.mkdirSync(path.join(project, folder), { recursive: true });
    fs.copyFileSync(sample, path.join(project, folder, 'App.exe'));
    return path.join(project, folder, 'App.exe');
  };
  for (const name of fs.readdirSync(examples)) {
    assert.ok(readme.includes(fs.readFileSync(path.join(examples, name), 'utf8')), `README.md shows ${name} as it is`);
    fs.copyFileSync(path.join(examples, name), path.join(project, name));
  }
  const info = (file) => {
    const r = spawnSync(process.execPath, ['-e', `const i = require('quillmark').readFile(${JSON.stringify(file)}); console.log(i.fileVersion, i.productVersion, JSON.stringify(i.stringTables[0].strings))`], { cwd: project, encoding: 'utf8' });
    assert.equal(r.status, 0, r.stderr);
    return r.stdout;
  };
  const hooks = (body) => spawnSync(process.execPath, ['-e', body], { cwd: project, encoding: 'utf8' });
  const packaged = exe('packager'), untouched = exe('packager-linux');
  const before = fs.readFileSync(untouched);
  let r = hooks(`const { afterComplete: [hook] } = require('./electron-packager.cjs');
const run = (dir, platform) => new Promise((ok, fail) => hook(dir, '30.0.0', platform, 'x64', (e) => (e ? fail(e) : ok())));
run('packager', 'win32').then(() => run('packager-linux', 'linux')).catch((e) => { console.error(e); process.exit(1); });`);
  assert.equal(r.status, 0, r.stderr);
  assert.match(info(packaged), /^2\.4\.0\.0 .*"CompanyName","Example Ltd"/);
  assert.deepEqual(fs.readFileSync(untouched), before, 'a build for another platform is left alone');
  const built = exe('builder');
  r = hooks(`require('./electron-builder.cjs').default({ electronPlatformName: 'win32', appOutDir: 'builder', packager: { appInfo: { productFilename: 'App', version: '3.1.7' } } })
  .catch((e) => { console.error(e); process.exit(1); });`);
  assert.equal(r.status, 0, r.stderr);
  assert.match(info(built), /^3\.1\.7\.0 3\.1\.7\.0 .*"CompanyName","Example Ltd"/);
  const written = exe('out');
  r = spawnSync('bash', ['after-build.sh'], { ...quiet, cwd: project });
  assert.equal(r.status, 0, r.stderr);
  assert.match(info(written), /^2\.4\.0\.0 .*"CompanyName","Example Ltd"/);
}
