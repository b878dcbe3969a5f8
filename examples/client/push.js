// Push notifications: register once, get the device token to give your
// server, and receive notifications while the app runs.
//
//   Kio.push.register({alert: true, badge: true, sound: true}, (payload) => showNews(payload))
//     .then((token) => sendTokenToServer(token))      // lower-case hex, e.g. "0abc12ef..."
//     .catch((error) => console.warn(error.message)); // registering failed
//
// The promise rejects with a Kio.TaveroError: REGISTRATION_FAILED with the
// shell's message, or a shell-level code.
// Notifications reach the app's start page. Needs kio-communicator.js.
var Kio = window.Kio || {};

Kio.push = (function () {
  'use strict';

  const PushError = {REGISTRATION_FAILED: 1};

  function typeBits(kinds) {
    kinds = kinds || {};
    return (kinds.alert ? 1 : 0) | (kinds.badge ? 2 : 0) | (kinds.sound ? 4 : 0);
  }

  return {
    PushError: PushError,
    // Wrong argument types throw at once, before anything is registered.
    register: (kinds, onNotification) => {
      const Communicator = Kio.device.Communicator;
      Communicator.expect(kinds, 'object', 'kinds', 'push.register', true);
      Communicator.expect(onNotification, 'function', 'onNotification', 'push.register', true);
      return new Promise((resolve, reject) => Communicator.send('PushNotification#Register', {
        type: typeBits(kinds),
        success: resolve,
        failure: (message) => {
          const code = Communicator.codeOf(message, () => PushError.REGISTRATION_FAILED);
          reject(new Kio.TaveroError(code, message, 'PushError'));
        },
        received: (payload) => { if (onNotification) Communicator.call(onNotification, payload); },
      }, {keepCallbacks: true}).catch(reject));
    },
  };
})();
