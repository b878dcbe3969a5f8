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
// Calls travel on the shell's message channel when there is one: the calls
// a page makes in one task go to the shell together, and their answers
// come back in order. Without the channel (a page not run by the shell's
// web view) each call is one GET to the shell's HTTP bridge. Either way the
// shell's page token goes with every call: it is what tells the shell that
// the call comes from the application and not from web content it shows.
var Kio = window.Kio || {};
Kio.device = Kio.device || {};

(function () {
  'use strict';

  const existing = Object.getOwnPropertyDescriptor(Kio.device, 'Communicator');
  if (existing && !existing.configurable) return;  // the shell's copy is already in place

  // What the shell tells its documents: the page token and the bridge's port.
  const shell = window.__taveroBridge || null;
  const handlers = window.webkit && window.webkit.messageHandlers;
  const channel = shell && handlers && handlers.tavero;
  const maxCallsPerMessage = 512;

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

  function refusal(command, status) {
    const error = new Error(command + ': the bridge answered ' + status);
    error.status = status;
    return error;
  }

  // Calls waiting for the end of the current task, to go to the shell together.
  let pending = [];

  function flush() {
    const batch = pending.splice(0, maxCallsPerMessage);
    if (pending.length) queueMicrotask(flush);
    const message = JSON.stringify({
      token: shell.token,
      calls: batch.map((call) => ({command: call.command, sync: call.sync, args: call.texts})),
    });
    channel.postMessage(message).then((text) => {
      const answers = JSON.parse(text);
      batch.forEach((call, i) => {
        const answer = answers[i] || {status: 500};
        if (answer.status !== 200) call.reject(refusal(call.command, answer.status));
        else call.resolve(call.sync ? (answer.result === undefined ? null : answer.result) : undefined);
      });
    }, (error) => {
      for (const call of batch) call.reject(new Error(call.command + ': ' + (error && error.message || error)));
    });
  }

  // Sends a command; resolves with the parsed answer of a sync call (null
  // for an empty answer), or undefined for a queued one. Rejects when the
  // shell refuses the call. On the message channel (`ordered`) the shell
  // carries out a page's sync calls in the order they were made; without it
  // each call is a request of its own, and requests may overtake each other.
  function send(command, args, options) {
    options = options || {};
    const texts = argumentTexts(args, options.keepCallbacks);
    const sync = !!options.sync;
    if (channel) {
      return new Promise((resolve, reject) => {
        if (pending.length === 0) queueMicrotask(flush);
        pending.push({command: command, sync: sync, texts: texts, resolve: resolve, reject: reject});
      });
    }
    const body = query(command, texts, sync);
    // Long arguments go in a form body: a request line has a size limit.
    const request = body.length > 4096
      ? fetch(bridgeURL(), {method: 'POST', body: body,
                            headers: {'Content-Type': 'application/x-www-form-urlencoded'}})
      : fetch(bridgeURL() + '?' + body);
    return request.then((response) => {
      if (!response.ok) throw refusal(command, response.status);
      return response.text();
    }).then((text) => (sync ? (text === '' ? null : JSON.parse(text)) : undefined));
  }

  // The same, blocking until the answer is there, for APIs that must answer
  // synchronously. Returns the parsed answer or throws. It holds the page
  // still while the shell works: prefer send().
  function sendSync(command, args) {
    const body = query(command, argumentTexts(args, false), true);
    const request = new XMLHttpRequest();
    // Long arguments go in a form body: a request line has a size limit.
    if (body.length > 4096) {
      request.open('POST', bridgeURL(), false);
      request.setRequestHeader('Content-Type', 'application/x-www-form-urlencoded');
      request.send(body);
    } else {
      request.open('GET', bridgeURL() + '?' + body, false);
      request.send();
    }
    if (request.status !== 200) throw refusal(command, request.status);
    return request.responseText === '' ? null : JSON.parse(request.responseText);
  }

  // Called by the shell with a callback id and a one-element array.
  function invoke(id, values) {
    const entry = callbacks.get(String(id));
    if (!entry) return;
    if (!entry.keep) callbacks.delete(String(id));
    entry.fn(values && values.length ? values[0] : undefined);
  }

  const communicator = Object.freeze({send: send, sendSync: sendSync, invoke: invoke, callback: callback, forget: forget,
                                      ordered: !!channel});
  Object.defineProperty(Kio.device, 'Communicator', {value: communicator, enumerable: true, writable: false,
                                                     configurable: !shell});
})();
