#pragma once
#include <cstdint>
#include <termios.h>

// Poll-based reading and writing on a non-blocking descriptor, shared by the
// serial port and the pseudo-terminal. Internal to src/platform.
namespace tcm::fdio {

// Waits at most `timeoutMs` (negative: without limit) for input, then reads
// what is waiting, up to `size` bytes. Returns the byte count, 0 when nothing
// came in time, or -errno. A far side that is gone (POLLHUP or POLLERR without
// data, end of file after poll reported input) gives a negative value, -EIO
// when the system named no better error, never 0. When `wakeFd` (>= 0)
// becomes readable first, returns 0 at once without clearing it; `woken`
// (when given) tells whether it was readable, also beside input.
int ReadWaiting(int fd, uint8_t* buffer, int size, int timeoutMs, int wakeFd = -1, bool* woken = nullptr);

// Changes terminal settings to raw 8-bit mode: no input or output processing,
// no echo, no signals, no flow control of any kind, CLOCAL and CREAD; a read call
// returns as soon as one byte is there (VMIN 1, VTIME 0). With O_NONBLOCK an
// empty read then fails with EAGAIN, so a read returning 0 means end of file.
void SetRawMode(termios& tio);

// Puts a terminal into raw 8-bit mode: no input or output processing, no echo,
// no signals, no software flow control; a read call returns as soon as one byte
// is there. Returns 0 or errno.
int MakeRaw(int fd);

// Adds O_NONBLOCK to the descriptor's status flags. Returns 0 or errno.
int SetNonBlocking(int fd);

} // namespace tcm::fdio
