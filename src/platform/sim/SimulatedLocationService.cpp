#include "platform/sim/SimulatedLocationService.h"

namespace tavero::platform {
namespace {

double secondsSince1970() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

SimulatedLocationService::SimulatedLocationService(WallClock clock)
    : clock_(clock ? std::move(clock) : WallClock(secondsSince1970)) {
  reporter_ = std::thread([this] { reporterLoop(); });
}

SimulatedLocationService::~SimulatedLocationService() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  reporter_.join();
}

bool SimulatedLocationService::locationServicesEnabled() const {
  std::lock_guard lock(mutex_);
  return enabled_;
}

void SimulatedLocationService::setDesiredAccuracy(LocationAccuracy accuracy) {
  std::lock_guard lock(mutex_);
  accuracy_ = accuracy;
}

void SimulatedLocationService::setDelegate(Delegate delegate) {
  std::lock_guard lock(delegateMutex_);
  delegate_ = std::move(delegate);
}

void SimulatedLocationService::startUpdatingLocation() {
  {
    std::lock_guard lock(mutex_);
    if (updating_) return;
    updating_ = true;
    reportDue_ = position_.has_value();
  }
  wake_.notify_all();
}

void SimulatedLocationService::stopUpdatingLocation() {
  std::lock_guard lock(mutex_);
  updating_ = false;
  reportDue_ = false;
}

void SimulatedLocationService::setEnabled(bool enabled) {
  std::lock_guard lock(mutex_);
  enabled_ = enabled;
  // A service switched off stops reporting, as the system's would.
  if (!enabled) updating_ = false;
}

void SimulatedLocationService::setFix(const LocationFix& fix) {
  {
    std::lock_guard lock(mutex_);
    track_.clear();
    nextTrackPoint_ = 0;
    position_ = fix;
    reportDue_ = updating_;
  }
  wake_.notify_all();
}

void SimulatedLocationService::playTrack(LocationTrack track) {
  {
    std::lock_guard lock(mutex_);
    track_ = std::move(track);
    nextTrackPoint_ = 0;
    trackStart_ = SteadyClock::now();
  }
  wake_.notify_all();
}

SimulatedLocationService::Status SimulatedLocationService::status() const {
  std::lock_guard lock(mutex_);
  return Status{enabled_, updating_, accuracy_, position_, track_.size() - nextTrackPoint_};
}

void SimulatedLocationService::reporterLoop() {
  std::unique_lock lock(mutex_);
  auto nextPointDue = [this] {
    return trackStart_ + std::chrono::duration_cast<SteadyClock::duration>(
                             std::chrono::duration<double>(track_[nextTrackPoint_].offset));
  };
  while (!stopping_) {
    if (nextTrackPoint_ < track_.size() && SteadyClock::now() >= nextPointDue()) {
      position_ = track_[nextTrackPoint_].fix;
      if (++nextTrackPoint_ == track_.size()) {
        track_.clear();
        nextTrackPoint_ = 0;
      }
      reportDue_ = updating_;
    }
    if (reportDue_ && updating_ && position_) {
      reportDue_ = false;
      LocationFix fix = *position_;
      fix.timestamp = clock_();
      lock.unlock();
      deliver(fix);
      lock.lock();
      continue;
    }
    reportDue_ = false;
    if (nextTrackPoint_ < track_.size()) {
      wake_.wait_until(lock, nextPointDue());
    } else {
      wake_.wait(lock);
    }
  }
}

void SimulatedLocationService::deliver(const LocationFix& fix) {
  std::lock_guard lock(delegateMutex_);
  if (delegate_) delegate_(fix);
}

}  // namespace tavero::platform
