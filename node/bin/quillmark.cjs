#!/usr/bin/env node
'use strict';
// quillmark: the companion's commands over the package's core, with its
// options, output and exit codes. Files are read and folders walked here;
// what a command makes of a file's bytes is the core's.
const fs = require('node:fs');
const path = require('node:path');
const q = require('../lib/index.cjs');

const PROGRAM = 'quillmark';
const COMMANDS = ['show', 'set', 'apply', 'get', 'check', 'diff', 'lint', 'build', 'inject', 'extract', 'stamp'];
const { EXIT_CODES } = q;

class Usage extends Error {}

const STAMP = { '--force': 'flag', '--signed': 'one' };
const WALK = { '--recursive': 'flag', '--report': 'one' };
const CHECKED = {
  '--file-version': 'one',
  '--product-version': 'one',
  '--string': 'many',
  '--flag': 'many',
  '--no-flag': 'many',
  '--table': 'one',
  '--language': 'one',
};

// Options of each command: the kind of value each takes.
const OPTIONS = {
  show: { '--json': 'flag', '--format': 'one', ...WALK },
  set: {
    ...CHECKED,
    '--file-version-string': 'one',
    '--product-version-string': 'one',
    '--remove-string': 'many',
    '--file-os': 'one',
    '--file-type': 'one',
    '--file-subtype': 'one',
    '--dry-run': 'flag',
    ...STAMP,
    ...WALK,
  },
  apply: { '--language': 'one', '--only-version': 'flag', ...STAMP },
  get: { '--fixed': 'one', '--table': 'one', '--language': 'one' },
  check: { ...CHECKED, ...WALK },
  diff: { '--json': 'flag' },
  lint: { '--json': 'flag', ...WALK },
  build: { '--only-version': 'flag' },
  inject: { '--raw': 'flag', ...STAMP },
  extract: {},
  stamp: { ...STAMP },
};

// The positionals of each command: their names, the last one repeated
// where it ends with "...", optional where it ends with "?".
const POSITIONALS = {
  show: ['FILE'],
  set: ['MODULE...'],
  apply: ['MODULE', 'INFO'],
  get: ['FILE', 'KEY?'],
  check: ['FILE...'],
  diff: ['A', 'B'],
  lint: ['FILE...'],
  build: ['FIELDS', 'BLOCKFILE'],
  inject: ['MODULE', 'BLOCKFILE'],
  extract: ['MODULE', 'BLOCKFILE'],
  stamp: ['MODULE', 'FIELDS'],
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
  const names = POSITIONALS[command];
  const required = names.filter((n) => !n.endsWith('?')).length;
  if (positional.length < required) throw new Usage(`${names[positional.length].replace('...', '')} is required`);
  if (!names[names.length - 1].endsWith('...') && positional.length > names.length) {
    throw new Usage(`The following argument was not expected: ${positional[names.length]}`);
  }
  if (options['--report'] !== undefined && !['text', 'json'].includes(options['--report'])) {
    throw new Usage(`--report: ${options['--report']} not in {text,json}`);
  }
  return { options, positional };
}

function signedOf(options) {
  const signed = options['--signed'] ?? 'remove';
  if (signed !== 'remove' && signed !== 'refuse') throw new Usage(`--signed: ${signed} not in {remove,refuse}`);
  return signed;
}

// A failure of the core as the error it reports.
function failed(result) {
  return new q.QuillmarkError(result.text.message, result.code, result.text.kind);
}

// The failure with the same code and a message of its own words first.
function withContext(prefix, error) {
  return new q.QuillmarkError(prefix + error.message, error.exitCode, error.kind);
}

function writeOutput(file, bytes) {
  try {
    const mode = fs.existsSync(file) ? fs.statSync(file).mode : 0o666 & ~process.umask();
    q.replaceFile(file, bytes, mode);
  } catch (error) {
    throw new q.QuillmarkError(`cannot write the block file ${q.quoted(file)}: ${error.message}`, EXIT_CODES.OUTPUT_UNWRITABLE, 'cannotWrite');
  }
}

// ---- many files: the files named, and with --recursive every module under
// the folders named, reported as text or as one JSON record per file.

// From worst to mildest, as the companion ranks a run's failures.
const SERIOUS = [1, 7, 6, 5, 8, 9, 12, 10, 3, 4, 11, 2, 13];

function mostSerious(failures) {
  let worst = 0;
  for (const failure of failures) {
    if (!worst || SERIOUS.indexOf(failure.exitCode) < SERIOUS.indexOf(worst)) worst = failure.exitCode;
  }
  return worst;
}

function counted(count, noun) {
  return `${count} ${noun}${count === 1 ? '' : 's'}`;
}

// What the companion's system calls say of a failure, in its words.
const SYSTEM_REASONS = {
  ENOENT: ['No such file or directory', 'missing'],
  EACCES: ['Permission denied', 'denied'],
  EPERM: ['Operation not permitted', 'denied'],
  ENOTDIR: ['Not a directory', 'unreadable'],
  ELOOP: ['Too many levels of symbolic links', 'unreadable'],
  EIO: ['Input/output error', 'unreadable'],
};

function unreadable(what, shown, error) {
  const [reason, kind] = SYSTEM_REASONS[error.code] || [String(error.message), 'unreadable'];
  return new q.QuillmarkError(`the ${what} ${q.quoted(shown)} cannot be read: ${reason}`, EXIT_CODES.MODULE_UNREADABLE, kind);
}

class FileReport {
  constructor(json, outputIsJson, out, err, failures) {
    Object.assign(this, { json, outputIsJson, out, err, failures, done: 0, failed: 0, skipped: 0, buffer: '', worst: null });
  }

  // Where the command writes what it prints for the file in hand.
  output() {
    if (!this.json) return this.out;
    this.buffer = '';
    return { write: (text) => (this.buffer += text) };
  }

  finished(file, error) {
    if (!error) {
      ++this.done;
      return this.write(file, 'ok', 0, '');
    }
    ++this.failed;
    if (!this.json) return this.failures.push(error);
    if (this.failed === 1 || mostSerious([error, this.worst]) !== this.worst.exitCode) this.worst = error;
    this.write(file, 'failed', error.exitCode, error.message);
  }

  skip(file, why) {
    ++this.skipped;
    this.write(file, 'skipped', 0, why);
  }

  write(file, result, exitCode, message) {
    if (!this.json) return;
    const record = { path: file, result, exitCode, message };
    if (this.buffer) {
      record.output = this.buffer;
      if (this.outputIsJson) {
        try {
          record.output = JSON.parse(this.buffer);
        } catch {
          // Kept as text.
        }
      }
    }
    this.buffer = '';
    this.out.write(JSON.stringify(record) + '\n');
  }

  finish(walked) {
    if (this.json) {
      if (this.failed) this.failures.push(withContext(`${this.failed} of ${counted(this.done + this.failed, 'file')} failed (see the report); the most serious: `, this.worst));
      return;
    }
    if (walked && this.skipped > 0) {
      this.err.write(`${PROGRAM}: ${counted(this.done + this.failed, 'module')} handled, ${this.failed} failed; ${counted(this.skipped, 'other file')} skipped\n`);
    }
  }
}

const byBytes = (a, b) => Buffer.compare(Buffer.from(a), Buffer.from(b));

// Whether a regular file holds a PE module, from at most 68 of its bytes:
// "MZ", then "PE\0\0" where e_lfanew points, inside the file.
function isModuleFile(file) {
  const fd = fs.openSync(file, 'r');
  try {
    const head = Buffer.alloc(0x40);
    if (fs.readSync(fd, head, 0, head.length, 0) < head.length || head[0] !== 0x4d || head[1] !== 0x5a) return false;
    const signature = Buffer.alloc(4);
    return fs.readSync(fd, signature, 0, 4, head.readUInt32LE(0x3c)) === 4 && signature.equals(Buffer.from('PE\0\0', 'latin1'));
  } finally {
    fs.closeSync(fd);
  }
}

// `visit(file, out)` for each module: it throws a QuillmarkError for the
// file's failure. Links under a folder are not followed; a folder with no
// module in it fails, so a pipeline pointed at the wrong one does not pass.
function runOverModules(paths, options, outputIsJson, io, failures, visit) {
  const report = new FileReport(options['--report'] === 'json', outputIsJson, io.out, io.err, failures);
  const handle = (file) => {
    try {
      visit(file, report.output());
      report.finished(file, null);
    } catch (error) {
      if (!(error instanceof q.QuillmarkError)) throw error;
      report.finished(file, error);
    }
  };
  const folder = (dir, shown) => {
    let names;
    try {
      names = fs.readdirSync(dir).sort(byBytes);
    } catch (error) {
      return report.finished(shown, unreadable('folder', shown, error));
    }
    for (const name of names) {
      const file = path.join(dir, name);
      const named = shown + (shown.endsWith('/') ? '' : '/') + name;
      let stat;
      try {
        stat = fs.lstatSync(file);
      } catch (error) {
        report.finished(named, unreadable('file', named, error));
        continue;
      }
      if (stat.isSymbolicLink()) report.skip(named, 'a symbolic link, not followed');
      else if (stat.isDirectory()) folder(file, named);
      else if (!stat.isFile()) report.skip(named, 'not a regular file');
      else {
        let module;
        try {
          module = isModuleFile(file);
        } catch (error) {
          report.finished(named, unreadable('file', named, error));
          continue;
        }
        if (module) handle(named);
        else report.skip(named, 'not a PE module');
      }
    }
  };
  let walked = false;
  for (const argument of paths) {
    let isFolder = false;
    try {
      isFolder = options['--recursive'] && fs.statSync(argument).isDirectory();
    } catch {
      // Handed over as a file, and refused in the command's own words.
    }
    if (!isFolder) {
      handle(argument);
      continue;
    }
    walked = true;
    const before = report.done + report.failed;
    folder(argument, argument);
    if (report.done + report.failed === before) {
      report.finished(argument, new q.QuillmarkError(`no module found under ${q.quoted(argument)}`, EXIT_CODES.NOT_A_MODULE, 'notAModule'));
    }
  }
  report.finish(walked);
}

// ---- the commands

function show(options, [file], io, failures) {
  if (options['--json'] && options['--format']) throw new Usage('--json excludes --format');
  let format = options['--json'] ? 'json' : options['--format'] || 'text';
  if (!['text', 'json', 'rc'].includes(format)) throw new Usage(`--format: ${format} not in {text,json,rc}`);
  const walk = { ...options };
  if (format === 'json' && walk['--recursive']) walk['--report'] = 'json';
  if (format === 'text' && walk['--report'] === 'json') format = 'json';
  // Over a folder in text form each module's text or script is headed by
  // its path; a script's heading is a comment a resource compiler skips.
  const named = walk['--recursive'] && format !== 'json' && walk['--report'] !== 'json';
  runOverModules([file], walk, format === 'json', io, failures, (module, out) => {
    const text = q.show(q.readInputFile(module, 'file'), { file: module, format });
    const heading = named ? (format === 'rc' ? '// File: ' : 'File:            ') + q.quoted(module).slice(1, -1) + '\n' : '';
    out.write(heading + text);
  });
}

function set(options, modules, io, failures) {
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
  const stampOptions = { force: Boolean(options['--force']), signed: signedOf(options), dryRun: Boolean(options['--dry-run']) };
  // A wrong edit is one failure for the command line, before any module:
  // with no module at all, only that fails other than as "not a module".
  try {
    q.set(Buffer.alloc(0), edit, stampOptions);
  } catch (error) {
    if (!(error instanceof q.QuillmarkError) || error.code !== 'NOT_A_MODULE') throw error;
  }
  runOverModules(modules, options, false, io, failures, (module, out) => {
    const result = q.stampFile(module, edit, stampOptions);
    notify(io, result.notices);
    if (result.shown) out.write(result.shown);
  });
}

function notify(io, notices) {
  for (const line of notices) io.err.write(`${PROGRAM}: ${line}\n`);
}

function apply(options, [module, infoFile], io) {
  const info = q.readInputFile(infoFile, 'information file');
  const result = q.applyFile(module, info, {
    infoFile,
    language: options['--language'],
    onlyVersion: Boolean(options['--only-version']),
    force: Boolean(options['--force']),
    signed: signedOf(options),
  });
  notify(io, result.notices);
}

function get(options, [file, key], io) {
  const coreOptions = { file, key, fixed: options['--fixed'], table: options['--table'], language: options['--language'] };
  // The arguments are refused before the file is read.
  const asked = q.call('get', null, null, coreOptions);
  if (asked.code === EXIT_CODES.USAGE) throw failed(asked);
  const result = q.call('get', q.readInputFile(file, 'file'), null, coreOptions);
  io.out.write(Buffer.from(result.data));
  if (result.code !== 0) throw failed(result);
}

function check(options, files, io, failures) {
  const coreOptions = {
    fileVersion: options['--file-version'],
    productVersion: options['--product-version'],
    strings: options['--string'] || [],
    flags: options['--flag'] || [],
    noFlags: options['--no-flag'] || [],
    table: options['--table'],
    language: options['--language'],
  };
  const plan = q.call('check', null, null, { ...coreOptions, planOnly: true });
  if (plan.code !== 0) return failures.push(failed(plan));
  const joined = options['--report'] === 'json';
  runOverModules(files, options, false, io, failures, (file) => {
    const result = q.call('check', q.readInputFile(file, 'file'), null, { ...coreOptions, file });
    if (result.code !== 0) throw failed(result);
    const found = result.text.differences.map((message) => new q.QuillmarkError(message, EXIT_CODES.DIFFERENT, 'different'));
    if (found.length === 0) return;
    // As text each difference is a line of its own; a JSON record carries
    // them in one message.
    if (joined) throw new q.QuillmarkError(found.map((e) => e.message).join('; '), EXIT_CODES.DIFFERENT, 'different');
    failures.push(...found.slice(0, -1));
    throw found[found.length - 1];
  });
}

function diff(options, [a, b], io) {
  const first = q.readInputFile(a, 'file');
  let second;
  try {
    second = q.readInputFile(b, 'file');
  } catch (error) {
    // A is read whole before B is looked at: its own failure comes first.
    const alone = q.call('get', first, null, { file: a, fixed: 'fileVersion' });
    if (alone.code !== 0 && alone.code !== EXIT_CODES.DIFFERENT) throw failed(alone);
    throw error;
  }
  const result = q.call('diff', first, second, { a, b, json: Boolean(options['--json']) });
  io.out.write(Buffer.from(result.data));
  if (result.code !== 0) throw failed(result);
}

function lint(options, files, io, failures) {
  const json = Boolean(options['--json']) || options['--report'] === 'json';
  const named = files.length > 1 || Boolean(options['--recursive']);
  runOverModules(files, options, json, io, failures, (file, out) => {
    const result = q.call('lint', q.readInputFile(file, 'file'), null, { file, json, named });
    out.write(Buffer.from(result.data).toString('utf8'));
    if (result.code !== 0) throw failed(result);
  });
}

function build(options, [input, blockFile]) {
  writeOutput(blockFile, q.build(q.readInputFile(input, 'fields file'), { file: input, onlyVersion: Boolean(options['--only-version']) }));
}

function inject(options, [module, blockFile], io) {
  const block = q.readInputFile(blockFile, 'block file');
  const coreOptions = { file: module, blockFile, raw: Boolean(options['--raw']), force: Boolean(options['--force']), signed: signedOf(options) };
  notify(io, q.stampInPlace(module, 'inject', block, coreOptions).notices);
}

function extract(options, [module, blockFile]) {
  writeOutput(blockFile, q.extract(q.readInputFile(module, 'module', EXIT_CODES.MODULE_UNREADABLE), { file: module }));
}

function stamp(options, [module, fieldsFile], io) {
  const fields = q.readInputFile(fieldsFile, 'fields file');
  const coreOptions = { file: module, fieldsFile, force: Boolean(options['--force']), signed: signedOf(options) };
  notify(io, q.stampInPlace(module, 'stamp', fields, coreOptions).notices);
}

const RUN = { show, set, apply, get, check, diff, lint, build, inject, extract, stamp };

function help(out) {
  out.write(`Usage: ${PROGRAM} COMMAND ...\nCommands: ${COMMANDS.join(', ')}, with quillmark-cli's options, output and exit codes (see quillmark-cli --help)\n`);
}

function main(argv, out = process.stdout, err = process.stderr) {
  const [command, ...args] = argv;
  if (command === '--version') {
    out.write(`${PROGRAM} ${require('../package.json').version}\n`);
    return 0;
  }
  if (command === undefined || command === '--help' || command === '-h') {
    help(out);
    return command === undefined ? EXIT_CODES.USAGE : 0;
  }
  const failures = [];
  try {
    if (!COMMANDS.includes(command)) {
      throw new Usage(`unknown command ${q.quoted(command)}; the commands are ${COMMANDS.slice(0, -1).join(', ')} and ${COMMANDS[COMMANDS.length - 1]}`);
    }
    if (args.includes('--help') || args.includes('-h')) {
      help(out);
      return 0;
    }
    const { options, positional } = parse(command, args);
    RUN[command](options, positional, { out, err }, failures);
  } catch (error) {
    if (error instanceof Usage) {
      err.write(`${PROGRAM}: ${error.message} (see --help)\n`);
      return EXIT_CODES.USAGE;
    }
    if (error instanceof q.QuillmarkError) failures.push(error);
    else failures.push(new q.QuillmarkError(`unexpected failure: ${error.message}`, EXIT_CODES.INTERNAL));
  }
  for (const failure of failures) err.write(`${PROGRAM}: ${failure.message}\n`);
  return mostSerious(failures);
}

if (require.main === module) process.exitCode = main(process.argv.slice(2));
module.exports = { main };
