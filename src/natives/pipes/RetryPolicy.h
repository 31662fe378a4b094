#pragma once
// How long the pipe natives keep trying before they give up: a number of retries and the
// sleep before each. Waits of minutes in production; tests shorten them.

#include <cstdint>

namespace shipkit::natives {

struct RetryPolicy {
  int maxRetries = 0;
  std::uint32_t sleepMs = 0;

  // After the failureCount-th failed attempt (counting from 1): whether to sleep and try
  // again. The attempt after the last retry that fails too gives up.
  bool retryAfter(int failureCount) const { return failureCount <= maxRetries; }
};

struct PipeTimings {
  // The server waiting for a client: up to 600 retries 500 ms apart (about 300 s).
  RetryPolicy serverConnect{600, 500};
  // The client opening the pipe: up to 200 retries 500 ms apart, each after a short wait for
  // a free pipe instance; the first wait is long.
  RetryPolicy clientOpen{200, 500};
  std::uint32_t firstClientWaitMs = 300000;
  std::uint32_t laterClientWaitMs = 1000;
};

// The timings the pipe natives use, for the life of the process. Tests shorten them.
PipeTimings& pipeTimings();

}  // namespace shipkit::natives
