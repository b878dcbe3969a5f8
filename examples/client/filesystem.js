// File API style file systems for Tavero pages, on top of the shell's
// FileSystem module. The shell puts it into the app's documents after
// kio-communicator.js; elsewhere, load it after that script:
//
//   Kio.files.requestFileSystem((fs) => {
//     fs.root.getFile('notes.txt', {create: true}, (entry) => {
//       entry.createWriter((writer) => {
//         writer.write('hello', () => console.log('now at', writer.position));
//       });
//     });
//   }, (error) => console.log(error.code, error.message));
//
// Every method that asks the shell takes a success and an error callback,
// File API style, and returns a promise of the same outcome (rejected with
// a FileError: FileError's codes, or the shell-level codes of
// Kio.TaveroError); without callbacks, use the promise:
//
//   const fs = await Kio.files.requestFileSystem();
//   const entry = await fs.root.getFile('notes.txt', {create: true});
//   const text = await (await entry.createFileReader()).readAsText();
//
// Arguments of the wrong type (a callback that is not a function, a path
// that is not a string) throw a TypeError at once and ask nothing.
//
// Each page origin has one persistent file system without a quota. Ids
// last for one run of the app: after a restart, request the file system
// again (entries from before then get no answer).
//
// Readers and writers keep a byte position, as the shell expects: each of
// their calls starts where the previous one ended, and calls made before
// the previous one answered wait for it. Positions, lengths and sizes count
// bytes of UTF-8; a read whose stretch ends inside a character gives "".
// Binary data: write() takes an ArrayBuffer, a typed array or a Blob, and
// readAsArrayBuffer() / readArrayBuffer(length) answer ArrayBuffers.
(function (global) {
  'use strict';

  const Kio = global.Kio = global.Kio || {};
  const Communicator = Kio.device.Communicator;

  // Codes as in the File API's FileError.
  const codes = {
    NOT_FOUND_ERR: 1,
    SECURITY_ERR: 2,
    ABORT_ERR: 3,
    NOT_READABLE_ERR: 4,
    ENCODING_ERR: 5,
    NO_MODIFICATION_ALLOWED_ERR: 6,
    INVALID_STATE_ERR: 7,
    SYNTAX_ERR: 8,
    INVALID_MODIFICATION_ERR: 9,
    QUOTA_EXCEEDED_ERR: 10,
    TYPE_MISMATCH_ERR: 11,
    PATH_EXISTS_ERR: 12,
  };

  // The code a message of the shell stands for (0 when none fits).
  function codeOf(message) {
    const text = String(message);
    const rules = [
      [/: not found$/, codes.NOT_FOUND_ERR],
      [/: invalid state$/, codes.INVALID_STATE_ERR],
      [/: type mismatch$/, codes.TYPE_MISMATCH_ERR],
      // A move or copy onto itself, a file onto a folder, a folder onto a
      // file or onto a folder that is not empty: the File API's code for a
      // move it refuses, as for a folder moved into itself.
      [/^Could not move entry: (File exists|Directory not empty|Invalid argument)$/, codes.INVALID_MODIFICATION_ERR],
      [/: path exists$|File exists$/, codes.PATH_EXISTS_ERR],
      [/: invalid name$/, codes.ENCODING_ERR],
      [/: not readable$/, codes.NOT_READABLE_ERR],
      [/: not writable$/, codes.NO_MODIFICATION_ALLOWED_ERR],
      [/No space left|quota/i, codes.QUOTA_EXCEEDED_ERR],
      [/: is root directory$|: is not empty$|Invalid argument$|Directory not empty$/, codes.INVALID_MODIFICATION_ERR],
    ];
    for (const [pattern, code] of rules) if (pattern.test(text)) return code;
    return 0;
  }

  // `code` and `message` are own enumerable properties: JSON.stringify
  // and Object.keys show both, as for the plain objects other wrappers pass.
  // A `code` given wins over the one the message stands for (the shell-level
  // codes of Kio.TaveroError: the call could not be made).
  class FileError extends Error {
    constructor(message, code) {
      super(message);
      this.name = 'FileError';
      this.code = typeof code === 'number' ? code : Communicator.codeOf(message, codeOf);
      Object.defineProperty(this, 'message', {value: String(message), enumerable: true, writable: true,
                                              configurable: true});
    }
  }
  for (const name of Object.keys(codes)) FileError[name] = codes[name];

  // Sends FileSystem#<operation>; resolves with the success value, rejects
  // with a FileError carrying the shell's message.
  function call(operation, args) {
    return new Promise((resolve, reject) => {
      const success = Communicator.callback((value) => {
        Communicator.forget(failure);
        resolve(value);
      });
      const failure = Communicator.callback((message) => {
        Communicator.forget(success);
        reject(new FileError(message));
      });
      // One of the two answers, once: on the channel it comes in the reply.
      Communicator.send('FileSystem#' + operation, Object.assign({success: success, failure: failure}, args),
                        {answers: ['success', 'failure']})
        .catch((error) => {
          Communicator.forget(success);
          Communicator.forget(failure);
          reject(new FileError(error.message, error.code));
        });
    });
  }

  // Checks the callbacks `method` was given (each a function, or left
  // out) before anything is asked of the shell.
  function checkCallbacks(method, success, failure) {
    Communicator.expect(success, 'function', 'the success callback', method, true);
    Communicator.expect(failure, 'function', 'the error callback', method, true);
  }

  // File API style: with callbacks, calls them; either way returns the
  // promise (see Communicator.settle). An exception a callback throws is
  // reported as uncaught (see Communicator.call), not lost in the promise
  // chain.
  function answer(promise, success, failure) {
    return Communicator.settle(promise, success, failure);
  }

  function lastComponent(path) {
    const parts = path.split('/').filter((part) => part !== '');
    return parts.length ? parts[parts.length - 1] : '';
  }

  // Off the native road, binary data travels to and from the shell as
  // base64, which is what
  // btoa writes; the bytes are handed over in pieces so that no call gets
  // more arguments than the engine takes.
  function base64OfBytes(bytes) {
    if (typeof bytes.toBase64 === 'function') return bytes.toBase64();
    let binary = '';
    for (let i = 0; i < bytes.length; i += 0x8000) {
      binary += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
    }
    return global.btoa(binary);
  }

  function arrayBufferOfBase64(text) {
    if (typeof Uint8Array.fromBase64 === 'function') return Uint8Array.fromBase64(text).buffer;
    const binary = global.atob(text);
    const bytes = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; ++i) bytes[i] = binary.charCodeAt(i);
    return bytes.buffer;
  }

  function isBlob(data) {
    return data !== null && typeof data === 'object' && typeof data.arrayBuffer === 'function' &&
      typeof data.size === 'number';
  }

  // What FileWriter.write sends for `data`: a promise of {data, encoding}.
  // Text goes as it is; an ArrayBuffer, a typed array or DataView, or a
  // Blob goes as base64 of its bytes.
  function writableContent(data) {
    if (typeof data === 'string') return Promise.resolve({data: data});
    if (data instanceof ArrayBuffer || Object.prototype.toString.call(data) === '[object ArrayBuffer]') {
      return Promise.resolve({data: base64OfBytes(new Uint8Array(data)), encoding: 'base64'});
    }
    if (ArrayBuffer.isView(data)) {
      const bytes = new Uint8Array(data.buffer, data.byteOffset, data.byteLength);
      return Promise.resolve({data: base64OfBytes(bytes), encoding: 'base64'});
    }
    return data.arrayBuffer().then((buffer) => ({data: base64OfBytes(new Uint8Array(buffer)), encoding: 'base64'}),
                                   (error) => {
                                     throw new FileError('Could not write: the Blob could not be read (' +
                                                         String(error && error.message || error) + ')',
                                                         codes.NOT_READABLE_ERR);
                                   });
  }

  // The bytes of `data` for a bytes call (see Communicator.sendBytes): a
  // promise of a Uint8Array. Text is written as UTF-8.
  let utf8Encoder = null;
  function bytesOfContent(data) {
    if (typeof data === 'string') {
      utf8Encoder = utf8Encoder || new global.TextEncoder();
      return Promise.resolve(utf8Encoder.encode(data));
    }
    // Copied now: the page may change its buffer once write() returns.
    if (data instanceof ArrayBuffer || Object.prototype.toString.call(data) === '[object ArrayBuffer]') {
      return Promise.resolve(new Uint8Array(data).slice());
    }
    if (ArrayBuffer.isView(data)) {
      return Promise.resolve(new Uint8Array(data.buffer, data.byteOffset, data.byteLength).slice());
    }
    return data.arrayBuffer().then((buffer) => new Uint8Array(buffer), (error) => {
      throw new FileError('Could not write: the Blob could not be read (' + String(error && error.message || error) +
                          ')', codes.NOT_READABLE_ERR);
    });
  }

  // Text of bytes read, as the shell's text reads give it: bytes that are
  // not whole UTF-8 characters give the empty text; a byte order mark stays.
  let utf8Decoder = null;
  function textOfBytes(buffer) {
    utf8Decoder = utf8Decoder || new global.TextDecoder('utf-8', {fatal: true, ignoreBOM: true});
    try {
      return utf8Decoder.decode(buffer);
    } catch (error) {
      return '';
    }
  }

  // What FileWriter.write takes from `data` at once: a promise of its bytes
  // where bytes calls are there, else of what writableContent sends.
  function contentToWrite(data) {
    const bytes = typeof Communicator.carriesBytes === 'function' && Communicator.carriesBytes();
    return bytes ? bytesOfContent(data) : writableContent(data);
  }

  function isWritable(data) {
    return typeof data === 'string' || data instanceof ArrayBuffer || ArrayBuffer.isView(data) || isBlob(data) ||
      Object.prototype.toString.call(data) === '[object ArrayBuffer]';
  }

  // Runs `work` after everything queued before it, whether that worked or not.
  class Queue {
    constructor() { this.tail = Promise.resolve(); }
    run(work) {
      const result = this.tail.then(work, work);
      this.tail = result.catch(() => {});
      return result;
    }
  }

  class Entry {
    constructor(filesystem, fullPath, isDirectory) {
      this.filesystem = filesystem;
      this.fullPath = fullPath;
      this.name = lastComponent(fullPath);
      this.isDirectory = isDirectory;
      this.isFile = !isDirectory;
    }

    ask(operation, args) {
      return call(operation, Object.assign({fileSystemId: this.filesystem.id, path: this.fullPath}, args));
    }

    // FileSystem#<operation> as a bytes call, with `bytes` (a Uint8Array or
    // null) beside its arguments: a promise of {answer, bytes} that rejects
    // with a FileError; null when the call cannot take that road.
    askBytes(operation, args, bytes) {
      const sent = Communicator.sendBytes('FileSystem#' + operation,
                                          Object.assign({fileSystemId: this.filesystem.id, path: this.fullPath}, args),
                                          bytes);
      if (!sent) return null;
      return sent.then((result) => {
        const answer = result.answer;
        if (!answer || typeof answer !== 'object') throw new FileError('Could not ' + operation + ': no answer');
        if (typeof answer.error === 'string') throw new FileError(answer.error);
        return result;
      }, (error) => { throw new FileError(error.message, error.code); });
    }

    // Writes `content` (of contentToWrite) at `offset`: a promise of the
    // position after it. As raw bytes where the road carries them, else as
    // text or base64.
    writeContent(offset, content) {
      return content.then((sent) => {
        if (!ArrayBuffer.isView(sent)) return this.ask('write', Object.assign({offset: offset}, sent));
        const written = this.askBytes('write', {offset: offset}, sent);
        if (written) return written.then((result) => result.answer.offset);
        return this.ask('write', {offset: offset, data: base64OfBytes(sent), encoding: 'base64'});
      });
    }

    // `length` bytes (0: to the end) from `offset`: a promise of
    // {offset, data}, data an ArrayBuffer (binary) or text. As raw bytes
    // where the road carries them (a read of a known length), else as text
    // or base64.
    readContent(offset, length, binary) {
      const read = length > 0 && length <= Communicator.maxBytes && typeof Communicator.sendBytes === 'function' ?
        this.askBytes('read', {offset: offset, length: length}, null) : null;
      if (read) {
        return read.then((result) => ({offset: result.answer.offset,
                                       data: binary ? result.bytes : textOfBytes(result.bytes)}));
      }
      const args = binary ? {offset: offset, length: length, encoding: 'base64'} : {offset: offset, length: length};
      return this.ask('read', args).then((result) => ({offset: result.offset,
                                                       data: binary ? arrayBufferOfBase64(result.data) : result.data}));
    }

    getParent(success, failure) {
      checkCallbacks('Entry.getParent', success, failure);
      return answer(this.ask('getParent', {}).then((path) => new DirectoryEntry(this.filesystem, path)), success, failure);
    }

    // Moves (or copies) this entry into `parent`, as `newName` or under its
    // own name. A file replaces a file there, a folder an empty folder.
    moveTo(parent, newName, success, failure) { return this.relocate(parent, newName, false, success, failure); }
    copyTo(parent, newName, success, failure) { return this.relocate(parent, newName, true, success, failure); }

    relocate(parent, newName, copy, success, failure) {
      const method = copy ? 'Entry.copyTo' : 'Entry.moveTo';
      // By its fields: a page that loads its own copy of this script may
      // hold folders made by the shell's copy.
      if (!parent || typeof parent !== 'object' || parent.isDirectory !== true || typeof parent.fullPath !== 'string') {
        throw new TypeError(method + ': parent must be a DirectoryEntry, not ' +
                            (parent === null || typeof parent !== 'object' ? String(parent) : 'another object'));
      }
      Communicator.expect(newName, 'string', 'newName', method, true);
      checkCallbacks(method, success, failure);
      const moved = this.ask('moveTo', {parentPath: parent.fullPath, newName: newName || '', copy: copy})
        .then((path) => entryFor(this.filesystem, path, this.isDirectory));
      return answer(moved, success, failure);
    }

    // Removes a file, or a folder that is empty.
    remove(success, failure) {
      checkCallbacks('Entry.remove', success, failure);
      return answer(this.ask('remove', {recursively: false}).then(() => undefined), success, failure);
    }
  }

  class DirectoryEntry extends Entry {
    constructor(filesystem, fullPath) { super(filesystem, fullPath, true); }

    // `path` is relative to this folder, or absolute. options.create makes
    // it when missing; with options.exclusive too, an existing one fails.
    getFile(path, options, success, failure) { return this.getEntry(path, options, false, success, failure); }
    getDirectory(path, options, success, failure) { return this.getEntry(path, options, true, success, failure); }

    getEntry(path, options, directory, success, failure) {
      const method = directory ? 'DirectoryEntry.getDirectory' : 'DirectoryEntry.getFile';
      Communicator.expect(path, 'string', 'path', method, false);
      options = Communicator.expect(options, 'object', 'options', method, true) || {};
      checkCallbacks(method, success, failure);
      const found = this.ask('getEntry', {
        newPath: path,
        directory: directory,
        create: !!options.create,
        exclusive: !!options.exclusive,
      }).then((fullPath) => entryFor(this.filesystem, fullPath, directory));
      return answer(found, success, failure);
    }

    removeRecursively(success, failure) {
      checkCallbacks('DirectoryEntry.removeRecursively', success, failure);
      return answer(this.ask('remove', {recursively: true}).then(() => undefined), success, failure);
    }

    // A reader of this folder's entries. As in the File API, readEntries
    // answers until it answers an empty list.
    createReader() {
      let done = false;
      return {
        readEntries: (success, failure) => {
          checkCallbacks('DirectoryReader.readEntries', success, failure);
          const listed = done ? Promise.resolve([]) : this.ask('readEntries', {}).then((entries) => {
            done = true;
            return entries.map((entry) => entryFor(this.filesystem, entry.path, entry.directory));
          });
          return answer(listed, success, failure);
        },
      };
    }
  }

  class FileEntry extends Entry {
    constructor(filesystem, fullPath) { super(filesystem, fullPath, false); }

    // A writer at position 0 that knows the file's length.
    createWriter(success, failure) {
      checkCallbacks('FileEntry.createWriter', success, failure);
      const made = this.ask('seek', {offset: '9223372036854775807'}).then((length) => new FileWriter(this, length));
      return answer(made, success, failure);
    }

    // A reader of the file's text at position 0.
    createFileReader(success, failure) {
      checkCallbacks('FileEntry.createFileReader', success, failure);
      return answer(Promise.resolve(new FileContentReader(this)), success, failure);
    }
  }

  function entryFor(filesystem, path, directory) {
    return directory ? new DirectoryEntry(filesystem, path) : new FileEntry(filesystem, path);
  }

  // What readers and writers share: a position in the entry's file, and
  // calls that run one after the other, each from where the last one ended.
  class FileCursor {
    constructor(entry) {
      this.entry = entry;
      this.position = 0;
      this.queue = new Queue();
    }

    // Moves to `offset`, clamped to the file; a negative one counts from the
    // end. `position` shows the new place at once when this object can tell
    // it (see positionAfterSeek); the shell's answer, once the calls queued
    // before have run, settles it.
    seek(offset, success, failure) {
      Communicator.expect(offset, 'number', 'offset', this.constructor.name + '.seek', false);
      checkCallbacks(this.constructor.name + '.seek', success, failure);
      const now = this.positionAfterSeek(offset);
      if (now !== null) this.position = now;
      const moved = this.queue.run(() => this.entry.ask('seek', {offset: offset}).then((position) => {
        this.position = position;
        return position;
      }));
      return answer(moved, success, failure);
    }

    // Where seek(offset) lands, or null when only the shell can tell.
    positionAfterSeek(offset) { return offset >= 0 ? Math.floor(offset) : null; }
  }

  class FileWriter extends FileCursor {
    constructor(entry, length) {
      super(entry);
      this.length = length;
    }

    // A writer knows the file's length (as of the calls that have answered).
    positionAfterSeek(offset) {
      const target = offset < 0 ? this.length + Math.ceil(offset) : Math.floor(offset);
      return Math.max(0, Math.min(target, this.length));
    }

    // Writes `data` at the position, over what is there; past the end it
    // appends. `data` is text (written as UTF-8), or bytes: an ArrayBuffer,
    // a typed array or DataView, or a Blob. The position moves past the
    // written bytes.
    write(data, success, failure) {
      if (!isWritable(data)) {
        throw new TypeError('FileWriter.write: the data must be a string, an ArrayBuffer, a typed array or a Blob, not ' +
                            (data === null ? 'null' : typeof data));
      }
      checkCallbacks('FileWriter.write', success, failure);
      const content = contentToWrite(data);
      const written = this.queue.run(() => this.entry.writeContent(this.position, content)
        .then((position) => {
          this.position = position;
          this.length = Math.max(this.length, position);
          return position;
        }));
      return answer(written, success, failure);
    }

    // Cuts the file, or extends it with zero bytes, to `size`; the position
    // stays inside the file.
    truncate(size, success, failure) {
      Communicator.expect(size, 'number', 'size', 'FileWriter.truncate', false);
      if (size < 0) throw new RangeError('FileWriter.truncate: size must not be negative, not ' + size);
      checkCallbacks('FileWriter.truncate', success, failure);
      const cut = this.queue.run(() => this.entry.ask('truncate', {offset: this.position, size: size})
        .then((position) => {
          this.position = position;
          this.length = size;
          return position;
        }));
      return answer(cut, success, failure);
    }
  }

  class FileContentReader extends FileCursor {
    // Up to `length` bytes from the position as text; without a length, the
    // rest of the file. A length of 0 reads nothing.
    read(length, success, failure) {
      Communicator.expect(length, 'number', 'length', 'FileContentReader.read', true);
      if (length < 0) throw new RangeError('FileContentReader.read: length must not be negative, not ' + length);
      checkCallbacks('FileContentReader.read', success, failure);
      return answer(this.readBytes(length === undefined || length === null ? null : Math.floor(length), false),
                    success, failure);
    }

    readAsText(success, failure) {
      checkCallbacks('FileContentReader.readAsText', success, failure);
      return answer(this.readBytes(null, false), success, failure);
    }

    // The same as read(), as an ArrayBuffer of the bytes: any bytes, also
    // a stretch that ends inside a character.
    readArrayBuffer(length, success, failure) {
      Communicator.expect(length, 'number', 'length', 'FileContentReader.readArrayBuffer', true);
      if (length < 0) {
        throw new RangeError('FileContentReader.readArrayBuffer: length must not be negative, not ' + length);
      }
      checkCallbacks('FileContentReader.readArrayBuffer', success, failure);
      return answer(this.readBytes(length === undefined || length === null ? null : Math.floor(length), true),
                    success, failure);
    }

    // The rest of the file as an ArrayBuffer.
    readAsArrayBuffer(success, failure) {
      checkCallbacks('FileContentReader.readAsArrayBuffer', success, failure);
      return answer(this.readBytes(null, true), success, failure);
    }

    // `count` bytes, or the rest of the file for null, as text or as an
    // ArrayBuffer. The shell reads to the end when asked for 0 bytes, so an
    // empty read never reaches it.
    readBytes(count, binary) {
      return this.queue.run(() => {
        if (count === 0) return binary ? new ArrayBuffer(0) : '';
        // The shell counts only the low 32 bits of a length; it answers at
        // most 256 MiB anyway.
        const length = count === null ? 0 : Math.min(count, 0xffffffff);
        return this.entry.readContent(this.position, length, binary).then((result) => {
          this.position = result.offset;
          return result.data;
        });
      });
    }
  }

  class FileSystem {
    constructor(id) {
      this.id = id;
      this.name = 'persistent';
      this.root = new DirectoryEntry(this, '/');
    }
  }

  function requestFileSystem(success, failure) {
    if (typeof success === 'number') {
      throw new TypeError('requestFileSystem: takes (success, error), not a type and a size first: ' +
                          'each page origin has one persistent file system');
    }
    checkCallbacks('requestFileSystem', success, failure);
    return answer(call('requestFileSystem', {}).then((id) => new FileSystem(id)), success, failure);
  }

  Kio.files = {
    requestFileSystem: requestFileSystem,
    FileError: FileError,
    DirectoryEntry: DirectoryEntry,
    FileEntry: FileEntry,
  };
})(window);
