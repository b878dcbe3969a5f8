// In-app purchases. Load after kio-communicator.js.
//
//   Kio.purchase.getProducts(['com.example.coins'], (products) => {
//     Kio.purchase.purchase(products[0].productIdentifier, () => {
//       Kio.purchase.getPurchases((paid) => paid.forEach((p) => {
//         deliver(p.productIdentifier);
//         Kio.purchase.complete(p.transactionIdentifier, () => console.log('done'), console.error);
//       }));
//     }, (message) => console.log('not bought:', message));
//   }, (message) => console.log(message));
//
// A product is {productIdentifier, localizedTitle, price (text, with the
// decimal separator of its locale), localizedDescription}; a purchase is
// {productIdentifier, transactionIdentifier}. A payment the user cancels
// calls neither callback.
var Kio = window.Kio || {};

Kio.purchase = (function () {
  'use strict';

  const send = (command, args) => Kio.device.Communicator.send(command, args);
  const noop = function () {};

  function checkCallback(method, callback) {
    Kio.device.Communicator.expect(callback, 'function', 'the callback', method, false);
  }
  function checkCallbacks(method, success, failure) {
    Kio.device.Communicator.expect(success, 'function', 'the success callback', method, true);
    Kio.device.Communicator.expect(failure, 'function', 'the error callback', method, true);
  }

  // callback gets true or false.
  function canMakePayments(callback) {
    checkCallback('purchase.canMakePayments', callback);
    return send('Purchase#canMakePayments', {callback: callback});
  }

  function getProducts(identifiers, success, failure) {
    Kio.device.Communicator.expect(identifiers, 'array', 'identifiers', 'purchase.getProducts', false);
    checkCallbacks('purchase.getProducts', success, failure);
    return send('Purchase#getProducts', {
      productInfos: (identifiers || []).map((identifier) => ({identifier: identifier})),
      success: success || noop, failure: failure || noop,
    });
  }

  // success (no value) once the payment is made; deliver the product, then complete it.
  function purchase(productIdentifier, success, failure) {
    Kio.device.Communicator.expect(productIdentifier, 'string', 'productIdentifier', 'purchase.purchase', false);
    checkCallbacks('purchase.purchase', success, failure);
    return send('Purchase#purchase', {identifier: productIdentifier, success: success || noop, failure: failure || noop});
  }

  // Paid purchases not yet completed.
  function getPurchases(callback) {
    checkCallback('purchase.getPurchases', callback);
    return send('Purchase#getPurchases', {callback: callback});
  }

  function complete(transactionIdentifier, success, failure) {
    Kio.device.Communicator.expect(transactionIdentifier, 'string', 'transactionIdentifier', 'purchase.complete', false);
    checkCallbacks('purchase.complete', success, failure);
    return send('Purchase#complete', {identifier: transactionIdentifier, success: success || noop, failure: failure || noop});
  }

  // Every completed purchase, oldest first ("" before the first).
  function getCompletedPurchases(callback) {
    checkCallback('purchase.getCompletedPurchases', callback);
    return send('Purchase#getCompletedPurchases', {callback: callback});
  }

  return {canMakePayments: canMakePayments, getProducts: getProducts, purchase: purchase, getPurchases: getPurchases,
          complete: complete, getCompletedPurchases: getCompletedPurchases};
})();
