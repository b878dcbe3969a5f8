// Pictures from the camera, the saved photos or the photo library.
// Load after kio-communicator.js.
//
//   Kio.camera.getPicture((path) => img.src = 'file://' + path, (message) => console.log(message),
//                         {sourceType: Kio.camera.PictureSourceType.PHOTOLIBRARY, targetWidth: 320,
//                          targetHeight: 480, destinationType: Kio.camera.DestinationType.FILE_URI});
//   const path = await Kio.camera.getPicture({sourceType: Kio.camera.PictureSourceType.CAMERA});
//
// success (or the promise) gets the picture: the full path of a file in the
// app's Documents (FILE_URI) or base64 text without a prefix (DATA_URL);
// failure gets "User has canceled operation" or why the picture could not
// be made, the promise rejects with a Kio.TaveroError whose code is one of
// Kio.camera.CameraError's (or a shell-level code). Options out of range
// throw a RangeError at once and open no picker.
var Kio = window.Kio || {};

Kio.camera = (function () {
  'use strict';

  const PictureSourceType = {PHOTOLIBRARY: 0, CAMERA: 1, SAVEDPHOTOALBUM: 2};
  const DestinationType = {DATA_URL: 0, FILE_URI: 1};
  const EncodingType = {JPEG: 0, PNG: 1};
  const CameraError = {CANCELLED: 1, FAILED: 2};
  // The largest width or height a picture may be scaled to (the shell's limit too).
  const maxSide = 10000;
  const cancelText = 'User has canceled operation';

  function cameraError(message) {
    const code = Kio.device.Communicator.codeOf(message, (text) => (text === cancelText ? CameraError.CANCELLED
                                                                                        : CameraError.FAILED));
    return new Kio.TaveroError(code, message, 'CameraError');
  }

  // The options the shell gets, each checked against what it accepts.
  function checkedOptions(options) {
    const C = Kio.device.Communicator;
    const method = 'camera.getPicture';
    const pick = (value, fallback) => (value === undefined || value === null ? fallback : value);
    const size = C.integerIn(0, maxSide);
    C.expectRange(options.sourceType, C.oneOf(0, 1, 2), 'sourceType', method,
                  '0 (PHOTOLIBRARY), 1 (CAMERA) or 2 (SAVEDPHOTOALBUM)');
    C.expectRange(options.destinationType, C.oneOf(0, 1), 'destinationType', method, '0 (DATA_URL) or 1 (FILE_URI)');
    C.expectRange(options.encodingType, C.oneOf(0, 1), 'encodingType', method, '0 (JPEG) or 1 (PNG)');
    C.expectRange(options.quality, C.integerIn(0, 100), 'quality', method, 'an integer from 0 to 100');
    C.expectRange(options.targetWidth, size, 'targetWidth', method, 'an integer from 0 to ' + maxSide);
    C.expectRange(options.targetHeight, size, 'targetHeight', method, 'an integer from 0 to ' + maxSide);
    return {
      source: pick(options.sourceType, PictureSourceType.CAMERA),
      quality: pick(options.quality, 50),
      width: pick(options.targetWidth, 0),
      height: pick(options.targetHeight, 0),
      destination: pick(options.destinationType, DestinationType.FILE_URI),
      encoding: pick(options.encodingType, EncodingType.JPEG),
    };
  }

  // options: sourceType (CAMERA), quality (JPEG quality 0-100, 50),
  // targetWidth and targetHeight (both, or the picture keeps its size; the
  // shape is not kept), destinationType (FILE_URI), encodingType (JPEG).
  // getPicture(options) is the promise form without callbacks.
  function getPicture(success, failure, options) {
    const Communicator = Kio.device.Communicator;
    if (arguments.length === 1 && success !== null && typeof success === 'object') {
      options = success;
      success = null;
    }
    Communicator.expect(success, 'function', 'the success callback', 'camera.getPicture', true);
    Communicator.expect(failure, 'function', 'the error callback', 'camera.getPicture', true);
    options = Communicator.expect(options, 'object', 'options', 'camera.getPicture', true) || {};
    const picture = Communicator.request('Camera#capture', checkedOptions(options), cameraError);
    return Communicator.settle(picture, success, failure, (error) => error.message);
  }

  return {getPicture: getPicture, PictureSourceType: PictureSourceType, DestinationType: DestinationType,
          EncodingType: EncodingType, CameraError: CameraError};
})();
