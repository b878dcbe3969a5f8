// Native alerts and vibration.
//
//   Kio.notification.alert('Delete the note?', 'This cannot be undone.', ['Delete', 'Cancel'])
//     .then((button) => { if (button === 'delete') removeNote(); });  // the title, in lower case
//   Kio.notification.choose('Keep it?', '', ['OK, fine', 'No'])
//     .then((pressed) => console.log(pressed.index, pressed.title));  // 0 "OK, fine"
//   Kio.notification.vibrate();
//
// alert resolves with the pressed button's title in lower case, as it
// always did; choose resolves with {index, title}: the button's position
// and its exact title. Button titles are used as given (spaces and commas
// kept). Without buttons the alert has one "OK" button. While two alerts
// are open, a press on either answers the later one. Both reject with a
// Kio.TaveroError: NOT_SHOWN when the shell has no window for alerts,
// or a shell-level code. Needs kio-communicator.js.
var Kio = window.Kio || {};

Kio.notification = (function () {
  'use strict';

  const NotificationError = {NOT_SHOWN: 1};
  // The most buttons an alert may have (the shell's limit too).
  const maxButtons = 16;

  function notificationError(message) {
    const code = Kio.device.Communicator.codeOf(message, () => NotificationError.NOT_SHOWN);
    return new Kio.TaveroError(code, message, 'NotificationError');
  }

  // The pressed button as the shell reports it: {index, title, button}.
  function show(method, title, message, buttons) {
    const Communicator = Kio.device.Communicator;
    Communicator.expect(buttons, 'array', 'buttons', method, true);
    Communicator.expectRange(buttons, (list) => list.length <= maxButtons, 'buttons', method,
                             'at most ' + maxButtons + ' titles');
    // The titles travel as a JSON array: a title may contain a comma.
    const args = {title: String(title || ''), message: String(message || '')};
    if (buttons && buttons.length) args.buttonTitles = buttons.map(String);
    return Communicator.request('Notification#show', args, notificationError, 'callback', 'failure');
  }

  // buttons: an array of titles, or left out; anything else throws a
  // TypeError at once.
  function alert(title, message, buttons) {
    return show('notification.alert', title, message, buttons).then((pressed) => pressed.button);
  }

  function choose(title, message, buttons) {
    return show('notification.choose', title, message, buttons)
      .then((pressed) => ({index: pressed.index, title: pressed.title}));
  }

  return {
    alert: alert,
    choose: choose,
    NotificationError: NotificationError,
    vibrate: () => Kio.device.Communicator.send('Notification#vibrate', {}),
  };
})();
