'use strict';
// Quillmark for Node: the companion's commands over bytes, and files
// replaced as the companion replaces them.
const fs = require('node:fs');
const path = require('node:path');
const { call } = require('./core.cjs');

// The companion's exit codes, by the name an error's `code` carries.
const EXIT_CODES = Object.freeze({
  INTERNAL: 1,
  USAGE: 2,
  INPUT_UNREADABLE: 3,
  INPUT_EMPTY: 4,
  MODULE_UNREADABLE: 5,
  NOT_A_MODULE: 6,
  MODULE_UNWRITABLE: 7,
  INPUT_REFUSED: 8,
  NO_VERSION_RESOURCE: 9,
  FIELDS_INVALID: 10,
  OUTPUT_UNWRITABLE: 11,
  WOULD_BREAK: 12,
  DIFFERENT: 13,
});
const CODE_NAMES = Object.fromEntries(Object.entries(EXIT_CODES).map(([name, code]) => [code, name]));

class QuillmarkError extends Error {
  constructor(message, exitCode, kind) {
    super(message);
    this.name = 'QuillmarkError';
    this.code = CODE_NAMES[exitCode] || 'INTERNAL';
    this.exitCode = exitCode;
    this.kind = kind || 'unspecified';
  }
}

// A file name or text in a message as the companion quotes it: between
// single quotes, control characters escaped, cut at 300 bytes.
function quoted(text) {
  let shown = String(text).replace(/[\u0000-\u001f\u007f]/g, (c) => '\\x' + c.charCodeAt(0).toString(16).padStart(2, '0'));
  if (Buffer.byteLength(shown) > 300) shown = Buffer.from(shown).subarray(0, 300).toString('utf8').replace(/\uFFFD$/, '') + '...';
  return `'${shown}'`;
}

function run(operation, first, second, options, consume) {
  const result = call(operation, first, second, options, consume);
  if (result.code !== 0) throw new QuillmarkError(result.text.message, result.code, result.text.kind);
  return result;
}

function usage(message) {
  return new QuillmarkError(message, EXIT_CODES.USAGE, 'usage');
}

function asBytes(value, what) {
  if (value instanceof Uint8Array) return value;
  if (value instanceof ArrayBuffer) return new Uint8Array(value);
  if (typeof value === 'string') return Buffer.from(value, 'utf8');
  throw usage(`${what} must be a Uint8Array, a Buffer or a string`);
}

function text(value) {
  return value === undefined || value === null ? undefined : String(value);
}

function list(value) {
  if (value === undefined || value === null) return [];
  return (Array.isArray(value) ? value : [value]).map(String);
}

// An edit as set's options say it; strings as { key: value } (null removes
// the key) or as [key, value] pairs, kept in order.
function setOptions(edit, options) {
  if (!edit || typeof edit !== 'object') throw usage('the edit must be an object');
  const strings = [];
  const removed = list(edit.removeStrings);
  const entries = Array.isArray(edit.strings) ? edit.strings : Object.entries(edit.strings || {});
  for (const entry of entries) {
    // "KEY=VALUE" as --string takes it, or a pair.
    if (typeof entry === 'string') {
      strings.push(entry);
      continue;
    }
    const [key, value] = entry;
    if (value === null || value === undefined) removed.push(String(key));
    else strings.push(`${key}=${value}`);
  }
  return {
    file: options.file,
    fileVersion: text(edit.fileVersion),
    productVersion: text(edit.productVersion),
    fileVersionString: text(edit.fileVersionString),
    productVersionString: text(edit.productVersionString),
    table: text(edit.table),
    fileOs: text(edit.fileOs),
    fileType: text(edit.fileType),
    fileSubType: text(edit.fileSubType),
    language: text(edit.language),
    strings,
    removeStrings: removed,
    flags: list(edit.flags),
    noFlags: list(edit.noFlags),
    force: Boolean(options.force),
    signed: options.signed === 'refuse' ? 'refuse' : 'remove',
  };
}

function checkSigned(options) {
  if (options.signed !== undefined && options.signed !== 'remove' && options.signed !== 'refuse') {
    throw usage(`--signed: ${JSON.stringify(options.signed)} is neither remove nor refuse`);
  }
}

/**
 * The version information of a module, block file or compiled .res, as show
 * --json gives it; with `language` (hexadecimal, such as '0407'), a module's
 * version resource under that language instead of the one show reads.
 */
function read(bytes, options = {}) {
  const out = run('show', asBytes(bytes, 'the file'), null, {
    file: options.file || 'file',
    format: 'json',
    language: text(options.language),
  });
  return JSON.parse(Buffer.from(out.data).toString('utf8'));
}

/** show's text, json or rc form, exactly as the companion prints it. */
function show(bytes, options = {}) {
  const format = options.format || 'text';
  if (!['text', 'json', 'rc'].includes(format)) throw usage(`--format: ${format} is not one of text, json, rc`);
  const out = run('show', asBytes(bytes, 'the file'), null, { file: options.file || 'file', format, language: text(options.language) });
  return Buffer.from(out.data).toString('utf8');
}

/** The module with set's changes: { bytes, notices }. */
function set(bytes, edit, options = {}) {
  checkSigned(options);
  const out = run('set', asBytes(bytes, 'the module'), null, setOptions(edit, { file: 'module', ...options }));
  return { bytes: out.data, notices: out.text.notices || [] };
}

function infoBytes(info) {
  return asBytes(typeof info === 'object' && !(info instanceof Uint8Array) ? JSON.stringify(info) : info, 'the information');
}

function applyOptions(options) {
  return {
    file: options.file || 'module',
    infoFile: options.infoFile || 'information',
    language: text(options.language),
    onlyVersion: Boolean(options.onlyVersion),
    force: Boolean(options.force),
    signed: options.signed === 'refuse' ? 'refuse' : 'remove',
  };
}

/** The module with its whole version information replaced from show --json's form or a script. */
function apply(bytes, info, options = {}) {
  checkSigned(options);
  const out = run('apply', asBytes(bytes, 'the module'), infoBytes(info), applyOptions(options));
  return { bytes: out.data, notices: out.text.notices || [] };
}

/** A version block from a fields object or file text, or a resource script. */
function build(fields, options = {}) {
  const input = typeof fields === 'object' && !(fields instanceof Uint8Array) ? JSON.stringify(fields) : fields;
  return run('build', asBytes(input, 'the fields'), null, {
    file: options.file || 'fields',
    onlyVersion: Boolean(options.onlyVersion),
  }).data;
}

/** The module's version resource as a block (the bytes extract writes). */
function extract(bytes, options = {}) {
  return run('extract', asBytes(bytes, 'the module'), null, { file: options.file || 'module' }).data;
}

/**
 * One string (by key, found as the platform's version lookup finds it) or
 * fixed-part member (`fixed`, as read() names it) as get prints it, or
 * undefined when the file does not hold it.
 */
function get(bytes, what, options = {}) {
  const asked = typeof what === 'string' ? { key: what } : what || {};
  const out = call('get', asBytes(bytes, 'the file'), null, {
    file: options.file || 'file',
    key: text(asked.key),
    fixed: text(asked.fixed),
    table: text(asked.table ?? options.table),
    language: text(asked.language ?? options.language),
  });
  if (out.code === EXIT_CODES.DIFFERENT) return undefined;
  if (out.code !== 0) throw new QuillmarkError(out.text.message, out.code, out.text.kind);
  return Buffer.from(out.data).toString('utf8').replace(/\n$/, '');
}

function checkOptions(expected, options) {
  if (!expected || typeof expected !== 'object') throw usage('what to check must be an object');
  const strings = Array.isArray(expected.strings) ? expected.strings : Object.entries(expected.strings || {});
  return {
    file: options.file || 'file',
    fileVersion: text(expected.fileVersion),
    productVersion: text(expected.productVersion),
    strings: strings.map((entry) => (typeof entry === 'string' ? entry : `${entry[0]}=${entry[1]}`)),
    flags: list(expected.flags),
    noFlags: list(expected.noFlags),
    table: text(expected.table ?? options.table),
    language: text(expected.language ?? options.language),
  };
}

/** check's differences between what the file holds and `expected` (each a message); none when it holds all. */
function check(bytes, expected, options = {}) {
  return run('check', asBytes(bytes, 'the file'), null, checkOptions(expected, options)).text.differences;
}

/** diff --json's object for two files: { a, b, same, differences }. */
function diff(a, b, options = {}) {
  const out = call('diff', asBytes(a, 'the first file'), asBytes(b, 'the second file'), { a: options.a || 'a', b: options.b || 'b', json: true });
  if (out.code !== 0 && out.code !== EXIT_CODES.DIFFERENT) throw new QuillmarkError(out.text.message, out.code, out.text.kind);
  return JSON.parse(Buffer.from(out.data).toString('utf8'));
}

/** lint's findings: [{ id, message, table?, key? }], none when it finds nothing. */
function lint(bytes, options = {}) {
  const out = call('lint', asBytes(bytes, 'the file'), null, { file: options.file || 'file', json: true });
  if (out.code !== 0 && out.code !== EXIT_CODES.DIFFERENT) throw new QuillmarkError(out.text.message, out.code, out.text.kind);
  return JSON.parse(Buffer.from(out.data).toString('utf8'));
}

// FNV-1a of the name, as the companion names its temporary files, so a
// leftover from either program is known by the same pattern.
function nameHash(target) {
  let hash = 2166136261;
  for (const byte of Buffer.from(path.basename(target), 'utf8')) {
    hash ^= byte;
    hash = Math.imul(hash, 16777619) >>> 0;
  }
  return hash.toString(16).padStart(8, '0');
}

// The suffix only spreads names apart: the file is created exclusively and
// another name tried on a clash, so it needs no strong randomness, and
// loading the crypto module would cost a small stamp several milliseconds.
function temporaryName(target) {
  const random = Math.floor(Math.random() * 0x10000);
  return `.qm${nameHash(target)}-${random.toString(16).padStart(4, '0')}.tmp`;
}

// The companion's limits: the largest file it reads, and how long it waits
// for another writer of the same module.
const MAX_INPUT_BYTES = 0xffffffff;
const LOCK_WAIT_MS = 3000;

function sleep(ms) {
  Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, ms);
}

// Whether a lock file's writer is gone: it holds the writer's process id,
// and a process killed mid-stamp leaves its lock behind.
function abandoned(lock) {
  let pid;
  try {
    pid = Number.parseInt(fs.readFileSync(lock, 'utf8'), 10);
  } catch {
    return false;
  }
  if (!(pid > 0)) return false;
  try {
    process.kill(pid, 0);
    return false;
  } catch (error) {
    return error.code === 'ESRCH';
  }
}

// Holds `target` against every other writer of this package from its read
// to its replacement. Node cannot take the companion's flock, so the hold
// is a lock file beside the target, created exclusively; a writer that
// finds it waits, as the companion waits, then gives up. A folder where no
// lock file can be made (read-only, or missing) is gone on with unheld, as
// the companion goes on where a file system has no locks; the replacement
// then fails on its own if it must. Gives the function that lets go.
function holdFile(target) {
  const lock = path.join(path.dirname(path.resolve(target)), `.qm${nameHash(target)}.lock`);
  const deadline = Date.now() + LOCK_WAIT_MS;
  for (;;) {
    try {
      const fd = fs.openSync(lock, 'wx', 0o644);
      try {
        fs.writeSync(fd, `${process.pid}\n`);
      } finally {
        fs.closeSync(fd);
      }
      return () => fs.rmSync(lock, { force: true });
    } catch (error) {
      if (error.code !== 'EEXIST') return () => {};
    }
    if (abandoned(lock)) {
      fs.rmSync(lock, { force: true });
      continue;
    }
    if (Date.now() >= deadline) {
      throw new QuillmarkError(`the module ${quoted(target)} cannot be stamped: another program is writing it (waited ${(LOCK_WAIT_MS / 1000).toFixed(1)} s); it was left as it was`, EXIT_CODES.MODULE_UNWRITABLE, 'locked');
    }
    sleep(25);
  }
}

// A system error in the companion's words and kind.
function reasonOf(error) {
  switch (error.code) {
    case 'ENOENT':
      return ['it does not exist', 'missing'];
    case 'ENOTDIR':
      return ['it does not exist (a part of its path is not a folder)', 'missing'];
    case 'EACCES':
    case 'EPERM':
      return ['permission denied', 'denied'];
    case 'EISDIR':
      return ['it is a folder', 'notRegular'];
    default:
      return [String(error.message).replace(/^[A-Z]+: /, '').replace(/, \w+ '.*'$/, ''), 'unreadable'];
  }
}

// A failure to read a file in `role` (module, file, fields file, ...) with
// the exit code the companion gives it.
function readError(error, what, target, exitCode) {
  if (error instanceof QuillmarkError) return error;
  const [reason, kind] = reasonOf(error);
  return new QuillmarkError(`cannot read the ${what} ${quoted(target)}: ${reason}`, exitCode, kind);
}

function fileError(error, role, target) {
  if (error instanceof QuillmarkError) return error;
  if (role === 'read') return readError(error, 'module', target, EXIT_CODES.MODULE_UNREADABLE);
  const [reason, kind] = reasonOf(error);
  return new QuillmarkError(`the module ${quoted(target)} cannot be stamped: ${reason}; it was left as it was`, EXIT_CODES.MODULE_UNWRITABLE, kind === 'unreadable' ? 'cannotWrite' : kind);
}

// Writes `bytes` beside `target` and renames it over: flushed first, with
// the target's mode, so the module is either the new one whole or the old
// one as it was.
function replaceFile(target, bytes, mode) {
  const folder = path.dirname(path.resolve(target));
  let temp;
  let fd;
  for (let tries = 0; ; ++tries) {
    temp = path.join(folder, temporaryName(target));
    try {
      fd = fs.openSync(temp, 'wx', mode & 0o7777);
      break;
    } catch (error) {
      if (error.code !== 'EEXIST' || tries > 16) throw error;
    }
  }
  try {
    for (let done = 0; done < bytes.length; ) done += fs.writeSync(fd, bytes, done, bytes.length - done);
    fs.fchmodSync(fd, mode & 0o7777);
    fs.fsyncSync(fd);
    fs.closeSync(fd);
    fd = undefined;
    fs.renameSync(temp, target);
  } catch (error) {
    if (fd !== undefined) fs.closeSync(fd);
    fs.rmSync(temp, { force: true });
    throw error;
  }
  try {
    const dir = fs.openSync(folder, 'r');
    try {
      fs.fsyncSync(dir);
    } finally {
      fs.closeSync(dir);
    }
  } catch {
    // A folder that cannot be opened for a flush (some file systems) keeps
    // the new file all the same.
  }
}

// The module file for a stamp in place: an input that reads it straight
// into the core's memory, and its mode for the new file.
function openModule(target) {
  let stat;
  try {
    stat = fs.statSync(target);
  } catch (error) {
    throw fileError(error, 'read', target);
  }
  if (!stat.isFile()) {
    const what = stat.isDirectory() ? 'it is a folder' : 'it is not a regular file';
    throw new QuillmarkError(`the module ${quoted(target)} cannot be stamped: ${what}; it was left as it was`, EXIT_CODES.MODULE_UNWRITABLE, 'notRegular');
  }
  if (stat.size > MAX_INPUT_BYTES) {
    throw new QuillmarkError(`cannot read the module ${quoted(target)}: it is larger than ${MAX_INPUT_BYTES} bytes`, EXIT_CODES.MODULE_UNREADABLE, 'tooLarge');
  }
  const input = {
    size: stat.size,
    readInto(view) {
      let fd;
      try {
        fd = fs.openSync(target, 'r');
        for (let done = 0; done < view.length; ) {
          const n = fs.readSync(fd, view, done, view.length - done, done);
          if (n === 0) throw Object.assign(new Error('it was read short'), { code: 'ESHORT' });
          done += n;
        }
      } catch (error) {
        throw fileError(error, 'read', target);
      } finally {
        if (fd !== undefined) fs.closeSync(fd);
      }
    },
  };
  return { input, mode: stat.mode };
}

// Runs a stamp on the file and replaces it with the result, written from
// the core's memory: the module is never held twice over in JavaScript. The
// file is held from its read to its replacement. A dry run composes and
// checks the new module as a real stamp does, and writes nothing.
function stampInPlace(target, operation, second, coreOptions, dryRun) {
  // The companion refuses a wrong edit or information before it looks at
  // any module: the core is asked first with no module at all, where only
  // those fail other than as "not a module".
  const precheck = call(operation, null, second, coreOptions);
  if (precheck.code !== 0 && precheck.code !== EXIT_CODES.NOT_A_MODULE) {
    throw new QuillmarkError(precheck.text.message, precheck.code, precheck.text.kind);
  }
  const letGo = holdFile(target);
  try {
    const { input, mode } = openModule(target);
    const out = run(operation, input, second, { ...coreOptions, dryRun: Boolean(dryRun) }, (view) => {
      if (dryRun) return Buffer.from(view).toString('utf8');
      try {
        replaceFile(target, view, mode);
      } catch (error) {
        throw fileError(error, 'write', target);
      }
    });
    return dryRun ? { notices: [], shown: out.data || '' } : { notices: out.text.notices || [] };
  } finally {
    letGo();
  }
}

/** Changes a module file in place (set's edit): { notices }. The file is replaced whole or left as it was. */
function stampFile(target, edit, options = {}) {
  checkSigned(options);
  return stampInPlace(target, 'set', null, setOptions(edit, { ...options, file: options.file || target }), options.dryRun);
}

/** apply on a module file in place: { notices }. */
function applyFile(target, info, options = {}) {
  checkSigned(options);
  return stampInPlace(target, 'apply', infoBytes(info), applyOptions({ ...options, file: options.file || target }), options.dryRun);
}

// A whole input file as the companion reads one: "-" is the standard
// input; a regular file larger than the companion takes is refused before
// it is read.
function readInputFile(file, what, exitCode = EXIT_CODES.INPUT_UNREADABLE) {
  const shown = file === '-' ? 'standard input' : file;
  try {
    if (file === '-') return fs.readFileSync(0);
    const stat = fs.statSync(file);
    if (stat.isFile() && stat.size > MAX_INPUT_BYTES) {
      throw new QuillmarkError(`cannot read the ${what} ${quoted(shown)}: it is larger than ${MAX_INPUT_BYTES} bytes`, exitCode, 'tooLarge');
    }
    return fs.readFileSync(file);
  } catch (error) {
    throw readError(error, what, shown, exitCode);
  }
}

/** read() of a file. */
function readFile(target, options = {}) {
  return read(readInputFile(target, 'file'), { ...options, file: options.file || target });
}

module.exports = {
  QuillmarkError,
  EXIT_CODES,
  read,
  show,
  set,
  apply,
  build,
  extract,
  get,
  check,
  diff,
  lint,
  stampFile,
  applyFile,
  readFile,
  // For the package's command.
  call,
  stampInPlace,
  holdFile,
  readInputFile,
  replaceFile,
  readError,
  quoted,
  MAX_INPUT_BYTES,
};
