#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "core/CanGeneral.h"
#include "platform/Mutex.h"

// What the lock analysis knows of transmit items: their fields are used only
// while the lock of a transmit list is held (TSendListLock), or while the item
// belongs to no list yet (TUnlistedItem). The analysis cannot tell one list's
// lock from another's: it checks that a list's lock is held, not which one.
class TCM_CAPABILITY("transmit list lock") TSendListRole {};
extern TSendListRole SendListRole;

// For a scope whose items belong to no list (a new item being filled, a file
// being read before its items are added): no other thread can see them, so no
// lock is needed. Takes nothing at run time.
class TCM_SCOPED_CAPABILITY TUnlistedItem {
public:
    TUnlistedItem() TCM_ACQUIRE(SendListRole) {}
    ~TUnlistedItem() TCM_RELEASE() {}
    TUnlistedItem(const TUnlistedItem&) = delete;
    TUnlistedItem& operator=(const TUnlistedItem&) = delete;
};

// How a transmit item is sent.
enum TCanSendType : int32_t {
    cstSingle = 0,    // once per press of the item's "Send" button
    cstPeriodic = 1,  // by the periodic thread whenever Period has elapsed, while Active
    cstOnRequest = 2, // once per received remote frame, while Active
};

// One entry of a channel's transmit list: a prepared frame, how it is sent, a
// caption and a send counter. The item never talks to the adapter: Send hands
// the frame to OnSend, which the owning list supplies.
//
// The item has no lock of its own. While it belongs to a list, the list's scans
// (other threads) read it and write Count and LastSendTime; read and change it
// only while holding the list's lock (TSendListLock), as the marks below say.
class TCanSendItem {
public:
    std::string Caption TCM_GUARDED_BY(SendListRole);          // the operator's name for the item; may be empty
    TCanFrame Frame TCM_GUARDED_BY(SendListRole);              // the frame that is sent (Time is not used)
    int32_t SendType TCM_GUARDED_BY(SendListRole) = cstSingle; // a TCanSendType code
    int32_t Period TCM_GUARDED_BY(SendListRole) = 0;           // milliseconds between sends of a Periodic item
    int32_t Count TCM_GUARDED_BY(SendListRole) = 0;            // sends since creation, loading or the last reset
    bool Active TCM_GUARDED_BY(SendListRole) = false;          // Periodic and OnRequest items are sent only while set
    // Set by the owning list. While empty, Send does nothing. Receives the item's
    // own frame and must copy what it keeps; may run with the list's lock held.
    // Returns false when the frame could not be taken (the channel has failed).
    std::function<bool(const TCanFrame&)> OnSend TCM_GUARDED_BY(SendListRole);
    // Set by the window's grid; told (Count, Tag) after every change of Count.
    // May run on any sending thread with the list's lock held: it must neither
    // wait for the window's thread nor take the list's lock.
    std::function<void(int32_t count, uint32_t tag)> OnCountChanged TCM_GUARDED_BY(SendListRole);
    uint32_t Tag TCM_GUARDED_BY(SendListRole) = 0;          // opaque to the item, handed to OnCountChanged
    uint32_t LastSendTime TCM_GUARDED_BY(SendListRole) = 0; // tick count read right after the last send; 0 before

    // "Single", "Periodic", "OnRequest", or "Unknown" for any other code.
    std::string GetTypeName() const TCM_REQUIRES(SendListRole);
    // Period := value, at least 1.
    void SetPeriod(int32_t value) TCM_REQUIRES(SendListRole);
    // OnSend(Frame), then stamps LastSendTime and counts the send if OnSend took
    // the frame. Does nothing without OnSend. Looks at neither SendType nor
    // Active: callers decide.
    void Send() TCM_REQUIRES(SendListRole);
    void IncCount() TCM_REQUIRES(SendListRole);
    void ResetCount() TCM_REQUIRES(SendListRole);

    // The one-line record of the transmit list file, eight fields each ended by ';':
    // type;period;active;id;request;length;data;caption;  (numbers in upper-case hex)
    std::string SaveToString() const TCM_REQUIRES(SendListRole);
    // Fills the item from a record; false when the record is rejected (bad type,
    // negative period or identifier, length above 8). Fields read before a
    // rejection keep their new values. Frame.Standard, Count, LastSendTime, Tag
    // and the handlers are left alone.
    bool LoadFromString(const std::string& text) TCM_REQUIRES(SendListRole);

private:
    void NotifyCount() TCM_REQUIRES(SendListRole);
};
