#include "bridge/QLTaveroBridge.h"

#include <boost/beast/http/field.hpp>
#include <string>
#include <variant>

#include "bridge/BridgeQuery.h"
#include "bridge/SerialExecutor.h"
#include "log/Log.h"
#include "log/RefusalLog.h"

namespace tavero::bridge {

namespace http = boost::beast::http;
using net::HTTPResponseMessage;
using net::HTTPStatus;

namespace {

// Answers that reach the page's script carry the CORS header: without it the
// page could not even see that its call failed.
HTTPResponseMessage answerForPage(HTTPStatus status, std::string body = {}) {
  HTTPResponseMessage response = net::makeHTTPResponse(status, std::move(body));
  response.set(http::field::access_control_allow_origin, "*");
  return response;
}

HTTPResponseMessage answerForPage(CallOutcome outcome) {
  return answerForPage(outcome.status, std::move(outcome.body).value_or(std::string()));
}

std::string describePeer(const std::optional<boost::asio::ip::tcp::endpoint>& peer) {
  if (!peer) return "an unknown peer";
  return peer->address().to_string() + ":" + std::to_string(peer->port());
}

bool isFormBody(const net::HTTPRequestMessage& request) {
  std::string_view type = request[http::field::content_type];
  return type.substr(0, type.find(';')) == "application/x-www-form-urlencoded";
}

// The page token travels in the query's "__token" piece, apart from the
// arguments: modules never see it.
void removeQueryToken(BridgeQuery& query) {
  query.values.erase("__token");
  query.texts.erase("__token");
}

}  // namespace

namespace {
QLTaveroBridge::Options onPort(uint16_t port) {
  QLTaveroBridge::Options options;
  options.port = port;
  return options;
}
}  // namespace

QLTaveroBridge::QLTaveroBridge(ModuleRegistry& modules, uint16_t port) : QLTaveroBridge(modules, onPort(port)) {}

QLTaveroBridge::QLTaveroBridge(ModuleRegistry& modules, Options options)
    : QLTaveroBridge(std::make_unique<net::QLWorkerThread>(), modules, std::move(options)) {}

QLTaveroBridge::QLTaveroBridge(std::unique_ptr<net::QLWorkerThread> worker, ModuleRegistry& modules, Options options)
    : HTTPServer(worker->context()),
      worker_(std::move(worker)),
      modules_(modules),
      options_(std::move(options)),
      peerVerifier_(options_.peerVerifier),
      dispatcher_(modules_, *commandDispatchQueue_, &calls_) {
  setConnectionDelegate(this);
  setPort(options_.port);
  setRequireEveryLoopbackFamily(true);
  net::HTTPLimits limits;
  limits.maxBodyBytes = kMaxFormBodyBytes;
  setLimits(limits);
  if (options_.policy.clients() == BridgeAccessPolicy::Clients::appPages)
    pageChannel_ = std::make_unique<PageMessageChannel>(dispatcher_, *commandDispatchQueue_,
                                                        options_.policy.pageToken(), [this] { return isServing(); },
                                                        &calls_, &callbackReplies_);
  if (auto ec = startServer())
    log::error("bridge: cannot listen on port " + std::to_string(options_.port) + ": " + ec.message());
}

QLTaveroBridge::~QLTaveroBridge() {
  serving_ = false;  // the page channel refuses from now on
  worker_->performAndWait([this] {
    stop();
    closeAllConnections();
    setConnectionDelegate(nullptr);
  });
  commandDispatchQueue_.reset();  // waits for the operations under way
}

std::error_code QLTaveroBridge::listen() {
  std::error_code ec = start();
  if (!ec || !options_.otherPortWhenTaken || options_.port == 0) return ec;
  // Another program holds the port on one of the loopback addresses. Pages
  // must never talk to it: listen elsewhere (on both addresses at once).
  for (int attempt = 0; attempt < 20 && ec; ++attempt) {
    setPort(0);
    ec = start();
  }
  if (!ec)
    log::warning("bridge: port " + std::to_string(options_.port) + " is taken by another program; listening on " +
                 std::to_string(port()) + " instead (the page client follows; requests to port " +
                 std::to_string(options_.port) + " are blocked)");
  return ec;
}

std::error_code QLTaveroBridge::startServer() {
  auto ec = worker_->performAndWait([this] { return listen(); });
  serving_ = !ec;
  return ec;
}

void QLTaveroBridge::stopServer() {
  serving_ = false;
  worker_->performAndWait([this] {
    if (options_.keepPortWhileStopped && isListening())
      pause();
    else
      stop();
    // Kept-alive connections would otherwise go on being served.
    closeAllConnections();
  });
}

void QLTaveroBridge::restartServer() {
  stopServer();
  if (auto ec = startServer()) log::error("bridge: cannot listen again: " + ec.message());
}

void QLTaveroBridge::setPeerVerifier(std::unique_ptr<PeerVerifier> verifier) {
  worker_->performAndWait([&] { peerVerifier_ = std::move(verifier); });
}

bool QLTaveroBridge::shouldAcceptConnection(const std::optional<boost::asio::ip::tcp::endpoint>& peer,
                                            const boost::asio::ip::tcp::endpoint& local) {
  if (!peerVerifier_) return true;
  if (peer && peerVerifier_->isShellPeer(*peer, local)) return true;
  log::refusal("bridge: refused a connection from " + describePeer(peer) + ": " + peerVerifier_->refusalReason());
  return false;
}

std::optional<std::string_view> QLTaveroBridge::queryOf(const net::HTTPRequestMessage& request) const {
  if (request.method_string() == "POST" && isFormBody(request)) return std::string_view(request.body());
  std::string_view target = request.target();
  size_t question = target.find('?');
  if (question == std::string_view::npos) return std::nullopt;
  return target.substr(question + 1);
}

void QLTaveroBridge::didReceiveRequest(net::HTTPConnection& connection,
                                       const std::shared_ptr<net::HTTPServerRequest>& request) {
  const auto& message = request->request();
  bool isForm = message.method_string() == "POST" && isFormBody(message);
  if (message.method_string() != "GET" && !isForm) {
    request->setResponse(net::makeHTTPResponse(HTTPStatus::method_not_allowed));
    return;
  }
  if (!serving_) {
    // Read before the bridge stopped, or on a connection it has not closed yet.
    log::refusal("bridge: refused a request: the application is in the background");
    request->setResponse(answerForPage(HTTPStatus::service_unavailable));
    return;
  }
  dispatchRequest(connection, request);
}

void QLTaveroBridge::dispatchRequest(net::HTTPConnection& connection,
                                     const std::shared_ptr<net::HTTPServerRequest>& request) {
  const auto& message = request->request();
  std::optional<std::string_view> queryText = queryOf(message);
  // Who may call is settled on the raw request: a refused caller's query
  // (up to a whole form body) is never decoded.
  std::optional<std::string> token = queryText ? rawQueryToken(*queryText) : std::nullopt;
  if (auto refusal = options_.policy.refusal(message, port(), token)) {
    log::refusal("bridge: refused a request: " + *refusal);
    request->setResponse(net::makeHTTPResponse(HTTPStatus::forbidden));
    return;
  }
  if (!queryText) {
    request->setResponse(answerForPage(HTTPStatus::bad_request));
    return;
  }
  auto parsed = parseBridgeQuery(*queryText);
  if (auto* error = std::get_if<QueryError>(&parsed)) {
    log::refusal("bridge: refused a request: argument \"" + error->key + "\": " + error->reason);
    request->setResponse(answerForPage(HTTPStatus::bad_request));
    return;
  }
  BridgeQuery& query = std::get<BridgeQuery>(parsed);
  removeQueryToken(query);
  BridgeCall call{std::make_shared<const json::Object>(std::move(query.values)),
                  std::make_shared<const ArgumentTexts>(std::move(query.texts))};
  if (!CommandDispatcher::isSynchronous(call)) {
    request->setResponse(answerForPage(dispatcher_.dispatch(call)));
    return;
  }
  // A synchronous operation may wait (for a database, say): it runs off this
  // thread, after the connection's earlier synchronous calls.
  auto executor = std::static_pointer_cast<SerialExecutor>(connection.delegateData());
  if (!executor) {
    executor = std::make_shared<SerialExecutor>(*commandDispatchQueue_);
    connection.setDelegateData(executor);
  }
  executor->post([this, request, call = std::move(call), hold = calls_.begin()] {
    request->setResponse(answerForPage(dispatcher_.dispatch(call)));
  });
}

}  // namespace tavero::bridge
