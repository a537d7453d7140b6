#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace tcm {
class TPseudoTerminal;
}

// The simulator's output in whole units: a unit is one packet (with the garbage
// bytes before it), or the bytes of one SendRaw call. Whatever the link drops
// is dropped in whole units, so the stream never holds a piece of a packet
// followed by the start of another one, which would corrupt a frame.

// Echoes and injected bytes waiting for the link, oldest first, bounded in bytes.
class TSimOutputQueue {
public:
    explicit TSimOutputQueue(size_t maxBytes) : MaxBytes(maxBytes) {}

    // Queues one unit; false, with nothing queued, when it does not fit whole.
    bool Push(const uint8_t* bytes, size_t size);
    bool Empty() const { return Units.empty(); }
    size_t FrontSize() const { return Units.front().size(); }
    std::vector<uint8_t> Pop();
    void Clear();

private:
    size_t MaxBytes;
    size_t Bytes = 0;
    std::deque<std::vector<uint8_t>> Units;
};

// The bytes of one write call and where each unit in it ends. After a write
// that stopped part-way, Settle counts what went out whole; the rest of the unit
// the write cut stays as the carry, which the next batch starts with; the units
// after it are dropped.
class TSimBatch {
public:
    enum class TKind { Frame, Queued }; // a generated frame; an echo or injection

    struct TSettled {
        uint64_t FramesWritten = 0; // generated frames that went out whole
        uint64_t FramesDropped = 0; // generated frames dropped whole
        uint64_t QueuedDropped = 0; // bytes of echoes and injections dropped whole
    };

    // Empties the batch and starts it with the carry, if any.
    void Begin();
    void Add(const std::vector<uint8_t>& bytes, TKind kind);
    const uint8_t* Data() const { return Bytes.data(); }
    size_t Size() const { return Bytes.size(); }
    bool Empty() const { return Bytes.empty(); }
    // Accounts for a write that took the first `written` bytes of the batch.
    TSettled Settle(size_t written);

private:
    struct TUnit {
        size_t End;
        TKind Kind;
    };
    std::vector<uint8_t> Bytes;
    std::vector<TUnit> Units;
    std::vector<uint8_t> Carry;
    TKind CarryKind = TKind::Queued;
    bool StartsWithCarry = false;
};

// Writes `size` bytes within `timeoutMs`, as TPseudoTerminal::Write, but also
// tells how many went out before a failure. 0 or an errno value.
int WriteCounted(tcm::TPseudoTerminal& pty, const uint8_t* data, size_t size, int timeoutMs, size_t& written);
