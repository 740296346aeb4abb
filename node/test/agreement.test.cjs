'use strict';
// Every edit gives exactly the bytes the native companion gives, on every
// module the native tests build, and fails where it fails with the same
// exit code.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const q = require('..');
const { haveNative, testModules, scratch, native, bothCommands } = require('./support.cjs');

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

// Command lines both programs run on every test file (modules, compiled
// resource files, objects) and on hostile ones: `f` the file, `o` another,
// `x` a path that names nothing.
const READING = [
  (f) => ['get', f, 'CompanyName'],
  (f) => ['get', f, 'FileVersion', '--table', '040904B0'],
  (f) => ['get', f, '--fixed', 'file-version'],
  (f) => ['get', f, '--fixed', 'fileFlags'],
  (f) => ['get', f, 'ProductName', '--language', '0407'],
  (f) => ['get', f, 'NoSuchKey'],
  (f) => ['check', f, '--file-version', '1.0.0.1', '--string', 'CompanyName=x', '--flag', 'debug'],
  (f, o) => ['check', f, o, '--product-version', 'v2.4.0-rc.1', '--no-flag', 'prerelease', '--report', 'json'],
  (f, o, x) => ['check', f, x, '--string', 'FileDescription=', '--table', '040904b0'],
  (f, o) => ['diff', f, o],
  (f, o) => ['diff', '--json', o, f],
  (f, o, x) => ['diff', f, x],
  (f, o, x) => ['diff', x, f],
  (f) => ['lint', f],
  (f, o) => ['lint', '--json', f, o],
  (f, o) => ['lint', f, o, '--report', 'json'],
];

// Files the stamp commands take, beside the module being changed.
function stampInputs(dir, module) {
  const inputs = {
    block: path.join(dir, 'in', 'block.bin'),
    fields: path.join(dir, 'in', 'fields.json'),
    broken: path.join(dir, 'in', 'broken.json'),
    empty: path.join(dir, 'in', 'empty.bin'),
  };
  fs.mkdirSync(path.join(dir, 'in'), { recursive: true });
  fs.writeFileSync(inputs.block, q.build({ language: '0407', codePage: '1200', fileVersion: '7.1.0.2' }));
  fs.writeFileSync(inputs.fields, JSON.stringify({ language: '0409', codePage: '1200', fileVersion: '1.2.3.4' }));
  fs.writeFileSync(inputs.broken, '{"fileVersion": "1.2.3.4", ');
  fs.writeFileSync(inputs.empty, '');
  return inputs;
}

// Command lines that change files, each program on its own fresh copy.
const STAMPING = [
  (m) => ['set', m, '--dry-run', '--file-version', '3.2.1', '--string', 'Comments=dry'],
  (m, i) => ['inject', m, i.block],
  (m, i) => ['inject', m, i.fields],
  (m, i) => ['inject', m, i.fields, '--raw'],
  (m, i) => ['inject', m, i.empty],
  (m, i) => ['stamp', m, i.fields],
  (m, i) => ['stamp', m, i.broken],
  (m, i) => ['stamp', m, i.fields, '--signed', 'refuse'],
];

function agrees(args, files) {
  const { companion, ours } = bothCommands(args, files);
  const what = args.map((a) => path.basename(a)).join(' ');
  assert.equal(ours.status, companion.status, `${what}: ${companion.err} / ${ours.err}`);
  assert.ok(ours.out.equals(companion.out), `${what}: the output differs:\n${companion.out}\n${ours.out}`);
  // The parser's own words for a wrong command line are its own.
  if (companion.status !== 2) assert.equal(ours.err, companion.err, what);
  assert.deepEqual(ours.files, companion.files, `${what}: the files left differ`);
}

test('get, check, diff, lint, inject, stamp and set --dry-run agree with the companion', { skip: !haveNative, timeout: 300000 }, (t) => {
  const dir = scratch(t);
  // Hostile files: a module cut short, one with its resource table
  // overwritten, an empty file, a folder, and text.
  const sample = fs.readFileSync(modules[0]);
  const hostile = {
    'cut.exe': sample.subarray(0, 700),
    'overwritten.exe': Buffer.concat([sample.subarray(0, 400), Buffer.alloc(sample.length - 400, 0xff)]),
    'empty.exe': Buffer.alloc(0),
    'text.txt': Buffer.from('VS_VERSION_INFO\n'),
  };
  for (const [name, bytes] of Object.entries(hostile)) fs.writeFileSync(path.join(dir, name), bytes);
  fs.mkdirSync(path.join(dir, 'folder.exe'));
  const files = [...testModules(true), ...Object.keys(hostile).map((n) => path.join(dir, n)), path.join(dir, 'folder.exe')];
  const nothing = path.join(dir, 'nothing.exe');
  for (const [k, file] of files.entries()) {
    for (const row of READING) agrees(row(file, files[(k + 1) % files.length], nothing));
  }
  const inputs = stampInputs(dir, modules[0]);
  for (const module of [...modules, path.join(dir, 'cut.exe'), nothing]) {
    const target = path.join(dir, 'target', path.basename(module));
    for (const row of STAMPING) agrees(row(target, inputs), fs.existsSync(module) ? { [target]: module } : {});
  }
});

test('--recursive and --report over a folder agree with the companion', { skip: !haveNative || modules.length < 3 }, (t) => {
  const dir = scratch(t);
  const source = path.join(dir, 'source');
  fs.mkdirSync(path.join(source, 'b', 'deeper'), { recursive: true });
  fs.copyFileSync(modules[0], path.join(source, 'a.exe'));
  fs.copyFileSync(modules[1], path.join(source, 'b', 'z.dll'));
  fs.copyFileSync(modules[2], path.join(source, 'b', 'deeper', 'ü.exe'));
  fs.writeFileSync(path.join(source, 'b', 'notes.txt'), 'not a module');
  fs.writeFileSync(path.join(source, 'b', 'cut.exe'), fs.readFileSync(modules[0]).subarray(0, 300));
  fs.symlinkSync('a.exe', path.join(source, 'link.exe'));
  fs.mkdirSync(path.join(dir, 'hollow'));
  const walked = path.join(dir, 'walked');
  const hollow = path.join(dir, 'hollow');
  for (const args of [
    ['show', '--recursive', walked],
    ['show', '--recursive', '--format', 'rc', walked],
    ['show', '--recursive', '--json', walked],
    ['show', '--report', 'json', path.join(walked, 'a.exe')],
    ['check', '--recursive', walked, '--file-version', '1.0.0.1'],
    ['check', '--recursive', walked, hollow, '--file-version', '1.0.0.1', '--report', 'json'],
    ['lint', '--recursive', walked],
    ['lint', '--recursive', '--json', walked],
    ['set', '--recursive', walked, '--string', 'Comments=walked'],
    ['set', '--recursive', walked, '--file-version', '9', '--dry-run', '--report', 'json'],
    ['set', '--recursive', walked, '--flag', 'nosuch', '--report', 'json'],
  ]) {
    agrees(args, { [walked]: source });
  }
});
