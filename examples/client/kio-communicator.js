// The page side of the Tavero bridge.
//
//   Kio.device.Communicator.send('Contact#find', {success: fn, failure: fn})
//   Kio.device.Communicator.send('SQLite#getVersion', {databaseId: '1'}, {sync: true}).then(version => ...)
//
// Every call is one GET to the shell's local bridge. Function arguments
// become callback ids: the shell answers them later by evaluating
// Kio.device.Communicator.invoke('<id>', [value]) in this page. Arrays and
// objects travel as JSON text, everything else as text.
var Kio = window.Kio || {};
Kio.device = Kio.device || {};

Kio.device.Communicator = (function () {
  'use strict';

  const bridge = 'http://localhost:3000/';
  let nextCallbackId = 1;
  const callbacks = new Map();  // id text -> {fn, keep}

  // A callback id for `fn`. With keep, it answers repeatedly (watches) until
  // forget(id); otherwise the first answer removes it.
  function callback(fn, keep) {
    const id = String(nextCallbackId++);
    callbacks.set(id, {fn: fn, keep: !!keep});
    return id;
  }

  function forget(id) { callbacks.delete(String(id)); }

  function encode(value) {
    if (value === null || value === undefined) return '';
    if (typeof value === 'object') return JSON.stringify(value);
    return String(value);
  }

  function url(command, args, sync, keepCallbacks) {
    const pieces = ['command=' + encodeURIComponent(command)];
    if (sync) pieces.push('sync=true');
    pieces.push('__source=' + encodeURIComponent(window.location.href));
    for (const key of Object.keys(args || {})) {
      let value = args[key];
      if (typeof value === 'function') value = callback(value, keepCallbacks);
      pieces.push(encodeURIComponent(key) + '=' + encodeURIComponent(encode(value)));
    }
    return bridge + '?' + pieces.join('&');
  }

  // Sends a command; resolves with the parsed answer of a sync call (null
  // for an empty answer), or undefined for a queued one. Rejects when the
  // shell refuses the request.
  function send(command, args, options) {
    options = options || {};
    return fetch(url(command, args, options.sync, options.keepCallbacks)).then((response) => {
      if (!response.ok) throw new Error(command + ': the bridge answered ' + response.status);
      return response.text();
    }).then((text) => (options.sync ? (text === '' ? null : JSON.parse(text)) : undefined));
  }

  // The same, blocking until the answer is there (for APIs that must answer
  // synchronously, like Web SQL's). Returns the parsed answer or throws.
  function sendSync(command, args) {
    const request = new XMLHttpRequest();
    request.open('GET', url(command, args, true, false), false);
    request.send();
    if (request.status !== 200) throw new Error(command + ': the bridge answered ' + request.status);
    return request.responseText === '' ? null : JSON.parse(request.responseText);
  }

  // Called by the shell with a callback id and a one-element array.
  function invoke(id, values) {
    const entry = callbacks.get(String(id));
    if (!entry) return;
    if (!entry.keep) callbacks.delete(String(id));
    entry.fn(values && values.length ? values[0] : undefined);
  }

  return {send: send, sendSync: sendSync, invoke: invoke, callback: callback, forget: forget};
})();
