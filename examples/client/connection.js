// Network status for pages, on the shell's TQConnection module. Load it
// after kio-communicator.js.
//
//   Kio.connection.watch((status) => banner(status.online ? status.type : 'offline'));
//   Kio.connection.type    // "WIFI", "CELL_3G" or "NONE" (null before the first report)
//   Kio.connection.online  // true or false (null before the first report)
//
// The first report comes at once, then one on every change. The shell
// serves every page with the callback id of the latest watch, so this
// script answers to one fixed id in every page of the app.
var Kio = window.Kio || {};

Kio.connection = (function () {
  'use strict';

  const Communicator = Kio.device.Communicator;
  // Far above the ids the communicator hands out (1, 2, 3...), and the same
  // in every page.
  const kReportId = '2147480001';
  const watchers = new Map();
  let nextId = 1;
  let watching = false;
  const connection = {type: null, online: null, watch: watch, unwatch: unwatch};

  Communicator.callback((report) => {
    if (!report) return;
    connection.type = report.type;
    connection.online = report.online === '1';
    for (const fn of Array.from(watchers.values())) Communicator.call(fn, {type: connection.type, online: connection.online});
  }, true, kReportId);

  // Calls `fn` with {type, online} now (once known) and on every change;
  // returns an id for unwatch.
  function watch(fn) {
    Communicator.expect(fn, 'function', 'the watcher', 'connection.watch', false);
    const id = nextId++;
    watchers.set(id, fn);
    if (!watching) {
      watching = true;
      Communicator.send('Connection#watch', {callback: kReportId});
    } else if (connection.type !== null) {
      setTimeout(() => {
        if (watchers.has(id)) Communicator.call(fn, {type: connection.type, online: connection.online});
      }, 0);
    }
    return id;
  }

  // The shell keeps reporting; this page's `fn` no longer hears it.
  function unwatch(id) { watchers.delete(id); }

  return connection;
})();
