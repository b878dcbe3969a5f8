// Native alerts and vibration.
//
//   Kio.notification.alert('Delete the note?', 'This cannot be undone.', ['Delete', 'Cancel'])
//     .then((button) => { if (button === 'delete') removeNote(); });  // the title, in lower case
//   Kio.notification.vibrate();
//
// Button titles are used as given (spaces kept) and must not contain ",".
// Without buttons the alert has one "OK" button. While two alerts are open,
// a press on either answers the later one. Needs kio-communicator.js.
var Kio = window.Kio || {};

Kio.notification = (function () {
  'use strict';

  return {
    alert: (title, message, buttons) => new Promise((resolve, reject) => {
      const args = {title: String(title || ''), message: String(message || ''), callback: resolve};
      if (buttons && buttons.length) args.buttons = buttons.map(String).join(',');
      Kio.device.Communicator.send('Notification#show', args).catch(reject);
    }),
    vibrate: () => Kio.device.Communicator.send('Notification#vibrate', {}),
  };
})();
