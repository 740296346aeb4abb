#!/usr/bin/env node
'use strict';
// quillmark: the companion's commands show, set, apply, build and extract
// over the package's API, with its options, output and exit codes. The
// commands that need the native companion's folder walks and reports
// (get, check, diff, lint, inject, stamp; --recursive, --report, set
// --dry-run) say so and exit with 2.
const fs = require('node:fs');
const q = require('../lib/index.cjs');

const PROGRAM = 'quillmark';
const COMMANDS = ['show', 'set', 'apply', 'build', 'extract'];
const NATIVE_ONLY = ['get', 'check', 'diff', 'lint', 'inject', 'stamp'];

class Usage extends Error {}

// Options of each command: the kind of value each takes.
const OPTIONS = {
  show: { '--json': 'flag', '--format': 'one' },
  set: {
    '--file-version': 'one',
    '--product-version': 'one',
    '--file-version-string': 'one',
    '--product-version-string': 'one',
    '--string': 'many',
    '--remove-string': 'many',
    '--table': 'one',
    '--flag': 'many',
    '--no-flag': 'many',
    '--file-os': 'one',
    '--file-type': 'one',
    '--file-subtype': 'one',
    '--language': 'one',
    '--force': 'flag',
    '--signed': 'one',
  },
  apply: { '--language': 'one', '--only-version': 'flag', '--force': 'flag', '--signed': 'one' },
  build: { '--only-version': 'flag' },
  extract: {},
};

function parse(command, args) {
  const known = OPTIONS[command];
  const options = {};
  const positional = [];
  for (let i = 0; i < args.length; ++i) {
    let arg = args[i];
    if (arg === '--') {
      positional.push(...args.slice(i + 1));
      break;
    }
    if (!arg.startsWith('--') || arg === '-') {
      positional.push(arg);
      continue;
    }
    let value;
    const eq = arg.indexOf('=');
    if (eq > 0) {
      value = arg.slice(eq + 1);
      arg = arg.slice(0, eq);
    }
    const kind = known[arg];
    if (!kind) throw new Usage(`The following argument was not expected: ${arg}`);
    if (kind === 'flag') {
      if (value !== undefined) throw new Usage(`${arg}: takes no value`);
      options[arg] = true;
      continue;
    }
    if (value === undefined) {
      if (i + 1 >= args.length) throw new Usage(`${arg}: 1 required TEXT missing`);
      value = args[++i];
    }
    if (kind === 'many') (options[arg] ||= []).push(value);
    else if (arg in options) throw new Usage(`${arg}: given more than once`);
    else options[arg] = value;
  }
  return { options, positional };
}

function need(positional, names) {
  if (positional.length < names.length) throw new Usage(`${names[positional.length]} is required`);
  if (positional.length > names.length) throw new Usage(`The following argument was not expected: ${positional[names.length]}`);
}

function readInput(file, what, exitCode = q.EXIT_CODES.INPUT_UNREADABLE) {
  try {
    return file === '-' ? fs.readFileSync(0) : fs.readFileSync(file);
  } catch (error) {
    throw q.readError(error, what, file === '-' ? 'standard input' : file, exitCode);
  }
}

function writeOutput(file, bytes) {
  try {
    const mode = fs.existsSync(file) ? fs.statSync(file).mode : 0o666 & ~process.umask();
    q.replaceFile(file, bytes, mode);
  } catch (error) {
    throw new q.QuillmarkError(`cannot write the block file ${q.quoted(file)}: ${error.message}`, q.EXIT_CODES.OUTPUT_UNWRITABLE, 'cannotWrite');
  }
}

function signedOf(options) {
  const signed = options['--signed'] ?? 'remove';
  if (signed !== 'remove' && signed !== 'refuse') throw new Usage(`--signed: ${signed} not in {remove,refuse}`);
  return signed;
}

function run(command, args, out, err) {
  const { options, positional } = parse(command, args);
  const notify = (notices) => {
    for (const line of notices) err.write(`${PROGRAM}: ${line}\n`);
  };
  switch (command) {
    case 'show': {
      need(positional, ['FILE']);
      if (options['--json'] && options['--format']) throw new Usage('--json excludes --format');
      const format = options['--json'] ? 'json' : options['--format'] || 'text';
      if (!['text', 'json', 'rc'].includes(format)) throw new Usage(`--format: ${format} not in {text,json,rc}`);
      const file = positional[0];
      out.write(q.show(readInput(file, 'file'), { file, format }));
      return;
    }
    case 'set': {
      if (positional.length === 0) throw new Usage('MODULE is required');
      const edit = {
        fileVersion: options['--file-version'],
        productVersion: options['--product-version'],
        fileVersionString: options['--file-version-string'],
        productVersionString: options['--product-version-string'],
        table: options['--table'],
        fileOs: options['--file-os'],
        fileType: options['--file-type'],
        fileSubType: options['--file-subtype'],
        language: options['--language'],
        strings: options['--string'] || [],
        removeStrings: options['--remove-string'],
        flags: options['--flag'],
        noFlags: options['--no-flag'],
      };
      const stampOptions = { force: Boolean(options['--force']), signed: signedOf(options) };
      // Each module on its own: a failure with one does not stop the next;
      // the run ends with the most serious failure's code, in the
      // companion's order (writing, then the module, its contents, inputs).
      const SERIOUS = [1, 7, 6, 5, 8, 9, 12, 10, 3, 4, 11, 2, 13];
      let worst = 0;
      for (const module of positional) {
        try {
          notify(q.stampFile(module, edit, stampOptions).notices);
        } catch (error) {
          if (error instanceof Usage) throw error;
          if (!(error instanceof q.QuillmarkError)) throw error;
          err.write(`${PROGRAM}: ${error.message}\n`);
          if (error.code === 'USAGE') return error.exitCode;
          if (!worst || SERIOUS.indexOf(error.exitCode) < SERIOUS.indexOf(worst)) worst = error.exitCode;
        }
      }
      return worst;
    }
    case 'apply': {
      need(positional, ['MODULE', 'INFO']);
      const [module, infoFile] = positional;
      const info = readInput(infoFile, 'information file');
      notify(q.applyFile(module, info, { infoFile, language: options['--language'], onlyVersion: Boolean(options['--only-version']), force: Boolean(options['--force']), signed: signedOf(options) }).notices);
      return;
    }
    case 'build': {
      need(positional, ['FIELDS', 'BLOCKFILE']);
      const [input, blockFile] = positional;
      writeOutput(blockFile, q.build(readInput(input, 'fields file'), { file: input, onlyVersion: Boolean(options['--only-version']) }));
      return;
    }
    case 'extract': {
      need(positional, ['MODULE', 'BLOCKFILE']);
      const [module, blockFile] = positional;
      writeOutput(blockFile, q.extract(readInput(module, 'module', q.EXIT_CODES.MODULE_UNREADABLE), { file: module }));
      return;
    }
  }
}

function main(argv, out = process.stdout, err = process.stderr) {
  const [command, ...args] = argv;
  if (command === '--version') {
    out.write(`${PROGRAM} ${require('../package.json').version}\n`);
    return 0;
  }
  if (command === undefined || command === '--help' || command === '-h') {
    out.write(`Usage: ${PROGRAM} COMMAND ...\nCommands: ${COMMANDS.join(', ')} (as quillmark-cli's; ${NATIVE_ONLY.join(', ')} need quillmark-cli)\n`);
    return command === undefined ? 2 : 0;
  }
  try {
    if (NATIVE_ONLY.includes(command)) throw new Usage(`${command} is not in the Node package; quillmark-cli has it`);
    if (!COMMANDS.includes(command)) {
      throw new Usage(`unknown command ${q.quoted(command)}; the commands are ${COMMANDS.join(', ')}`);
    }
    return run(command, args, out, err) || 0;
  } catch (error) {
    if (error instanceof Usage) {
      err.write(`${PROGRAM}: ${error.message} (see --help)\n`);
      return q.EXIT_CODES.USAGE;
    }
    if (error instanceof q.QuillmarkError) {
      err.write(`${PROGRAM}: ${error.message}\n`);
      return error.exitCode;
    }
    err.write(`${PROGRAM}: unexpected failure: ${error.message}\n`);
    return 1;
  }
}

if (require.main === module) process.exitCode = main(process.argv.slice(2));
module.exports = { main };
