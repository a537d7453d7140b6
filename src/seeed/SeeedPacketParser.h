#pragma once
#include <cstdint>
#include <functional>
#include <mutex>

#include "platform/Mutex.h"
#include "platform/Tick.h"
#include "core/CanGeneral.h"
#include "seeed/SeeedPacket.h"

// The last 20 bytes received, oldest first from Start once full.
class TSeeedPacketBuffer {
public:
    void Clear() { Start = Pos = Count = 0; }
    // Stores the byte; returns whether 20 bytes are now held.
    bool Put(uint8_t byte)
    {
        Ring[Pos] = byte;
        if (++Pos == kSeeedPacketSize)
            Pos = 0;
        if (Count < kSeeedPacketSize)
            ++Count;
        if (Count >= kSeeedPacketSize)
            Start = Pos;
        return Count >= kSeeedPacketSize;
    }
    bool IsFull() const { return Count >= kSeeedPacketSize; }
    // Byte `i` of the window, 0 being the oldest.
    uint8_t At(int i) const
    {
        const int index = Start + i;
        return Ring[index >= kSeeedPacketSize ? index - kSeeedPacketSize : index];
    }
    void CopyWindow(uint8_t* out) const;

private:
    uint8_t Ring[kSeeedPacketSize] = {};
    int32_t Start = 0;
    int32_t Pos = 0;
    int32_t Count = 0; // saturates at 20: only "full or not" matters
};

// Finds the adapter's packets in its byte stream and decodes frame packets.
// It tests the window of the last 20 bytes after every byte, so it falls back
// into step by itself after lost or corrupted bytes. Nothing is allocated while
// parsing.
class TSeeedPacketParser {
public:
    using THandler = std::function<void(const TCanFrame&)>;

    // Forgets any partial packet and the drop counts, and anchors the frame
    // clock anew. Called before the reading thread starts.
    void Reset()
    {
        Buffer.Clear();
        Clock.Anchor();
        Damaged = Skipped = 0;
    }

    // The bytes of one read, taken at `readUs` (Clock().NowUs() right after the
    // read). The bytes arrived one after the other on the link, so a packet that
    // ends k bytes before the end of the read is stamped k byte times earlier,
    // never earlier than the frame before it.
    void PutBytes(const uint8_t* bytes, int count, int64_t readUs)
    {
        for (int i = 0; i < count; ++i) {
            if (Buffer.IsFull())
                ++Skipped; // the oldest byte leaves the window without being part of a packet
            if (!Buffer.Put(bytes[i]) || Buffer.At(0) != kSeeedHeader0 || Buffer.At(1) != kSeeedHeader1)
                continue;
            ReadUs = readUs - int64_t(count - 1 - i) * kByteUs;
            TryDecode();
        }
        ReadUs = 0;
    }

    // True when this byte completed a valid packet, which is then consumed.
    // A byte on its own is stamped when it completes a packet.
    bool PutByte(uint8_t byte)
    {
        if (Buffer.IsFull())
            ++Skipped; // the oldest byte leaves the window without being part of a packet
        if (!Buffer.Put(byte))
            return false;
        // Cheap header test first: almost every byte of a stream fails here.
        if (Buffer.At(0) != kSeeedHeader0 || Buffer.At(1) != kSeeedHeader1)
            return false;
        return TryDecode();
    }

    // Installs, replaces or (with an empty handler) clears the frame handler.
    // The handler runs on the feeding thread and gets the parser's own frame,
    // valid during the call only. A replacement is never seen half-written,
    // and once this returns no call of the old handler is still running.
    void SetOnFrame(THandler handler);
    void ClearOnFrame() { SetOnFrame(nullptr); }

    // The clock of the channel's frame times, shared with the sending side.
    tcm::TFrameClock& FrameClock() { return Clock; }

    // One byte on the link: 10 bits at 2,000,000 baud.
    static constexpr int64_t kByteUs = 5;

    // Since Reset, on the feeding thread: windows that began with the header
    // but failed the checksum (a damaged or cut packet), and bytes that were
    // no part of any good packet.
    uint64_t DamagedPackets() const { return Damaged; }
    uint64_t SkippedBytes() const { return Skipped; }

private:
    bool TryDecode();

    TSeeedPacketBuffer Buffer;
    TCanFrame Frame;
    tcm::TFrameClock Clock;
    int64_t ReadUs = 0; // the time of the byte being fed by PutBytes; 0 outside it
    uint64_t Damaged = 0;
    uint64_t Skipped = 0;
    tcm::TMutex HandlerLock; // held for each handler call and each replacement
    THandler OnFrame TCM_GUARDED_BY(HandlerLock);
};
