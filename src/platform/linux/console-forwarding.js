// Runs at the start of every page document: forwards the page's console
// messages, uncaught errors and promise rejections nobody handled to the
// shell, which writes them to its standard error with the page's name (as
// one line: the log escapes line breaks and control characters).
(function () {
  const handlers = window.webkit && window.webkit.messageHandlers;
  const shell = handlers && handlers.taveroConsole;
  if (!shell) return;
  const text = (value) => {
    if (typeof value === 'string') return value;
    if (value instanceof Error) return value.stack || String(value);
    try { return JSON.stringify(value); } catch (e) { return String(value); }
  };
  for (const level of ['log', 'info', 'warn', 'error', 'debug']) {
    const original = console[level];
    console[level] = function (...args) {
      try { shell.postMessage(level + ' ' + args.map(text).join(' ')); } catch (e) { /* keep the page going */ }
      return original.apply(console, args);
    };
  }
  window.addEventListener('error', (event) => {
    try {
      shell.postMessage('error uncaught ' + event.message + ' (' + event.filename + ':' + event.lineno + ')');
    } catch (e) { /* keep the page going */ }
  });
  window.addEventListener('unhandledrejection', (event) => {
    try {
      const reason = event.reason;
      const what = reason instanceof Error ? reason.name + ': ' + reason.message +
        (typeof reason.code === 'number' ? ' (code ' + reason.code + ')' : '') : text(reason);
      shell.postMessage('error unhandled rejection ' + what);
    } catch (e) { /* keep the page going */ }
  });
})();
