// Motion readings into a page at 50 Hz, in the real web view: the motion
// module on the simulated sensors, the engine's delivery, the page's
// callback. The page acknowledges each reading with an asynchronous bridge
// call; a reading's latency is from its sample to that acknowledgement, and
// the acknowledgement alone is timed afterwards (a mean, as the page's clock
// has whole milliseconds only). The backlog is the number of readings not
// yet acknowledged when the next sample is taken.
//
//   motion_delivery [SECONDS]    (default 60; an idle phase of a sixth of it runs first)
#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "modules/TQMotion.h"
#include "BenchLine.h"
#include "PageBench.h"
#include "platform/sim/SimulatedMotionService.h"

using namespace tavero;
using bench::Clock;
using bench::median;

namespace {

// Samples as the page will see them: each accelerometer sample's time is
// noted before the module turns it into a reading.
class TimedMotion : public platform::MotionService {
 public:
  explicit TimedMotion(platform::MotionService& inner) : inner_(inner) {}
  bool isGyroAvailable() const override { return inner_.isGyroAvailable(); }
  std::unique_ptr<platform::Subscription> startAccelerometerUpdates(
      Interval interval, std::function<void(const platform::MotionVector&)> handler) override {
    return inner_.startAccelerometerUpdates(interval, [this, handler](const platform::MotionVector& v) {
      noteSample();
      handler(v);
    });
  }
  std::unique_ptr<platform::Subscription> startGyroUpdates(
      Interval interval, std::function<void(const platform::MotionVector&)> handler) override {
    return inner_.startGyroUpdates(interval, std::move(handler));
  }
  std::unique_ptr<platform::Subscription> startDeviceMotionUpdates(
      Interval interval, std::function<void(const platform::Attitude&)> handler) override {
    return inner_.startDeviceMotionUpdates(interval, std::move(handler));
  }

  void noteSample() {
    std::lock_guard lock(mutex);
    if (recording) {
      backlog.push_back(static_cast<int>(samples.size()) - acknowledged);
      ++recordedSamples;
    }
    samples.push_back(Clock::now());
  }
  void noteAck(int n) {
    std::lock_guard lock(mutex);
    if (n > static_cast<int>(samples.size()) || n <= acknowledged) return;
    acknowledged = n;
    if (recording) ++recordedAcks;
    if (recording) latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - samples[n - 1]).count());
  }

  std::mutex mutex;  // guards the fields below
  bool recording = false;
  std::vector<Clock::time_point> samples;
  std::vector<double> latencies;  // ms, per acknowledged reading
  std::vector<int> backlog;       // per sample
  int acknowledged = 0;            // readings the page acknowledged, in order
  int recordedSamples = 0;
  int recordedAcks = 0;

 private:
  platform::MotionService& inner_;
};

class TQBench : public bridge::TQW3CAction, public bench::ProbeState {
 public:
  explicit TQBench(TimedMotion& motion) {
    addOperation("ready", [this](bridge::Invocation& call) { update([&] { control = call.integer("callback"); }); });
    addOperation("ack", [&motion](bridge::Invocation& call) { motion.noteAck(call.integer("n")); });
    addOperation("ping", [](bridge::Invocation&) {});
    addOperation("pingMean", [this](bridge::Invocation& call) {
      update([&] { pingMeanMs = std::atof(std::string(call.text("ms")).c_str()); });
    });
  }
  int control = 0;
  double pingMeanMs = -1;
};

// CPU seconds (user + system) of this process and of its child processes
// (the web view's web and network processes).
double processSeconds(const std::string& statPath) {
  std::ifstream in(statPath);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct CpuTimes {
  double shell = 0;
  double children = 0;
};

CpuTimes cpuTimes() {
  CpuTimes times;
  times.shell = processSeconds("/proc/self/stat");
  std::string self = std::to_string(::getpid());
  if (DIR* proc = opendir("/proc")) {
    while (dirent* entry = readdir(proc)) {
      std::string pid = entry->d_name;
      if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self) continue;
      std::ifstream status("/proc/" + pid + "/status");
      std::string line;
      while (std::getline(status, line)) {
        if (line.rfind("PPid:", 0) == 0) {
          if (std::stoi(line.substr(5)) == ::getpid()) times.children += processSeconds("/proc/" + pid + "/stat");
          break;
        }
      }
    }
    closedir(proc);
  }
  return times;
}

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())))];
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = argc > 1 ? std::max(6, std::atoi(argv[1])) : 60;
  std::unique_ptr<platform::XvfbDisplay> xvfb;
  if (!bench::prepareDisplay(xvfb)) return 1;

  platform::SimulatedMotionService sensors;
  TimedMotion motion(sensors);
  auto settings = bench::pageBenchSettings("motion-app", std::filesystem::temp_directory_path() / "tavero-motion-bench");
  settings.controlSocket = false;
  settings.extraModules = [&](bridge::ModuleRegistry& modules, bridge::CallbackDelivery& callbacks) {
    modules.add("TQBenchMotion", [&] { return std::make_unique<modules::TQMotion>(callbacks, motion); });
  };
  TQBench* bench = nullptr;
  bench::addProbe<TQBench>(settings, bench, [&](bridge::CallbackDelivery&) { return std::make_unique<TQBench>(motion); });
  app::ShellApplication shell(std::move(settings));
  if (!bench::launchWithProbe(shell)) return 1;

  CpuTimes idleStart, idleEnd, runStart, runEnd;
  auto idle = std::chrono::seconds(seconds / 6);
  auto run = std::chrono::seconds(seconds);
  std::thread measure([&] {
    bench->waitFor([&] { return bench->control != 0; });
    idleStart = cpuTimes();
    std::this_thread::sleep_for(idle);  // the baseline: the page open, nothing delivered
    idleEnd = cpuTimes();
    shell.engine().invokeCallback(bench->control, json::Value("start"));
    std::this_thread::sleep_for(std::chrono::seconds(1));  // the watch starts, the page warms up
    {
      std::lock_guard lock(motion.mutex);
      motion.recording = true;
    }
    runStart = cpuTimes();
    std::this_thread::sleep_for(run);
    runEnd = cpuTimes();
    {
      std::lock_guard lock(motion.mutex);
      motion.recording = false;
    }
    shell.engine().invokeCallback(bench->control, json::Value("ping"));
    bench->waitFor([&] { return bench->pingMeanMs >= 0; });
    shell.mainThread().quit();
  });
  shell.mainThread().run();
  measure.join();
  shell.terminate();

  std::lock_guard lock(motion.mutex);
  if (motion.latencies.empty()) return std::fprintf(stderr, "no reading reached the page\n"), 1;
  double runSeconds = std::chrono::duration<double>(run).count();
  double idleSeconds = std::chrono::duration<double>(idle).count();
  int maxBacklog = *std::max_element(motion.backlog.begin(), motion.backlog.end());
  long behind = std::count_if(motion.backlog.begin(), motion.backlog.end(), [](int b) { return b > 0; });
  double median = percentile(motion.latencies, 0.5);
  double shellCpu = 100 * (runEnd.shell - runStart.shell) / runSeconds;
  double shellIdleCpu = 100 * (idleEnd.shell - idleStart.shell) / idleSeconds;
  double webCpu = 100 * (runEnd.children - runStart.children) / runSeconds;
  double webIdleCpu = 100 * (idleEnd.children - idleStart.children) / idleSeconds;
  std::printf("run: %.0f s at 50 Hz (idle baseline %.0f s before it)\n", runSeconds, idleSeconds);
  std::printf("samples: %d, readings acknowledged by the page: %d\n", motion.recordedSamples, motion.recordedAcks);
  std::printf("deliveries per second: %.2f\n", motion.recordedAcks / runSeconds);
  std::printf("sample -> page -> acknowledgement: median %.3f ms, p99 %.3f ms, max %.3f ms\n", median,
              percentile(motion.latencies, 0.99), percentile(motion.latencies, 1.0));
  std::printf("acknowledgement alone (mean, timed in the page): %.3f ms\n", bench->pingMeanMs);
  std::printf("delivery estimate (median less acknowledgement): %.3f ms\n", median - bench->pingMeanMs);
  std::printf("backlog: max %d reading(s) unacknowledged at a sample; samples with a backlog: %ld\n", maxBacklog, behind);
  std::printf("shell CPU: %.2f%% (idle %.2f%%, ratio %.1fx)\n", shellCpu, shellIdleCpu,
              shellIdleCpu > 0 ? shellCpu / shellIdleCpu : 0.0);
  std::printf("web view processes CPU: %.2f%% (idle %.2f%%)\n", webCpu, webIdleCpu);
  bench::printBenchLine("motion_delivery", median, "ms", "page_sync_ack", bench->pingMeanMs);
  bench::printBenchLine("motion_shell_cpu", shellCpu, "%", "shell_idle_cpu", shellIdleCpu);
  return 0;
}
