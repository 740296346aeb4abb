'use strict';
// The WebAssembly core: one instance, loaded on first use, called through
// its C interface (src/wasm/bindings.cpp). Inputs are copied into its
// memory, the result copied out; nothing of the host's files reaches it.
const fs = require('node:fs');
const path = require('node:path');

const Operation = { show: 1, set: 2, build: 3, apply: 4, extract: 5, get: 6, check: 7, diff: 8, lint: 9, inject: 10, stamp: 11 };

let core = null;

function load() {
  if (core) return core;
  const create = require('../wasm/quillmark-core.cjs');
  const instance = { wasmBinary: fs.readFileSync(path.join(__dirname, '..', 'wasm', 'quillmark-core.wasm')) };
  // Compiled synchronously (the module is built so), so the exports are in
  // place when the factory returns; its promise is only for the browser.
  const ready = create(instance);
  if (ready && typeof ready.catch === 'function') ready.catch(() => {});
  if (typeof instance._qm_call !== 'function') throw new Error('quillmark: the WebAssembly core did not load');
  core = instance;
  return core;
}

// An input is bytes, or { size, readInto(view) } that fills the core's memory
// itself (a file read straight into it, with no copy in between).
function sizeOf(input) {
  return input ? (typeof input.readInto === 'function' ? input.size : input.length) : 0;
}

function copyIn(m, input) {
  const size = sizeOf(input);
  if (size === 0) return 0;
  const at = m._malloc(size);
  if (!at) throw new Error('out of memory');
  if (typeof input.readInto === 'function') {
    try {
      input.readInto(m.HEAPU8.subarray(at >>> 0, (at >>> 0) + size));
    } catch (error) {
      m._free(at);
      throw Object.assign(error, { fromHost: true });
    }
  } else {
    m.HEAPU8.set(input, at >>> 0);
  }
  return at;
}

// Runs one operation; gives { code, data, text } where code is 0 or the
// companion's exit code and text the parsed JSON result. With `consume`,
// a successful result's bytes are handed to it as a view of the core's
// memory (valid only during the call) instead of copied out, and data is
// what it returns.
function call(operation, first, second, options, consume) {
  const m = load();
  const optionText = Buffer.from(JSON.stringify(options || {}), 'utf8');
  const pointers = [];
  try {
    const a = copyIn(m, first);
    pointers.push(a);
    const b = copyIn(m, second);
    pointers.push(b);
    const o = copyIn(m, optionText);
    pointers.push(o);
    const code = m._qm_call(
      Operation[operation],
      a,
      sizeOf(first),
      b,
      sizeOf(second),
      o,
      optionText.length
    );
    const textAt = m._qm_result_text() >>> 0;
    const textSize = m._qm_result_text_size() >>> 0;
    const text = JSON.parse(Buffer.from(m.HEAPU8.subarray(textAt, textAt + textSize)).toString('utf8'));
    const dataAt = m._qm_result_data() >>> 0;
    const dataSize = m._qm_result_size() >>> 0;
    const view = m.HEAPU8.subarray(dataAt, dataAt + dataSize);
    if (consume && code === 0) {
      try {
        return { code, data: consume(view), text };
      } catch (error) {
        throw Object.assign(error, { fromHost: true });
      }
    }
    // A copy: the core's memory is reused by the next call.
    return { code, data: new Uint8Array(view), text };
  } catch (error) {
    if (error && error.fromHost) throw error;
    // A trap leaves the instance in no state to go on with: the next call
    // starts a fresh one, and this one fails as an internal error.
    core = null;
    return { code: 1, data: new Uint8Array(0), text: { message: 'internal failure: ' + error.message, kind: 'unspecified', exitCode: 1 } };
  } finally {
    if (core) for (const p of pointers) if (p) m._free(p);
  }
}

module.exports = { call };
