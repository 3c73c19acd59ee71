// The graph's event queue: the streaming thread posts, GetEvent takes the oldest event,
// waiting for one as long as its caller allows.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "platform/media.h"

namespace zqr::platform::ffmpeg {

class EventQueue {
 public:
  void Post(int32_t code) {
    {
      std::lock_guard lock(mutex_);
      events_.push_back(Event{code, 0, 0});
    }
    ready_.notify_all();
  }

  // Waits up to `timeout_ms` for an event (0: not at all, negative: without a limit).
  MediaStatus Take(int32_t* code, intptr_t* param1, intptr_t* param2, int32_t timeout_ms) {
    if (code == nullptr || param1 == nullptr || param2 == nullptr) {
      return MediaStatus::kInvalidArgument;
    }
    std::unique_lock lock(mutex_);
    const auto ready = [this] { return !events_.empty(); };
    if (timeout_ms < 0) {
      ready_.wait(lock, ready);
    } else if (timeout_ms > 0) {
      ready_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready);
    }
    if (events_.empty()) return MediaStatus::kNoEvent;
    const Event event = events_.front();
    events_.pop_front();
    *code = event.code;
    *param1 = event.param1;
    *param2 = event.param2;
    return MediaStatus::kOk;
  }

 private:
  struct Event {
    int32_t code;
    intptr_t param1;
    intptr_t param2;
  };

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Event> events_;
};

}  // namespace zqr::platform::ffmpeg
