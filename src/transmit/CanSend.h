#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "core/CanGeneral.h"

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
// (other threads) read it and write Count and LastSendTime; change it in place
// only while holding the list's Lock().
class TCanSendItem {
public:
    std::string Caption;          // the operator's name for the item; may be empty
    TCanFrame Frame;              // the frame that is sent (Time is not used)
    int32_t SendType = cstSingle; // a TCanSendType code
    int32_t Period = 0;           // milliseconds between sends of a Periodic item
    int32_t Count = 0;            // sends since creation, loading or the last reset
    bool Active = false;          // Periodic and OnRequest items are sent only while set
    // Set by the owning list. While empty, Send does nothing. Receives the item's
    // own frame and must copy what it keeps; may run with the list's lock held.
    // Returns false when the frame could not be taken (the channel has failed).
    std::function<bool(const TCanFrame&)> OnSend;
    // Set by the window's grid; told (Count, Tag) after every change of Count.
    // May run on any sending thread with the list's lock held: it must neither
    // wait for the window's thread nor take the list's lock.
    std::function<void(int32_t count, uint32_t tag)> OnCountChanged;
    uint32_t Tag = 0;          // opaque to the item, handed to OnCountChanged
    uint32_t LastSendTime = 0; // tick count read right after the last send; 0 before

    // "Single", "Periodic", "OnRequest", or "Unknown" for any other code.
    std::string GetTypeName() const;
    // Period := value, at least 1.
    void SetPeriod(int32_t value);
    // OnSend(Frame), then stamps LastSendTime and counts the send if OnSend took
    // the frame. Does nothing without OnSend. Looks at neither SendType nor
    // Active: callers decide.
    void Send();
    void IncCount();
    void ResetCount();

    // The one-line record of the transmit list file, eight fields each ended by ';':
    // type;period;active;id;request;length;data;caption;  (numbers in upper-case hex)
    std::string SaveToString() const;
    // Fills the item from a record; false when the record is rejected (bad type,
    // negative period or identifier, length above 8). Fields read before a
    // rejection keep their new values. Frame.Standard, Count, LastSendTime, Tag
    // and the handlers are left alone.
    bool LoadFromString(const std::string& text);

private:
    void NotifyCount();
};
