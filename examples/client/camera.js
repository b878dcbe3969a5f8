// Pictures from the camera, the saved photos or the photo library.
// Load after kio-communicator.js.
//
//   Kio.camera.getPicture((path) => img.src = 'file://' + path, (message) => console.log(message),
//                         {sourceType: Kio.camera.PictureSourceType.PHOTOLIBRARY, targetWidth: 320,
//                          targetHeight: 480, destinationType: Kio.camera.DestinationType.FILE_URI});
//
// success gets the picture: the full path of a file in the app's Documents
// (FILE_URI) or base64 text without a prefix (DATA_URL); failure gets
// "User has canceled operation" or why the picture could not be made.
var Kio = window.Kio || {};

Kio.camera = (function () {
  'use strict';

  const PictureSourceType = {PHOTOLIBRARY: 0, CAMERA: 1, SAVEDPHOTOALBUM: 2};
  const DestinationType = {DATA_URL: 0, FILE_URI: 1};
  const EncodingType = {JPEG: 0, PNG: 1};

  // options: sourceType (CAMERA), quality (JPEG quality 0-100, 50),
  // targetWidth and targetHeight (both, or the picture keeps its size; the
  // shape is not kept), destinationType (FILE_URI), encodingType (JPEG).
  function getPicture(success, failure, options) {
    const expect = Kio.device.Communicator.expect;
    expect(success, 'function', 'the success callback', 'camera.getPicture', true);
    expect(failure, 'function', 'the error callback', 'camera.getPicture', true);
    options = expect(options, 'object', 'options', 'camera.getPicture', true) || {};
    const pick = (value, fallback) => (value === undefined || value === null ? fallback : value);
    return Kio.device.Communicator.send('Camera#capture', {
      source: pick(options.sourceType, PictureSourceType.CAMERA),
      quality: pick(options.quality, 50),
      width: pick(options.targetWidth, 0),
      height: pick(options.targetHeight, 0),
      destination: pick(options.destinationType, DestinationType.FILE_URI),
      encoding: pick(options.encodingType, EncodingType.JPEG),
      success: success || function () {},
      failure: failure || function () {},
    });
  }

  return {getPicture: getPicture, PictureSourceType: PictureSourceType, DestinationType: DestinationType,
          EncodingType: EncodingType};
})();
