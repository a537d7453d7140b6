#pragma once
#include <cstddef>

namespace tcm {

// Writes all `size` bytes of `data` to `fd`. Retries after a signal (EINTR)
// and, on a non-blocking descriptor, waits for room: at most `timeoutMs` in
// all, or for as long as it takes when it is negative. Returns 0, ETIMEDOUT
// when time ran out before the last byte was taken, or the errno value of the
// failure (EIO when the system named none). `written`, when given, tells how
// many bytes were taken either way.
int WriteAll(int fd, const void* data, size_t size, int timeoutMs = -1, size_t* written = nullptr);

} // namespace tcm
