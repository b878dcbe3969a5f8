// The user's contacts. Load after kio-communicator.js.
//
//   Kio.contacts.all((people) => people.forEach((p) => console.log(p.id, p.first_name, p.phones)),
//                    (message) => console.log(message), {includeImages: true});
//   Kio.contacts.getThumbnail(person.id, (dataURL) => img.src = dataURL || 'placeholder.png');
//   Kio.contacts.getLocalizedLabel('phone:_$!<Mobile>!$_:1', (text) => label.textContent = text);  // "mobile 1"
//   const people = await Kio.contacts.all({includeImages: false});
//
// A person is {id, first_name, last_name, ..., kind (0 person, 1 organisation),
// birthday ("1980-04-12 12:00:00 +0000"), phones, emails, addresses, ...}.
// Multi-valued fields are objects keyed "phone:<label>:<n>" when their
// entries have labels, else arrays. failure gets "The user denied access to
// the Address Book". Every call also returns a promise of the same value;
// it rejects with a Kio.TaveroError: PERMISSION_DENIED, FAILED or a
// shell-level code.
var Kio = window.Kio || {};

Kio.contacts = (function () {
  'use strict';

  const Communicator = Kio.device.Communicator;
  const ContactsError = {PERMISSION_DENIED: 1, FAILED: 2};

  function contactsError(message) {
    const code = Communicator.codeOf(message, (text) => (/denied access/.test(text) ? ContactsError.PERMISSION_DENIED
                                                                                   : ContactsError.FAILED));
    return new Kio.TaveroError(code, message, 'ContactsError');
  }

  function checkCallbacks(method, success, failure) {
    Communicator.expect(success, 'function', 'the success callback', method, true);
    Communicator.expect(failure, 'function', 'the error callback', method, true);
  }

  const asMessage = (error) => error.message;

  // all(options) is the promise form without callbacks.
  function all(success, failure, options) {
    if (arguments.length === 1 && success !== null && typeof success === 'object') {
      options = success;
      success = null;
    }
    checkCallbacks('contacts.all', success, failure);
    Communicator.expect(options, 'object', 'options', 'contacts.all', true);
    const includeImages = options && options.includeImages ? 'true' : 'false';
    const people = Communicator.request('Contacts#all', {includeImages: includeImages}, contactsError);
    return Communicator.settle(people, success, failure, asMessage);
  }

  // success gets a "data:image/jpg;base64,..." text, or "" when the person
  // has no picture (or there is no such person).
  function getThumbnail(id, success, failure) {
    checkCallbacks('contacts.getThumbnail', success, failure);
    return Communicator.settle(Communicator.request('Contacts#getThumbnail', {id: id}, contactsError),
                               success, failure, asMessage);
  }

  // The English name of a field ("first_name") or of an entry key's label.
  function getLocalizedLabel(label, callback) {
    Communicator.expect(label, 'string', 'label', 'contacts.getLocalizedLabel', false);
    Communicator.expect(callback, 'function', 'the callback', 'contacts.getLocalizedLabel', true);
    const text = new Promise((resolve, reject) => {
      Communicator.send('Contacts#getLocalizedLabel', {label: label, callback: resolve}).catch(reject);
    });
    return Communicator.settle(text, callback, null);
  }

  return {all: all, getThumbnail: getThumbnail, getLocalizedLabel: getLocalizedLabel, ContactsError: ContactsError};
})();
