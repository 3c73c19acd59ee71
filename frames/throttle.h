// The processor-load throttle: the thread that runs the filter chain sleeps a little per
// frame, which slows the whole frame flow and so the processor load.
#pragma once

#include <cstdint>

namespace zqr::frames {

// Milliseconds to sleep per frame for a CPU usage in percent: 10 x (100 - usage), the
// usage taken within 0..100 (0 ms at 100 %, 500 ms at 50 %, 1000 ms at 0).
int32_t ThrottleMilliseconds(int32_t cpu_usage);

// Sleeps through `sleep` when the throttle is on; a sleep of 0 ms means giving up the
// rest of the time slice. Tests pass their own function instead of a real sleep.
using SleepFunction = void (*)(int32_t milliseconds);
void Throttle(int32_t cpu_limit_on, int32_t cpu_usage, SleepFunction sleep);

// The real sleep: std::this_thread::sleep_for, or a yield for 0 ms.
void SleepMilliseconds(int32_t milliseconds);

}  // namespace zqr::frames
