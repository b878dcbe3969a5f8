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

  // callback gets true or false.
  function canMakePayments(callback) { return send('Purchase#canMakePayments', {callback: callback}); }

  function getProducts(identifiers, success, failure) {
    return send('Purchase#getProducts', {
      productInfos: (identifiers || []).map((identifier) => ({identifier: identifier})),
      success: success || noop, failure: failure || noop,
    });
  }

  // success (no value) once the payment is made; deliver the product, then complete it.
  function purchase(productIdentifier, success, failure) {
    return send('Purchase#purchase', {identifier: productIdentifier, success: success || noop, failure: failure || noop});
  }

  // Paid purchases not yet completed.
  function getPurchases(callback) { return send('Purchase#getPurchases', {callback: callback}); }

  function complete(transactionIdentifier, success, failure) {
    return send('Purchase#complete', {identifier: transactionIdentifier, success: success || noop, failure: failure || noop});
  }

  // Every completed purchase, oldest first ("" before the first).
  function getCompletedPurchases(callback) { return send('Purchase#getCompletedPurchases', {callback: callback}); }

  return {canMakePayments: canMakePayments, getProducts: getProducts, purchase: purchase, getPurchases: getPurchases,
          complete: complete, getCompletedPurchases: getCompletedPurchases};
})();
