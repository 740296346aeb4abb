'use strict';
// node-rcedit's call, for build scripts and packager hooks that swap one
// import: rcedit(exePath, options) gives a Promise. Only version
// information is taken; an option for anything else is refused by name,
// rather than skipped, so a build never ships without what it asked for.
const { stampFile, QuillmarkError, EXIT_CODES } = require('./index.cjs');

const REFUSED = ['icon', 'requested-execution-level', 'application-manifest', 'resource-string'];
const TAKEN = ['version-string', 'file-version', 'product-version'];

function editOf(options) {
  for (const name of Object.keys(options)) {
    if (REFUSED.includes(name)) {
      throw new QuillmarkError(`quillmark/rcedit: the option "${name}" is not version information; quillmark changes only the version resource`, EXIT_CODES.USAGE, 'usage');
    }
    if (!TAKEN.includes(name)) {
      throw new QuillmarkError(`quillmark/rcedit: unknown option "${name}"`, EXIT_CODES.USAGE, 'usage');
    }
  }
  const strings = options['version-string'] || {};
  if (typeof strings !== 'object' || Array.isArray(strings)) {
    throw new QuillmarkError('quillmark/rcedit: "version-string" must be an object of names and values', EXIT_CODES.USAGE, 'usage');
  }
  return {
    fileVersion: options['file-version'],
    productVersion: options['product-version'],
    strings: Object.entries(strings).map(([key, value]) => [key, String(value)]),
  };
}

async function rcedit(exePath, options = {}) {
  if (typeof exePath !== 'string') throw new TypeError('rcedit: the path must be a string');
  stampFile(exePath, editOf(options || {}));
}

module.exports = rcedit;
module.exports.rcedit = rcedit;
module.exports.default = rcedit;
