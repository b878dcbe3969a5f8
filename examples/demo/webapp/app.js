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

  // Notes live in a SQLCipher database, encrypted with the passphrase below.
  const db = Kio.sql.openDatabase('notes', '', 'Demo notes', 1024 * 1024, null, {passphrase: 'demo passphrase'});

  function showNotes() {
    db.readTransaction((tx) => {
      tx.executeSql('SELECT body, created FROM notes ORDER BY id DESC LIMIT 5', [], (tx, result) => {
        const list = document.getElementById('notes');
        list.replaceChildren();
        for (let i = 0; i < result.rows.length; ++i) {
          const item = document.createElement('li');
          item.textContent = result.rows.item(i).body + ' (' + result.rows.item(i).created + ')';
          list.append(item);
        }
      });
    }, (error) => note('reading notes failed: ' + error.message, true));
  }

  function saveNote(text) {
    db.transaction((tx) => {
      tx.executeSql('CREATE TABLE IF NOT EXISTS notes (id INTEGER PRIMARY KEY, body TEXT, created TEXT)');
      tx.executeSql("INSERT INTO notes (body, created) VALUES (?, datetime('now'))", [text]);
    }, (error) => note('saving the note failed: ' + error.message, true), showNotes);
  }

  // The journal is a text file in the app's own file system, read at every
  // launch and written whole on save.
  const journal = Kio.files.requestFileSystem().then((fs) => fs.root.getFile('journal.txt', {create: true}));

  function journalStatus(text, failed) {
    const status = document.getElementById('journal-status');
    status.textContent = text;
    status.className = failed ? 'failed' : '';
  }

  function showJournal() {
    journal.then((entry) => entry.createFileReader())
      .then((reader) => reader.readAsText().then((text) => {
        document.getElementById('journal').value = text;
        journalStatus(text ? 'Read ' + reader.position + ' bytes from journal.txt.' : 'journal.txt is empty.');
      }))
      .catch((error) => journalStatus('Reading journal.txt failed: ' + error.message, true));
  }

  function saveJournal(text) {
    journal.then((entry) => entry.createWriter())
      .then((writer) => writer.truncate(0).then(() => writer.write(text)))
      .then((position) => journalStatus('Saved ' + position + ' bytes to journal.txt.'))
      .catch((error) => journalStatus('Saving journal.txt failed: ' + error.message, true));
  }

  document.getElementById('journal-form').addEventListener('submit', (event) => {
    event.preventDefault();
    saveJournal(document.getElementById('journal').value);
  });

  document.getElementById('note-form').addEventListener('submit', (event) => {
    event.preventDefault();
    const input = document.getElementById('note');
    if (input.value.trim()) saveNote(input.value.trim());
    input.value = '';
  });

  showDevice();
  countVisits();
  showJournal();
  saveNote('Opened the demo');
  document.getElementById('find').addEventListener('click', findContacts);
  findContacts();
})();
