// Push notifications: register once, get the device token to give your
// server, and receive notifications while the app runs.
//
//   Kio.push.register({alert: true, badge: true, sound: true}, (payload) => showNews(payload))
//     .then((token) => sendTokenToServer(token))      // lower-case hex, e.g. "0abc12ef..."
//     .catch((error) => console.warn(error.message)); // registering failed
//
// Notifications reach the app's start page. Needs kio-communicator.js.
var Kio = window.Kio || {};

Kio.push = (function () {
  'use strict';

  function typeBits(kinds) {
    kinds = kinds || {};
    return (kinds.alert ? 1 : 0) | (kinds.badge ? 2 : 0) | (kinds.sound ? 4 : 0);
  }

  return {
    register: (kinds, onNotification) => new Promise((resolve, reject) => {
      Kio.device.Communicator.send('PushNotification#Register', {
        type: typeBits(kinds),
        success: resolve,
        failure: (message) => reject(new Error(message)),
        received: (payload) => { if (onNotification) onNotification(payload); },
      }, {keepCallbacks: true}).catch(reject);
    }),
  };
})();
