#pragma once
// Runs a device's event wait on a thread of its own, so a test can watch it from outside.
#include <cstdint>
#include <future>

#include "tty/SerialDevice.h"

namespace testsupport {

struct TWaitResult {
  int Error;
  uint32_t Mask;
};

inline std::future<TWaitResult> StartWait(TSerialDevice &device) {
  return std::async(std::launch::async, [&device] {
    uint32_t mask = 0;
    const int error = device.WaitCommEvent(mask);
    return TWaitResult{error, mask};
  });
}

} // namespace testsupport
