// Pause and resume: the page hears when the app goes to the background
// (the bridge stops listening right after "pause") and when it comes back
// (the bridge listens again before "resume").
//
//   Kio.deviceEvents.onPause(() => saveDraft());
//   Kio.deviceEvents.onResume(() => refreshInbox());
//
// Needs kio-communicator.js. One page of the app hears these events: the
// last page that asked.
var Kio = window.Kio || {};

Kio.deviceEvents = (function () {
  'use strict';

  const listeners = {pause: [], resume: []};
  let watching = null;

  function dispatch(event) {
    for (const listener of (listeners[event] || []).slice()) Kio.device.Communicator.call(listener, event);
  }

  function watch() {
    if (!watching) {
      watching = Kio.device.Communicator.send('Device#watch', {callback: dispatch}, {keepCallbacks: true});
    }
    return watching;
  }

  function listen(event, listener) {
    Kio.device.Communicator.expect(listener, 'function', 'the listener',
                                   'deviceEvents.on' + event[0].toUpperCase() + event.slice(1), false);
    listeners[event].push(listener);
    return watch();
  }

  // Each returns a promise that settles once the shell has the watch.
  return {
    onPause: (listener) => listen('pause', listener),
    onResume: (listener) => listen('resume', listener),
  };
})();
