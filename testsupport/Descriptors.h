#pragma once

#include <chrono>
#include <string>

// Writes, bounded waits and a count on file descriptors, for the pseudo-terminal peer, the child
// processes and the tests.

// The whole of bytes, resuming after a short or interrupted write; on a descriptor that does
// not block, waits up to a second each time it is full. False once a write fails.
bool WriteAll(int fd, const std::string& bytes);

// The events that came on fd (of events, or a hang-up or an error) by the deadline; 0 when none.
short PollUntil(int fd, short events, std::chrono::steady_clock::time_point deadline);

// The monotonic time ms from now.
inline std::chrono::steady_clock::time_point FromNow(int ms) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

// How many descriptors this process holds (the listing's own included): a leak shows as growth.
int OpenDescriptors();
