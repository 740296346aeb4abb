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

// Every module the native tests built, by path.
function testModules() {
  const found = [];
  for (const folder of moduleFolders) {
    for (const name of fs.readdirSync(folder).sort()) {
      const file = path.join(folder, name);
      if (fs.statSync(file).isFile() && isModule(file) && !name.startsWith('verquery')) found.push(file);
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

module.exports = { root, cli, haveNative, testModules, scratch, native };
