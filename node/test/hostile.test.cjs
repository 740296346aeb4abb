'use strict';
// Hostile input: every prefix of a real module, bytes overwritten all over
// it, and inputs of the wrong kind give a QuillmarkError or a result, never
// another exception, a crash of the process or a call that does not end.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const q = require('..');
const { testModules } = require('./support.cjs');

function survives(what, run) {
  try {
    run();
  } catch (error) {
    assert.ok(error instanceof q.QuillmarkError, `${what}: ${error && error.stack}`);
    assert.ok(error.exitCode >= 2 && error.exitCode <= 13, `${what}: exit code ${error.exitCode} (${error.message})`);
    assert.ok(error.message.length > 0 && !error.message.includes('\n'), what);
  }
}

// The smallest test module: every prefix of it is tried.
const modules = testModules().sort((a, b) => fs.statSync(a).size - fs.statSync(b).size);
const sample = modules.length ? fs.readFileSync(modules[0]) : null;

test('every prefix of a module', { skip: !sample, timeout: 240000 }, () => {
  // Every prefix through the headers and section table, then a spread over the rest.
  const cuts = new Set();
  for (let n = 0; n < Math.min(sample.length, 1024); ++n) cuts.add(n);
  for (let n = 1024; n < sample.length; n += Math.max(97, Math.floor(sample.length / 2000))) cuts.add(n);
  for (const n of cuts) {
    const part = sample.subarray(0, n);
    survives(`read of ${n} bytes`, () => q.read(part));
    survives(`set on ${n} bytes`, () => q.set(part, { fileVersion: '1.2.3.4' }));
    survives(`get, check, diff and lint on ${n} bytes`, () => {
      q.get(part, 'CompanyName');
      q.check(part, { fileVersion: '1.2', flags: ['debug'] });
      q.diff(part, sample);
      q.lint(part);
    });
  }
});

test('bytes overwritten across a module', { skip: !sample, timeout: 240000 }, () => {
  let seed = 12345;
  const next = () => (seed = (Math.imul(seed, 1103515245) + 12345) >>> 0);
  for (let round = 0; round < 1000; ++round) {
    const bytes = Buffer.from(sample);
    for (let k = 0; k < 1 + (next() % 8); ++k) bytes[next() % bytes.length] = next() & 0xff;
    // Offsets and sizes that point far away: 0xFF runs in the headers.
    if (round % 5 === 0) bytes.fill(0xff, next() % 512, (next() % 512) + 4);
    survives(`round ${round}`, () => {
      const out = q.set(bytes, { strings: { ProductName: 'x' } });
      q.read(out.bytes);
    });
    survives(`read round ${round}`, () => q.read(bytes));
    survives(`lint round ${round}`, () => q.lint(bytes));
    survives(`diff round ${round}`, () => q.diff(sample, bytes));
  }
});

test('inputs of the wrong kind', () => {
  const cases = [
    ['empty', () => q.read(new Uint8Array(0)), 'INPUT_REFUSED'],
    ['text', () => q.set(Buffer.from('hello'), { fileVersion: '1' }), 'NOT_A_MODULE'],
    ['fields that are not JSON', () => q.build('{"language":'), 'FIELDS_INVALID'],
    ['deep nesting', () => q.build('{"a":' + '['.repeat(100000)), 'FIELDS_INVALID'],
    ['a script with no VERSIONINFO', () => q.build('STRINGTABLE { 1, "x" }'), 'FIELDS_INVALID'],
    ['an edit that changes nothing', () => q.set(sample || Buffer.from('MZ'), {}), 'USAGE'],
    ['a language that is not hexadecimal', () => q.apply(sample || Buffer.from('MZ'), '{}', { language: 'zz' }), 'USAGE'],
    ['a wrong signed policy', () => q.set(Buffer.from('MZ'), { fileVersion: '1' }, { signed: 'keep' }), 'USAGE'],
    ['a number for bytes', () => q.read(42), 'USAGE'],
    ['a check that asks nothing', () => q.check(sample || Buffer.from('MZ'), {}), 'USAGE'],
    ['a fixed member that is not one', () => q.get(sample || Buffer.from('MZ'), { fixed: 'nosuch' }), 'USAGE'],
    ['a key and a fixed member at once', () => q.get(Buffer.from('MZ'), { key: 'A', fixed: 'fileVersion' }), 'USAGE'],
    ['a table key of the wrong length', () => q.check(Buffer.from('MZ'), { strings: { A: 'b' }, table: '0409' }), 'USAGE'],
    ['diff of text', () => q.diff(Buffer.from('text'), sample || Buffer.from('MZ')), 'INPUT_REFUSED'],
    ['lint of an empty file', () => q.lint(new Uint8Array(0)), 'INPUT_REFUSED'],
    ['a language with no version resource', () => q.read(sample || Buffer.from('MZ'), { language: '0C0A' }), sample ? 'NO_VERSION_RESOURCE' : 'NOT_A_MODULE'],
  ];
  for (const [what, run, code] of cases) {
    assert.throws(run, (error) => error instanceof q.QuillmarkError && error.code === code, what);
  }
});
