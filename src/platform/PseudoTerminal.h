#pragma once
#include <cstdint>
#include <string>

namespace tcm {

// A pseudo-terminal pair for a simulated device: this object works the master
// side, a client opens SlavePath() as its serial port.
//
// Behaviour chosen here: the object keeps a descriptor of the slave side open
// itself for as long as it is open. The master therefore never sees a hang-up:
// before a client opens the slave and after it closes it, Read simply finds
// nothing (returns 0 after its wait) and Write keeps queueing bytes for the
// slave until the terminal's buffer is full (then it times out with ETIMEDOUT).
// Bytes written while no client is there stay queued and reach the next client;
// DiscardPending drops them. Both sides are raw from the start (no echo, no
// line editing, no CR/LF translation, no XON/XOFF), so every byte passes
// unchanged in both directions, also for a client that does not configure the
// line itself. A client that closes the slave with TIOCEXCL still set locks
// unprivileged clients out (TSerialPort clears it on Close).
//
// One thread may Read while another Writes; Open and Close must not run while
// either is in progress.
class TPseudoTerminal {
public:
    TPseudoTerminal();
    ~TPseudoTerminal(); // closes
    TPseudoTerminal(const TPseudoTerminal&) = delete;
    TPseudoTerminal& operator=(const TPseudoTerminal&) = delete;

    // Creates the pair (posix_openpt, grantpt, unlockpt), sets both sides raw
    // and opens the slave's held descriptor. False on failure, with LastError
    // telling which step failed; nothing stays open then. An open pair is
    // closed first.
    bool Open();
    bool IsOpen() const;
    // Closes the master and the held slave: a client on the slave sees a hang-up.
    void Close();

    // The slave's path, such as /dev/pts/5; empty while closed.
    const std::string& SlavePath() const;
    int MasterFd() const; // -1 while closed

    // As TSerialPort::Read and Write: Read gives >0 bytes, 0 when nothing came
    // within timeoutMs, or -errno; Write gives 0 or an errno value (ETIMEDOUT
    // when the client does not take the bytes in time).
    int Read(uint8_t* buffer, int size, int timeoutMs = 2);
    int Write(const uint8_t* data, int size, int timeoutMs = 100);
    // Writes what the terminal takes now without waiting: the byte count
    // (0 when it is full) or -errno.
    int WriteSome(const uint8_t* data, int size);

    // Drops everything queued in either direction.
    void DiscardPending();

    // Keeps the terminal to one client: from the moment a client opens the
    // slave until its last descriptor closes, the slave is exclusive
    // (TIOCEXCL), so any further open fails with EBUSY (root excepted, whom
    // the system lets pass). GuardClient starts watching the slave's opens
    // and closes (call it right after Open; false with LastError set); Read
    // acts on them as they come, without a system call of its own while
    // nothing happens.
    bool GuardClient();

    // The last failure of Open as text ("grantpt: Permission denied (errno 13)").
    const std::string& LastError() const;

private:
    bool Fail(const char* step, int error);
    // Acts on the opens and closes since the last call, without waiting.
    void ServeClientGuard();

    int Master = -1;
    int HeldSlave = -1;
    int Watch = -1;      // inotify descriptor watching the slave's opens, or -1
    int32_t Clients = 0; // the client's descriptors open on the slave
    std::string Slave;
    std::string ErrorText;
    int ErrorCode = 0;
};

} // namespace tcm
