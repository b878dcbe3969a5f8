// The start page: what the device is, where it is (the position service),
// and the app's launches, kept in a SQL database across runs.
(function () {
  'use strict';

  /** @param {string} id @param {string} text @param {boolean} [failed] */
  function show(id, text, failed) {
    const element = document.getElementById(id);
    if (!element) return;
    element.textContent = text;
    element.classList.toggle('failed', Boolean(failed));
  }

  // window.device is there from the page's first script.
  show('device', 'Running on ' + device.platformName + ' (' + device.name + ')');

  // Every new position the device reports; `tavero device geo fix LAT LON`
  // moves it, and device.json says where it starts.
  Kio.geolocation.watchPosition(
    (position) => {
      const c = position.coords;
      show('position', c.latitude.toFixed(4) + ', ' + c.longitude.toFixed(4) + ' (within ' + c.accuracy + ' m)');
    },
    (error) => show('position', 'No position: ' + error.message, true),
    {frequency: 1000});

  // The launches table lives in Library/Application Support/sqlite_databases
  // in the app's home.
  const db = Kio.sql.openDatabase('launches', '', 'Launches', 1024 * 1024, null);

  function showLaunches() {
    db.readTransaction((tx) => {
      tx.executeSql('SELECT at FROM launches ORDER BY id DESC LIMIT 5', [], (_tx, result) => {
        const list = document.getElementById('launches');
        if (!list) return;
        list.replaceChildren();
        for (let i = 0; i < result.rows.length; ++i) {
          const item = document.createElement('li');
          item.textContent = String(result.rows.item(i).at);
          list.append(item);
        }
      });
    }, (error) => show('launches', 'Reading failed: ' + error.message, true));
  }

  db.transaction((tx) => {
    tx.executeSql('CREATE TABLE IF NOT EXISTS launches (id INTEGER PRIMARY KEY, at TEXT)');
    tx.executeSql("INSERT INTO launches (at) VALUES (datetime('now'))");
  }, (error) => show('launches', 'Saving failed: ' + error.message, true), showLaunches);
})();
