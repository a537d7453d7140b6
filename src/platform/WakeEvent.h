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
    int Handle() const { return Fd; }

private:
    int Fd = -1;
};

} // namespace tcm
