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
/** One string by key, or a fixed-part member by read()'s name, as get prints it; undefined when absent. */
export function get(
  bytes: Bytes,
  what: string | { key?: string; fixed?: string; table?: string; language?: string },
  options?: { file?: string; table?: string; language?: string },
): string | undefined;

/** What check asks of a file. */
export interface Expected {
  fileVersion?: string;
  productVersion?: string;
  /** KEY: VALUE, or [KEY, VALUE] pairs: the string of that key holds exactly VALUE. */
  strings?: Record<string, string> | Array<[string, string]>;
  flags?: string[];
  noFlags?: string[];
  table?: string;
  language?: string;
}
/** check's differences, one message each; an empty array when the file holds everything asked. */
export function check(bytes: Bytes, expected: Expected, options?: { file?: string }): string[];

export interface Difference {
  change: 'added' | 'removed' | 'changed' | 'moved';
  section: string;
  table?: string;
  key?: string;
  a: string | number | null;
  b: string | number | null;
}
/** diff --json's object; `a` and `b` name the files in it. */
export function diff(
  a: Bytes,
  b: Bytes,
  options?: { a?: string; b?: string },
): { a: string; b: string; same: boolean; differences: Difference[] };

/** lint's findings; an empty array when there are none. */
export function lint(bytes: Bytes, options?: { file?: string }): Array<{ id: string; message: string; table?: string; key?: string }>;

/**
 * set's edit on a module file in place. The file is held against other
 * writers of this package (a lock file beside it) from its read to its
 * replacement, and refused unread above 4 GiB - 1 byte. With dryRun nothing
 * is written and `shown` is what set --dry-run prints.
 */
export function stampFile(
  path: string,
  edit: Edit,
  options?: StampOptions & { dryRun?: boolean },
): { notices: string[]; shown?: string };
export function applyFile(
  path: string,
  info: VersionInformation | string | Uint8Array,
  options?: StampOptions & { language?: string; onlyVersion?: boolean; dryRun?: boolean },
): { notices: string[] };
export function readFile(path: string, options?: { file?: string; language?: string }): VersionInformation;
