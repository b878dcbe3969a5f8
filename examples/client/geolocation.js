// Position for pages, in the manner of the W3C Geolocation API, on the
// shell's TQGeolocation module. Load it after kio-communicator.js.
//
//   Kio.geolocation.getCurrentPosition((position) => show(position.coords.latitude),
//                                      (error) => console.warn(error.code, error.message),
//                                      {enableHighAccuracy: true, timeout: 5000, maximumAge: 60000});
//   const id = Kio.geolocation.watchPosition(follow, fail, {frequency: 1000});
//   Kio.geolocation.clearWatch(id);
//
// Positions: {coords: {latitude, longitude, altitude, accuracy,
// altitudeAccuracy, heading, speed}, timestamp}; values the device does not
// know are null. Errors: {code, message} with the PositionError codes.
var Kio = window.Kio || {};

Kio.geolocation = (function () {
  'use strict';

  const Communicator = Kio.device.Communicator;
  const PositionError = {PERMISSION_DENIED: 1, POSITION_UNAVAILABLE: 2, TIMEOUT: 3};
  // The shell's two failure messages.
  const errorCodes = {
    'Failed to start location services': PositionError.POSITION_UNAVAILABLE,
    'Failed to retrieve current location': PositionError.TIMEOUT,
  };

  let lastPosition = null;  // the latest position this page received
  const watchers = new Map();  // watch id -> {success, error, frequency, last}
  let nextWatchId = 1;
  let shellWatch = null;  // {success, failure, frequency}: the callback ids of the shell's one watch

  function known(value) { return typeof value === 'number' && value >= 0 ? value : null; }

  // The shell sends negative numbers for what the device does not know.
  function position(raw) {
    const c = raw.coords;
    const altitudeKnown = known(c.altitudeAccuracy) !== null;
    return {
      coords: {
        latitude: c.latitude,
        longitude: c.longitude,
        altitude: altitudeKnown ? c.altitude : null,
        accuracy: c.accuracy,
        altitudeAccuracy: known(c.altitudeAccuracy),
        heading: known(c.heading),
        speed: known(c.speed),
      },
      timestamp: raw.timestamp,
    };
  }

  function positionError(message) {
    const error = {code: errorCodes[message] || PositionError.POSITION_UNAVAILABLE, message: String(message)};
    return Object.assign(error, PositionError);
  }

  function timeoutError() {
    return Object.assign({code: PositionError.TIMEOUT, message: 'Timeout expired'}, PositionError);
  }

  function getCurrentPosition(success, error, options) {
    Communicator.expect(success, 'function', 'the success callback', 'geolocation.getCurrentPosition', false);
    Communicator.expect(error, 'function', 'the error callback', 'geolocation.getCurrentPosition', true);
    options = Communicator.expect(options, 'object', 'options', 'geolocation.getCurrentPosition', true) || {};
    const maximumAge = Number(options.maximumAge) || 0;
    if (lastPosition && maximumAge > 0 && Date.now() - lastPosition.timestamp <= maximumAge) {
      setTimeout(() => Communicator.call(success, lastPosition), 0);
      return;
    }
    // A timeout of 0 (or less) with no acceptable saved position is a
    // timeout, always: asking the shell would race its answer against the
    // 0 ms timer.
    const hasTimeout = options.timeout !== undefined && options.timeout !== Infinity;
    if (hasTimeout && !(Number(options.timeout) > 0)) {
      setTimeout(() => { if (error) Communicator.call(error, timeoutError()); }, 0);
      return;
    }
    let settled = false;
    let timer = null;
    function settle(fn, value) {
      if (settled) return;
      settled = true;
      if (timer !== null) clearTimeout(timer);
      Communicator.forget(successId);
      Communicator.forget(failureId);
      if (fn) Communicator.call(fn, value);
    }
    const successId = Communicator.callback((raw) => {
      lastPosition = position(raw);
      settle(success, lastPosition);
    });
    const failureId = Communicator.callback((message) => settle(error, positionError(message)));
    if (hasTimeout) timer = setTimeout(() => settle(error, timeoutError()), Number(options.timeout));
    Communicator.send('Geolocation#getCurrentPosition', {success: successId, failure: failureId})
      .catch((reason) => settle(error, positionError(String(reason))));
  }

  // The shell keeps one watch per app: it runs at the shortest period any
  // watcher of this page asked for, and each watcher hears new positions only.
  function updateShellWatch() {
    if (watchers.size === 0) {
      if (shellWatch) {
        Communicator.forget(shellWatch.success);
        Communicator.forget(shellWatch.failure);
        shellWatch = null;
        Communicator.send('Geolocation#clearWatch', {});
      }
      return;
    }
    let frequency = Infinity;
    let highAccuracy = false;
    for (const watcher of watchers.values()) {
      frequency = Math.min(frequency, watcher.frequency);
      highAccuracy = highAccuracy || watcher.highAccuracy;
    }
    if (shellWatch && shellWatch.frequency === frequency) return;
    if (shellWatch) {
      Communicator.forget(shellWatch.success);
      Communicator.forget(shellWatch.failure);
    }
    shellWatch = {
      frequency: frequency,
      success: Communicator.callback(deliverToWatchers, true),
      failure: Communicator.callback(failWatchers, true),
    };
    Communicator.send('Geolocation#watchPosition', {
      success: shellWatch.success, failure: shellWatch.failure, frequency: frequency,
      allowHighAccuracy: highAccuracy, maximumAge: 0,
    });
  }

  function samePosition(a, b) {
    return a && b && a.timestamp === b.timestamp && a.coords.latitude === b.coords.latitude &&
      a.coords.longitude === b.coords.longitude;
  }

  function deliverToWatchers(raw) {
    lastPosition = position(raw);
    for (const watcher of Array.from(watchers.values())) {
      if (samePosition(watcher.last, lastPosition)) continue;
      watcher.last = lastPosition;
      Communicator.call(watcher.success, lastPosition);
    }
  }

  function failWatchers(message) {
    const failed = Array.from(watchers.values());
    watchers.clear();
    shellWatch = null;
    for (const watcher of failed) if (watcher.error) Communicator.call(watcher.error, positionError(message));
  }

  function watchPosition(success, error, options) {
    Communicator.expect(success, 'function', 'the success callback', 'geolocation.watchPosition', false);
    Communicator.expect(error, 'function', 'the error callback', 'geolocation.watchPosition', true);
    options = Communicator.expect(options, 'object', 'options', 'geolocation.watchPosition', true) || {};
    const id = nextWatchId++;
    const frequency = Math.max(10, Math.floor(Number(options.frequency) || 1000));
    watchers.set(id, {success: success, error: error, frequency: frequency,
                      highAccuracy: !!options.enableHighAccuracy, last: null});
    updateShellWatch();
    return id;
  }

  function clearWatch(id) {
    if (!watchers.delete(id)) return;
    updateShellWatch();
  }

  return Object.assign({getCurrentPosition: getCurrentPosition, watchPosition: watchPosition,
                        clearWatch: clearWatch}, PositionError);
})();
