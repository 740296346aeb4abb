// The ES module entry: the same functions as the CommonJS one.
import quillmark from './index.cjs';

export const {
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
} = quillmark;
export default quillmark;
