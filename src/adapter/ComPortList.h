#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Port names kept in port order without doubles.
//
// Order: a name splits into its stem (the text before the trailing decimal
// digits) and its number (those digits). Names compare by stem first (plain
// byte order), then by number, so COM2 < COM10 and ttyUSB2 < ttyUSB10, and two
// names with the same stem and number (COM3, COM03) are the same port. A name
// without a trailing number (COMX) sorts by its whole text as stem and, for an
// equal stem, before the numbered names of that stem ("tty" < "tty0").
class TComPortList {
public:
    // <0, 0 or >0 as `a` sorts before, with or after `b`.
    static int CompareStrings(const std::string& a, const std::string& b);

    // Inserts at the sorted place; returns false (and changes nothing) when an
    // equal name is already listed.
    bool Add(const std::string& name);
    void Clear() { Names.clear(); }
    int32_t Count() const { return static_cast<int32_t>(Names.size()); }
    // Position of the listed name equal to `name` under the order, or -1.
    int32_t IndexOf(const std::string& name) const;
    const std::string& operator[](int32_t index) const { return Names.at(static_cast<size_t>(index)); }
    const std::vector<std::string>& Strings() const { return Names; }

    std::vector<std::string>::const_iterator begin() const { return Names.begin(); }
    std::vector<std::string>::const_iterator end() const { return Names.end(); }

private:
    std::vector<std::string> Names;
};

// Where the manager learns which serial port devices are present.
class TComPortSource {
public:
    struct TDevice {
        // Friendly name, or empty with FriendlyNameOk false and the
        // platform's error code when it cannot be read.
        bool FriendlyNameOk = true;
        std::string FriendlyName;
        uint32_t FriendlyNameError = 0;
        // Port name, or PortNameOk false when the device has none.
        bool PortNameOk = true;
        std::string PortName;
    };

    virtual ~TComPortSource() = default;
    // The devices present now, in the platform's order.
    virtual std::vector<TDevice> PresentDevices() = 0;
};

// Builds the list of present serial ports for the window's port box.
class TComPortListManager {
public:
    // A port name must fit with its terminator in this many bytes.
    static constexpr size_t kPortNameBuffer = 16;

    // Takes ownership of the source; without one the list stays empty.
    explicit TComPortListManager(std::unique_ptr<TComPortSource> source);
    ~TComPortListManager();
    TComPortListManager(const TComPortListManager&) = delete;
    TComPortListManager& operator=(const TComPortListManager&) = delete;

    // Whether a port name is one the list (and the window's check) accepts:
    // it begins with "COM", "tty" or "/dev/", case as written.
    static bool IsAcceptedPortName(const std::string& name);

    // Rebuilds List from the devices present now.
    void UpdateList();

    TComPortList List;
    // Receives each diagnostic line; lines are dropped when unset.
    std::function<void(const std::string&)> OnLog;

private:
    void Log(const std::string& line) const;

    std::unique_ptr<TComPortSource> Source;
};
