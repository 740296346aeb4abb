export interface RceditOptions {
  'version-string'?: Record<string, string>;
  'file-version'?: string;
  'product-version'?: string;
  /** Refused: quillmark changes only version information. */
  icon?: never;
  'requested-execution-level'?: never;
  'application-manifest'?: never;
  'resource-string'?: never;
}
/** node-rcedit's call: stamps the module's version information in place. */
declare function rcedit(exePath: string, options?: RceditOptions): Promise<void>;
export { rcedit };
export default rcedit;
