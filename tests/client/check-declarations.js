// Fails when the page client defines something tavero.d.ts does not
// declare, or when the declarations do not type-check.
//
//   node check-declarations.js CLIENT_DIR TQWEBVIEW_CPP TSC USAGE_TS...
//
// Loads every script of CLIENT_DIR in a fake window, as the shell injects
// them (kio-communicator.js first, then the others in name order), lists
// every member reachable from Kio (properties, statics and the methods
// classes give their instances; names beginning with "_" are private), the
// globals the scripts add, and the window.device getters and window globals
// TQWEBVIEW_CPP defines. It writes one TypeScript statement per member and
// runs `tsc --noEmit --strict` on them, the declarations and the USAGE_TS
// examples: a member without a declaration is an error there.
'use strict';

const fs = require('fs');
const os = require('os');
const path = require('path');
const vm = require('vm');
const {spawnSync} = require('child_process');

const [clientDir, webViewSource, tsc, ...usage] = process.argv.slice(2);
if (!clientDir || !webViewSource || !tsc) {
  console.error('usage: check-declarations.js CLIENT_DIR TQWEBVIEW_CPP TSC [USAGE_TS...]');
  process.exit(2);
}

function loadClient() {
  const window = {
    console: console,
    crypto: require('crypto').webcrypto,
    queueMicrotask: queueMicrotask,
    setTimeout: setTimeout,
    clearTimeout: clearTimeout,
    location: {href: 'file:///app/webapp/index.html'},
  };
  window.window = window;
  const context = vm.createContext(window);
  const before = new Set(Object.getOwnPropertyNames(window));
  const scripts = fs.readdirSync(clientDir).filter((name) => name.endsWith('.js') && name !== 'kio-communicator.js');
  scripts.sort();
  for (const name of ['kio-communicator.js', ...scripts]) {
    const file = path.join(clientDir, name);
    vm.runInContext(fs.readFileSync(file, 'utf8'), context, {filename: file});
  }
  const added = Object.getOwnPropertyNames(window).filter((name) => !before.has(name) && name !== 'Kio');
  return {Kio: window.Kio, added: added};
}

const functionOwnNames = new Set(['length', 'name', 'prototype', 'arguments', 'caller']);
const isClass = (value) => typeof value === 'function' && /^class\b/.test(Function.prototype.toString.call(value));
const isPrivate = (key) => key.startsWith('_') || key === 'constructor';

// Every member path under `value`, which is at `where`.
function membersOf(value, where, seen, out) {
  if (value === null || (typeof value !== 'object' && typeof value !== 'function') || seen.has(value)) return;
  seen.add(value);
  for (const key of Object.getOwnPropertyNames(value)) {
    if (isPrivate(key) || (typeof value === 'function' && functionOwnNames.has(key))) continue;
    const member = where + '.' + key;
    out.push(member);
    const descriptor = Object.getOwnPropertyDescriptor(value, key);
    if ('value' in descriptor) membersOf(descriptor.value, member, seen, out);
  }
  if (!isClass(value)) return;
  // What instances get: the class's prototype and those of the client's
  // classes it extends (not Error's or Object's).
  for (let proto = value.prototype; proto && isClass(proto.constructor); proto = Object.getPrototypeOf(proto)) {
    for (const key of Object.getOwnPropertyNames(proto)) {
      if (!isPrivate(key)) out.push(where + '.prototype.' + key);
    }
  }
}

// The globals the shell's web view defines: window.device's getters and
// window's own ("isQL").
function shellGlobals() {
  const source = fs.readFileSync(webViewSource, 'utf8');
  const found = [];
  const device = /window\.device = \{([^}]*)\}/.exec(source);
  if (!device) throw new Error(webViewSource + ': no "window.device = {...}" found');
  for (const match of device[1].matchAll(/'(\w+)'\s*:/g)) found.push('window.device.' + match[1]);
  for (const match of source.matchAll(/getterScript\("(\w+)",[^;]*?,\s*(true|false)\)/g)) {
    found.push(match[2] === 'true' ? 'window.device.' + match[1] : 'window.' + match[1]);
  }
  if (found.length < 3) throw new Error(webViewSource + ': fewer window.device getters than expected');
  return found;
}

const client = loadClient();
if (!client.Kio || !client.Kio.device || !client.Kio.device.Communicator) {
  console.error('the page client did not define Kio.device.Communicator');
  process.exit(1);
}
const members = [];
membersOf(client.Kio, 'Kio', new Set(), members);
for (const name of client.added) members.push('window.' + name);
members.push(...shellGlobals());

const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'tavero-declarations-'));
try {
  const generated = path.join(folder, 'members.ts');
  const declarations = path.resolve(clientDir, 'tavero.d.ts');
  fs.writeFileSync(generated, '/// <reference path="' + declarations + '" />\n' +
                   'export {};\n' + members.map((member) => 'void (' + member + ');\n').join(''));
  const result = spawnSync(tsc, ['--noEmit', '--strict', '--target', 'es2020', '--lib', 'es2020,dom', '--typeRoots', folder,
                                 declarations, generated, ...usage], {encoding: 'utf8'});
  const output = (result.stdout || '') + (result.stderr || '');
  if (result.error || result.status !== 0) {
    console.error(output || String(result.error));
    // Name the members without a declaration, not only their line numbers.
    for (const match of output.matchAll(/members\.ts\((\d+),\d+\)/g)) {
      console.error('not declared in tavero.d.ts: ' + members[Number(match[1]) - 3]);
    }
    process.exit(1);
  }
  console.log('tavero.d.ts declares all ' + members.length + ' members of the page client');
} finally {
  fs.rmSync(folder, {recursive: true, force: true});
}
