#pragma once
#include <cstdint>
#include <string>

namespace tcm {

class TWakeEvent;

// One serial port, opened exclusively and set up for the adapter's line:
// raw 8N1 at 2000000 baud, no flow control of any kind, DTR and RTS dropped.
//
// The descriptor stays non-blocking for its whole life: Read and Write wait
// with poll, which gives them their time limits. One thread may Read while
// another Writes on the same open port; Open and Close must not run while
// either is in progress.
class TSerialPort {
public:
    TSerialPort();
    ~TSerialPort(); // closes the port
    TSerialPort(const TSerialPort&) = delete;
    TSerialPort& operator=(const TSerialPort&) = delete;

    enum class TOpenResult { Ok, OpenFailed, ConfigureFailed };

    // A name without a leading '/' opens "/dev/<name>"; a name with a leading
    // '/' is a path. Never creates a file. Exclusive: TIOCEXCL keeps other
    // (unprivileged) openers out, and an flock that every TSerialPort takes keeps
    // out a second opening of the same device even by root or by this process;
    // a port held that way fails with OpenFailed and EBUSY.
    // OpenFailed: the device cannot be opened or is in use. ConfigureFailed: it
    // is not a terminal (a regular file, for instance) or rejects the line
    // settings. On failure nothing stays open and LastError() holds errno.
    // Opening an open port closes it first.
    TOpenResult Open(const std::string& name);
    bool IsOpen() const;
    void Close();
    // errno of the last failed Open (0 before any failure); a later success leaves it.
    int LastError() const;

    // Waits at most timeoutMs for data, then reads what is waiting, up to size
    // bytes. Returns the number of bytes read (>0), 0 when nothing came in time,
    // or -errno. A device that is gone (hang-up, unplugged, the far side of a
    // pseudo-terminal closed) gives a negative value, -EIO if nothing better,
    // never 0, and it does so at once on every call: a read loop must rest
    // between failed reads.
    // A signal of `wake` ends the wait early with 0 (the signal stays set).
    int Read(uint8_t* buffer, int size, int timeoutMs = 2, const TWakeEvent* wake = nullptr);

    // Writes all bytes, giving up after timeoutMs in total. Returns 0 on
    // success, else an errno value; ETIMEDOUT when time ran out with only part
    // (or none) of the bytes written.
    int Write(const uint8_t* data, int size, int timeoutMs = 100);

    int Handle() const; // the descriptor, -1 when closed

    // The device path that Open uses for `name`.
    static std::string DevicePath(const std::string& name);

private:
    TOpenResult Fail(TOpenResult stage, int error);

    int Fd = -1;
    int Error = 0;
};

// How to get access to serial ports when opening one failed with
// `errorNumber` (permission denied): one line; empty for other errors.
std::string PortAccessHint(int errorNumber);

} // namespace tcm
