// Motion and orientation for pages, on the shell's TQMotion and
// TQOrientation modules. Load it after kio-communicator.js.
//
//   const id = Kio.motion.watch((reading) => tilt(reading.accelerationIncludingGravity.x));
//   Kio.motion.clearWatch(id);
//   const o = Kio.orientation.watch((angles) => rotate(angles.alpha, angles.beta, angles.gamma));
//   Kio.orientation.clearWatch(o);
//
// Motion readings come every 0.02 s: {acceleration: {x, y, z} (units of
// gravity), accelerationIncludingGravity: {x, y, z} (low-pass filtered),
// rotationRate: {alpha, beta, gamma} (radians per second)}. Orientation
// readings: {alpha, beta, gamma} = roll, pitch, yaw in degrees; none arrive
// on a device without a gyroscope. The shell sends numbers as texts; they
// arrive here as numbers.
var Kio = window.Kio || {};

(function () {
  'use strict';

  const Communicator = Kio.device.Communicator;

  function numbers(texts) {
    const out = {};
    for (const key of Object.keys(texts || {})) out[key] = parseFloat(texts[key]);
    return out;
  }

  // One shell watch per module serves every watcher of this page.
  function sensor(module, convert) {
    const watchers = new Map();
    let nextId = 1;
    let callbackId = null;

    function deliver(raw) {
      const reading = convert(raw);
      for (const fn of Array.from(watchers.values())) Communicator.call(fn, reading);
    }

    function watch(fn) {
      Communicator.expect(fn, 'function', 'the watcher', module.toLowerCase() + '.watch', false);
      const id = nextId++;
      watchers.set(id, fn);
      if (callbackId === null) {
        callbackId = Communicator.callback(deliver, true);
        Communicator.send(module + '#watch', {callback: callbackId});
      }
      return id;
    }

    function clearWatch(id) {
      if (!watchers.delete(id) || watchers.size > 0) return;
      // The shell may go on sending acceleration readings after its
      // clearWatch; with the callback forgotten this page no longer hears them.
      Communicator.forget(callbackId);
      callbackId = null;
      Communicator.send(module + '#clearWatch', {});
    }

    return {watch: watch, clearWatch: clearWatch};
  }

  Kio.motion = sensor('Motion', (raw) => ({
    acceleration: numbers(raw.acceleration),
    accelerationIncludingGravity: numbers(raw.accelerationIncludingGravity),
    rotationRate: numbers(raw.rotationRate),
  }));
  Kio.orientation = sensor('Orientation', numbers);
})();
