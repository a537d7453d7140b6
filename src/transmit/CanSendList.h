#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Mutex.h"
#include "transmit/CanSend.h"

// The transmit list of one channel: an ordered, owning sequence of items that
// the window edits, the periodic thread scans for due Periodic items and the
// receive path scans for OnRequest answers. The list hands every item the
// channel's send handler, applies the channel's identifier mode to every frame
// and keeps itself in a text file, one item record per line.
//
// Threads and the lock (reached through Lock(); clang checks the marks below):
// - SendPeriodic and SendOnRequest hold the lock for their whole walk, and call
//   the items' OnSend and OnCountChanged with it held. Those handlers must only
//   queue or post: they must never take this lock or wait for the window's thread.
// - Add, Delete, MoveUp, MoveDown, ResetCounters, SetStandard, SetOnSend and the
//   building of the saved text take the lock themselves, so a scan never sees a
//   half-changed sequence and never uses a destroyed item. Do not call them while
//   holding Lock().
// - Count and GetItem need Lock() held. An item pointer stays valid after the
//   lock is let go for as long as the thread that edits the list (the only one
//   that deletes items) keeps it, but its fields are read and changed under
//   the lock only (TSendListLock, which the items' marks ask for).
// - Changing an item in place (the item dialog) while scans may run: hold
//   the lock for the change, e.g. `TSendListLock guard(list);`.
// - Reading an item's Count or LastSendTime from another thread than the
//   sending ones also needs Lock(); the OnCountChanged value needs none.
//
// Input/output errors: LoadFromFile, LoadFromFileName and SaveToFile throw
// std::system_error carrying the operating system's error number (code()), with
// a text naming the file, such as
//   "Cannot write the transmit list file /opt/tcm/trans_list_seed.dat: Permission denied".
// The save made by the destructor never throws: its text goes to the handler
// given to SetOnSaveError (or to standard error when none is set).
class TCanSendList {
public:
    TCanSendList();
    // Saves to the file (when persistent), then destroys the items.
    ~TCanSendList();
    TCanSendList(const TCanSendList&) = delete;
    TCanSendList& operator=(const TCanSendList&) = delete;

    int32_t Count() const TCM_REQUIRES(Mutex);
    // The item at `index`, or nullptr when the index is out of range. Lent.
    TCanSendItem* GetItem(int32_t index) const TCM_REQUIRES(Mutex);

    // Appends the item, taking ownership, and gives it the list's OnSend.
    // A null item is ignored.
    void Add(TCanSendItem* item) TCM_EXCLUDES(Mutex);
    void Add(std::unique_ptr<TCanSendItem> item) TCM_EXCLUDES(Mutex);
    // Removes and destroys the item at `index`; waits for a running scan.
    // An index out of range changes nothing.
    void Delete(int32_t index) TCM_EXCLUDES(Mutex);
    // Swap the item with its neighbour; false (and no change) at the edge.
    bool MoveUp(int32_t index) TCM_EXCLUDES(Mutex);
    bool MoveDown(int32_t index) TCM_EXCLUDES(Mutex);
    // ResetCount on every item in order (each one notifies).
    void ResetCounters() TCM_EXCLUDES(Mutex);
    // Standard := flag and Frame.Standard of every item := flag.
    void SetStandard(bool flag) TCM_EXCLUDES(Mutex);
    // The channel's send handler; every item in the list gets it, now and on Add.
    void SetOnSend(std::function<bool(const TCanFrame&)> handler) TCM_EXCLUDES(Mutex);
    // Sends a frame that is no item (a replayed one) through the same handler;
    // false when there is none or it did not take the frame.
    bool SendFrame(const TCanFrame& frame) TCM_EXCLUDES(Mutex);

    // Answers one received remote frame: every active OnRequest item, in order.
    void SendOnRequest() TCM_EXCLUDES(Mutex);
    // Sends every active Periodic item whose Period has elapsed at tick count
    // `now` (now - LastSendTime in unsigned 32-bit arithmetic, so the tick
    // count's wrap-around is harmless), in order.
    void SendPeriodic(uint32_t now) TCM_EXCLUDES(Mutex);
    // Milliseconds from tick count `now` until the next active Periodic item
    // falls due (0: one is due), or kNothingDue when none is active.
    uint32_t MsUntilDue(uint32_t now) const TCM_EXCLUDES(Mutex);
    static constexpr uint32_t kNothingDue = 0xFFFFFFFFu;

    // Told when items were added or removed, and by NotifyChanged: the
    // periodic sender waits for it (or for the next due item) between passes.
    // Called on the editing thread, without the list's lock.
    void SetOnChanged(std::function<void()> handler);
    // Call after changing an item in place (Active, Period, SendType).
    void NotifyChanged();

    // The part of the default file name between "trans_list_" and ".dat".
    std::string NameSuffix;
    // The value last given to SetStandard; read it, set it through SetStandard.
    bool Standard = false;

    // The file: the path given to SetFileName, or else the program's directory
    // + "trans_list_" + NameSuffix + ".dat".
    std::string GetFileName() const;
    // Overrides GetFileName(); an empty path restores the default place.
    void SetFileName(const std::string& path);
    // A list that is not persistent has no file: LoadFromFile, SaveToFile and
    // the save on destruction do nothing. Lists are persistent from creation.
    void SetPersistent(bool persistent);

    // Appends the items of the file; a missing file is no error and changes
    // nothing. Empty lines are skipped, rejected records left out (their line
    // numbers kept for RejectedLinesNotice); lines may end in CR LF or LF. On a
    // read failure the items read so far stay, and the file is never saved
    // over: what it holds was not seen. Leftover temporary files of saves that
    // ended half-way are removed first.
    void LoadFromFile();
    // The same for a file named by the caller, whatever the list's own file and
    // persistence; here a missing file is an error.
    void LoadFromFileName(const std::string& path);
    // Replaces the file with every item's record followed by CR LF, in one step:
    // a failure or a crash leaves the old file or the new one, never a part.
    // Does nothing to a file that could not be read. When lines of the file
    // were rejected, the first save keeps the file as it was as
    // GetFileName() + ".bak" before replacing it.
    void SaveToFile() TCM_EXCLUDES(Mutex);
    // The text telling the user which lines were rejected and where the file
    // as it was is kept; empty when no line was rejected.
    std::string RejectedLinesNotice() const;
    // Names the stale temporary files beside the list's file that the last
    // LoadFromFile left alone (not this user's regular files); empty when none.
    std::string LeftAloneNotice() const;

    // The list's lock, for changing an item in place while scans may run:
    // take it through TSendListLock.
    tcm::TMutex& Lock() const TCM_RETURN_CAPABILITY(Mutex) { return Mutex; }

    // Receives the text of a failed save during destruction, for the owner to show.
    void SetOnSaveError(std::function<void(const std::string&)> handler);

private:
    void LoadFrom(const std::string& path, bool missingIsError, std::vector<int32_t>* rejected);

    std::vector<std::unique_ptr<TCanSendItem>> Items TCM_GUARDED_BY(Mutex);
    std::function<bool(const TCanFrame&)> OnSend TCM_GUARDED_BY(Mutex);
    mutable tcm::TMutex Mutex;
    std::string FileOverride;
    bool Persistent = true;
    std::string UnreadFile;             // the list's file that could not be read
    std::vector<int32_t> Rejected;      // rejected line numbers of the list's file
    std::vector<std::string> LeftAlone; // stale names beside it that are not ours to remove
    bool BackupKept = false;            // its ".bak" copy was made
    std::function<void(const std::string&)> OnSaveError;
    mutable tcm::TMutex ChangedLock; // guards OnChanged only
    std::function<void()> OnChanged TCM_GUARDED_BY(ChangedLock);
};

// Holds a transmit list's lock for its scope: the list's items and their
// fields may be used meanwhile.
class TCM_SCOPED_CAPABILITY TSendListLock {
public:
    explicit TSendListLock(const TCanSendList& list) TCM_ACQUIRE(list.Lock(), SendListRole);
    ~TSendListLock() TCM_RELEASE();
    TSendListLock(const TSendListLock&) = delete;
    TSendListLock& operator=(const TSendListLock&) = delete;

private:
    tcm::TMutex& Mutex;
};
