'use strict';
// What the Node tests share: the native companion and the modules its own
// tests build (named by the environment, as scripts/test.sh sets it), and
// scratch folders.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

const root = path.resolve(__dirname, '..', '..');
const cli = process.env.QM_CLI || path.join(root, 'build', 'linux', 'src', 'cli', 'quillmark-cli');
const moduleFolders = (process.env.QM_TEST_MODULES || ['tests/cli/fixtures', 'tests/pe/modules'].map((f) => path.join(root, 'build', 'linux', f)).join(path.delimiter))
  .split(path.delimiter)
  .filter((folder) => fs.existsSync(folder));

function isModule(file) {
  const head = Buffer.alloc(2);
  const fd = fs.openSync(file, 'r');
  try {
    return fs.readSync(fd, head, 0, 2, 0) === 2 && head.toString('latin1') === 'MZ';
  } finally {
    fs.closeSync(fd);
  }
}

// Every module the native tests built, by path; with `all`, their other
// files too (compiled resource files, objects).
function testModules(all = false) {
  const found = [];
  for (const folder of moduleFolders) {
    for (const name of fs.readdirSync(folder).sort()) {
      const file = path.join(folder, name);
      if (fs.statSync(file).isFile() && (all || isModule(file)) && !name.startsWith('verquery')) found.push(file);
    }
  }
  return found;
}

function scratch(t) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'qm-node-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  return dir;
}

// The native companion on a copy of `module`: its exit code, messages and
// the bytes it left.
function native(dir, module, args) {
  const copy = path.join(dir, 'native-' + path.basename(module));
  fs.copyFileSync(module, copy);
  const run = spawnSync(cli, [args[0], copy, ...args.slice(1)], { encoding: 'utf8' });
  return { status: run.status, stderr: run.stderr, bytes: fs.readFileSync(copy), path: copy };
}

const haveNative = fs.existsSync(cli);

// Every file under `dir`, by path, with its bytes.
function tree(dir, files = {}) {
  for (const name of fs.readdirSync(dir).sort()) {
    const file = path.join(dir, name);
    const stat = fs.lstatSync(file);
    if (stat.isDirectory()) tree(file, files);
    else if (stat.isFile()) files[file] = fs.readFileSync(file);
  }
  return files;
}

// One command line run by the companion and by the package's command, each
// on a fresh copy of `files` ({ path: source }) when given: the exit code,
// the output, the messages (with the program's name taken off) and the
// files each left.
function bothCommands(args, files = {}) {
  const { main } = require('../bin/quillmark.cjs');
  const fresh = () => {
    for (const [to, from] of Object.entries(files)) {
      fs.rmSync(to, { recursive: true, force: true });
      fs.cpSync(from, to, { recursive: true });
    }
  };
  const left = () => Object.fromEntries(Object.keys(files).map((to) => [to, fs.statSync(to).isDirectory() ? tree(to) : fs.readFileSync(to)]));
  fresh();
  const run = spawnSync(cli, args);
  const companion = { status: run.status, out: run.stdout, err: run.stderr.toString('utf8').replace(/^quillmark-cli: /gm, ''), files: left() };
  fresh();
  const collect = () => {
    const chunks = [];
    return { chunks, write: (data) => chunks.push(Buffer.from(data)) };
  };
  const out = collect();
  const err = collect();
  const status = main(args, out, err);
  const ours = { status, out: Buffer.concat(out.chunks), err: Buffer.concat(err.chunks).toString('utf8').replace(/^quillmark: /gm, ''), files: left() };
  return { companion, ours };
}

module.exports = { root, cli, haveNative, testModules, scratch, native, bothCommands };
