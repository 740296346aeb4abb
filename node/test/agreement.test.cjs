'use strict';
// Every edit gives exactly the bytes the native companion gives, on every
// module the native tests build, and fails where it fails with the same
// exit code.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const q = require('..');
const { haveNative, testModules, scratch, native } = require('./support.cjs');

// [set's command-line options, the same edit through the API]
const EDITS = [
  [['--file-version', '2.4.0-rc.1'], { fileVersion: '2.4.0-rc.1' }],
  [['--product-version', 'v7', '--file-version', '1.2.3.4'], { productVersion: 'v7', fileVersion: '1.2.3.4' }],
  [['--string', 'CompanyName=Brindlewick Ltd', '--string', 'Comments=ünïcødé ✓ 𝄞'], { strings: { CompanyName: 'Brindlewick Ltd', Comments: 'ünïcødé ✓ 𝄞' } }],
  [['--remove-string', 'LegalCopyright', '--flag', 'prerelease', '--no-flag', 'debug'], { removeStrings: ['LegalCopyright'], flags: ['prerelease'], noFlags: ['debug'] }],
  [['--file-os', 'NT (WINDOWS32)', '--file-type', 'DLL', '--file-subtype', '0'], { fileOs: 'NT (WINDOWS32)', fileType: 'DLL', fileSubType: 0 }],
  [['--language', '0407', '--string', 'ProductName=Neu'], { language: '0407', strings: { ProductName: 'Neu' } }],
  [['--table', '040904B0', '--string', 'X=1'], { table: '040904B0', strings: [['X', '1']] }],
  [['--file-version', 'not a version'], { fileVersion: 'not a version' }],
  [['--flag', 'nosuchflag'], { flags: ['nosuchflag'] }],
];

const modules = testModules();

test('the test modules are there', { skip: !haveNative && 'the native build is missing' }, () => {
  assert.ok(modules.length >= 5, `only ${modules.length} test modules found`);
});

for (const module of modules) {
  test(`set on ${path.basename(module)} gives the companion's bytes`, { skip: !haveNative }, (t) => {
    const dir = scratch(t);
    const original = fs.readFileSync(module);
    for (const [args, edit] of EDITS) {
      const expected = native(dir, module, ['set', ...args]);
      let actual;
      try {
        actual = { status: 0, bytes: Buffer.from(q.set(original, edit, { file: expected.path }).bytes) };
      } catch (error) {
        assert.ok(error instanceof q.QuillmarkError, `${args.join(' ')}: ${error.stack}`);
        actual = { status: error.exitCode, bytes: original, message: error.message };
      }
      assert.equal(actual.status, expected.status, `${args.join(' ')}: ${expected.stderr} / ${actual.message}`);
      assert.ok(actual.bytes.equals(expected.bytes), `${args.join(' ')}: the bytes differ`);
      if (actual.message) assert.equal(`quillmark-cli: ${actual.message}\n`, expected.stderr, args.join(' '));
    }
  });
}

test('show, build, extract and apply agree with the companion', { skip: !haveNative }, (t) => {
  const dir = scratch(t);
  const { spawnSync } = require('node:child_process');
  const { cli } = require('./support.cjs');
  for (const module of modules) {
    const bytes = fs.readFileSync(module);
    for (const format of ['text', 'json', 'rc']) {
      const run = spawnSync(cli, ['show', '--format', format, module], { encoding: 'utf8' });
      if (run.status === 0) assert.equal(q.show(bytes, { file: module, format }), run.stdout, `${module} ${format}`);
      else assert.throws(() => q.show(bytes, { file: module, format }), (e) => e.exitCode === run.status && `quillmark-cli: ${e.message}\n` === run.stderr);
    }
    const block = path.join(dir, 'block');
    const run = spawnSync(cli, ['extract', module, block]);
    if (run.status !== 0) continue;
    assert.ok(Buffer.from(q.extract(bytes)).equals(fs.readFileSync(block)), module);
    // Each language's resource read by language is what set's --language edits.
    for (const language of [q.read(bytes).language, ...(q.read(bytes).otherLanguages || [])].filter((l) => l !== undefined)) {
      const hex = language.toString(16).padStart(4, '0');
      const one = q.read(bytes, { language: hex });
      assert.equal(one.language, language, `${module} ${hex}`);
      const edited = q.read(q.set(bytes, { language: hex, strings: { Comments: hex } }).bytes, { language: hex });
      assert.deepEqual(edited.stringTables.map((t) => t.strings.find(([k]) => k === 'Comments')), one.stringTables.map(() => ['Comments', hex]), `${module} ${hex}`);
    }
    // apply of show --json's own output, and build of a script, as the companion does them.
    const info = JSON.stringify(q.read(bytes));
    fs.writeFileSync(path.join(dir, 'info.json'), info);
    const applied = native(dir, module, ['apply', path.join(dir, 'info.json')]);
    assert.equal(applied.status, 0, applied.stderr);
    assert.ok(Buffer.from(q.apply(bytes, info).bytes).equals(applied.bytes), `apply ${module}`);
    const script = q.show(bytes, { format: 'rc' });
    fs.writeFileSync(path.join(dir, 'v.rc'), script);
    const built = spawnSync(cli, ['build', path.join(dir, 'v.rc'), block]);
    assert.equal(built.status, 0);
    assert.ok(Buffer.from(q.build(script)).equals(fs.readFileSync(block)), `build ${module}`);
  }
});

// What a module carries besides its image: appended data, and a signature
// the stamp removes (with a notice) or refuses to break.
test('appended data and signatures as the companion handles them', { skip: !haveNative || !modules.length }, (t) => {
  const { spawnSync } = require('node:child_process');
  const dir = scratch(t);
  const base = path.join(dir, 'base.exe');
  fs.copyFileSync(modules.find((m) => m.endsWith('32.exe')) || modules[0], base);
  const variants = [];
  const appended = path.join(dir, 'appended.exe');
  fs.writeFileSync(appended, Buffer.concat([fs.readFileSync(base), Buffer.alloc(4096, 0xa5)]));
  variants.push(appended);
  const key = path.join(dir, 'key.pem');
  const cert = path.join(dir, 'cert.pem');
  const signedModule = path.join(dir, 'signed.exe');
  const made = spawnSync('openssl', ['req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-subj', '/CN=Test', '-days', '2', '-keyout', key, '-out', cert]);
  if (made.status === 0 && spawnSync('osslsigncode', ['sign', '-certs', cert, '-key', key, '-in', base, '-out', signedModule]).status === 0) {
    variants.push(signedModule);
  }
  for (const module of variants) {
    for (const policy of ['remove', 'refuse']) {
      const expected = native(dir, module, ['set', '--signed', policy, '--string', 'Comments=carried']);
      let actual;
      try {
        const out = q.set(fs.readFileSync(module), { strings: { Comments: 'carried' } }, { signed: policy, file: expected.path });
        actual = { status: 0, bytes: Buffer.from(out.bytes), err: out.notices.map((n) => `quillmark-cli: ${n}\n`).join('') };
      } catch (error) {
        actual = { status: error.exitCode, bytes: fs.readFileSync(module), err: `quillmark-cli: ${error.message}\n` };
      }
      assert.equal(actual.status, expected.status, `${module} ${policy}`);
      assert.equal(actual.err, expected.stderr, `${module} ${policy}`);
      assert.ok(actual.bytes.equals(expected.bytes), `${module} ${policy}: the bytes differ`);
    }
  }
  const haveSigner = spawnSync('osslsigncode', ['--version']).status !== null;
  assert.ok(variants.length === 2 || !haveSigner, 'the signed module was not made');
});
