#include "platform/linux/LinuxDeviceInfo.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <iterator>
#include <vector>

#include "base/AsciiText.h"
#include "base/FileRead.h"
#include "log/Log.h"

namespace tavero::platform {
namespace {

constexpr std::string_view whiteSpace = " \t\r\n\v\f";

namespace fs = std::filesystem;


// The lines of `text`, without their line feeds.
std::vector<std::string_view> lines(std::string_view text) {
  std::vector<std::string_view> result;
  while (!text.empty()) {
    size_t end = text.find('\n');
    result.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return result;
}

// The white-space separated fields of one line.
std::vector<std::string_view> fields(std::string_view line) {
  std::vector<std::string_view> result;
  for (;;) {
    size_t start = line.find_first_not_of(whiteSpace);
    if (start == std::string_view::npos) return result;
    line.remove_prefix(start);
    size_t end = line.find_first_of(whiteSpace);
    result.push_back(line.substr(0, end));
    if (end == std::string_view::npos) return result;
    line.remove_prefix(end);
  }
}

template <class Number>
std::optional<Number> parseDecimal(std::string_view text) {
  Number number{};
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return number;
}

// One shell word as os-release writes values: runs of "double-quoted" (where
// a backslash escapes $ " \ and `), 'single-quoted' and bare characters,
// ended by unquoted white space. nullopt when a quote is not closed.
std::optional<std::string> shellWord(std::string_view raw) {
  std::string word;
  size_t i = 0;
  while (i < raw.size() && whiteSpace.find(raw[i]) == std::string_view::npos) {
    char c = raw[i++];
    if (c == '"') {
      while (i < raw.size() && raw[i] != '"') {
        if (raw[i] == '\\' && i + 1 < raw.size() && std::strchr("$\"\\`", raw[i + 1]) != nullptr) ++i;
        word += raw[i++];
      }
      if (i == raw.size()) return std::nullopt;
      ++i;
    } else if (c == '\'') {
      size_t close = raw.find('\'', i);
      if (close == std::string_view::npos) return std::nullopt;
      word += raw.substr(i, close - i);
      i = close + 1;
    } else if (c == '\\' && i < raw.size()) {
      word += raw[i++];
    } else {
      word += c;
    }
  }
  return word;
}

std::string hostName() {
  char buffer[HOST_NAME_MAX + 1] = {};
  if (::gethostname(buffer, sizeof buffer - 1) != 0 || buffer[0] == '\0') return "localhost";
  return buffer;
}

// VERSION_ID of the os-release file (/etc first; /usr/lib only when /etc
// has none), or nullopt when it is missing or empty.
std::optional<std::string> osVersionId() {
  auto text = base::readFileText("/etc/os-release");
  if (!text) text = base::readFileText("/usr/lib/os-release");
  if (!text) return std::nullopt;
  auto version = osReleaseValue(*text, "VERSION_ID");
  if (!version || version->empty()) return std::nullopt;
  return version;
}

}  // namespace

DeviceInfo readLinuxDeviceInfo() {
  DeviceInfo device;
  device.name = hostName();
  struct utsname system {};
  bool haveUname = ::uname(&system) == 0;
  if (haveUname) device.modelCode = system.machine;
  device.genericModel =
      genericModelForChassisType(base::readFileText("/sys/class/dmi/id/chassis_type").value_or(""));
  auto version = osVersionId();
  if (version) {
    device.systemVersion = std::move(*version);
  } else if (haveUname) {
    device.systemVersion = system.release;
  }
  device.macAddress =
      primaryMacAddress("/sys/class/net", base::readFileText("/proc/net/route").value_or(""));
  if (!device.macAddress) {
    log::warning("no network interface with a hardware address: the device has no unique identifier");
  }
  return device;
}

std::string genericModelForChassisType(std::string_view chassisTypeText) {
  auto code = parseDecimal<int>(base::trimAsciiWhiteSpace(chassisTypeText));
  if (!code) return "Linux device";
  switch (*code) {
    case 3: case 4: case 5: case 6: case 7: case 15: case 16: case 24: case 35:
      return "Linux desktop";
    case 8: case 9: case 10: case 14:
      return "Linux laptop";
    case 30: case 31: case 32:
      return "Linux tablet";
    case 17: case 23: case 28: case 29:
      return "Linux server";
    default:
      return "Linux device";
  }
}

std::optional<std::string> osReleaseValue(std::string_view fileText, std::string_view key) {
  std::optional<std::string> value;
  for (std::string_view line : lines(fileText)) {
    line = base::trimAsciiWhiteSpace(line);
    if (line.empty() || line.front() == '#') continue;
    size_t equals = line.find('=');
    if (equals == std::string_view::npos || line.substr(0, equals) != key) continue;
    value = shellWord(line.substr(equals + 1));
  }
  return value;
}

std::optional<std::string> defaultRouteInterface(std::string_view procNetRoute) {
  // Columns: Iface Destination Gateway Flags RefCnt Use Metric Mask ...
  // The header row never matches, since its Destination is "Destination".
  std::optional<std::string> best;
  unsigned long bestMetric = 0;
  for (std::string_view line : lines(procNetRoute)) {
    auto row = fields(line);
    if (row.size() < 8 || row[1] != "00000000" || row[7] != "00000000") continue;
    auto metric = parseDecimal<unsigned long>(row[6]);
    if (!metric) continue;
    if (!best || *metric < bestMetric) {
      best = std::string(row[0]);
      bestMetric = *metric;
    }
  }
  return best;
}

std::optional<MacAddress> interfaceMacAddress(const fs::path& sysClassNet, std::string_view name) {
  // The name may come from the route table; never let it leave the folder.
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos) {
    return std::nullopt;
  }
  fs::path interface = sysClassNet / name;
  auto type = base::readFileText(interface / "type");
  if (!type || base::trimAsciiWhiteSpace(*type) != "1") return std::nullopt;  // ARPHRD_ETHER
  auto address = base::readFileText(interface / "address");
  if (!address) return std::nullopt;
  return parseMacAddress(*address);
}

std::optional<MacAddress> primaryMacAddress(const fs::path& sysClassNet, std::string_view procNetRoute) {
  if (auto routed = defaultRouteInterface(procNetRoute)) {
    if (auto address = interfaceMacAddress(sysClassNet, *routed)) return address;
  }
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(sysClassNet, error), end; !error && it != end; it.increment(error)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  // Hardware interfaces (those with a device entry) before virtual ones such
  // as docker0 or bridges, so the identifier stays the same whether or not
  // the machine is online.
  for (bool hardware : {true, false}) {
    for (const std::string& name : names) {
      if (name == "lo" || fs::exists(sysClassNet / name / "device", error) != hardware) continue;
      if (auto address = interfaceMacAddress(sysClassNet, name)) return address;
    }
  }
  return std::nullopt;
}

}  // namespace tavero::platform
