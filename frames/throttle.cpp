// The processor-load throttle.
#include "frames/throttle.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace zqr::frames {

int32_t ThrottleMilliseconds(int32_t cpu_usage) {
  return 10 * (100 - std::clamp(cpu_usage, 0, 100));
}

void Throttle(int32_t cpu_limit_on, int32_t cpu_usage, SleepFunction sleep) {
  if (cpu_limit_on != 1 || sleep == nullptr) return;
  sleep(ThrottleMilliseconds(cpu_usage));
}

void SleepMilliseconds(int32_t milliseconds) {
  if (milliseconds <= 0) {
    std::this_thread::yield();
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
}

}  // namespace zqr::frames
