#pragma once
#include <string>

#include "ToolOptions.h"

struct TCaptureOptions {
    TChannelOptions Channel;
    std::string Fifo;
};

// Opens the channel, then streams every frame of its trace (received and
// sent) into the fifo as pcap with link type 227, until the reader closes the
// fifo or a stop signal comes; then closes the channel. Returns the exit code:
// 0 after a normal end, 1 when the channel or the fifo cannot be opened or
// the port is lost (the reason on stderr, where Wireshark shows it).
int RunCapture(const TCaptureOptions& options);
