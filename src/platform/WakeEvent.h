#pragma once

namespace tcm {

// A wake-up signal that a waiting poll can watch beside a device: Signal from
// any thread makes Handle() readable until Clear. Several Signals before a
// Clear count as one. Linux: an eventfd.
class TWakeEvent {
public:
    TWakeEvent();
    ~TWakeEvent();
    TWakeEvent(const TWakeEvent&) = delete;
    TWakeEvent& operator=(const TWakeEvent&) = delete;

    void Signal();
    void Clear();
    // Waits up to `timeoutMs` for a Signal (then clears it), for `alsoFd` (when
    // not -1) to show an error or hang-up, or for a signal handler to run.
    void Wait(int timeoutMs, int alsoFd = -1);
    int Handle() const { return Fd; }

private:
    int Fd = -1;
};

} // namespace tcm
