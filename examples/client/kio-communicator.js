// The page side of the Tavero bridge.
//
//   Kio.device.Communicator.send('Contact#find', {success: fn, failure: fn})
//   Kio.device.Communicator.send('SQLite#getVersion', {databaseId: '1'}, {sync: true}).then(version => ...)
//
// The shell puts this script into every document of the application's
// bundle before the page's own scripts, so pages need not load it (a page
// that loads its own copy keeps the shell's). Function arguments become
// callback ids: the shell answers them later by evaluating
// Kio.device.Communicator.invoke('<id>', [value]) in this page. Arrays and
// objects travel as JSON text, everything else as text.
//
// Exceptions thrown by page callbacks are reported as uncaught errors
// (window.onerror, the console, the shell's log) and do not stop the
// callbacks after them: wrappers run page callbacks through
// Communicator.call, and check their arguments with Communicator.expect.
//
// Every asynchronous page API answers with a promise too: it resolves with
// the result and rejects with an Error that has a numeric `code` and a
// `message` (Kio.TaveroError, or the service's own error class). The codes
// of the shell itself, the same for every service, are TaveroError's:
// SHELL_UNAVAILABLE (the call did not reach the shell or got no answer; a
// refusal of the bridge also has the HTTP `status`) and INVALID_ARGUMENT
// (the shell refused a value out of range). A page that passes callbacks
// gets them called as before; the promise then has a handler of its own, so
// that its rejection is not reported as unhandled.
//
// Calls take the fastest road the document has (road(), the one place that
// chooses): the shell's web process extension, whose function carries them
// from the web process straight to the shell (synchronous ones too), else
// the shell's message channel; on either, the calls a page makes in one
// task go to the shell together, and their answers come back in order.
// When the extension's connection fails, calls go the channel's way.
// Without either (a page not run by the shell's web view) each call is one
// GET to the shell's HTTP bridge. Either way the
// shell's page token goes with every call: it is what tells the shell that
// the call comes from the application and not from web content it shows.
var Kio = window.Kio || {};
Kio.device = Kio.device || {};

(function () {
  'use strict';

  const existing = Object.getOwnPropertyDescriptor(Kio.device, 'Communicator');
  if (existing && !existing.configurable) return;  // the shell's copy is already in place

  // The error of a page API call: `code` and `message` are own enumerable
  // properties, so JSON.stringify and Object.keys show both.
  class TaveroError extends Error {
    constructor(code, message, name) {
      super(String(message));
      Object.defineProperty(this, 'name', {value: name || 'TaveroError', writable: true, configurable: true});
      delete this.message;  // made again after `code`, so that JSON text shows the code first
      this.code = code;
      Object.defineProperty(this, 'message', {value: String(message), enumerable: true, writable: true,
                                              configurable: true});
    }
  }
  TaveroError.SHELL_UNAVAILABLE = 1000;
  TaveroError.INVALID_ARGUMENT = 1001;
  // What the shell's refusals of out-of-range values begin with.
  const refusedPrefix = 'Refused: ';

  // What the shell tells its documents: the page token and the bridge's port.
  const shell = window.__taveroBridge || null;
  const handlers = window.webkit && window.webkit.messageHandlers;
  const channel = shell && handlers && handlers.tavero;
  const maxCallsPerMessage = 512;

  // The web process extension's function, given to the bundle's documents
  // only; taken from the window before the page's own scripts run.
  const native = shell && window.__taveroNative ? {calls: window.__taveroNative, failed: false} : null;
  if (window.__taveroNative) delete window.__taveroNative;

  // The road calls take: 'native', 'channel' or 'http'.
  function road() {
    if (native && !native.failed) return 'native';
    return channel ? 'channel' : 'http';
  }

  // Each document numbers its callbacks from a random point: an answer the
  // shell sends for a document that is gone (a watch it had not ended yet)
  // then matches no callback of the page that came after it. Below 2^30, far
  // from the fixed ids of shell-wide answers.
  let nextCallbackId = 1 + (crypto.getRandomValues(new Uint32Array(1))[0] % 0x40000000);
  const callbacks = new Map();  // id text -> {fn, keep}

  // A callback id for `fn`. With keep, it answers repeatedly (watches) until
  // forget(id); otherwise the first answer removes it. `fixedId` registers
  // `fn` under an id of the caller's choosing (for answers the shell sends
  // to one id in every page), replacing what was there.
  function callback(fn, keep, fixedId) {
    const id = fixedId === undefined ? String(nextCallbackId++) : String(fixedId);
    callbacks.set(id, {fn: fn, keep: !!keep});
    return id;
  }

  function forget(id) { callbacks.delete(String(id)); }

  function encode(value) {
    if (value === null || value === undefined) return '';
    if (typeof value === 'object') return JSON.stringify(value);
    return String(value);
  }

  // The call's arguments as the texts the shell reads.
  function argumentTexts(args, keepCallbacks) {
    const texts = {__source: window.location.href};
    for (const key of Object.keys(args || {})) {
      let value = args[key];
      if (typeof value === 'function') value = callback(value, keepCallbacks);
      texts[key] = encode(value);
    }
    return texts;
  }

  function bridgeURL() {
    return shell ? 'http://127.0.0.1:' + shell.port + '/' : 'http://localhost:3000/';
  }

  function query(command, texts, sync) {
    const pieces = ['command=' + encodeURIComponent(command)];
    if (sync) pieces.push('sync=true');
    if (shell) pieces.push('__token=' + encodeURIComponent(shell.token));
    for (const key of Object.keys(texts)) pieces.push(encodeURIComponent(key) + '=' + encodeURIComponent(texts[key]));
    return pieces.join('&');
  }

  // `reason`: the shell's words when it refused the whole message.
  function refusal(command, status, reason) {
    const error = new TaveroError(TaveroError.SHELL_UNAVAILABLE,
                                  command + ': ' + (reason || 'the bridge answered ' + status));
    error.status = status;
    return error;
  }

  // Why a request got no answer at all: while the app is in the background
  // the bridge refuses every connection.
  const notServing = 'the shell is not serving (the application is in the background, or has ended)';

  // Calls waiting for the end of the current task, to go to the shell together.
  let pending = [];

  function flush() {
    if (!pending.length) return;  // sent already, ahead of a bytes call
    const batch = pending.splice(0, maxCallsPerMessage);
    if (pending.length) queueMicrotask(flush);
    const message = JSON.stringify({
      token: shell.token,
      calls: batch.map(callEntry),
    });
    post(message).then((text) => {
      const answers = JSON.parse(text);
      if (!Array.isArray(answers)) {  // the whole message refused: {status, refusal}
        for (const call of batch) call.reject(refusal(call.command, answers.status, answers.refusal));
        return;
      }
      batch.forEach((call, i) => settleCall(call, answers[i] || {status: 500}));
    }, (error) => {
      // Rejected without the page token (403), the native road's connection
      // lost (503), or the channel itself failed (the document is going
      // away, say).
      const reason = String(error && error.message || error);
      const status = error && error.status || (reason.indexOf('refused') >= 0 ? 403 : 500);
      for (const call of batch) call.reject(refusal(call.command, status, reason));
    });
  }

  // Sends a message of calls on the native road or the channel; a promise of
  // the answer's text. A lost native connection fails the calls under way
  // (the shell may have run them) and sends later ones on the channel.
  function post(message) {
    if (road() === 'native') {
      let settle = null;
      const answer = new Promise((resolve, reject) => { settle = {resolve: resolve, reject: reject}; });
      const sent = native.calls.post(message, (kind, text) => {
        if (kind === 0) return settle.resolve(text);
        if (kind === 1) return settle.reject(new Error(text));
        native.failed = true;
        const lost = new Error(notServing);
        lost.status = 503;
        settle.reject(lost);
      });
      if (sent) return answer;
      native.failed = true;
    }
    return channel.postMessage(message);
  }

  // The most bytes one bytes call carries (as the native road's frames allow).
  const maxBytes = 16 * 1024 * 1024;

  // Whether this document has the road of bytes calls.
  function carriesBytes() {
    return road() === 'native' && typeof native.calls.postBytes === 'function';
  }

  // A queued call that carries a piece of content as raw bytes beside its
  // arguments (a Uint8Array, or null), on the native road: neither JSON
  // text nor base64 on either side. A promise of {answer, bytes}, the
  // operation's answer and an ArrayBuffer of the bytes it gave; null when
  // the call cannot take this road (no native road, more than maxBytes):
  // the caller then takes send(). Calls sent before it reach the shell
  // first, and the shell runs it after them.
  function sendBytes(command, args, bytes) {
    if (!carriesBytes() || (bytes && bytes.byteLength > maxBytes)) return null;
    while (pending.length) flush();
    const message = JSON.stringify({token: shell.token, calls: [{command: command, args: argumentTexts(args, false)}]});
    let settle = null;
    const answer = new Promise((resolve, reject) => { settle = {resolve: resolve, reject: reject}; });
    const sent = native.calls.postBytes(message, bytes || null, (kind, text, buffer) => {
      if (kind === 1) return settle.reject(refusal(command, 403, text));
      if (kind !== 0) {
        native.failed = true;
        return settle.reject(refusal(command, 503, notServing));
      }
      let header = null;
      try {
        header = JSON.parse(text);
      } catch (error) {
        return settle.reject(refusal(command, 500, 'the shell sent a malformed answer'));
      }
      if (header.refusal !== undefined) return settle.reject(refusal(command, header.status, header.refusal));
      if (header.status !== 200) return settle.reject(refusal(command, header.status));
      settle.resolve({answer: header.answer, bytes: buffer});
    });
    return sent ? answer : null;
  }

  // A synchronous call on the native road: its result, or undefined when it
  // could not be sent (then the caller takes another road).
  function postSync(command, texts) {
    const reply = native.calls.postSync(JSON.stringify({
      token: shell.token, calls: [{command: command, sync: true, args: texts}]}));
    if (reply === null || reply === undefined) {
      native.failed = true;
      return undefined;
    }
    const kind = reply.charAt(0), text = reply.slice(1);
    if (kind === '1') throw refusal(command, 403, text);
    if (kind !== '0') {
      native.failed = true;
      throw refusal(command, 503, notServing);
    }
    const answers = JSON.parse(text);
    if (!Array.isArray(answers)) throw refusal(command, answers.status, answers.refusal);
    const answer = answers[0] || {status: 500};
    if (answer.status !== 200) throw refusal(command, answer.status);
    return answer.result === undefined ? null : answer.result;
  }

  // A pending call as the message carries it. A queued call answering once
  // through the callback ids in `answers` asks for that answer in the reply.
  function callEntry(call) {
    const entry = {command: call.command, sync: call.sync, args: call.texts};
    if (call.answers) entry.answers = call.answers;
    return entry;
  }

  // Hands a call its entry of the shell's answer: refusal, result, and the
  // callback answer the reply carries ({callback, value}, as a callback
  // script would have given it). Every road that carries messages of calls
  // ends here.
  function settleCall(call, answer) {
    if (answer.status !== 200) return call.reject(refusal(call.command, answer.status));
    call.resolve(call.sync ? (answer.result === undefined ? null : answer.result) : undefined);
    if (answer.answer && typeof answer.answer === 'object') invoke(answer.answer.callback, [answer.answer.value]);
  }

  // The callback ids (texts) a queued call answers once through, when the
  // page named them with send's `answers` option: the keys of `args` that
  // hold them ("success", "failure"). Null without.
  function answerIds(keys, texts) {
    if (!Array.isArray(keys)) return null;
    const ids = keys.map((key) => texts[key]).filter((id) => typeof id === 'string' && /^[0-9]+$/.test(id));
    return ids.length ? ids : null;
  }

  // Sends a command; resolves with the parsed answer of a sync call (null
  // for an empty answer), or undefined for a queued one. Rejects when the
  // shell refuses the call. On the message channel (`ordered`) the shell
  // carries out a page's sync calls in the order they were made; without it
  // each call is a request of its own, and requests may overtake each other.
  // Options: sync; keepCallbacks (function arguments answer repeatedly);
  // answers, the keys of `args` whose callback ids a queued call answers
  // exactly once through (its success and failure): on the channel that
  // answer comes in the message's reply instead of a callback script.
  function send(command, args, options) {
    options = options || {};
    const texts = argumentTexts(args, options.keepCallbacks);
    const sync = !!options.sync;
    if (road() !== 'http') {
      return new Promise((resolve, reject) => {
        if (pending.length === 0) queueMicrotask(flush);
        pending.push({command: command, sync: sync, texts: texts, answers: answerIds(options.answers, texts),
                      resolve: resolve, reject: reject});
      });
    }
    const body = query(command, texts, sync);
    // Long arguments go in a form body: a request line has a size limit.
    const request = body.length > 4096
      ? fetch(bridgeURL(), {method: 'POST', body: body,
                            headers: {'Content-Type': 'application/x-www-form-urlencoded'}})
      : fetch(bridgeURL() + '?' + body);
    return request.catch(() => { throw refusal(command, 503, notServing); }).then((response) => {
      if (!response.ok) throw refusal(command, response.status);
      return response.text();
    }).then((text) => (sync ? (text === '' ? null : JSON.parse(text)) : undefined));
  }

  // The same, blocking until the answer is there, for APIs that must answer
  // synchronously. Returns the parsed answer or throws. It holds the page
  // still while the shell works: prefer send().
  function sendSync(command, args) {
    const texts = argumentTexts(args, false);
    if (road() === 'native') {
      const result = postSync(command, texts);
      if (result !== undefined) return result;
    }
    const body = query(command, texts, true);
    const request = new XMLHttpRequest();
    try {
      // Long arguments go in a form body: a request line has a size limit.
      if (body.length > 4096) {
        request.open('POST', bridgeURL(), false);
        request.setRequestHeader('Content-Type', 'application/x-www-form-urlencoded');
        request.send(body);
      } else {
        request.open('GET', bridgeURL() + '?' + body, false);
        request.send();
      }
    } catch (error) {
      throw refusal(command, 503, notServing);
    }
    if (request.status !== 200) throw refusal(command, request.status);
    return request.responseText === '' ? null : JSON.parse(request.responseText);
  }

  // Reports an exception thrown by a page's callback the way the web view
  // reports one thrown by an event handler: window.onerror and the page's
  // "error" listeners hear it (and so does the shell's log), while the code
  // that called the callback goes on with the next one.
  function report(error) {
    if (typeof window.reportError === 'function') {
      try {
        window.reportError(error);
        return;
      } catch (e) { /* fall back to a fresh task */ }
    }
    setTimeout(() => { throw error; }, 0);
  }

  // Calls the page's callback `fn` with `args` and returns what it returned;
  // an exception it throws is reported (see report) and gives undefined.
  // Every wrapper in this folder calls page callbacks through this: thrown
  // inside a promise chain, an exception would otherwise become an unhandled
  // rejection nobody sees.
  function call(fn, ...args) {
    try {
      return fn(...args);
    } catch (error) {
      report(error);
      return undefined;
    }
  }

  function describe(value) {
    if (value === null || value === undefined) return String(value);
    if (Array.isArray(value)) return 'an array';
    if (typeof value === 'function') return 'a function';
    if (typeof value === 'object') return 'an object';
    if (typeof value === 'string') return 'the string ' + JSON.stringify(value.slice(0, 40));
    return 'the ' + typeof value + ' ' + String(value);
  }

  // Checks an argument of the page's call `method` at once, so that a call
  // with arguments in another order fails loudly instead of doing nothing:
  // throws a TypeError naming the argument when `value` is not of `type`
  // ('function', 'string', 'number', 'object' or 'array'). With `optional`,
  // null and undefined pass. Returns `value` (null for a missing optional one).
  function expect(value, type, name, method, optional) {
    if (optional && (value === undefined || value === null)) return null;
    const fits = type === 'array' ? Array.isArray(value)
      : type === 'object' ? value !== null && typeof value === 'object'
      : type === 'number' ? typeof value === 'number' && value === value
      : typeof value === type;
    if (!fits) {
      const article = /^[aeiou]/.test(type) ? 'an ' : 'a ';
      throw new TypeError(method + ': ' + name + ' must be ' + article + type + (optional ? ' or null' : '') +
                          ', not ' + describe(value));
    }
    return value;
  }

  // Checks an option of the page's call `method` at once: throws a
  // RangeError (code INVALID_ARGUMENT) naming it when `value` is given
  // (neither undefined nor null) and `fits(value)` is false. `allowed` says
  // what would do ("0, 1 or 2"). Returns `value`.
  function expectRange(value, fits, name, method, allowed) {
    if (value === undefined || value === null || fits(value)) return value;
    const error = new RangeError(method + ': ' + name + ' must be ' + allowed + ', not ' + describe(value));
    error.code = TaveroError.INVALID_ARGUMENT;
    throw error;
  }

  // Predicates for expectRange.
  const oneOf = (...values) => (value) => values.indexOf(value) >= 0;
  const integerIn = (low, high) => (value) => Number.isInteger(value) && value >= low && value <= high;
  const notNegative = (value) => typeof value === 'number' && value >= 0;  // Infinity too

  // The code of a failure message of the shell: INVALID_ARGUMENT for its
  // refusals, else what `serviceCode(message)` says.
  function codeOf(message, serviceCode) {
    const text = String(message);
    if (text.indexOf(refusedPrefix) === 0) return TaveroError.INVALID_ARGUMENT;
    return serviceCode ? serviceCode(text) : 0;
  }

  // Sends `command` with callback ids of its own under `successKey` and
  // `failureKey` (default "success" and "failure"). A promise of the value
  // the shell answers through the first; rejects with `makeError(message)`
  // for an answer through the second, and with a SHELL_UNAVAILABLE error
  // when the call could not be made.
  function request(command, args, makeError, successKey, failureKey) {
    return new Promise((resolve, reject) => {
      const ids = {};
      const done = () => { forget(ids.success); forget(ids.failure); };
      ids.success = callback((value) => { done(); resolve(value); });
      ids.failure = callback((message) => { done(); reject(makeError(message)); });
      const texts = Object.assign({}, args);
      texts[successKey || 'success'] = ids.success;
      texts[failureKey || 'failure'] = ids.failure;
      send(command, texts).catch((error) => { done(); reject(error); });
    });
  }

  // Hands the outcome of `promise` to the page's callbacks when it gave any:
  // success(value), failure(asFailure(error)) (the error itself without
  // asFailure). Returns `promise`; when the page gave callbacks it gets a
  // handler of its own, so that a rejection nobody awaits is not reported.
  function settle(promise, success, failure, asFailure) {
    if (!success && !failure) return promise;
    promise.then((value) => { if (success) call(success, value); },
                 (error) => { if (failure) call(failure, asFailure ? asFailure(error) : error); });
    return promise;
  }

  // Called by the shell with a callback id and a one-element array.
  function invoke(id, values) {
    const entry = callbacks.get(String(id));
    if (!entry) return;
    if (!entry.keep) callbacks.delete(String(id));
    call(entry.fn, values && values.length ? values[0] : undefined);
  }

  const communicator = Object.freeze({send: send, sendSync: sendSync, invoke: invoke, callback: callback, forget: forget,
                                      call: call, report: report, expect: expect, expectRange: expectRange,
                                      oneOf: oneOf, integerIn: integerIn, notNegative: notNegative,
                                      codeOf: codeOf, request: request, settle: settle, road: road,
                                      sendBytes: sendBytes, carriesBytes: carriesBytes, maxBytes: maxBytes,
                                      ordered: road() !== 'http'});
  Kio.TaveroError = TaveroError;
  Object.defineProperty(Kio.device, 'Communicator', {value: communicator, enumerable: true, writable: false,
                                                     configurable: !shell});
})();
