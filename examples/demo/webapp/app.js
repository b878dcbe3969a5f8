(function () {
  'use strict';
  const Communicator = Kio.device.Communicator;

  function showDevice() {
    const facts = {
      'Model': device.platformName,
      'Name': device.name,
      'Identifier': device.uuid,
      'OS': device.OS,
      'Running in Tavero': String(window.isQL === true),
      'Opened by URL': device.scheme ? device.scheme.url : 'no',
    };
    const list = document.getElementById('device');
    for (const [term, value] of Object.entries(facts)) {
      const dt = document.createElement('dt');
      dt.textContent = term;
      const dd = document.createElement('dd');
      dd.textContent = value;
      list.append(dt, dd);
    }
  }

  function note(text, failed) {
    const item = document.createElement('li');
    item.textContent = text;
    if (failed) item.className = 'failed';
    document.getElementById('calls').append(item);
    console.log(text);
  }

  function findContacts() {
    Communicator.send('Contact#find', {})
      .then(() => note('Contact#find: accepted by the shell'))
      .catch((error) => note(error.message, true));
  }

  function countVisits() {
    const visits = Number(localStorage.getItem('visits') || 0) + 1;
    localStorage.setItem('visits', String(visits));
    document.getElementById('visits').textContent = visits;
  }

  showDevice();
  countVisits();
  document.getElementById('find').addEventListener('click', findContacts);
  findContacts();
})();
