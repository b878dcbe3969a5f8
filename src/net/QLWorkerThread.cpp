#include "net/QLWorkerThread.h"

#include <exception>
#include <string>

#include "log/Log.h"

namespace tavero::net {

QLWorkerThread::QLWorkerThread()
    : keepRunning_(boost::asio::make_work_guard(io_)), thread_([this] { workerLoop(); }) {}

QLWorkerThread::~QLWorkerThread() {
  keepRunning_.reset();
  io_.stop();
  if (thread_.joinable()) thread_.join();
}

void QLWorkerThread::workerLoop() {
  // A handler that throws must not take the bridge down: log it and go on.
  while (!io_.stopped()) {
    try {
      io_.run();
    } catch (const std::exception& e) {
      log::error(std::string("worker thread: unexpected exception: ") + e.what());
    }
  }
}

}  // namespace tavero::net
