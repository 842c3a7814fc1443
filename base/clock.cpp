#include "base/clock.h"

#include <cstdlib>
#include <ctime>
#include <mutex>

#include "base/text.h"

namespace {

std::mutex clockMutex;
std::string pinnedToday;  // 8 digits, or empty for the system clock

}  // namespace

std::string TodayDigits() {
  {
    std::lock_guard<std::mutex> lock(clockMutex);
    if (!pinnedToday.empty()) return pinnedToday;
  }
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return ZeroPad(local.tm_year + 1900, 4) + ZeroPad(local.tm_mon + 1, 2) + ZeroPad(local.tm_mday, 2);
}

int CurrentYear() {
  const std::string today = TodayDigits();
  return std::atoi(today.substr(0, 4).c_str());
}

void SetClockForTesting(const std::string& yyyymmdd) {
  std::lock_guard<std::mutex> lock(clockMutex);
  if (yyyymmdd.size() == 8 && !IsAllChar(yyyymmdd, ' ')) {
    pinnedToday = yyyymmdd;
  } else {
    pinnedToday.clear();
  }
}
