#pragma once
#include <functional>
#include <string>

namespace tcm {

// Opens a fifo (or any existing file) for writing, as a capture's reader
// expects: for a fifo this waits until the reader has opened its end, looking
// at `stop` every few milliseconds meanwhile (a stop signal does not interrupt
// the wait by itself). Returns the descriptor (blocking), -EINTR when `stop`
// said so first, or -errno.
int OpenPipeForWriting(const std::string& path, const std::function<bool()>& stop);

// True once the reading end of the pipe or fifo `fd` is closed, which a writer
// otherwise learns only from its next write (EPIPE).
bool IsPipeReaderGone(int fd);

void CloseDescriptor(int fd);

} // namespace tcm
