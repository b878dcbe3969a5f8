// Web SQL style databases for Tavero pages, on top of the shell's SQLite
// module. Load it after kio-communicator.js:
//
//   const db = openDatabase('notes', '1.0', 'Notes', 1024 * 1024);
//   db.transaction((tx) => {
//     tx.executeSql('CREATE TABLE IF NOT EXISTS note (id INTEGER PRIMARY KEY, text TEXT)');
//     tx.executeSql('INSERT INTO note (text) VALUES (?)', ['hello']);
//     tx.executeSql('SELECT * FROM note', [], (tx, result) => {
//       for (let i = 0; i < result.rows.length; i++) console.log(result.rows.item(i).text);
//     });
//   }, (error) => console.log('failed', error.code, error.message));
//
// Kio.sql.openDatabase is always defined; window.openDatabase (and
// window.SQLError) only where the web view has none of its own.
//
// Transactions run asynchronously: the statements a transaction's callbacks
// queue go to the shell together, in one call that also opens the
// transaction (and commits it when no callback of the page can add more),
// the page's statement callbacks see their results in order, and the
// transactions of one database run one after another. Only openDatabase and
// db.version wait for the shell.
(function (global) {
  'use strict';

  const Kio = global.Kio = global.Kio || {};

  // Codes of the errors handed to error callbacks.
  const codes = {
    UNKNOWN_ERR: 0,
    DATABASE_ERR: 1,
    VERSION_ERR: 2,
    TOO_LARGE_ERR: 3,
    QUOTA_ERR: 4,
    SYNTAX_ERR: 5,
    CONSTRAINT_ERR: 6,
    TIMEOUT_ERR: 7,
  };

  // Codes of the exceptions openDatabase, executeSql and insertId throw (as DOMException's).
  const UNKNOWN_EXCEPTION = 0;
  const INVALID_STATE_EXCEPTION = 11;
  const INVALID_ACCESS_EXCEPTION = 15;
  // openDatabase's code when the passphrase does not open the database.
  const SECURITY_EXCEPTION = 18;

  // An Error, so that promises reject with one; `code` and `message` are
  // own enumerable properties, as on the plain objects Web SQL handed out.
  class SQLError extends Error {
    constructor(code, message) {
      super(String(message));
      Object.defineProperty(this, 'name', {value: 'SQLError', writable: true, configurable: true});
      delete this.message;  // made again after `code`: JSON text keeps the order it always had
      this.code = code;
      Object.defineProperty(this, 'message', {value: message, enumerable: true, writable: true, configurable: true});
    }
    toString() { return 'SQLError ' + this.code + ': ' + this.message; }
  }
  for (const name of Object.keys(codes)) {
    SQLError[name] = codes[name];
    SQLError.prototype[name] = codes[name];
  }

  // The error code a message of the shell stands for.
  function codeOf(message) {
    const text = String(message).toLowerCase();
    if (text.indexOf('constraint') >= 0) return codes.CONSTRAINT_ERR;
    if (text.indexOf('syntax error') >= 0) return codes.SYNTAX_ERR;
    if (text.indexOf('version mismatch') >= 0) return codes.VERSION_ERR;
    return codes.DATABASE_ERR;
  }

  function errorFrom(message) { return new SQLError(codeOf(message), String(message)); }

  // The transaction's error when a statement callback threw, or an error
  // callback did not let the transaction go on (the text and code pages
  // know from WebKit's Web SQL).
  function callbackFailure() {
    return new SQLError(codes.UNKNOWN_ERR,
                        'the statement callback raised an exception or statement error callback did not return false');
  }

  // The error of a statement answer {error, code}: the shell's code when it
  // gave one.
  function statementError(answer) {
    const message = String(answer.error);
    return new SQLError(typeof answer.code === 'number' ? answer.code : codeOf(message), message);
  }

  function exception(code, name, message) {
    if (typeof global.DOMException === 'function') {
      const error = new global.DOMException(message, name);
      if (error.code === code) return error;
    }
    const error = new Error(message);
    error.code = code;
    error.name = name;
    return error;
  }

  function communicator() {
    const device = Kio.device;
    if (!device || !device.Communicator) {
      throw exception(UNKNOWN_EXCEPTION, 'UnknownError', 'Kio.sql needs kio-communicator.js loaded first');
    }
    return device.Communicator;
  }

  // One synchronous call to the SQL module: its parsed answer (null when it
  // answered nothing). Throws when the bridge refuses the request. Only for
  // what must answer at once (openDatabase, version).
  function ask(operation, args) {
    return communicator().sendSync('SQLite#' + operation, args);
  }

  // The same, for calls whose failure only needs noting: the answer, or
  // null when the call could not be made.
  function askQuietly(operation, args) {
    try { return ask(operation, args); } catch (e) { return null; }
  }

  // Sends a call to the SQL module without waiting: a promise of its parsed
  // answer (null when it answered nothing); rejects when the bridge refuses
  // the request.
  function post(operation, args) {
    return communicator().send('SQLite#' + operation, args, {sync: true});
  }

  // Shows an exception thrown by a page callback without letting it break
  // the caller, as every wrapper of the page client does (the way browsers
  // report errors in event handlers).
  function report(error) { communicator().report(error); }

  // A callback given as a function or as an object with handleEvent; null
  // for anything else.
  function callable(callback) {
    if (typeof callback === 'function') return callback;
    if (callback && typeof callback.handleEvent === 'function') return callback.handleEvent.bind(callback);
    return null;
  }

  // The TypeError WebKit throws for a call with fewer arguments than it needs.
  function notEnoughArguments() { return new TypeError('Not enough arguments'); }

  // Argument `position` of `method`, a callback. An optional one may be left
  // out (null or undefined gives null); anything else that cannot be called
  // throws at once, with WebKit's text, instead of being ignored.
  function callbackArgument(value, position, name, method, optional) {
    if (optional && (value === undefined || value === null)) return null;
    const fn = callable(value);
    if (!fn) throw new TypeError('Argument ' + position + " ('" + name + "') to " + method + ' must be a function');
    return fn;
  }
  function optionalCallback(value, position, name, method) {
    return callbackArgument(value, position, name, method, true);
  }

  // Calls a page callback whose failure changes nothing (transaction
  // success or error callbacks, the creation callback).
  function notify(callback, value) {
    if (callback) communicator().call(callback, value);
  }

  // One statement argument as JSON text, bound the way Web SQL binds it:
  // numbers as numbers (infinities as 1e999, which the shell reads back as
  // infinity; NaN as NULL), null and undefined as NULL, anything else as
  // its string form (true is the text "true").
  function argumentText(value) {
    if (value === undefined || value === null) return 'null';
    if (typeof value === 'number') {
      if (value === Infinity) return '1e999';
      if (value === -Infinity) return '-1e999';
      return value === value ? JSON.stringify(value) : 'null';
    }
    return JSON.stringify(String(value));
  }

  // Whether JSON.stringify writes every value of `args` as argumentText
  // would: texts, finite numbers, null and undefined.
  function plainValues(args) {
    for (let i = 0; i < args.length; i++) {
      const value = args[i];
      const type = typeof value;
      if (type === 'string' || value === null || value === undefined) continue;
      if (type === 'number' && isFinite(value)) continue;
      return false;
    }
    return true;
  }

  // The statement's arguments as the JSON array text the shell binds.
  function argumentsText(args) {
    if (args === undefined || args === null) return '[]';
    if (typeof args !== 'object' || typeof args.length !== 'number') {
      throw new TypeError('executeSql: the arguments must be an array');
    }
    // The usual arguments in one native call rather than one per value.
    if (Array.isArray(args) && plainValues(args)) return JSON.stringify(args);
    return '[' + Array.from(args, argumentText).join(',') + ']';
  }

  // Rows as the shell answers them: one array of values per column; item(i)
  // makes a fresh object keyed by column name each time, so a page that
  // changes one changes nothing else. Every column is an own property of
  // the row, in column order; of columns with the same name the last one
  // counts.
  class SQLResultSetRowList {
    constructor(names, columns) {
      Object.defineProperty(this, '_names', {value: names});
      Object.defineProperty(this, '_columns', {value: columns});
      Object.defineProperty(this, '_length', {value: columns.length && Array.isArray(columns[0]) ? columns[0].length : 0});
      // A column named "__proto__" would set the row's prototype when
      // assigned: such rows define their properties instead (slower).
      Object.defineProperty(this, '_plainNames', {value: names.indexOf('__proto__') < 0});
    }
    get length() { return this._length; }
    item(index) {
      const i = Number(index);
      if (!(i >= 0 && i < this._length && Math.floor(i) === i)) return null;
      const names = this._names;
      const columns = this._columns;
      const plain = this._plainNames;
      const row = {};
      for (let column = 0; column < names.length; column++) {
        const values = columns[column];
        const value = Array.isArray(values) ? values[i] : undefined;
        if (plain) {
          row[names[column]] = value;
        } else {
          Object.defineProperty(row, String(names[column]), {value: value, writable: true, enumerable: true,
                                                              configurable: true});
        }
      }
      return row;
    }
  }

  // The result of a statement. Its fields are read-only; insertId throws
  // when the statement inserted no row.
  class SQLResultSet {
    constructor(answer) {
      const names = Array.isArray(answer.names) ? answer.names : [];
      const columns = Array.isArray(answer.columns) ? answer.columns : [];
      Object.defineProperty(this, '_answer', {value: {
        inserted: typeof answer.insertId === 'number',
        insertId: answer.insertId,
        rowsAffected: typeof answer.rowsAffected === 'number' ? answer.rowsAffected : 0,
        rows: new SQLResultSetRowList(names, columns),
      }});
    }
    get insertId() {
      if (!this._answer.inserted) {
        throw exception(INVALID_ACCESS_EXCEPTION, 'InvalidAccessError', 'insertId: the statement inserted no row');
      }
      return this._answer.insertId;
    }
    get rowsAffected() { return this._answer.rowsAffected; }
    get rows() { return this._answer.rows; }
  }

  const transactionRuns = new WeakMap();  // SQLTransaction -> its TransactionRun
  const trailingBlanks = /\s+$/;

  // A statement as the JSON text of its SQL. The shell refuses anything
  // after a final semicolon, even blanks: they go. Pages run the same
  // statement many times in a row, so the last one's text is kept.
  const lastSql = {statement: null, text: ''};
  function sqlText(sqlStatement) {
    if (typeof sqlStatement === 'string' && sqlStatement === lastSql.statement) return lastSql.text;
    const text = JSON.stringify(String(sqlStatement).replace(trailingBlanks, ''));
    if (typeof sqlStatement === 'string') {
      lastSql.statement = sqlStatement;
      lastSql.text = text;
    }
    return text;
  }

  // The most statements one batch call carries (the shell takes as many),
  // and about the most text: more go in several calls.
  const maxBatchStatements = 5000;
  const maxBatchText = 8 * 1024 * 1024;

  // What the page's callbacks receive to queue statements with.
  class SQLTransaction {
    // As in WebKit, the arguments are checked before the transaction's
    // state: a statement that is not a string runs as its string form
    // (undefined is the SQL text "undefined"), callbacks that cannot be
    // called throw.
    executeSql(sqlStatement, args, successCallback, errorCallback) {
      if (arguments.length === 0) throw notEnoughArguments();
      // Read in the order WebKit reads them: statement, arguments, callbacks.
      const sql = sqlText(sqlStatement);
      const values = argumentsText(args);
      const success = optionalCallback(successCallback, 3, 'callback', 'SQLTransaction.executeSql');
      const error = optionalCallback(errorCallback, 4, 'errorCallback', 'SQLTransaction.executeSql');
      const statement = {
        // Its entry of a batch (see TransactionRun.send), made now: the page
        // may change the array of arguments once the call returned. Without
        // callbacks only a failure matters, and the shell answers nothing else.
        entry: '[' + sql + ',' + values + (success || error ? ']' : ',true]'),
        success: success,
        error: error,
      };
      const run = transactionRuns.get(this);
      if (!run || !run.open) {
        throw exception(INVALID_STATE_EXCEPTION, 'InvalidStateError',
                        'executeSql: the transaction is not active');
      }
      run.add(statement);
    }
  }

  // One transaction from begin to commit or rollback.
  //
  // The transaction callback runs first, in a task of its own; the
  // statements it queues then go to the shell in one call (executeBatch)
  // that also opens and begins the transaction, and commits it when none
  // of them has a callback (no page code can queue more). Each statement's
  // callback runs with its own result, in order; the statements those
  // callbacks queue go in the next call, after the ones queued before. The
  // shell runs a batch's statements one after another whatever their
  // outcome: a statement that fails the transaction may have later ones
  // behind it, already run, and the rollback that follows undoes them too
  // (their callbacks are never called). A version change opens the
  // transaction and checks the version before its callback runs.
  class TransactionRun {
    constructor(database, request) {
      this.database = database;
      this.id = null;  // the shell's id once the transaction is open
      this.request = request;
      this.unsent = [];  // statements queued and not sent yet, oldest first
      this.open = false;  // true while a page callback may queue statements
      this.versionSet = false;  // true once a version change asked for the new version
      this.transaction = new SQLTransaction();
      // Without the message channel calls can overtake each other: then
      // each one waits for the answer to the one before.
      this.ordered = communicator().ordered === true;
      this.last = Promise.resolve();
      transactionRuns.set(this.transaction, this);
    }

    // Sends a call of this transaction in its turn; a promise of
    // {answer} or {refused: error}, never rejected.
    call(operation, args) {
      const sending = () => post(operation, args).then((answer) => ({answer: answer}),
                                                        (error) => ({refused: error}));
      const answer = this.ordered ? sending() : this.last.then(sending);
      this.last = answer;
      return answer;
    }

    // Queues a statement the page gave executeSql.
    add(statement) { this.unsent.push(statement); }

    // Calls a page callback that may queue statements; its return value,
    // or {thrown} when it threw.
    callPage(fn, ...values) {
      this.open = true;
      try {
        return {value: fn(...values)};
      } catch (e) {
        report(e);
        return {thrown: e};
      } finally {
        this.open = false;
      }
    }

    async fail(error) {
      if (this.id !== null) await this.call('rollbackTransaction', {transactionId: this.id});
      if (this.versionSet) await this.restoreVersion();
      this.request.failed(error);
    }

    // The first statements of the unsent ones that one call carries.
    takeBatch() {
      let count = 0;
      let size = 0;
      while (count < this.unsent.length && count < maxBatchStatements) {
        size += this.unsent[count].entry.length;
        if (count > 0 && size > maxBatchText) break;
        count++;
      }
      return this.unsent.splice(0, count);
    }

    // Sends `statements` in one call, opening the transaction first when it
    // is not open yet; with `commit`, the shell commits once they all ran
    // without error. {opened: SQLError} when the transaction could not be
    // opened, else {results: [{result} or {error}, one per statement run],
    // committed, commitError}.
    async send(statements, commit) {
      const opening = this.id === null;
      const args = {
        databaseId: this.database._id,
        // A version change is checked once at its start, not per statement.
        version: this.request.change ? '' : this.database._expectedVersion,
        statements: '[' + statements.map((statement) => statement.entry).join(',') + ']',
        commit: commit ? 'true' : 'false',
      };
      if (opening) args.readOnly = this.request.readOnly ? 'true' : 'false';
      else args.transactionId = this.id;
      const outcome = await this.call('executeBatch', args);
      const answer = outcome.answer;
      const valid = !outcome.refused && answer !== null && typeof answer === 'object';
      if (opening && !(valid && answer.error === undefined && answer.transactionId !== undefined)) {
        const reason = outcome.refused ? 'Could not create transaction: ' + outcome.refused.message
          : valid && answer.error !== undefined ? String(answer.error)
          : 'Could not create transaction: the SQL module did not answer';
        return {opened: outcome.refused ? new SQLError(codes.UNKNOWN_ERR, reason) : errorFrom(reason)};
      }
      if (opening) this.id = String(answer.transactionId);
      let common = null;  // the one outcome of every statement of a call that did not run them
      if (outcome.refused) {
        common = {error: new SQLError(codes.UNKNOWN_ERR, 'Could not execute statement: ' + outcome.refused.message)};
      } else if (!valid || (answer.error === undefined && !Array.isArray(answer.results))) {
        common = {error: new SQLError(codes.DATABASE_ERR, 'Could not execute statement: the SQL module did not answer')};
      } else if (answer.error !== undefined) {
        common = {error: statementError(answer)};
      }
      if (common) return {results: statements.map(() => common)};
      const results = answer.results.slice(0, statements.length).map((entry, i) => TransactionRun.resultOf(entry, statements[i]));
      return {results: results, committed: answer.committed === true,
              commitError: answer.commitError === undefined ? null : errorFrom(answer.commitError)};
    }

    // A statement's entry of a batch answer as {result} or {error}; null
    // is the answer to a statement without callbacks that succeeded.
    static resultOf(answer, statement) {
      if (answer === null && !statement.success && !statement.error) return {result: null};
      if (answer === null || typeof answer !== 'object') {
        return {error: new SQLError(codes.DATABASE_ERR, 'Could not execute statement: the SQL module did not answer')};
      }
      if (answer.error !== undefined) return {error: statementError(answer)};
      return {result: new SQLResultSet(answer)};
    }

    // Runs the callbacks of the statements that have results; the
    // transaction's SQLError when one of them fails it, else null.
    settle(statements, results) {
      for (let i = 0; i < results.length; i++) {
        const statement = statements[i];
        const outcome = results[i];
        if (outcome.error) {
          // Without an error callback the statement's error fails the
          // transaction. An error callback that throws or answers a true
          // value fails it too; one that answers nothing or a false value
          // lets it go on, as WebKit's and Chromium's Web SQL did (pages
          // were written against them).
          if (!statement.error) return outcome.error;
          const verdict = this.callPage(statement.error, this.transaction, outcome.error);
          if ('thrown' in verdict || verdict.value) return callbackFailure();
        } else if (statement.success) {
          const verdict = this.callPage(statement.success, this.transaction, outcome.result);
          if ('thrown' in verdict) return callbackFailure();
        }
      }
      return null;
    }

    async run() {
      const request = this.request;
      const change = request.change;

      if (change) {
        const opened = await this.send([], false);
        if (opened.opened) return this.fail(opened.opened);
        const outcome = await this.call('getVersion', {databaseId: this.database._id});
        const current = outcome.refused ? null : outcome.answer;
        if (current !== change.oldVersion) {
          return this.fail(new SQLError(codes.VERSION_ERR,
                                        'The current version of the database (' + JSON.stringify(current) +
                                        ') does not match the expected old version (' +
                                        JSON.stringify(change.oldVersion) + ')'));
        }
      }

      if (request.callback) {
        const outcome = this.callPage(request.callback, this.transaction);
        if ('thrown' in outcome) {
          return this.fail(new SQLError(codes.UNKNOWN_ERR, 'the SQLTransactionCallback was null or threw an exception'));
        }
      }

      // The statements, a batch at a time, until no callback queues more.
      for (;;) {
        const statements = this.takeBatch();
        if (statements.length === 0 && this.id !== null) break;
        // No page code runs between these statements and the commit: the
        // shell may commit as soon as they succeed.
        const commit = !change && this.unsent.length === 0 && statements.every((s) => !s.success && !s.error);
        const sent = await this.send(statements, commit);
        if (sent.opened) return this.fail(sent.opened);
        // Statements the shell left for a later call (its answer was full)
        // go before any the callbacks queue now.
        this.unsent.unshift(...statements.slice(sent.results.length));
        const failure = this.settle(statements, sent.results);
        if (failure) return this.fail(failure);
        if (sent.commitError) return this.fail(sent.commitError);
        if (sent.committed) return this.succeed();
      }

      if (change) {
        this.versionSet = true;
        const set = await this.call('setVersion', {databaseId: this.database._id, version: change.newVersion});
        if (set.answer !== true) return this.fail(new SQLError(codes.UNKNOWN_ERR, 'Could not set the database version'));
      }

      if (request.readOnly && this.ordered) {
        // A read transaction has nothing to commit: it ends in the shell
        // while its success callback runs. Later calls of the page, the
        // database's next transaction among them, follow its end.
        this.call('commitTransaction', {transactionId: this.id});
        return this.succeed();
      }
      const outcome = await this.call('commitTransaction', {transactionId: this.id});
      if (outcome.refused) {
        return this.fail(new SQLError(codes.UNKNOWN_ERR, 'Could not commit transaction: ' + outcome.refused.message));
      }
      if (outcome.answer !== null) return this.fail(errorFrom(outcome.answer));
      return this.succeed();
    }

    succeed() {
      if (this.request.change) this.database._expectedVersion = this.request.change.newVersion;
      this.request.succeeded();
      return undefined;
    }

    // After a failed version change: puts the old version back in case the
    // shell keeps the version outside the rolled back transaction.
    async restoreVersion() {
      const change = this.request.change;
      const outcome = await this.call('getVersion', {databaseId: this.database._id});
      if (outcome.refused || outcome.answer !== change.oldVersion) {
        await this.call('setVersion', {databaseId: this.database._id, version: change.oldVersion});
      }
    }
  }

  // The transactions of each database run one after another, in the order
  // the page asked for them. Run side by side, a writer's BEGIN would wait
  // in the shell for another transaction whose remaining calls it holds up
  // behind it (the shell carries out a page's calls in order).
  const transactionQueues = new Map();  // database id -> [start functions], the first one running

  function enqueueTransaction(databaseId, start) {
    let queue = transactionQueues.get(databaseId);
    if (!queue) transactionQueues.set(databaseId, queue = []);
    queue.push(start);
    if (queue.length === 1) start();
  }

  function transactionEnded(databaseId) {
    const queue = transactionQueues.get(databaseId);
    queue.shift();
    if (queue.length) queue[0]();
    else transactionQueues.delete(databaseId);
  }

  // Runs a transaction once the database's earlier ones have ended, its
  // callback in a task after the one that asked for it. Returns a promise
  // that resolves once it committed and rejects with its SQLError, after
  // the page's callbacks ran. It never counts as unhandled: pages that use
  // the callbacks need not look at it.
  function startTransaction(database, request) {
    communicator();  // throws at once without the bridge client
    const outcome = new Promise((resolve, reject) => {
      request.succeeded = () => {
        notify(request.successCallback);
        resolve();
      };
      request.failed = (error) => {
        notify(request.errorCallback, error);
        reject(error);
      };
    });
    outcome.catch(() => {});
    enqueueTransaction(database._id, () => {
      queueMicrotask(() => {
        new TransactionRun(database, request).run()
          .catch(report)
          .then(() => transactionEnded(database._id));
      });
    });
    return outcome;
  }

  class Database {
    constructor(id, expectedVersion) {
      Object.defineProperty(this, '_id', {value: id});
      // The version this object takes the database to have; statements
      // fail when the database moved on (another object changed it).
      Object.defineProperty(this, '_expectedVersion', {value: expectedVersion, writable: true});
    }

    // The database's current version, as the shell has it.
    get version() {
      const answer = askQuietly('getVersion', {databaseId: this._id});
      return answer === null || answer === undefined ? this._expectedVersion : String(answer);
    }

    // Bad arguments throw a TypeError at once, with WebKit's texts, and
    // start nothing. Each returns a promise of the transaction's end (see
    // startTransaction); the callbacks are called as Web SQL calls them.
    transaction(callback, errorCallback, successCallback) {
      if (arguments.length === 0) throw notEnoughArguments();
      return this._start('Database.transaction', callback, errorCallback, successCallback, false);
    }

    readTransaction(callback, errorCallback, successCallback) {
      if (arguments.length === 0) throw notEnoughArguments();
      return this._start('Database.readTransaction', callback, errorCallback, successCallback, true);
    }

    changeVersion(oldVersion, newVersion, callback, errorCallback, successCallback) {
      if (arguments.length < 2) throw notEnoughArguments();
      const method = 'Database.changeVersion';
      return startTransaction(this, {
        callback: optionalCallback(callback, 3, 'callback', method),
        errorCallback: optionalCallback(errorCallback, 4, 'errorCallback', method),
        successCallback: optionalCallback(successCallback, 5, 'successCallback', method),
        readOnly: false,
        change: {oldVersion: String(oldVersion), newVersion: String(newVersion)},
      });
    }

    _start(method, callback, errorCallback, successCallback, readOnly) {
      return startTransaction(this, {
        callback: callbackArgument(callback, 1, 'callback', method, false),
        errorCallback: optionalCallback(errorCallback, 2, 'errorCallback', method),
        successCallback: optionalCallback(successCallback, 3, 'successCallback', method),
        readOnly: readOnly,
        change: null,
      });
    }
  }

  // Opens (or creates) a database. options.passphrase encrypts it. Throws,
  // at once: code 11 (InvalidStateError) when the database has another
  // version than asked for, code 18 (SecurityError) when the passphrase does
  // not open it, code 0 (UnknownError) when it cannot be opened otherwise.
  function openDatabase(name, version, displayName, estimatedSize, creationCallback, options) {
    if (arguments.length < 4) throw notEnoughArguments();
    const bridge = communicator();
    const wanted = version === undefined || version === null ? '' : String(version);
    const args = {
      name: String(name),
      version: wanted,
      displayName: displayName === undefined || displayName === null ? '' : String(displayName),
      estimatedSize: String(Number(estimatedSize) || 0),
    };
    if (options && options.passphrase !== undefined && options.passphrase !== null) {
      args.passphrase = String(options.passphrase);
    }

    const onCreation = callable(creationCallback);
    let database = null;
    let creationId = null;
    if (onCreation) {
      // The shell answers it once, in a later task, and only for a new
      // database: by then `database` is set.
      creationId = bridge.callback(() => notify(onCreation, database));
      args.creationCallback = creationId;
    }

    let answer;
    try {
      answer = bridge.sendSync('SQLite#openDatabase', args);
    } catch (e) {
      if (creationId) bridge.forget(creationId);
      throw exception(UNKNOWN_EXCEPTION, 'UnknownError', 'Unable to open database: ' + e.message);
    }
    if (answer === null || typeof answer !== 'object' || answer.error !== undefined || answer.id === undefined) {
      if (creationId) bridge.forget(creationId);
      const message = answer && answer.error !== undefined ? String(answer.error)
                                                          : 'Unable to open database: the SQL module is not available';
      if (message.toLowerCase().indexOf('version mismatch') >= 0) {
        throw exception(INVALID_STATE_EXCEPTION, 'InvalidStateError', message);
      }
      // SQLCipher's word for a key that does not decrypt the file.
      if (/file is (encrypted or is )?not a database|incorrect passphrase/.test(message)) {
        throw exception(SECURITY_EXCEPTION, 'SecurityError', message);
      }
      throw exception(UNKNOWN_EXCEPTION, 'UnknownError', message);
    }

    const actual = answer.version === undefined || answer.version === null ? '' : String(answer.version);
    // A database the creation callback sets up starts with version "", and so
    // does what this object expects; a database that existed never calls it.
    if (creationId && actual !== '') bridge.forget(creationId);
    database = new Database(String(answer.id), actual === '' ? '' : wanted);
    return database;
  }

  Kio.sql = {
    openDatabase: openDatabase,
    OpenError: Object.freeze({UNKNOWN_ERR: UNKNOWN_EXCEPTION, INVALID_STATE_ERR: INVALID_STATE_EXCEPTION,
                              SECURITY_ERR: SECURITY_EXCEPTION}),
    SQLError: SQLError,
    Database: Database,
    SQLTransaction: SQLTransaction,
    SQLResultSet: SQLResultSet,
  };

  if (typeof global.openDatabase !== 'function') {
    global.openDatabase = openDatabase;
    if (typeof global.SQLError === 'undefined') global.SQLError = SQLError;
  }
})(typeof window !== 'undefined' ? window : this);
