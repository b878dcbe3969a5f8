#include "bridge/QLTaveroBridge.h"

#include <boost/beast/http/field.hpp>
#include <exception>
#include <string>
#include <variant>

#include "bridge/BridgeQuery.h"
#include "json/JsonCodec.h"
#include "log/Log.h"

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

std::string className(std::string_view classPart) {
  if (classPart.starts_with("TQ")) return std::string(classPart);
  return "TQ" + std::string(classPart);
}

}  // namespace

QLTaveroBridge::QLTaveroBridge(ModuleRegistry& modules, uint16_t port)
    : QLTaveroBridge(std::make_unique<net::QLWorkerThread>(), modules, port) {}

QLTaveroBridge::QLTaveroBridge(std::unique_ptr<net::QLWorkerThread> worker, ModuleRegistry& modules,
                               uint16_t port)
    : HTTPServer(worker->context()), worker_(std::move(worker)), modules_(modules) {
  setConnectionDelegate(this);
  setPort(port);
  if (auto ec = startServer())
    log::error("bridge: cannot listen on port " + std::to_string(port) + ": " + ec.message());
}

QLTaveroBridge::~QLTaveroBridge() {
  worker_->performAndWait([this] {
    stop();
    closeAllConnections();
    setConnectionDelegate(nullptr);
  });
}

std::error_code QLTaveroBridge::startServer() {
  return worker_->performAndWait([this] { return start(); });
}

void QLTaveroBridge::stopServer() {
  worker_->performAndWait([this] { stop(); });
}

void QLTaveroBridge::restartServer() {
  stopServer();
  if (auto ec = startServer()) log::error("bridge: cannot listen again: " + ec.message());
}

void QLTaveroBridge::setPeerVerifier(std::unique_ptr<PeerVerifier> verifier) {
  worker_->performAndWait([&] { peerVerifier_ = std::move(verifier); });
}

bool QLTaveroBridge::isShellConnection(net::HTTPConnection& connection) {
  if (!peerVerifier_) return true;
  if (auto verdict = connection.peerVerdict()) return *verdict;
  auto peer = connection.peerAddress();
  auto local = connection.localAddress();
  bool allowed = peer && local && peerVerifier_->isShellPeer(*peer, *local);
  if (!allowed)
    log::warning("bridge: refused a connection from " + (peer ? peer->address().to_string() + ":" +
                                                                    std::to_string(peer->port())
                                                              : std::string("an unknown peer")) +
                 ": it does not come from the shell's web views");
  connection.setPeerVerdict(allowed);
  return allowed;
}

void QLTaveroBridge::didReceiveRequest(net::HTTPConnection& connection,
                                       const std::shared_ptr<net::HTTPServerRequest>& request) {
  HTTPResponseMessage response;
  try {
    response = dispatch(connection, request->request());
  } catch (const std::exception& e) {
    log::error(std::string("bridge: command failed with an unexpected exception: ") + e.what());
    response = answerForPage(HTTPStatus::internal_server_error);
  }
  request->setResponse(std::move(response));
}

HTTPResponseMessage QLTaveroBridge::dispatch(net::HTTPConnection& connection,
                                             const net::HTTPRequestMessage& request) {
  if (request.method_string() != "GET") return net::makeHTTPResponse(HTTPStatus::method_not_allowed);
  if (!isShellConnection(connection)) return net::makeHTTPResponse(HTTPStatus::forbidden);
  if (!BridgeAccessPolicy(port()).allows(request)) {
    log::warning("bridge: refused a request from outside the shell's pages (Origin \"" +
                 std::string(request[http::field::origin]) + "\", Host \"" +
                 std::string(request[http::field::host]) + "\")");
    return net::makeHTTPResponse(HTTPStatus::forbidden);
  }

  std::string_view target = request.target();
  size_t question = target.find('?');
  if (question == std::string_view::npos) return answerForPage(HTTPStatus::bad_request);
  auto parsed = parseBridgeQuery(target.substr(question + 1));
  if (auto* error = std::get_if<QueryError>(&parsed)) {
    log::warning("bridge: refused a request: argument \"" + error->key + "\": " + error->reason);
    return answerForPage(HTTPStatus::bad_request);
  }
  BridgeQuery& query = std::get<BridgeQuery>(parsed);
  return dispatchCommand(std::make_shared<const json::Object>(std::move(query.values)),
                         std::make_shared<const ArgumentTexts>(std::move(query.texts)));
}

HTTPResponseMessage QLTaveroBridge::dispatchCommand(Arguments arguments, std::shared_ptr<const ArgumentTexts> texts) {
  TQInvocation invocation(std::move(arguments), std::move(texts));
  const std::string command(invocation.text("command"));
  size_t hash = command.find('#');
  if (hash == std::string::npos) {
    log::warning("bridge: a request without a \"class#operation\" command");
    return answerForPage(HTTPStatus::bad_request);
  }
  std::string name = className(std::string_view(command).substr(0, hash));
  std::string_view operationName = std::string_view(command).substr(hash + 1);

  TQW3CAction* module = modules_.sharedInstance(name);
  const TQW3CAction::Operation* operation = module ? module->operation(operationName) : nullptr;
  if (!operation) {
    log::warning("bridge: unknown command \"" + command + "\"");
    return answerForPage(HTTPStatus::not_found);
  }

  module->setArguments(invocation.sharedArguments());
  module->setResult(std::nullopt);

  if (!invocation.flag("sync")) {
    commandDispatchQueue_.post([operation, queued = std::move(invocation)]() mutable { (*operation)(queued); });
    return answerForPage(HTTPStatus::ok);
  }

  (*operation)(invocation);
  module->setResult(invocation.result());
  std::string body;
  if (invocation.result()) body = json::JsonCodec::jsonStringForValue(*invocation.result());
  return answerForPage(HTTPStatus::ok, std::move(body));
}

}  // namespace tavero::bridge
