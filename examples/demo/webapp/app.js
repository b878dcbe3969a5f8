// The demo's one screen: a card per service, each showing what the service
// reports now. The shell puts the page client (Kio.*) and window.device into
// the page before this script runs.
(function () {
  'use strict';

  function show(id, text, className) {
    const element = document.getElementById(id);
    element.textContent = text;
    element.className = element.className.replace(/\b(failed|online|offline)\b/g, '').trim();
    if (className) element.classList.add(className);
  }

  function time() { return new Date().toTimeString().slice(0, 8); }

  // The machine first: device.platformName names it ("Linux laptop", or the
  // model a device profile gives).
  function showDevice() {
    const visits = Number(localStorage.getItem('visits') || 0) + 1;
    localStorage.setItem('visits', String(visits));
    document.getElementById('platform').textContent = 'Tavero on ' + device.platformName;
    const facts = [device.name, 'opened ' + visits + (visits === 1 ? ' time' : ' times')];
    if (device.scheme) facts.push('by ' + device.scheme.url);
    if (window.isQL !== true) facts.push('not in the shell');
    show('facts', facts.join(' · '));
  }

  function watchPosition() {
    Kio.geolocation.watchPosition((position) => {
      const c = position.coords;
      show('position', c.latitude.toFixed(4) + ', ' + c.longitude.toFixed(4));
      show('position-detail', 'within ' + c.accuracy + ' m' +
           (c.altitude === null ? '' : ', ' + c.altitude + ' m up') + ' · ' + time());
    }, (error) => show('position-detail', error.message + ' (code ' + error.code + ')', 'failed'), {frequency: 1000});
  }

  // A spirit level: the bubble rises to the high side as the device tilts.
  // Readings come 50 times a second; the card is redrawn 10 times.
  function watchMotion() {
    const bubble = document.getElementById('bubble');
    let latest = null;
    function draw() {
      const g = latest.accelerationIncludingGravity;
      latest = null;
      const reach = 40;  // pixels from the middle at a tilt of 1 g
      const dx = Math.max(-1, Math.min(1, -g.x)) * reach;
      const dy = Math.max(-1, Math.min(1, g.y)) * reach;
      bubble.style.transform = 'translate(' + dx.toFixed(1) + 'px, ' + dy.toFixed(1) + 'px)';
      show('motion', 'x ' + g.x.toFixed(2) + '   y ' + g.y.toFixed(2) + '   z ' + g.z.toFixed(2) + ' g');
    }
    Kio.motion.watch((reading) => {
      if (latest === null) setTimeout(draw, 100);
      latest = reading;
    });
  }

  function watchNetwork() {
    const names = {WIFI: 'Wi-Fi or wired', CELL_3G: 'mobile broadband', NONE: 'no network'};
    Kio.connection.watch((status) => {
      show('network', status.online ? 'Online' : 'Offline', status.online ? 'online' : 'offline');
      show('network-detail', (names[status.type] || status.type) + ' · ' + time());
    });
  }

  function showAlert() {
    show('alert', 'Waiting for a button…');
    Kio.notification.alert('Hello from Tavero', 'A native dialog. Which button?', ['Yes', 'No'])
      .then((button) => show('alert', 'You pressed "' + button + '" at ' + time()))
      .catch((error) => show('alert', error.message, 'failed'));
  }

  function takePhoto() {
    show('camera', 'The camera is open…');
    Kio.camera.getPicture((path) => {
      document.getElementById('photo').src = 'file://' + path;
      show('camera', path.split('/').pop());
    }, (message) => show('camera', message, 'failed'), {targetWidth: 192, targetHeight: 144});
  }

  let vibrations = 0;
  function vibrate() {
    Kio.notification.vibrate()
      .then(() => show('vibration', 'Vibrated ' + (++vibrations) + (vibrations === 1 ? ' time' : ' times') +
                                    ', last at ' + time()))
      .catch((error) => show('vibration', error.message, 'failed'));
  }

  // Notes live in a SQLCipher database, encrypted with the passphrase below.
  const db = Kio.sql.openDatabase('notes', '', 'Demo notes', 1024 * 1024, null, {passphrase: 'demo passphrase'});

  function showNotes() {
    db.readTransaction((tx) => {
      tx.executeSql('SELECT body, created FROM notes ORDER BY id DESC LIMIT 3', [], (tx, result) => {
        const list = document.getElementById('notes');
        list.replaceChildren();
        for (let i = 0; i < result.rows.length; ++i) {
          const item = document.createElement('li');
          item.textContent = result.rows.item(i).body + ' (' + result.rows.item(i).created.slice(11) + ')';
          list.append(item);
        }
      });
    }, (error) => show('notes', 'Reading the notes failed: ' + error.message, 'failed'));
  }

  function saveNote(text) {
    db.transaction((tx) => {
      tx.executeSql('CREATE TABLE IF NOT EXISTS notes (id INTEGER PRIMARY KEY, body TEXT, created TEXT)');
      tx.executeSql("INSERT INTO notes (body, created) VALUES (?, datetime('now'))", [text]);
    }, (error) => show('notes', 'Saving the note failed: ' + error.message, 'failed'), showNotes);
  }

  // The journal is a text file in the app's own file system, read at every
  // launch and written whole on save.
  const journal = Kio.files.requestFileSystem().then((fs) => fs.root.getFile('journal.txt', {create: true}));

  function showJournal() {
    journal.then((entry) => entry.createFileReader())
      .then((reader) => reader.readAsText().then((text) => {
        document.getElementById('journal').value = text;
        show('journal-status', text ? 'Read ' + reader.position + ' bytes from journal.txt' : 'journal.txt is empty');
      }))
      .catch((error) => show('journal-status', 'Reading journal.txt failed: ' + error.message, 'failed'));
  }

  function saveJournal(text) {
    journal.then((entry) => entry.createWriter())
      .then((writer) => writer.truncate(0).then(() => writer.write(text)))
      .then((position) => show('journal-status', 'Saved ' + position + ' bytes to journal.txt at ' + time()))
      .catch((error) => show('journal-status', 'Saving journal.txt failed: ' + error.message, 'failed'));
  }

  document.getElementById('alert-button').addEventListener('click', showAlert);
  document.getElementById('camera-button').addEventListener('click', takePhoto);
  document.getElementById('vibrate-button').addEventListener('click', vibrate);
  document.getElementById('note-form').addEventListener('submit', (event) => {
    event.preventDefault();
    const input = document.getElementById('note');
    if (input.value.trim()) saveNote(input.value.trim());
    input.value = '';
  });
  document.getElementById('journal-form').addEventListener('submit', (event) => {
    event.preventDefault();
    saveJournal(document.getElementById('journal').value);
  });

  showDevice();
  watchPosition();
  watchMotion();
  watchNetwork();
  saveNote('Opened the demo');
  showJournal();
})();
