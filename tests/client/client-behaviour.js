// The page client's promise and callback conventions, in node, against a
// fake bridge: the test sees every call the client sends and answers its
// callback ids itself.
//
//   node client-behaviour.js CLIENT_DIR
'use strict';

const assert = require('assert');
const fs = require('fs');
const path = require('path');
const vm = require('vm');

const clientDir = process.argv[2];
if (!clientDir) {
  console.error('usage: client-behaviour.js CLIENT_DIR');
  process.exit(2);
}

let unhandled = [];
process.on('unhandledRejection', (reason) => unhandled.push(reason));

// A page with the client loaded; `calls` holds what it sent, `failNext`
// makes the next request fail as a network error would. `globals` are what
// the shell gives the window before the client runs (the page token, the
// message channel, the web process extension's function).
// With `channel`, the page has the shell's message channel instead:
// channel(message) answers each message (its parsed JSON) with a promise
// of the reply's text.
function page(globals, channel) {
  const calls = [];
  const bridge = {failNext: false};
  const window = {
    console: console, crypto: require('crypto').webcrypto, queueMicrotask: queueMicrotask,
    setTimeout: setTimeout, clearTimeout: clearTimeout, location: {href: 'file:///app/webapp/index.html'},
    fetch: (url) => {
      if (bridge.failNext) {
        bridge.failNext = false;
        return Promise.reject(new TypeError('Load failed'));
      }
      const query = new URLSearchParams(String(url).split('?')[1]);
      calls.push({command: query.get('command'), args: Object.fromEntries(query)});
      return Promise.resolve({ok: true, status: 200, text: () => Promise.resolve('')});
    },
  };
  Object.assign(window, globals || {});
  window.window = window;
  if (channel) {
    window.__taveroBridge = {token: 'token', port: 1};
    window.webkit = {messageHandlers: {tavero: {postMessage: (text) => {
      const message = JSON.parse(text);
      for (const call of message.calls) calls.push({command: call.command, args: call.args, answers: call.answers});
      return channel(message);
    }}}};
  }
  const context = vm.createContext(window);
  const scripts = fs.readdirSync(clientDir).filter((name) => name.endsWith('.js') && name !== 'kio-communicator.js');
  for (const name of ['kio-communicator.js', ...scripts.sort()]) {
    vm.runInContext(fs.readFileSync(path.join(clientDir, name), 'utf8'), context);
  }
  const Kio = window.Kio;
  const last = (command) => calls.filter((call) => call.command === command).pop();
  // Answers callback `key` of the latest `command` with `value`.
  const answer = (command, key, value) => Kio.device.Communicator.invoke(last(command).args[key], [value]);
  // The page's own Error classes: instanceof does not cross into node's.
  const realm = vm.runInContext('({Error: Error, RangeError: RangeError, Object: Object})', context);
  return {Kio, calls, bridge, last, answer, window, realm};
}

const settled = () => new Promise((resolve) => setTimeout(resolve, 0));

// A page run by the shell with the web process extension: `native` holds
// the messages its function was given (and the answers to hand back),
// `channel` those of the message channel, `xhr` the synchronous requests.
function nativePage() {
  const native = {sent: [], sendable: true, syncAnswers: [], bytes: [], bytesSendable: true};
  const channel = {sent: []};
  const xhr = {sent: []};
  const globals = {
    __taveroBridge: {token: 'T', port: 3000},
    webkit: {messageHandlers: {tavero: {postMessage: (message) => {
      channel.sent.push(JSON.parse(message));
      return Promise.resolve(JSON.stringify([{status: 200, result: 'by channel'}]));
    }}}},
    __taveroNative: {
      post: (message, done) => {
        if (!native.sendable) return false;
        native.sent.push({message: JSON.parse(message), done: done});
        return true;
      },
      postSync: (message) => {
        native.sent.push({message: JSON.parse(message)});
        return native.syncAnswers.shift();
      },
      postBytes: (message, bytes, done) => {
        if (!native.bytesSendable) return false;
        native.bytes.push({message: JSON.parse(message), bytes: bytes, done: done, before: native.sent.length});
        return true;
      },
    },
    TextEncoder: TextEncoder, TextDecoder: TextDecoder, atob: atob, btoa: btoa,
    XMLHttpRequest: class {
      open(method, url) { xhr.sent.push(url); }
      send() { this.status = 200; this.responseText = '"by XHR"'; }
    },
  };
  return Object.assign(page(globals), {native, channel, xhr});
}


// A fake SQL module for Web SQL transactions: executeBatch answers every
// statement (an error for SQL naming "missing", null for a quiet one,
// else one column "v"), commits when asked and nothing failed; every
// commitTransaction waits for `release()`. `log` holds each call's command
// and arguments.
function fakeSQL() {
  const log = [];
  const held = [];
  const answerOf = (call) => {
    log.push({command: call.command, args: call.args});
    if (call.command === 'SQLite#executeBatch') {
      const statements = JSON.parse(call.args.statements);
      const results = statements.map(([sql, , quiet]) => /missing/.test(sql) ? {error: 'no such table: missing', code: 5}
        : quiet ? null : {rowsAffected: 0, names: ['v'], columns: [[sql]]});
      const result = {transactionId: call.args.transactionId || '7', results: results};
      if (call.args.commit === 'true' && !results.some((r) => r && r.error)) result.committed = true;
      return Promise.resolve(result);
    }
    if (call.command === 'SQLite#commitTransaction') return new Promise((resolve) => held.push(() => resolve(undefined)));
    return Promise.resolve(undefined);
  };
  return {log, answerOf, release: () => held.splice(0).forEach((resolve) => resolve())};
}

function throwsRange(fn, pattern) {
  assert.throws(fn, (error) => error.name === 'RangeError' && error.code === 1001 && pattern.test(error.message));
}

const tests = {
  async theExtensionsRoadCarriesBatchesAndHandsBackAnswersRefusalsAndLosses() {
    const {Kio, native, channel, window} = nativePage();
    const Communicator = Kio.device.Communicator;
    assert.strictEqual(Communicator.road(), 'native');
    assert.strictEqual(window.__taveroNative, undefined);  // taken before the page's scripts run
    const first = Communicator.send('SQLite#getVersion', {databaseId: 1}, {sync: true});
    const second = Communicator.send('Bench#ping', {});
    await settled();
    assert.strictEqual(native.sent.length, 1);  // one message for the task's calls
    const message = native.sent[0].message;
    assert.strictEqual(message.token, 'T');
    assert.deepStrictEqual(message.calls.map((call) => [call.command, call.sync]),
                           [['SQLite#getVersion', true], ['Bench#ping', false]]);
    native.sent[0].done(0, JSON.stringify([{status: 200, result: '1.0'}, {status: 200}]));
    assert.strictEqual(await first, '1.0');
    assert.strictEqual(await second, undefined);

    const refused = Communicator.send('Bench#ping', {});
    await settled();
    native.sent[1].done(1, 'refused: only the application\'s own documents may call the shell');
    await assert.rejects(refused, (e) => e.code === 1000 && e.status === 403);

    // The shell went away with a call under way: that call fails (it may
    // have been carried out), later ones take the channel.
    const lost = Communicator.send('Bench#ping', {});
    await settled();
    native.sent[2].done(2, 'the connection to the shell was lost');
    await assert.rejects(lost, (e) => e.code === 1000 && e.status === 503);
    assert.strictEqual(Communicator.road(), 'channel');
    assert.strictEqual(await Communicator.send('Bench#ping', {}, {sync: true}), 'by channel');
    assert.strictEqual(native.sent.length, 3);
  },

  async callsTheExtensionCannotSendGoOnTheChannelAndSyncCallsOnHTTP() {
    const unsent = nativePage();
    unsent.native.sendable = false;  // its socket could not be reached
    assert.strictEqual(await unsent.Kio.device.Communicator.send('Bench#ping', {}, {sync: true}), 'by channel');
    assert.strictEqual(unsent.channel.sent.length, 1);
    assert.strictEqual(unsent.Kio.device.Communicator.road(), 'channel');

    const {Kio, native, xhr} = nativePage();
    const Communicator = Kio.device.Communicator;
    native.syncAnswers = ['0' + JSON.stringify([{status: 200, result: {rows: [1, 2]}}]),
                          '0' + JSON.stringify([{status: 404}]),
                          '0' + JSON.stringify({status: 503, refusal: 'the shell is not serving'}),
                          '1refused: only the application\'s own documents may call the shell',
                          null];
    assert.strictEqual(JSON.stringify(Communicator.sendSync('SQLite#executeStatement', {sql: 'SELECT 1'})),
                       '{"rows":[1,2]}');
    assert.strictEqual(native.sent[0].message.calls[0].args.sql, 'SELECT 1');
    assert.throws(() => Communicator.sendSync('Bench#nothing', {}), (e) => e.code === 1000 && e.status === 404);
    assert.throws(() => Communicator.sendSync('Bench#ping', {}), (e) => e.status === 503 && /not serving/.test(e.message));
    assert.throws(() => Communicator.sendSync('Bench#ping', {}), (e) => e.code === 1000 && e.status === 403);
    assert.strictEqual(xhr.sent.length, 0);
    // Not sent at all: the same call goes by HTTP, and so do later ones.
    assert.strictEqual(Communicator.sendSync('Bench#ping', {}), 'by XHR');
    assert.strictEqual(xhr.sent.length, 1);
    assert.strictEqual(Communicator.road(), 'channel');
  },

  // What the page client adds on the native road's bytes calls (the round
  // trips themselves are checked end to end): calls queued before one reach
  // the shell first, failures and refusals keep their codes, and a call the
  // road cannot take goes the JSON way as base64.
  async bytesCallsKeepTheirOrderAndCodesAndFallBackToTheJSONRoad() {
    const {Kio, native} = nativePage();
    const Communicator = Kio.device.Communicator;
    const order = [];
    const pump = async (promise) => {
      for (let i = 0; i < 20; ++i) {
        await settled();
        for (const sent of native.sent.splice(0)) {
          order.push(sent.message.calls.map((call) => call.command).join());
          sent.done(0, JSON.stringify(sent.message.calls.map((call) => ({status: 200, answer: {
            callback: call.args.success, value: call.command === 'FileSystem#write' ? call.args.encoding + ' ' + call.args.data : 0}}))));
        }
        for (const sent of native.bytes.splice(0)) {
          order.push('bytes ' + sent.message.calls[0].command);
          sent.done(0, JSON.stringify({status: 200, answer: {error: 'Could not read: invalid state'}}), new ArrayBuffer(0));
        }
      }
      return promise;
    };
    const entry = new Kio.files.FileEntry({id: '1'}, '/f');
    const reader = await entry.createFileReader();
    const seek = reader.seek(0);
    const bytes = Communicator.sendBytes('FileSystem#read', {fileSystemId: '1', path: '/f', offset: 0, length: 1}, null);
    await pump(Promise.all([seek, bytes]));
    assert.deepStrictEqual(order, ['FileSystem#seek', 'bytes FileSystem#read']);
    await assert.rejects(pump(reader.read(4)), (e) => e.name === 'FileError' && e.code === 7);

    const refused = Communicator.sendBytes('FileSystem#read', {}, null);
    native.bytes.pop().done(0, JSON.stringify({status: 503, refusal: 'the shell is not serving'}));
    await assert.rejects(refused, (e) => e.code === 1000 && e.status === 503 && /not serving/.test(e.message));
    assert.strictEqual(Communicator.sendBytes('FileSystem#write', {}, new Uint8Array(Communicator.maxBytes + 1)), null);
    native.bytesSendable = false;
    const writer = await pump(entry.createWriter());
    assert.strictEqual(await pump(writer.write(Uint8Array.of(1, 2))), 'base64 AQI=');
  },

  async fileAnswersInTheReplyReachThePageWithoutScriptsAndOldRepliesStillWork() {
    // The shell answers each call's success id in the reply; the byte
    // values 0-255 as text and a hostile text come back exactly.
    const all = Array.from({length: 256}, (_, i) => String.fromCharCode(i)).join('') + '</script>\u2028';
    let fail = false;
    const replying = (message) => Promise.resolve(JSON.stringify(message.calls.map((call) => {
      if (!call.answers) return {status: 200};
      if (fail) return {status: 200, answer: {callback: call.args.failure, value: all}};
      return {status: 200, answer: {callback: call.args.success, value: {id: 1, root: {fullPath: '/', name: ''}}}};
    })));
    const {Kio, calls} = page(null, replying);
    const fs = await Kio.files.requestFileSystem();
    assert.strictEqual(fs.root.fullPath, '/');
    assert.deepStrictEqual(calls[0].answers, [calls[0].args.success, calls[0].args.failure]);
    fail = true;
    await assert.rejects(Kio.files.requestFileSystem(), (e) => e.name === 'FileError' && e.message === all);

    // A shell that ignores "answers" answers by callback script later.
    let held = null;
    const {Kio: other, last} = page(null, (message) => {
      held = message;
      return Promise.resolve(JSON.stringify(message.calls.map(() => ({status: 200}))));
    });
    const request = other.files.requestFileSystem();
    await settled();
    other.device.Communicator.invoke(last('FileSystem#requestFileSystem').args.success,
                                     [{id: 2, root: {fullPath: '/', name: ''}}]);
    assert.strictEqual((await request).root.fullPath, '/');
    assert.ok(held.calls[0].answers);

    // A refused call fails and forgets both ids: a later answer for them
    // reaches nobody.
    const {Kio: refused, last: lastRefused} = page(null, (message) =>
      Promise.resolve(JSON.stringify(message.calls.map(() => ({status: 503})))));
    await assert.rejects(refused.files.requestFileSystem(), (e) => e.code === 1000);
    const ids = lastRefused('FileSystem#requestFileSystem').args;
    refused.device.Communicator.invoke(ids.success, [{id: 3, root: {fullPath: '/', name: ''}}]);
  },

  // Bytes go to the shell as base64 and come back as ArrayBuffers; text and
  // bytes keep their order in one writer; a Blob that cannot be read fails
  // the write as unreadable.
  async binaryWritesAndReadsCarryAnyBytesInOrder() {
    let file = Buffer.alloc(0);
    const shell = (call) => {
      const args = call.args;
      if (call.command === 'FileSystem#requestFileSystem') return {id: 'fs1'};
      if (call.command === 'FileSystem#getEntry') return '/bin';
      if (call.command === 'FileSystem#seek') return Math.min(Number(args.offset), file.length);
      if (call.command === 'FileSystem#write') {
        const bytes = args.encoding === 'base64' ? Buffer.from(args.data, 'base64') : Buffer.from(args.data, 'utf8');
        const offset = Math.min(Number(args.offset), file.length);
        const grown = Buffer.alloc(Math.max(file.length, offset + bytes.length));
        file.copy(grown);
        bytes.copy(grown, offset);
        file = grown;
        return offset + bytes.length;
      }
      if (call.command === 'FileSystem#read') {
        const from = Math.min(Number(args.offset), file.length);
        const to = Number(args.length) > 0 ? Math.min(file.length, from + Number(args.length)) : file.length;
        const piece = file.subarray(from, to);
        if (args.encoding === 'base64') return {offset: to, data: piece.toString('base64')};
        try {
          return {offset: to, data: new TextDecoder('utf-8', {fatal: true}).decode(piece)};
        } catch (e) {
          return {offset: to, data: ''};  // as the shell: bytes that are not whole characters read as ""
        }
      }
      throw new Error('unexpected ' + call.command);
    };
    const replying = (message) => Promise.resolve(JSON.stringify(message.calls.map((call) =>
      ({status: 200, answer: {callback: call.args.success, value: shell(call)}}))));
    const {Kio, calls} = page({atob: atob, btoa: btoa}, replying);
    const fs = await Kio.files.requestFileSystem();
    const entry = await fs.root.getFile('bin', {create: true});
    const writer = await entry.createWriter();
    const all = Uint8Array.from({length: 256}, (_, i) => 255 - i);
    const view = new DataView(all.buffer, 10, 3);
    const writes = [writer.write(all.buffer), writer.write('\u00e9'), writer.write(all.subarray(1, 3)), writer.write(view),
                    writer.write(new Blob([Uint8Array.of(0, 1)]))];
    all[1] = 7;  // changed after the call: the write keeps what it was given
    assert.deepStrictEqual(await Promise.all(writes), [256, 258, 260, 263, 265]);
    const expected = Buffer.concat([Buffer.from(Uint8Array.from({length: 256}, (_, i) => 255 - i)), Buffer.from('\u00e9'),
                                    Buffer.from([254, 253]), Buffer.from([245, 244, 243]), Buffer.from([0, 1])]);
    assert.ok(file.equals(expected));
    assert.strictEqual(calls.filter((call) => call.args.encoding === 'base64').length, 4);

    const reader = await entry.createFileReader();
    const first = await reader.readArrayBuffer(2);
    assert.strictEqual(Object.prototype.toString.call(first), '[object ArrayBuffer]');
    assert.deepStrictEqual(Array.from(new Uint8Array(first)), [255, 254]);
    assert.strictEqual((await reader.readArrayBuffer(0)).byteLength, 0);
    await reader.seek(256);
    assert.strictEqual(await reader.read(1), '');  // half of "é" as text is nothing...
    await reader.seek(256);
    assert.deepStrictEqual(Array.from(new Uint8Array(await reader.readArrayBuffer(1))), [0xc3]);  // ...as bytes it is a byte
    await reader.seek(0);
    assert.ok(Buffer.from(await reader.readAsArrayBuffer()).equals(expected));

    assert.throws(() => writer.write(12), (e) => e.name === 'TypeError' && /ArrayBuffer/.test(e.message));
    assert.throws(() => writer.write({}), (e) => e.name === 'TypeError');
    assert.throws(() => reader.readArrayBuffer(-1), (e) => e.name === 'RangeError');
    const broken = {size: 3, arrayBuffer: () => Promise.reject(new Error('gone'))};
    await assert.rejects(writer.write(broken), (e) => e.name === 'FileError' && e.code === 4 && /gone/.test(e.message));
    assert.strictEqual(await writer.write('z'), 266);  // the writer goes on after the failed write
  },

  async cameraPromiseResolvesThePictureAndCallbacksGetWhatTheyAlwaysGot() {
    const {Kio, answer, last} = page();
    const picture = Kio.camera.getPicture({sourceType: 0});
    await settled();
    assert.strictEqual(last('Camera#capture').args.source, '0');
    answer('Camera#capture', 'success', '/home/u/Documents/image-1.jpg');
    assert.strictEqual(await picture, '/home/u/Documents/image-1.jpg');

    const seen = [];
    Kio.camera.getPicture((path) => seen.push('success ' + path), (message) => seen.push('failure ' + message));
    await settled();
    answer('Camera#capture', 'failure', 'User has canceled operation');
    await settled();
    assert.deepStrictEqual(seen, ['failure User has canceled operation']);
  },

  async aRejectionCarriesTheServiceCodeOrTheShellsCodes() {
    const {Kio, answer, bridge, realm} = page();
    const cancelled = Kio.camera.getPicture({});
    await settled();
    answer('Camera#capture', 'failure', 'User has canceled operation');
    await assert.rejects(cancelled, (e) => e instanceof realm.Error && e.code === 1 && e.message === 'User has canceled operation');

    const refused = Kio.camera.getPicture({});
    await settled();
    answer('Camera#capture', 'failure', 'Refused: source must be 0 (photo library), 1 (camera) or 2, not "9"');
    await assert.rejects(refused, (e) => e.code === Kio.TaveroError.INVALID_ARGUMENT);

    bridge.failNext = true;
    await assert.rejects(Kio.camera.getPicture({}), (e) => e.code === Kio.TaveroError.SHELL_UNAVAILABLE &&
                                                           e.status === 503 &&
                                                           /Camera#capture: the shell is not serving/.test(e.message));
    bridge.failNext = true;
    await assert.rejects(Kio.files.requestFileSystem(), (e) => e.name === 'FileError' && e.code === 1000);
  },

  async aPageThatUsedCallbacksHearsNoUnhandledRejection() {
    const {Kio, answer} = page();
    unhandled = [];
    Kio.camera.getPicture(() => {}, () => {});
    Kio.camera.getPicture(() => {});  // no failure callback: failures are dropped, as they always were
    await settled();
    answer('Camera#capture', 'failure', 'User has canceled operation');
    Kio.files.requestFileSystem(() => {}, () => {});
    await settled();
    answer('FileSystem#requestFileSystem', 'failure', 'Unable to get file system: not found');
    Kio.geolocation.getCurrentPosition(() => {}, null, {timeout: 0});
    await settled();
    await settled();
    assert.deepStrictEqual(unhandled, []);

    Kio.camera.getPicture({});  // a promise nobody handles is the page's own matter
    await settled();
    answer('Camera#capture', 'failure', 'User has canceled operation');
    await settled();
    await settled();
    assert.strictEqual(unhandled.length, 1);
    unhandled = [];
  },

  async optionsOutOfRangeThrowAtOnceAndSendNothing() {
    const {Kio, calls} = page();
    throwsRange(() => Kio.camera.getPicture({sourceType: 99}), /sourceType must be 0 \(PHOTOLIBRARY\).*not the number 99/);
    throwsRange(() => Kio.camera.getPicture(null, null, {sourceType: '1'}), /not the string "1"/);
    throwsRange(() => Kio.camera.getPicture({destinationType: 2}), /destinationType/);
    throwsRange(() => Kio.camera.getPicture({encodingType: -1}), /encodingType/);
    throwsRange(() => Kio.camera.getPicture({quality: 100.5}), /quality must be an integer from 0 to 100/);
    throwsRange(() => Kio.camera.getPicture({targetWidth: 10001}), /targetWidth/);
    throwsRange(() => Kio.camera.getPicture({targetHeight: -1}), /targetHeight/);
    throwsRange(() => Kio.geolocation.getCurrentPosition({timeout: -1}), /timeout/);
    throwsRange(() => Kio.geolocation.getCurrentPosition({maximumAge: NaN}), /maximumAge/);
    throwsRange(() => Kio.geolocation.watchPosition(() => {}, null, {frequency: 0}), /frequency/);
    throwsRange(() => Kio.geolocation.watchPosition(() => {}, null, {frequency: Infinity}), /frequency/);
    throwsRange(() => Kio.notification.alert('t', 'm', new Array(17).fill('b')), /at most 16 titles/);
    // The edges pass.
    Kio.camera.getPicture({sourceType: 2, quality: 0, targetWidth: 10000, targetHeight: 0, encodingType: 1});
    Kio.geolocation.getCurrentPosition({timeout: Infinity, maximumAge: 0, frequency: 0}).catch(() => {});  // no watch
    await settled();
    assert.deepStrictEqual(calls.map((call) => call.command), ['Camera#capture', 'Geolocation#getCurrentPosition']);
  },

  async geolocationResolvesPositionsAndErrorCallbacksGetPlainObjects() {
    const {Kio, answer, realm} = page();
    const found = Kio.geolocation.getCurrentPosition({timeout: 60000});
    await settled();
    answer('Geolocation#getCurrentPosition', 'success', {
      coords: {latitude: 1, longitude: 2, altitude: 3, accuracy: 4, altitudeAccuracy: -1, heading: -1, speed: 5},
      timestamp: 7});
    const position = await found;
    assert.deepStrictEqual([position.coords.latitude, position.coords.altitude, position.coords.speed], [1, null, 5]);

    let callbackError = null;
    const failed = Kio.geolocation.getCurrentPosition(() => {}, (error) => { callbackError = error; });
    await settled();
    answer('Geolocation#getCurrentPosition', 'failure', 'Failed to start location services');
    await assert.rejects(failed, (e) => e instanceof realm.Error && e.code === 2 && e.TIMEOUT === 3);
    assert.strictEqual(Object.getPrototypeOf(callbackError), realm.Object.prototype);  // a plain object, as before
    assert.deepStrictEqual(JSON.parse(JSON.stringify(callbackError)), {
      code: 2, message: 'Failed to start location services', PERMISSION_DENIED: 1, POSITION_UNAVAILABLE: 2, TIMEOUT: 3});

    await assert.rejects(Kio.geolocation.getCurrentPosition({timeout: 0}), (e) => e.code === 3);
  },

  async alertsSendTitlesAsAListAndAnswerTitleOrIndex() {
    const {Kio, answer, last} = page();
    const alerted = Kio.notification.alert('Sure?', '', ['OK, fine', 'No']);
    await settled();
    assert.strictEqual(last('Notification#show').args.buttonTitles, '["OK, fine","No"]');
    assert.strictEqual(last('Notification#show').args.buttons, undefined);
    answer('Notification#show', 'callback', {index: 0, title: 'OK, fine', button: 'ok, fine'});
    assert.strictEqual(await alerted, 'ok, fine');

    const chosen = Kio.notification.choose('Sure?', '', ['A', 'B']);
    await settled();
    answer('Notification#show', 'callback', {index: 1, title: 'B', button: 'b'});
    assert.deepStrictEqual(JSON.parse(JSON.stringify(await chosen)), {index: 1, title: 'B'});

    const unseen = Kio.notification.alert('No window');
    await settled();
    answer('Notification#show', 'failure', 'This shell has no window to show alerts in');
    await assert.rejects(unseen, (e) => e.code === Kio.notification.NotificationError.NOT_SHOWN);
  },

  async webSqlTransactionsTakeOneCallThatCommitsWhenNoStatementHasACallback() {
    const sql = fakeSQL();
    const {Kio} = page(null, (message) => Promise.all(message.calls.map(sql.answerOf))
      .then((results) => JSON.stringify(results.map((result) => ({status: 200, result: result})))));
    const db = new Kio.sql.Database('1', '');
    const args = [1, 'a', Infinity, true, null, undefined, NaN];
    let called = false;
    const done = db.transaction((tx) => {
      called = true;
      tx.executeSql('INSERT INTO t VALUES (?, ?)  ', args);
      args[0] = 99;  // bound when executeSql was called
      tx.executeSql('INSERT INTO t VALUES (1)');
    });
    assert.strictEqual(called, false);  // the callback runs after the call returned
    await done;
    assert.deepStrictEqual(sql.log.map((call) => call.command), ['SQLite#executeBatch']);
    const batch = sql.log[0].args;
    assert.strictEqual(batch.transactionId, undefined);
    assert.deepStrictEqual([batch.databaseId, batch.readOnly, batch.commit], ['1', 'false', 'true']);
    assert.strictEqual(batch.statements, '[["INSERT INTO t VALUES (?, ?)",[1,"a",1e999,"true",null,null,null],true],' +
                                         '["INSERT INTO t VALUES (1)",[],true]]');
  },

  async webSqlCallbacksRunInOrderAndQueueTheirStatementsForTheNextCall() {
    const sql = fakeSQL();
    const {Kio} = page(null, (message) => Promise.all(message.calls.map(sql.answerOf))
      .then((results) => JSON.stringify(results.map((result) => ({status: 200, result: result})))));
    const db = new Kio.sql.Database('1', '');
    const seen = [];
    const value = (result) => result.rows.item(0).v;
    let ended = false;
    const done = db.readTransaction((tx) => {
      tx.executeSql('SELECT a', [], (tx, result) => {
        seen.push(value(result));
        tx.executeSql('SELECT c', [], (tx, result) => seen.push(value(result)));
      });
      tx.executeSql('SELECT b', [], (tx, result) => seen.push(value(result)));
    }, null, () => { ended = true; });
    await done;
    // A read transaction ends without waiting for its end's answer.
    assert.strictEqual(ended, true);
    assert.deepStrictEqual(seen, ['SELECT a', 'SELECT b', 'SELECT c']);
    assert.deepStrictEqual(sql.log.map((call) => [call.command, call.args.transactionId, call.args.commit]),
                           [['SQLite#executeBatch', undefined, 'false'], ['SQLite#executeBatch', '7', 'false'],
                            ['SQLite#commitTransaction', '7', undefined]]);
    sql.release();

    // A statement failing mid-batch fails the transaction with its error;
    // the statements after it had no callbacks to run, and nothing commits.
    const failed = await db.transaction((tx) => {
      tx.executeSql('INSERT INTO t VALUES (1)');
      tx.executeSql('INSERT INTO missing VALUES (1)');
      tx.executeSql('INSERT INTO t VALUES (2)');
    }).then(() => 'committed', (error) => [error.code, error.message]);
    assert.deepStrictEqual(failed, [5, 'no such table: missing']);
    assert.deepStrictEqual(sql.log.slice(3).map((call) => call.command), ['SQLite#executeBatch', 'SQLite#rollbackTransaction']);
  },

  async webSqlRowsAreFreshObjectsWithEveryColumnAsAnOwnPropertyWhateverItsName() {
    // The shell's answer for one SELECT: its names and one list per column.
    const names = ['id', 'a', '__proto__', '', 'a', 'constructor', 'big', 'real', 'none'];
    const columns = [[1, 2], ['first', 'x'], ['p1', null], ['e1', 'e2'], ['second', 'y'], ['c1', 'c2'],
                     [9007199254740993, -1], [1.5, -0.25], [null, null]];
    const answers = [{rowsAffected: 0, names: names, columns: columns},
                     {rowsAffected: 0, names: ['v'], columns: [[]]}];
    const {Kio, realm} = page(null, (message) => Promise.resolve(JSON.stringify(message.calls.map((call) => {
      if (call.command !== 'SQLite#executeBatch') return {status: 200};
      return {status: 200, result: {transactionId: '3', results: answers}};
    }))));
    const db = new Kio.sql.Database('1', '');
    const seen = {};
    await db.readTransaction((tx) => {
      tx.executeSql('SELECT many', [], (tx, result) => { seen.many = result.rows; });
      tx.executeSql('SELECT none', [], (tx, result) => { seen.none = result.rows; });
    });
    const rows = seen.many;
    assert.strictEqual(rows.length, 2);
    const first = rows.item(0);
    // Own properties in column order; the later "a" counts; "__proto__" is
    // a column, not the row's prototype.
    assert.deepStrictEqual(Object.keys(first), ['id', 'a', '__proto__', '', 'constructor', 'big', 'real', 'none']);
    assert.strictEqual(first.a, 'second');
    assert.strictEqual(Object.getOwnPropertyDescriptor(first, '__proto__').value, 'p1');
    assert.strictEqual(Object.getPrototypeOf(first), realm.Object.prototype);
    assert.strictEqual(first[''], 'e1');
    assert.strictEqual(first.constructor, 'c1');
    assert.strictEqual(first.big, 9007199254740992);  // a JavaScript number, as Web SQL gives it
    assert.strictEqual(first.real, 1.5);
    assert.strictEqual(first.none, null);
    assert.strictEqual(JSON.stringify(rows.item(1)),
                       '{"id":2,"a":"y","__proto__":null,"":"e2","constructor":"c2","big":-1,"real":-0.25,"none":null}');
    // A fresh object each time: changing one changes nothing else.
    first.a = 'changed';
    assert.notStrictEqual(rows.item(0), first);
    assert.strictEqual(rows.item(0).a, 'second');
    // Out of range, or not a whole number: null.
    for (const index of [-1, 2, 0.5, NaN, 'x', Infinity]) assert.strictEqual(rows.item(index), null, String(index));
    assert.strictEqual(rows.item('1').id, 2);
    assert.strictEqual(seen.none.length, 0);
    assert.strictEqual(seen.none.item(0), null);
  },

  async webSqlReadTransactionsOverHTTPWaitForTheirEnd() {
    // Over HTTP calls may overtake each other: the read's end is waited for.
    const sql = fakeSQL();
    const fetch = (url) => {
      const query = new URLSearchParams(String(url).split('?')[1]);
      const call = {command: query.get('command'), args: Object.fromEntries(query)};
      return sql.answerOf(call).then((result) => ({ok: true, status: 200,
                                                   text: () => Promise.resolve(result === undefined ? '' : JSON.stringify(result))}));
    };
    const {Kio} = page({fetch: fetch});
    const db = new Kio.sql.Database('1', '');
    let ended = false;
    db.readTransaction((tx) => tx.executeSql('SELECT a', [], () => {}), null, () => { ended = true; });
    for (let i = 0; i < 5 && sql.log.length < 2; i++) await settled();
    assert.deepStrictEqual(sql.log.map((call) => call.command), ['SQLite#executeBatch', 'SQLite#commitTransaction']);
    assert.strictEqual(ended, false);
    sql.release();
    await settled();
    assert.strictEqual(ended, true);
  },

  async sqlErrorsAreErrorsWithTheirCodesAsEnumerableFields() {
    const {Kio, realm} = page();
    const error = new Kio.sql.SQLError(6, 'constraint failed');
    assert.ok(error instanceof realm.Error);
    assert.strictEqual(JSON.stringify(error), '{"code":6,"message":"constraint failed"}');  // as before it was an Error
    assert.strictEqual(String(error), 'SQLError 6: constraint failed');
    assert.strictEqual(error.CONSTRAINT_ERR, 6);
  },
};

// A test whose promise never settles leaves node with nothing to do: it
// would end quietly, as if every test had passed.
let current = null;
process.on('exit', (code) => {
  if (current === null) return;
  console.log('FAILED ' + current + ': it never finished');
  process.exitCode = 1;
});

(async () => {
  let failures = 0;
  for (const [name, test] of Object.entries(tests)) {
    current = name;
    try {
      await test();
      console.log('ok ' + name);
    } catch (error) {
      failures++;
      console.log('FAILED ' + name + '\n' + (error && error.stack || error));
    }
  }
  current = null;
  process.exit(failures ? 1 : 0);
})();
