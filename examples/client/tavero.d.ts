// Types of the Tavero page API: the Kio.* services the shell puts into every
// document of an app's bundle, the globals it defines (window.device,
// window.isQL, and openDatabase and SQLError where the web view has none),
// each service's options and results, and the errors promises reject with.
//
// Use it from TypeScript or a checked JavaScript page with
//   /// <reference path="tavero.d.ts" />
// (or list it in tsconfig.json's "files"); editors then complete Kio.* and
// check the calls. A test of the shell's checks that every member the page
// client defines is declared here.
//
// Conventions: every asynchronous call returns a promise that resolves with
// its result and rejects with a TaveroError (code and message). Callbacks
// stay optional and get what they always got; a page that passes them need
// not handle the promise. Arguments of the wrong type throw a TypeError at
// once, options out of range a RangeError with code INVALID_ARGUMENT.

/** An error of the page API: `code` is one of the service's codes or a shell-level one. */
interface TaveroError extends Error {
  code: number;
  /** The bridge's HTTP status, when the bridge refused the call. */
  status?: number;
}

/** Kio.TaveroError, with the shell-level codes, the same for every service. */
interface TaveroErrorConstructor {
  new (code: number, message: string, name?: string): TaveroError;
  readonly prototype: TaveroError;
  /** The call did not reach the shell or got no answer (the app is in the background, the bridge refused it). */
  readonly SHELL_UNAVAILABLE: 1000;
  /** The shell refused an option out of range. */
  readonly INVALID_ARGUMENT: 1001;
}

/** What window.device shows. */
interface TaveroDevice {
  /** Always "iOS", which pages test to know they run in the shell. */
  readonly OS: string;
  readonly platformName: string;
  readonly name: string;
  /** The device identifier, or "(null)". */
  readonly uuid: string;
  /** The URL that last opened the app; undefined before any. */
  readonly scheme?: TaveroOpenedURL;
}

interface TaveroOpenedURL {
  url: string;
  sourceApplication: string;
}

// ---- The bridge -----------------------------------------------------------

interface TaveroSendOptions {
  /** Resolve with the shell's immediate answer. */
  sync?: boolean;
  /** Function arguments answer repeatedly (watches) until forgotten. */
  keepCallbacks?: boolean;
  /**
   * Keys of `args` whose callback ids a queued call answers exactly once
   * through (its success and failure): on the shell's channel that answer
   * comes in the reply to the call instead of a callback script.
   */
  answers?: string[];
}

interface TaveroCommunicator {
  /** Sends "Module#operation"; functions become callback ids. */
  send(command: string, args?: Record<string, unknown>, options?: TaveroSendOptions): Promise<any>;
  /** The same, blocking until the answer is there. */
  sendSync(command: string, args?: Record<string, unknown>): any;
  /** Called by the shell with a callback id and a one-element array. */
  invoke(id: string | number, values?: unknown[]): void;
  /** A callback id for `fn`. */
  callback(fn: (value: any) => void, keep?: boolean, fixedId?: string | number): string;
  forget(id: string | number): void;
  /** Calls a page callback; an exception it throws is reported as uncaught. */
  call<R>(fn: (...args: any[]) => R, ...args: unknown[]): R | undefined;
  report(error: unknown): void;
  /** Throws a TypeError when `value` is not of `type`. */
  expect<T>(value: T, type: 'function' | 'string' | 'number' | 'object' | 'array', name: string, method: string,
            optional?: boolean): T;
  /** Throws a RangeError (code INVALID_ARGUMENT) when `value` is given and does not fit. */
  expectRange<T>(value: T, fits: (value: any) => boolean, name: string, method: string, allowed: string): T;
  oneOf(...values: unknown[]): (value: unknown) => boolean;
  integerIn(low: number, high: number): (value: unknown) => boolean;
  notNegative(value: unknown): boolean;
  /** INVALID_ARGUMENT for the shell's refusals, else serviceCode(message). */
  codeOf(message: string, serviceCode?: (message: string) => number): number;
  /** Sends a command with success and failure callback ids of its own. */
  request<T = any>(command: string, args: Record<string, unknown>, makeError: (message: string) => Error,
                   successKey?: string, failureKey?: string): Promise<T>;
  /** Hands a promise's outcome to the page's callbacks; returns the promise. */
  settle<T>(promise: Promise<T>, success?: ((value: T) => void) | null, failure?: ((reason: any) => void) | null,
            asFailure?: (error: any) => unknown): Promise<T>;
  /**
   * The road calls take now: the web process extension straight to the shell
   * ('native'), the message channel, or HTTP; 'native' gives way to 'channel'
   * when its connection fails.
   */
  road(): 'native' | 'channel' | 'http';
  /** True when this document has the native road's bytes calls. */
  carriesBytes(): boolean;
  /** The most bytes one bytes call carries (16 MiB). */
  readonly maxBytes: number;
  /**
   * A queued call with raw bytes beside its arguments, on the native road:
   * the operation's answer and an ArrayBuffer of its bytes; null when the
   * call cannot take that road (then use send()).
   */
  sendBytes(command: string, args: Record<string, unknown>,
            bytes: Uint8Array | null): Promise<{answer: any, bytes: ArrayBuffer}> | null;
  /** True when calls travel on the extension or the message channel, in order. */
  readonly ordered: boolean;
}

// ---- Camera -----------------------------------------------------------------

interface TaveroPictureSourceType { PHOTOLIBRARY: 0; CAMERA: 1; SAVEDPHOTOALBUM: 2 }
interface TaveroDestinationType { DATA_URL: 0; FILE_URI: 1 }
interface TaveroEncodingType { JPEG: 0; PNG: 1 }
interface TaveroCameraErrorCodes { CANCELLED: 1; FAILED: 2 }

interface TaveroCameraOptions {
  /** 0 photo library, 1 camera (default), 2 saved photos. */
  sourceType?: 0 | 1 | 2;
  /** JPEG quality, an integer 0-100 (50). */
  quality?: number;
  /** Both, or the picture keeps its size; integers 0-10000. */
  targetWidth?: number;
  targetHeight?: number;
  /** 0 base64 text, 1 a file in Documents (default). */
  destinationType?: 0 | 1;
  /** 0 JPEG (default), 1 PNG. */
  encodingType?: 0 | 1;
}

interface TaveroCamera {
  /** Resolves with the file's full path (FILE_URI) or base64 text (DATA_URL). */
  getPicture(options?: TaveroCameraOptions): Promise<string>;
  getPicture(success?: ((picture: string) => void) | null, failure?: ((message: string) => void) | null,
             options?: TaveroCameraOptions | null): Promise<string>;
  PictureSourceType: TaveroPictureSourceType;
  DestinationType: TaveroDestinationType;
  EncodingType: TaveroEncodingType;
  CameraError: TaveroCameraErrorCodes;
}

// ---- Geolocation ----------------------------------------------------------

interface TaveroCoordinates {
  latitude: number;
  longitude: number;
  altitude: number | null;
  accuracy: number;
  altitudeAccuracy: number | null;
  heading: number | null;
  speed: number | null;
}

interface TaveroPosition {
  coords: TaveroCoordinates;
  /** Milliseconds since the epoch. */
  timestamp: number;
}

interface TaveroPositionErrorCodes { PERMISSION_DENIED: 1; POSITION_UNAVAILABLE: 2; TIMEOUT: 3 }

/** What geolocation error callbacks get (the promise rejects with a TaveroError of the same code). */
interface TaveroPositionError extends TaveroPositionErrorCodes {
  code: number;
  message: string;
}

interface TaveroPositionOptions {
  enableHighAccuracy?: boolean;
  /** Milliseconds, 0 or more (Infinity: no limit). */
  timeout?: number;
  /** Milliseconds, 0 or more: how old a saved position may be. */
  maximumAge?: number;
  /** watchPosition: milliseconds between positions, above 0 (1000). */
  frequency?: number;
}

interface TaveroGeolocation extends TaveroPositionErrorCodes {
  getCurrentPosition(options?: TaveroPositionOptions): Promise<TaveroPosition>;
  getCurrentPosition(success?: ((position: TaveroPosition) => void) | null,
                     error?: ((error: TaveroPositionError) => void) | null,
                     options?: TaveroPositionOptions | null): Promise<TaveroPosition>;
  /** Returns the watch's id for clearWatch. */
  watchPosition(success: (position: TaveroPosition) => void, error?: ((error: TaveroPositionError) => void) | null,
                options?: TaveroPositionOptions | null): number;
  clearWatch(id: number): void;
  PositionError: TaveroPositionErrorCodes;
}

// ---- Motion, orientation, network ---------------------------------------

interface TaveroVector { x: number; y: number; z: number }
interface TaveroRotation { alpha: number; beta: number; gamma: number }

interface TaveroMotionReading {
  acceleration: TaveroVector;
  accelerationIncludingGravity: TaveroVector;
  rotationRate: TaveroRotation;
}

interface TaveroSensor<Reading> {
  /** Returns the watch's id for clearWatch. */
  watch(fn: (reading: Reading) => void): number;
  clearWatch(id: number): void;
}

interface TaveroConnectionStatus {
  /** "WIFI", "CELL_3G" or "NONE". */
  type: string;
  online: boolean;
}

interface TaveroConnection {
  /** null before the first report. */
  type: string | null;
  online: boolean | null;
  watch(fn: (status: TaveroConnectionStatus) => void): number;
  unwatch(id: number): void;
}

// ---- Contacts -------------------------------------------------------------

interface TaveroContactsErrorCodes { PERMISSION_DENIED: 1; FAILED: 2 }

interface TaveroPerson {
  id: number;
  first_name?: string;
  last_name?: string;
  /** 0 person, 1 organisation. */
  kind: number;
  /** "1980-04-12 12:00:00 +0000". */
  birthday?: string;
  /** With includeImages: "data:image/jpg;base64,...". */
  thumbnail?: string;
  /** Multi-valued fields: objects keyed "phone:<label>:<n>", or arrays. */
  [field: string]: unknown;
}

interface TaveroContacts {
  all(options?: {includeImages?: boolean}): Promise<TaveroPerson[]>;
  all(success?: ((people: TaveroPerson[]) => void) | null, failure?: ((message: string) => void) | null,
      options?: {includeImages?: boolean} | null): Promise<TaveroPerson[]>;
  /** Resolves with "data:image/jpg;base64,..." or "". */
  getThumbnail(id: number | string, success?: ((dataURL: string) => void) | null,
               failure?: ((message: string) => void) | null): Promise<string>;
  getLocalizedLabel(label: string, callback?: ((text: string) => void) | null): Promise<string>;
  ContactsError: TaveroContactsErrorCodes;
}

// ---- Purchases ------------------------------------------------------------

interface TaveroProduct {
  productIdentifier: string;
  localizedTitle: string;
  /** Text, with the decimal separator of its locale. */
  price: string;
  localizedDescription: string;
}

interface TaveroPurchaseRecord {
  productIdentifier: string;
  transactionIdentifier: string;
}

interface TaveroPurchase {
  canMakePayments(callback?: ((allowed: boolean) => void) | null): Promise<boolean>;
  getProducts(identifiers: string[], success?: ((products: TaveroProduct[]) => void) | null,
              failure?: ((message: string) => void) | null): Promise<TaveroProduct[]>;
  /** Resolves once paid; a payment the user cancels settles nothing. */
  purchase(productIdentifier: string, success?: (() => void) | null,
           failure?: ((message: string) => void) | null): Promise<void>;
  getPurchases(callback?: ((purchases: TaveroPurchaseRecord[]) => void) | null): Promise<TaveroPurchaseRecord[]>;
  complete(transactionIdentifier: string, success?: (() => void) | null,
           failure?: ((message: string) => void) | null): Promise<void>;
  /** Oldest first; "" before the first. */
  getCompletedPurchases(callback?: ((purchases: TaveroPurchaseRecord[] | '') => void) | null):
      Promise<TaveroPurchaseRecord[] | ''>;
  PurchaseError: {FAILED: 1};
}

// ---- Alerts, push, lifecycle, URLs ---------------------------------------

interface TaveroPressedButton {
  /** The button's position, 0 for the first. */
  index: number;
  /** Its exact title. */
  title: string;
}

interface TaveroNotification {
  /** Resolves with the pressed button's title in lower case. At most 16 buttons. */
  alert(title?: string, message?: string, buttons?: string[] | null): Promise<string>;
  /** Resolves with the pressed button's index and exact title. */
  choose(title?: string, message?: string, buttons?: string[] | null): Promise<TaveroPressedButton>;
  vibrate(): Promise<void>;
  NotificationError: {NOT_SHOWN: 1};
}

interface TaveroPush {
  /** Resolves with the device token, lower-case hex. */
  register(kinds?: {alert?: boolean; badge?: boolean; sound?: boolean} | null,
           onNotification?: ((payload: any) => void) | null): Promise<string>;
  PushError: {REGISTRATION_FAILED: 1};
}

interface TaveroDeviceEvents {
  /** Each resolves once the shell has the watch. */
  onPause(listener: (event: 'pause') => void): Promise<void>;
  onResume(listener: (event: 'resume') => void): Promise<void>;
}

interface TaveroURL {
  /** Resolves once the shell has the request. */
  open(url: string): Promise<void>;
  onOpen(listener: (opened: TaveroOpenedURL) => void): Promise<void>;
  launchURL(): TaveroOpenedURL | null;
}

// ---- File systems ---------------------------------------------------------

interface TaveroFileErrorCodes {
  NOT_FOUND_ERR: 1;
  SECURITY_ERR: 2;
  ABORT_ERR: 3;
  NOT_READABLE_ERR: 4;
  ENCODING_ERR: 5;
  NO_MODIFICATION_ALLOWED_ERR: 6;
  INVALID_STATE_ERR: 7;
  SYNTAX_ERR: 8;
  INVALID_MODIFICATION_ERR: 9;
  QUOTA_EXCEEDED_ERR: 10;
  TYPE_MISMATCH_ERR: 11;
  PATH_EXISTS_ERR: 12;
}

type TaveroSuccess<T> = ((value: T) => void) | null | undefined;
type TaveroFailure = ((error: TaveroFileError) => void) | null | undefined;

/** A FileError code, or a shell-level code of Kio.TaveroError. */
interface TaveroFileError extends TaveroError {}

interface TaveroFileErrorConstructor extends TaveroFileErrorCodes {
  new (message: string, code?: number): TaveroFileError;
  readonly prototype: TaveroFileError;
}

interface TaveroFileSystem {
  id: string;
  name: string;
  root: TaveroDirectoryEntry;
}

interface TaveroEntry {
  filesystem: TaveroFileSystem;
  fullPath: string;
  name: string;
  isDirectory: boolean;
  isFile: boolean;
  getParent(success?: TaveroSuccess<TaveroDirectoryEntry>, failure?: TaveroFailure): Promise<TaveroDirectoryEntry>;
  moveTo(parent: TaveroDirectoryEntry, newName?: string | null, success?: TaveroSuccess<TaveroEntry>,
         failure?: TaveroFailure): Promise<TaveroEntry>;
  copyTo(parent: TaveroDirectoryEntry, newName?: string | null, success?: TaveroSuccess<TaveroEntry>,
         failure?: TaveroFailure): Promise<TaveroEntry>;
  relocate(parent: TaveroDirectoryEntry, newName: string | null | undefined, copy: boolean,
           success?: TaveroSuccess<TaveroEntry>, failure?: TaveroFailure): Promise<TaveroEntry>;
  remove(success?: TaveroSuccess<void>, failure?: TaveroFailure): Promise<void>;
  /** Sends one FileSystem operation about this entry. */
  ask(operation: string, args: Record<string, unknown>): Promise<any>;
  /** FileSystem#<operation> as a bytes call; null when it cannot take that road. */
  askBytes(operation: string, args: Record<string, unknown>,
           bytes: Uint8Array | null): Promise<{answer: any, bytes: ArrayBuffer}> | null;
  /** Writes what contentToWrite took at `offset`: the position after it. */
  writeContent(offset: number, content: Promise<unknown>): Promise<number>;
  /** `length` bytes (0: to the end) from `offset`, as an ArrayBuffer or text. */
  readContent(offset: number, length: number, binary: boolean): Promise<{offset: number, data: ArrayBuffer | string}>;
}

interface TaveroEntryOptions {
  create?: boolean;
  exclusive?: boolean;
}

interface TaveroDirectoryReader {
  /** Answers until it answers an empty list. */
  readEntries(success?: TaveroSuccess<TaveroEntry[]>, failure?: TaveroFailure): Promise<TaveroEntry[]>;
}

interface TaveroDirectoryEntry extends TaveroEntry {
  getFile(path: string, options?: TaveroEntryOptions | null, success?: TaveroSuccess<TaveroFileEntry>,
          failure?: TaveroFailure): Promise<TaveroFileEntry>;
  getDirectory(path: string, options?: TaveroEntryOptions | null, success?: TaveroSuccess<TaveroDirectoryEntry>,
               failure?: TaveroFailure): Promise<TaveroDirectoryEntry>;
  getEntry(path: string, options: TaveroEntryOptions | null | undefined, directory: boolean,
           success?: TaveroSuccess<TaveroEntry>, failure?: TaveroFailure): Promise<TaveroEntry>;
  removeRecursively(success?: TaveroSuccess<void>, failure?: TaveroFailure): Promise<void>;
  createReader(): TaveroDirectoryReader;
}

interface TaveroFileCursor {
  entry: TaveroFileEntry;
  /** The byte position the next call starts at. */
  position: number;
  /** Negative offsets count from the end. */
  seek(offset: number, success?: TaveroSuccess<number>, failure?: TaveroFailure): Promise<number>;
  positionAfterSeek(offset: number): number | null;
}

interface TaveroFileWriter extends TaveroFileCursor {
  length: number;
  /** Text is written as UTF-8; bytes (ArrayBuffer, typed array, DataView, Blob) as they are. */
  write(data: string | ArrayBuffer | ArrayBufferView | Blob, success?: TaveroSuccess<number>,
        failure?: TaveroFailure): Promise<number>;
  truncate(size: number, success?: TaveroSuccess<number>, failure?: TaveroFailure): Promise<number>;
}

interface TaveroFileContentReader extends TaveroFileCursor {
  read(length?: number | null, success?: TaveroSuccess<string>, failure?: TaveroFailure): Promise<string>;
  readAsText(success?: TaveroSuccess<string>, failure?: TaveroFailure): Promise<string>;
  /** The same as read(), as the bytes themselves. */
  readArrayBuffer(length?: number | null, success?: TaveroSuccess<ArrayBuffer>,
                  failure?: TaveroFailure): Promise<ArrayBuffer>;
  readAsArrayBuffer(success?: TaveroSuccess<ArrayBuffer>, failure?: TaveroFailure): Promise<ArrayBuffer>;
  readBytes(count: number | null, binary: boolean): Promise<string | ArrayBuffer>;
}

interface TaveroFileEntry extends TaveroEntry {
  createWriter(success?: TaveroSuccess<TaveroFileWriter>, failure?: TaveroFailure): Promise<TaveroFileWriter>;
  createFileReader(success?: TaveroSuccess<TaveroFileContentReader>,
                   failure?: TaveroFailure): Promise<TaveroFileContentReader>;
}

interface TaveroFiles {
  requestFileSystem(success?: TaveroSuccess<TaveroFileSystem>, failure?: TaveroFailure): Promise<TaveroFileSystem>;
  FileError: TaveroFileErrorConstructor;
  DirectoryEntry: {new (filesystem: TaveroFileSystem, fullPath: string): TaveroDirectoryEntry;
                   readonly prototype: TaveroDirectoryEntry};
  FileEntry: {new (filesystem: TaveroFileSystem, fullPath: string): TaveroFileEntry;
              readonly prototype: TaveroFileEntry};
}

// ---- Web SQL --------------------------------------------------------------

interface TaveroSQLErrorCodes {
  UNKNOWN_ERR: 0;
  DATABASE_ERR: 1;
  VERSION_ERR: 2;
  TOO_LARGE_ERR: 3;
  QUOTA_ERR: 4;
  SYNTAX_ERR: 5;
  CONSTRAINT_ERR: 6;
  TIMEOUT_ERR: 7;
}

interface TaveroSQLError extends TaveroError, TaveroSQLErrorCodes {}

interface TaveroSQLErrorConstructor extends TaveroSQLErrorCodes {
  new (code: number, message: string): TaveroSQLError;
  readonly prototype: TaveroSQLError;
}

interface TaveroSQLResultSetRowList {
  readonly length: number;
  /** A fresh object keyed by column name, or null. */
  item(index: number): Record<string, any> | null;
}

interface TaveroSQLResultSet {
  /** Throws when the statement inserted no row. */
  readonly insertId: number;
  readonly rowsAffected: number;
  readonly rows: TaveroSQLResultSetRowList;
}

type TaveroSQLStatementCallback = (transaction: TaveroSQLTransaction, resultSet: TaveroSQLResultSet) => void;
/** Return false (or nothing) to let the transaction go on. */
type TaveroSQLStatementErrorCallback = (transaction: TaveroSQLTransaction, error: TaveroSQLError) => boolean | void;
type TaveroSQLTransactionCallback = (transaction: TaveroSQLTransaction) => void;

interface TaveroSQLTransaction {
  executeSql(sqlStatement: string, args?: ArrayLike<unknown> | null, callback?: TaveroSQLStatementCallback | null,
             errorCallback?: TaveroSQLStatementErrorCallback | null): void;
}

interface TaveroDatabase {
  readonly version: string;
  /** The promise settles once the transaction committed or failed, after the callbacks. */
  transaction(callback: TaveroSQLTransactionCallback, errorCallback?: ((error: TaveroSQLError) => void) | null,
              successCallback?: (() => void) | null): Promise<void>;
  readTransaction(callback: TaveroSQLTransactionCallback, errorCallback?: ((error: TaveroSQLError) => void) | null,
                  successCallback?: (() => void) | null): Promise<void>;
  changeVersion(oldVersion: string, newVersion: string, callback?: TaveroSQLTransactionCallback | null,
                errorCallback?: ((error: TaveroSQLError) => void) | null,
                successCallback?: (() => void) | null): Promise<void>;
}

/** Codes openDatabase throws with, synchronously. */
interface TaveroOpenErrorCodes {
  /** Cannot be opened for another reason. */
  UNKNOWN_ERR: 0;
  /** The database has another version than asked for. */
  INVALID_STATE_ERR: 11;
  /** The passphrase does not open the database. */
  SECURITY_ERR: 18;
}

interface TaveroOpenDatabaseOptions {
  /** Encrypts the database; a wrong one makes openDatabase throw with code 18. */
  passphrase?: string;
}

type TaveroOpenDatabase = (name: string, version: string, displayName: string, estimatedSize: number,
                           creationCallback?: ((database: TaveroDatabase) => void) | null,
                           options?: TaveroOpenDatabaseOptions | null) => TaveroDatabase;

interface TaveroSQL {
  openDatabase: TaveroOpenDatabase;
  OpenError: TaveroOpenErrorCodes;
  SQLError: TaveroSQLErrorConstructor;
  Database: {readonly prototype: TaveroDatabase};
  SQLTransaction: {new (): TaveroSQLTransaction; readonly prototype: TaveroSQLTransaction};
  SQLResultSet: {readonly prototype: TaveroSQLResultSet};
}

// ---- The namespace ----------------------------------------------------------

interface TaveroKio {
  device: {readonly Communicator: TaveroCommunicator};
  TaveroError: TaveroErrorConstructor;
  camera: TaveroCamera;
  connection: TaveroConnection;
  contacts: TaveroContacts;
  deviceEvents: TaveroDeviceEvents;
  files: TaveroFiles;
  geolocation: TaveroGeolocation;
  motion: TaveroSensor<TaveroMotionReading>;
  orientation: TaveroSensor<TaveroRotation>;
  notification: TaveroNotification;
  purchase: TaveroPurchase;
  push: TaveroPush;
  sql: TaveroSQL;
  url: TaveroURL;
}

declare var Kio: TaveroKio;
/** Defined by the shell in every page. */
declare var device: TaveroDevice;
/** True in the shell's pages. */
declare var isQL: boolean;
/** Defined where the web view has no Web SQL of its own. */
declare var openDatabase: TaveroOpenDatabase;
declare var SQLError: TaveroSQLErrorConstructor;
