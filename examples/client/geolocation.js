// Position for pages, in the manner of the W3C Geolocation API, on the
// shell's TQGeolocation module. Load it after kio-communicator.js.
//
//   Kio.geolocation.getCurrentPosition((position) => show(position.coords.latitude),
//                                      (error) => console.warn(error.code, error.message),
//                                      {enableHighAccuracy: true, timeout: 5000, maximumAge: 60000});
//   const id = Kio.geolocation.watchPosition(follow, fail, {frequency: 1000});
//   Kio.geolocation.clearWatch(id);
//   const position = await Kio.geolocation.getCurrentPosition({timeout: 5000});
//
// Positions: {coords: {latitude, longitude, altitude, accuracy,
// altitudeAccuracy, heading, speed}, timestamp}; values the device does not
// know are null. Error callbacks get {code, message} with the PositionError
// codes; the promise rejects with a Kio.TaveroError with the same code (or
// a shell-level one). Options out of range (a negative timeout, maximumAge
// or frequency, one that is not a number) throw a RangeError at once.
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

  // The promise's error: a Kio.TaveroError with the PositionError constants.
  function positionError(message, code) {
    if (code === undefined) {
      code = Communicator.codeOf(message, (text) => errorCodes[text] || PositionError.POSITION_UNAVAILABLE);
    }
    return Object.assign(new Kio.TaveroError(code, message, 'GeolocationPositionError'), PositionError);
  }

  function timeoutError() { return positionError('Timeout expired', PositionError.TIMEOUT); }

  // What error callbacks get, as they always did: a plain object.
  function callbackError(error) {
    const code = error && typeof error.code === 'number' ? error.code : PositionError.POSITION_UNAVAILABLE;
    return Object.assign({code: code, message: String(error && error.message)}, PositionError);
  }

  // `frequency` counts for watches only.
  function checkOptions(options, method, watching) {
    options = Communicator.expect(options, 'object', 'options', method, true) || {};
    const notNegative = Communicator.notNegative;
    Communicator.expectRange(options.timeout, notNegative, 'timeout', method, 'a number of milliseconds, 0 or more');
    Communicator.expectRange(options.maximumAge, notNegative, 'maximumAge', method,
                             'a number of milliseconds, 0 or more');
    if (watching) {
      Communicator.expectRange(options.frequency, (value) => typeof value === 'number' && value > 0 && value < Infinity,
                               'frequency', method, 'a number of milliseconds above 0');
    }
    return options;
  }

  // The page's position: from its latest one when that is at most
  // options.maximumAge old, else from the shell within options.timeout.
  function currentPosition(options) {
    return new Promise((resolve, reject) => {
      const maximumAge = Number(options.maximumAge) || 0;
      if (lastPosition && maximumAge > 0 && Date.now() - lastPosition.timestamp <= maximumAge) {
        resolve(lastPosition);
        return;
      }
      // A timeout of 0 with no acceptable saved position is a timeout,
      // always: asking the shell would race its answer against the 0 ms timer.
      const hasTimeout = options.timeout !== undefined && options.timeout !== null && options.timeout !== Infinity;
      if (hasTimeout && !(Number(options.timeout) > 0)) {
        setTimeout(() => reject(timeoutError()), 0);
        return;
      }
      let timer = null;
      const asked = Communicator.request('Geolocation#getCurrentPosition', {}, positionError);
      if (hasTimeout) timer = setTimeout(() => reject(timeoutError()), Number(options.timeout));
      // A late answer after the timeout changes nothing: a promise settles once.
      asked.then((raw) => {
        lastPosition = position(raw);
        resolve(lastPosition);
      }, (error) => {
        reject(error.name === 'GeolocationPositionError' ? error : positionError(error.message, error.code));
      }).then(() => { if (timer !== null) clearTimeout(timer); });
    });
  }

  // getCurrentPosition(options) is the promise form without callbacks.
  function getCurrentPosition(success, error, options) {
    const method = 'geolocation.getCurrentPosition';
    if (arguments.length === 1 && success !== null && typeof success === 'object') {
      options = success;
      success = null;
    }
    Communicator.expect(success, 'function', 'the success callback', method, true);
    Communicator.expect(error, 'function', 'the error callback', method, true);
    options = checkOptions(options, method);
    return Communicator.settle(currentPosition(options), success, error, callbackError);
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
    for (const watcher of failed) {
      if (watcher.error) Communicator.call(watcher.error, callbackError(positionError(message)));
    }
  }

  function watchPosition(success, error, options) {
    Communicator.expect(success, 'function', 'the success callback', 'geolocation.watchPosition', false);
    Communicator.expect(error, 'function', 'the error callback', 'geolocation.watchPosition', true);
    options = checkOptions(options, 'geolocation.watchPosition', true);
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

  return Object.assign({PositionError: PositionError, getCurrentPosition: getCurrentPosition,
                        watchPosition: watchPosition,
                        clearWatch: clearWatch}, PositionError);
})();
