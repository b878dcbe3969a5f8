// The user's contacts. Load after kio-communicator.js.
//
//   Kio.contacts.all((people) => people.forEach((p) => console.log(p.id, p.first_name, p.phones)),
//                    (message) => console.log(message), {includeImages: true});
//   Kio.contacts.getThumbnail(person.id, (dataURL) => img.src = dataURL || 'placeholder.png');
//   Kio.contacts.getLocalizedLabel('phone:_$!<Mobile>!$_:1', (text) => label.textContent = text);  // "mobile 1"
//
// A person is {id, first_name, last_name, ..., kind (0 person, 1 organisation),
// birthday ("1980-04-12 12:00:00 +0000"), phones, emails, addresses, ...}.
// Multi-valued fields are objects keyed "phone:<label>:<n>" when their
// entries have labels, else arrays. failure gets "The user denied access to
// the Address Book".
var Kio = window.Kio || {};

Kio.contacts = (function () {
  'use strict';

  const Communicator = Kio.device.Communicator;

  function checkCallbacks(method, success, failure) {
    Communicator.expect(success, 'function', 'the success callback', method, true);
    Communicator.expect(failure, 'function', 'the error callback', method, true);
  }

  function all(success, failure, options) {
    checkCallbacks('contacts.all', success, failure);
    Communicator.expect(options, 'object', 'options', 'contacts.all', true);
    return Communicator.send('Contacts#all', {
      includeImages: options && options.includeImages ? 'true' : 'false',
      success: success || function () {},
      failure: failure || function () {},
    });
  }

  // success gets a "data:image/jpg;base64,..." text, or "" when the person
  // has no picture (or there is no such person).
  function getThumbnail(id, success, failure) {
    checkCallbacks('contacts.getThumbnail', success, failure);
    return Communicator.send('Contacts#getThumbnail', {
      id: id, success: success || function () {}, failure: failure || function () {},
    });
  }

  // The English name of a field ("first_name") or of an entry key's label.
  function getLocalizedLabel(label, callback) {
    Communicator.expect(label, 'string', 'label', 'contacts.getLocalizedLabel', false);
    Communicator.expect(callback, 'function', 'the callback', 'contacts.getLocalizedLabel', false);
    return Communicator.send('Contacts#getLocalizedLabel', {label: label, callback: callback});
  }

  return {all: all, getThumbnail: getThumbnail, getLocalizedLabel: getLocalizedLabel};
})();
