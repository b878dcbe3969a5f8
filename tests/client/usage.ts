// A page written against tavero.d.ts: it must compile with --strict, and
// each @ts-expect-error line must fail to compile, so that declarations
// that are wrong, or looser than the page client, are caught.
// check-declarations.js compiles it together with the declarations (a page
// would reference them: /// <reference path="tavero.d.ts" />).
export {};

async function takePicture(): Promise<string> {
  const path: string = await Kio.camera.getPicture({sourceType: Kio.camera.PictureSourceType.CAMERA, quality: 80});
  Kio.camera.getPicture((picture: string) => console.log(picture.length), (message: string) => console.warn(message),
                        {destinationType: Kio.camera.DestinationType.DATA_URL});
  // @ts-expect-error: sources are 0, 1 or 2
  Kio.camera.getPicture({sourceType: 99});
  return path;
}

async function whereAmI(): Promise<number> {
  const position = await Kio.geolocation.getCurrentPosition({timeout: 5000, maximumAge: 0});
  const id: number = Kio.geolocation.watchPosition((p) => console.log(p.coords.heading ?? 'no course'),
                                                   (error) => console.warn(error.code === error.TIMEOUT));
  Kio.geolocation.clearWatch(id);
  // @ts-expect-error: an altitude may be unknown
  const altitude: number = position.coords.altitude;
  return position.coords.latitude + altitude;
}

async function ask(): Promise<boolean> {
  const button: string = await Kio.notification.alert('Delete?', 'Really?', ['Delete', 'Cancel']);
  const pressed = await Kio.notification.choose('Go on?', '', ['OK, fine', 'No']);
  const index: number = pressed.index;
  // @ts-expect-error: alert resolves a title, not the pressed button's record
  const wrong: number = (await Kio.notification.alert('x')).index;
  return button === 'delete' && pressed.title === 'OK, fine' && index === 0 && wrong === 0;
}

function codes(error: unknown): string {
  if (error instanceof Kio.TaveroError) {
    if (error.code === Kio.TaveroError.SHELL_UNAVAILABLE) return 'the shell is not serving';
    if (error.code === Kio.TaveroError.INVALID_ARGUMENT) return 'refused: ' + error.message;
  }
  if (error instanceof Kio.files.FileError && error.code === Kio.files.FileError.NOT_FOUND_ERR) return 'missing';
  if (error instanceof Kio.sql.SQLError && error.code === Kio.sql.SQLError.CONSTRAINT_ERR) return 'constraint';
  return 'other';
}

async function notes(): Promise<number> {
  let db: TaveroDatabase;
  try {
    db = Kio.sql.openDatabase('notes', '', 'Notes', 1024, null, {passphrase: 'secret'});
  } catch (error) {
    const code = (error as {code: number}).code;
    if (code === Kio.sql.OpenError.SECURITY_ERR) throw new Error('wrong passphrase');
    throw error;
  }
  let count = 0;
  await db.transaction((tx) => {
    tx.executeSql('SELECT count(*) AS n FROM note', [], (_tx, result) => { count = result.rows.item(0)?.n; },
                  (_tx, error) => error.code !== Kio.sql.SQLError.SYNTAX_ERR);
  }, (error) => console.warn(error.message));
  // @ts-expect-error: executeSql answers through its callbacks, not a value
  const nothing: number = db.transaction((tx) => tx.executeSql('SELECT 1'));
  return count + nothing;
}

async function files(): Promise<string> {
  const fs = await Kio.files.requestFileSystem();
  const entry = await fs.root.getFile('notes.txt', {create: true});
  const writer = await entry.createWriter();
  await writer.write('hello');
  await writer.write(new Uint8Array([0xff, 0x00]));
  const reader = await entry.createFileReader();
  const bytes: ArrayBuffer = await reader.readArrayBuffer(5);
  // @ts-expect-error: a number is neither text nor bytes
  await writer.write(42);
  return bytes.byteLength + (await reader.readAsText());
}

async function rest(): Promise<void> {
  const people = await Kio.contacts.all({includeImages: false});
  const label: string = await Kio.contacts.getLocalizedLabel('first_name');
  const allowed: boolean = await Kio.purchase.canMakePayments();
  const products = await Kio.purchase.getProducts(['coins']);
  const token: string = await Kio.push.register({alert: true}, (payload) => console.log(payload));
  await Kio.deviceEvents.onPause(() => console.log('paused'));
  const opened = Kio.url.launchURL();
  const motion = Kio.motion.watch((reading) => console.log(reading.acceleration.x));
  Kio.motion.clearWatch(motion);
  Kio.connection.watch((status) => console.log(status.online, status.type));
  const os: string = window.device.OS;
  const inShell: boolean = window.isQL;
  console.log(people.length, label, allowed, products[0]?.price, token, opened?.url, os, inShell);
}

console.log(takePicture, whereAmI, ask, codes, notes, files, rest);
