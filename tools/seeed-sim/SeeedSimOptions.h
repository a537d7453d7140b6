#pragma once
#include <cstdint>
#include <vector>

// Which identifier types the generated bus traffic uses.
enum class TSimIdKind {
    Standard, // 11-bit identifiers (a listed identifier above 0x7FF is still sent as extended)
    Extended, // 29-bit identifiers
    Mixed,    // alternating by identifier slot: even slots standard, odd slots extended
};

// How the simulated adapter behaves and what bus traffic it reports in normal mode.
struct TSeeedSimOptions {
    // Plays an adapter that never answers: no echo, no traffic. What the computer
    // sends is still recorded, and SendFrame/SendRaw still write.
    bool Silent = false;

    // Generated bus traffic in normal mode, frames per second; 0 for none.
    double FramesPerSecond = 0;
    // Identifiers to cycle through. When empty, IdCount distinct identifiers are
    // made up: standard 0x100, 0x101, ...; extended 0x18000000, 0x18000001, ...
    std::vector<uint32_t> Ids;
    int IdCount = 8;
    TSimIdKind IdKind = TSimIdKind::Standard;
    // Share of generated frames that are remote frames, 0..1.
    double RemoteShare = 0;
    // Data length code of generated frames (the wire always carries eight data bytes).
    int Length = 8;
    // Chance, 0..1, that a generated packet is preceded by a run of 1 to 8 random
    // garbage bytes. Garbage never contains 0xAA, so it cannot look like the start
    // of a packet and a receiver that resynchronises finds every frame.
    double GarbageShare = 0;

    // Link limit in baud at 10 bits per byte: 2,000,000 baud carries 200,000 bytes
    // per second, 10,000 packets. 0 for no limit. Applies to everything written:
    // generated traffic, echoes, injected frames and bytes.
    uint32_t Baud = 2000000;

    // Seed of the random choices (remote frames, garbage).
    uint32_t Seed = 1;

    // Keep the history of received settings, frames and bytes for later inspection.
    // A long-running program turns this off and uses the handlers instead.
    bool KeepHistory = true;
};
