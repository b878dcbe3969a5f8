// URLs: open one in the application that handles it, and learn which URL
// opened this app (its URL schemes are the bundle's CFBundleURLSchemes).
//
//   Kio.url.open('https://example.org/help');   // the desktop's browser
//   Kio.url.open('otherapp://compose?to=kim');  // another app
//   Kio.url.onOpen((opened) => route(opened.url, opened.sourceApplication));
//   const first = Kio.url.launchURL();          // {url, sourceApplication} or null
//
// Pages may not open file:, data:, javascript: or file-system URLs (smb:,
// sftp:...); those are refused and logged by the shell. Needs
// kio-communicator.js.
var Kio = window.Kio || {};

Kio.url = (function () {
  'use strict';

  const listeners = [];
  let watching = null;

  function dispatch(record) {
    for (const listener of listeners.slice()) Kio.device.Communicator.call(listener, record);
  }

  return {
    // Resolves once the shell has the request; the outcome is not reported.
    open: (url) => Kio.device.Communicator.send('OpenURL#open', {url: String(url)}),
    onOpen: (listener) => {
      Kio.device.Communicator.expect(listener, 'function', 'the listener', 'url.onOpen', false);
      listeners.push(listener);
      if (!watching) {
        watching = Kio.device.Communicator.send('OpenURL#watch', {callback: dispatch}, {keepCallbacks: true});
      }
      return watching;
    },
    // The URL that last opened the app, as the page's globals show it.
    launchURL: () => (window.device && window.device.scheme) || null,
  };
})();
