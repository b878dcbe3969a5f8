// Pause and resume: the page hears when the app goes to the background
// and when it comes back (the bridge listens again before "resume").
//
//   Kio.deviceEvents.onPause(() => saveDraft());   // may return a promise
//   Kio.deviceEvents.onResume(() => refreshInbox());
//
// The shell goes on serving the calls pause listeners make: once the
// listeners have run and the promises they returned have settled, this
// file tells the shell (Device#paused), which stops the bridge when those
// calls are answered; at most 5 seconds after "pause" either way.
//
// Needs kio-communicator.js. One page of the app hears these events: the
// last page that asked.
var Kio = window.Kio || {};

Kio.deviceEvents = (function () {
  'use strict';

  const listeners = {pause: [], resume: []};
  let watching = null;
  let pausesHeard = 0;  // since this document watched, as the shell counts them

  function dispatch(event) {
    const results = [];
    for (const listener of (listeners[event] || []).slice()) results.push(Kio.device.Communicator.call(listener, event));
    if (event !== 'pause') return;
    const pause = ++pausesHeard;
    // A rejected promise was the listener's to handle: it still ends the wait.
    Promise.allSettled(results).then(() => Kio.device.Communicator.send('Device#paused', {pause: pause}))
      .catch(() => {});  // the shell stopped already: nothing left to tell
  }

  function watch() {
    if (!watching) {
      watching = Kio.device.Communicator.send('Device#watch', {callback: dispatch, acknowledgesPause: true},
                                              {keepCallbacks: true});
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
