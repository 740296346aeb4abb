// The ES module form of quillmark/rcedit.
import rcedit from './rcedit.cjs';

export { rcedit };
export default rcedit;
