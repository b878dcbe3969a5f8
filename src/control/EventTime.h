// When a recorded event happened, as the control interface shows it.
#pragma once

#include <chrono>
#include <string>

namespace tavero::control {

// UTC with milliseconds: "2024-05-01T09:30:00.125Z". Any thread.
std::string eventTimeText(std::chrono::system_clock::time_point time);

}  // namespace tavero::control
