/// <reference types="node" />

export type ErrorCode =
  | 'INTERNAL' | 'USAGE' | 'INPUT_UNREADABLE' | 'INPUT_EMPTY' | 'MODULE_UNREADABLE' | 'NOT_A_MODULE'
  | 'MODULE_UNWRITABLE' | 'INPUT_REFUSED' | 'NO_VERSION_RESOURCE' | 'FIELDS_INVALID' | 'OUTPUT_UNWRITABLE'
  | 'WOULD_BREAK' | 'DIFFERENT';

/** Every failure: `code` names the kind behind quillmark-cli's exit code, the message is the companion's. */
export class QuillmarkError extends Error {
  readonly code: ErrorCode;
  readonly exitCode: number;
  /** The core's own kind: missing, damaged, noRoom, wouldBreak, ... */
  readonly kind: string;
}
export const EXIT_CODES: Readonly<Record<ErrorCode, number>>;

export type Bytes = Uint8Array | ArrayBuffer;

/** set's changes, as its options say them. */
export interface Edit {
  fileVersion?: string;
  productVersion?: string;
  fileVersionString?: string;
  productVersionString?: string;
  /** KEY: VALUE, or [KEY, VALUE] pairs in order; a null value removes the key. */
  strings?: Record<string, string | null> | Array<[string, string]>;
  removeStrings?: string[];
  flags?: string[];
  noFlags?: string[];
  fileOs?: string | number;
  fileType?: string | number;
  fileSubType?: string | number;
  /** Hexadecimal language id: change only the resource under it, or make one under it. */
  language?: string;
  /** Eight hexadecimal digits: change strings in this table only. */
  table?: string;
}

export interface StampOptions {
  signed?: 'remove' | 'refuse';
  force?: boolean;
  /** The name messages give the module. */
  file?: string;
}

export interface Stamped {
  bytes: Uint8Array;
  /** What the stamp did that the caller should know (a signature removed). */
  notices: string[];
}

/** show --json's object. */
export interface VersionInformation {
  [member: string]: unknown;
}

export function read(bytes: Bytes, options?: { file?: string; language?: string }): VersionInformation;
export function show(bytes: Bytes, options?: { file?: string; format?: 'text' | 'json' | 'rc'; language?: string }): string;
export function set(bytes: Bytes, edit: Edit, options?: StampOptions): Stamped;
export function apply(
  bytes: Bytes,
  info: VersionInformation | string | Uint8Array,
  options?: StampOptions & { language?: string; onlyVersion?: boolean; infoFile?: string },
): Stamped;
export function build(fields: object | string | Uint8Array, options?: { file?: string; onlyVersion?: boolean }): Uint8Array;
export function extract(bytes: Bytes, options?: { file?: string }): Uint8Array;
export function stampFile(path: string, edit: Edit, options?: StampOptions & { dryRun?: boolean }): { notices: string[] };
export function applyFile(
  path: string,
  info: VersionInformation | string | Uint8Array,
  options?: StampOptions & { language?: string; onlyVersion?: boolean; dryRun?: boolean },
): { notices: string[] };
export function readFile(path: string, options?: { file?: string; language?: string }): VersionInformation;
