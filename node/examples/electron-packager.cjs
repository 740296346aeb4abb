// electron-packager: stamp each Windows build once its folder is complete.
//   packager({ dir: '.', platform: 'win32', ...require('./electron-packager.cjs') })
const path = require('node:path');
const rcedit = require('quillmark/rcedit'); // was: require('rcedit')

module.exports = {
  afterComplete: [
    (buildPath, electronVersion, platform, arch, done) => {
      if (platform !== 'win32') return done();
      rcedit(path.join(buildPath, 'App.exe'), {
        'file-version': '2.4.0',
        'version-string': { CompanyName: 'Example Ltd', FileDescription: 'App' },
      }).then(() => done(), done);
    },
  ],
};
