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

  // buttons: an array of titles, or left out; anything else throws a
  // TypeError at once.
  function alert(title, message, buttons) {
    Kio.device.Communicator.expect(buttons, 'array', 'buttons', 'notification.alert', true);
    return new Promise((resolve, reject) => {
      const args = {title: String(title || ''), message: String(message || ''), callback: resolve};
      if (buttons && buttons.length) args.buttons = buttons.map(String).join(',');
      Kio.device.Communicator.send('Notification#show', args).catch(reject);
    });
  }

  return {
    alert: alert,
    vibrate: () => Kio.device.Communicator.send('Notification#vibrate', {}),
  };
})();
