// Types of what the shell gives every document of a bundle: the page client
// (Kio.*, from the scripts beside this file) and the page globals. Editors
// and `tsc --noEmit` check app scripts against it. Kept loose: each service
// is `any` until its members are written out here.

interface TaveroOpeningURL {
  url: string;
  sourceApplication: string;
}

interface TaveroDevice {
  name: string;
  platformName: string;
  uuid: string;
  OS: string;
  scheme?: TaveroOpeningURL | null;
  [fact: string]: unknown;
}

interface Window {
  device: TaveroDevice;
  isQL: boolean;
}

declare var device: TaveroDevice;
declare var isQL: boolean;

declare var Kio: {
  device: {Communicator: any};
  [service: string]: any;
};
