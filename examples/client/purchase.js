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
// calls neither callback (and settles no promise).
//
// Every call also returns a promise of what its success callback gets; it
// rejects with a Kio.TaveroError: FAILED with the store's message, or a
// shell-level code. Callbacks are optional.
var Kio = window.Kio || {};

Kio.purchase = (function () {
  'use strict';

  const PurchaseError = {FAILED: 1};
  const asMessage = (error) => error.message;

  function purchaseError(message) {
    return new Kio.TaveroError(Kio.device.Communicator.codeOf(message, () => PurchaseError.FAILED), message,
                               'PurchaseError');
  }

  function checkCallback(method, callback) {
    Kio.device.Communicator.expect(callback, 'function', 'the callback', method, true);
  }
  function checkCallbacks(method, success, failure) {
    Kio.device.Communicator.expect(success, 'function', 'the success callback', method, true);
    Kio.device.Communicator.expect(failure, 'function', 'the error callback', method, true);
  }

  // An operation that answers through one "callback".
  function answer(command, args, callback) {
    const Communicator = Kio.device.Communicator;
    const value = new Promise((resolve, reject) => {
      Communicator.send(command, Object.assign({callback: resolve}, args)).catch(reject);
    });
    return Communicator.settle(value, callback, null);
  }

  // An operation that answers through "success" or "failure".
  function outcome(command, args, success, failure) {
    const Communicator = Kio.device.Communicator;
    return Communicator.settle(Communicator.request(command, args, purchaseError), success, failure, asMessage);
  }

  // callback gets true or false.
  function canMakePayments(callback) {
    checkCallback('purchase.canMakePayments', callback);
    return answer('Purchase#canMakePayments', {}, callback);
  }

  function getProducts(identifiers, success, failure) {
    Kio.device.Communicator.expect(identifiers, 'array', 'identifiers', 'purchase.getProducts', false);
    checkCallbacks('purchase.getProducts', success, failure);
    return outcome('Purchase#getProducts',
                   {productInfos: identifiers.map((identifier) => ({identifier: identifier}))}, success, failure);
  }

  // success (no value) once the payment is made; deliver the product, then complete it.
  function purchase(productIdentifier, success, failure) {
    Kio.device.Communicator.expect(productIdentifier, 'string', 'productIdentifier', 'purchase.purchase', false);
    checkCallbacks('purchase.purchase', success, failure);
    return outcome('Purchase#purchase', {identifier: productIdentifier}, success, failure);
  }

  // Paid purchases not yet completed.
  function getPurchases(callback) {
    checkCallback('purchase.getPurchases', callback);
    return answer('Purchase#getPurchases', {}, callback);
  }

  function complete(transactionIdentifier, success, failure) {
    Kio.device.Communicator.expect(transactionIdentifier, 'string', 'transactionIdentifier', 'purchase.complete', false);
    checkCallbacks('purchase.complete', success, failure);
    return outcome('Purchase#complete', {identifier: transactionIdentifier}, success, failure);
  }

  // Every completed purchase, oldest first ("" before the first).
  function getCompletedPurchases(callback) {
    checkCallback('purchase.getCompletedPurchases', callback);
    return answer('Purchase#getCompletedPurchases', {}, callback);
  }

  return {canMakePayments: canMakePayments, getProducts: getProducts, purchase: purchase, getPurchases: getPurchases,
          complete: complete, getCompletedPurchases: getCompletedPurchases, PurchaseError: PurchaseError};
})();
