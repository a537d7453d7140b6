#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TCanSendList;
class TLogger;
struct TCanSettings;
class TTarvenixTraceList;
class TTarvenixTable;
class TChannelStats;
class TIniFile;
class CAdapterCustom;

// An adapter kind: its name and how to make an instance, usable without one.
struct TAdapterKind {
    const char* Name;
    CAdapterCustom* (*Create)();
};

// The abstract CAN adapter through which the window reaches any hardware.
// Accessors lend objects that belong to the adapter; the same channel always
// gives the same object.
class CAdapterCustom {
public:
    virtual ~CAdapterCustom() = default;
    CAdapterCustom(const CAdapterCustom&) = delete;
    CAdapterCustom& operator=(const CAdapterCustom&) = delete;

    // Reason of the last failed Open; a successful Open leaves it unchanged.
    std::string LastError;
    // errno behind LastError (such as EACCES for a port without access); 0 when none.
    int LastErrorNumber = 0;
    // Receives the text of a file the adapter could not write while it was
    // being destroyed (its transmit list), where no error can be raised.
    std::function<void(const std::string&)> OnFileError;

    virtual int32_t GetChannelCount() const = 0;
    virtual TCanSendList* GetSendList(int32_t channel);
    virtual TLogger* GetLogger(int32_t channel);
    virtual TCanSettings* GetSettings(int32_t channel);
    virtual TTarvenixTraceList* GetTrace(int32_t channel);
    virtual TTarvenixTable* GetTable(int32_t channel);
    // Bus load and per-identifier figures of the channel's current or last run.
    virtual TChannelStats* GetStats(int32_t channel);
    virtual void LoadAdapterSettings(TIniFile& ini, const std::string& section);
    virtual void SaveAdapterSettings(TIniFile& ini, const std::string& section);
    virtual bool Open(int32_t channel) = 0;
    virtual void Close(int32_t channel) = 0;
    virtual bool IsOpen(int32_t channel) const;
    virtual bool IsAnyOpen() const;
    virtual void GetSupportedRates(std::vector<int32_t>& rates) const;
    // The kind of this instance (its name and factory function).
    virtual const TAdapterKind& GetKind() const = 0;

    // The text of a file failure met while the adapter was created (its
    // transmit list could not be read), once; empty when there was none.
    virtual std::string TakeLoadError() { return {}; }
    // Lines of its transmit list file that were not understood, as the text
    // the user is shown, once; empty when there were none.
    virtual std::string TakeLoadNotice() { return {}; }
    // Why the open channel stopped working (its port went away, or the adapter
    // stopped taking bytes), as the text the user is shown; empty while it
    // works. The owner then closes the channel, which clears it.
    virtual std::string ChannelFailure(int32_t) const { return {}; }

    std::string GetName() const { return GetKind().Name; }
    bool IsMultiChannel() const { return GetChannelCount() > 1; }
    void LoadSettings(const std::string& fileName);
    void SaveSettings(const std::string& fileName);

protected:
    // The plain construction writes "CAdapterCustom.create" to the debug output.
    CAdapterCustom();
    // Construction that skips the debug text, for adapters that do not run the base one.
    struct SilentCreate {};
    explicit CAdapterCustom(SilentCreate) {}
};

// An adapter reached through one serial port: one channel and the port name.
class CAdapterSerial : public CAdapterCustom {
public:
    // The serial port name, such as ttyUSB0, /dev/pts/3 or COM3.
    std::string Port;

    int32_t GetChannelCount() const override { return 1; }
    void LoadAdapterSettings(TIniFile& ini, const std::string& section) override;
    void SaveAdapterSettings(TIniFile& ini, const std::string& section) override;

protected:
    using CAdapterCustom::CAdapterCustom;
};
