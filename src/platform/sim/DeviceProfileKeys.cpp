#include "platform/sim/DeviceProfileKeys.h"

#include <algorithm>

#include "base/AsciiText.h"

namespace tavero::platform {

const std::vector<DeviceProfileKey>& knownDeviceProfileKeys() {
  // One line per key or section, in alphabetical order.
  static const std::vector<DeviceProfileKey> keys = {
      {"camera", {{"device"}, {"picture"}, {"source"}}},
      {"contacts", {{"access"}, {"folder"}, {"source"}}},
      {"genericModel"},
      {"idiom"},
      {"location",
       {{"accuracy"}, {"altitude"}, {"altitudeAccuracy"}, {"course"}, {"enabled"}, {"latitude"}, {"longitude"},
        {"speed"}, {"track"}}},
      {"macAddress"},
      {"modelCode"},
      {"motion", {{"acceleration"}, {"attitude"}, {"gyroscope"}, {"rotationRate"}, {"trace"}}},
      {"name"},
      {"network"},
      {"notifications"},
      {"push", {{"failure"}, {"source"}, {"token"}}},
      {"store", {{"canMakePayments"}, {"failureMessage"}, {"policy"}, {"productRequestFailure"},
                 {"products", {{"description"}, {"identifier"}, {"price"}, {"priceLocale"}, {"title"}}}}},
      {"systemVersion"},
  };
  return keys;
}

namespace {

// Edits that turn `a` into `b`: inserting, deleting or replacing a letter,
// or swapping two neighbours; case is ignored.
size_t editDistance(std::string_view a, std::string_view b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t replace = d[i - 1][j - 1] + (base::asciiLower(a[i - 1]) == base::asciiLower(b[j - 1]) ? 0 : 1);
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, replace});
      if (i > 1 && j > 1 && base::asciiLower(a[i - 1]) == base::asciiLower(b[j - 2]) &&
          base::asciiLower(a[i - 2]) == base::asciiLower(b[j - 1])) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

// The known key closest to `key`, when it is close enough to be a slip.
std::string suggestionFor(std::string_view key, const std::vector<DeviceProfileKey>& known) {
  constexpr size_t kLongestKeyCompared = 64;  // keeps the comparison cheap for absurd keys
  if (key.size() > kLongestKeyCompared) return {};
  size_t allowed = std::max<size_t>(1, std::min<size_t>(2, key.size() / 3));
  std::string_view best;
  size_t bestDistance = allowed + 1;
  for (const auto& candidate : known) {
    if (candidate.name == "*") continue;
    size_t distance = editDistance(key, candidate.name);
    if (distance < bestDistance) {
      best = candidate.name;
      bestDistance = distance;
    }
  }
  return std::string(best);
}

const DeviceProfileKey* findKey(std::string_view name, const std::vector<DeviceProfileKey>& known) {
  const DeviceProfileKey* wildcard = nullptr;
  for (const auto& key : known) {
    if (key.name == name) return &key;
    if (key.name == "*") wildcard = &key;
  }
  return wildcard;
}

void collectUnknown(const json::Object& object, const std::vector<DeviceProfileKey>& known,
                    const std::string& prefix, std::vector<UnknownDeviceProfileKey>& unknown);

void collectUnknownInside(const json::Value& value, const DeviceProfileKey& key, const std::string& path,
                          std::vector<UnknownDeviceProfileKey>& unknown) {
  if (key.keys.empty()) return;
  if (const json::Object* section = value.ifObject()) {
    collectUnknown(*section, key.keys, path + ".", unknown);
  } else if (const json::Array* items = value.ifArray()) {
    for (size_t i = 0; i < items->size(); ++i) {
      if (const json::Object* item = (*items)[i].ifObject()) {
        collectUnknown(*item, key.keys, path + "[" + std::to_string(i) + "].", unknown);
      }
    }
  }
}

void collectUnknown(const json::Object& object, const std::vector<DeviceProfileKey>& known,
                    const std::string& prefix, std::vector<UnknownDeviceProfileKey>& unknown) {
  for (const auto& member : object) {
    std::string path = prefix + member.key;
    if (const DeviceProfileKey* key = findKey(member.key, known)) {
      collectUnknownInside(member.value, *key, path, unknown);
    } else {
      std::string suggestion = suggestionFor(member.key, known);
      unknown.push_back({path, suggestion.empty() ? suggestion : prefix + suggestion});
    }
  }
}

}  // namespace

std::vector<UnknownDeviceProfileKey> unknownDeviceProfileKeys(const json::Object& profile,
                                                              const std::vector<DeviceProfileKey>& known) {
  std::vector<UnknownDeviceProfileKey> unknown;
  collectUnknown(profile, known, "", unknown);
  return unknown;
}

}  // namespace tavero::platform
