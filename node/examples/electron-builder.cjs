// electron-builder: "afterPack": "./electron-builder.cjs" runs before signing.
const path = require('node:path');
const rcedit = require('quillmark/rcedit'); // was: require('rcedit')

exports.default = async (context) => {
  if (context.electronPlatformName !== 'win32') return;
  const { productFilename, version } = context.packager.appInfo;
  await rcedit(path.join(context.appOutDir, `${productFilename}.exe`), {
    'file-version': version,
    'product-version': version,
    'version-string': { CompanyName: 'Example Ltd' },
  });
};
