#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "adapter/ComPortList.h"

namespace {

using TDevice = TComPortSource::TDevice;

// A source whose devices the test sets; the manager owns it, the test keeps
// a pointer to change the devices between refreshes.
class TFakeSource : public TComPortSource {
public:
    std::vector<TDevice> Devices;
    int Calls = 0;
    std::vector<TDevice> PresentDevices() override
    {
        ++Calls;
        return Devices;
    }
};

TDevice Port(const std::string& name, const std::string& friendly = "")
{
    TDevice device;
    device.PortName = name;
    device.FriendlyName = friendly.empty() ? "Serial port (" + name + ")" : friendly;
    return device;
}

struct TManagerFixture : ::testing::Test {
    TManagerFixture()
    {
        auto source = std::make_unique<TFakeSource>();
        Source = source.get();
        Manager = std::make_unique<TComPortListManager>(std::move(source));
    }

    std::vector<std::string> Refresh(std::vector<TDevice> devices)
    {
        Source->Devices = std::move(devices);
        Manager->UpdateList();
        return Manager->List.Strings();
    }

    TFakeSource* Source;
    std::unique_ptr<TComPortListManager> Manager;
};

using Names = std::vector<std::string>;

} // namespace

TEST_F(TManagerFixture, PortsRunInPortNumberOrder)
{
    EXPECT_EQ(Refresh({Port("COM10"), Port("COM2"), Port("COM1")}), (Names{"COM1", "COM2", "COM10"}));
    EXPECT_EQ(Refresh({Port("ttyUSB10"), Port("ttyS1"), Port("ttyUSB2"), Port("ttyACM0"), Port("ttyS0")}),
              (Names{"ttyACM0", "ttyS0", "ttyS1", "ttyUSB2", "ttyUSB10"}));
}

TEST_F(TManagerFixture, OnlyComTtyAndDevicePathsAreListed)
{
    EXPECT_EQ(Refresh({Port("LPT1"), Port("com3"), Port("COM4"), Port("cua0"), Port("Com5"), Port("/dev/pts/3"),
                       Port("ttyUSB0"), Port("TTY1"), Port(""), Port(" COM6")}),
              (Names{"/dev/pts/3", "COM4", "ttyUSB0"}));
}

TEST_F(TManagerFixture, SamePortNumberIsListedOnce)
{
    EXPECT_EQ(Refresh({Port("COM3"), Port("COM03"), Port("COM003")}), (Names{"COM3"}));
    EXPECT_EQ(Refresh({Port("ttyUSB07"), Port("ttyUSB7")}), (Names{"ttyUSB07"}));
}

TEST_F(TManagerFixture, RefreshRebuildsInsteadOfAdding)
{
    const Names first = Refresh({Port("COM1"), Port("COM2")});
    Manager->UpdateList();
    EXPECT_EQ(Manager->List.Strings(), first);
    EXPECT_EQ(Source->Calls, 2);

    // A port that went away disappears; a new one appears.
    EXPECT_EQ(Refresh({Port("COM2"), Port("COM7")}), (Names{"COM2", "COM7"}));
    EXPECT_EQ(Refresh({}), Names{});
}

TEST_F(TManagerFixture, PortNamesMustFitTheBuffer)
{
    std::vector<std::string> lines;
    Manager->OnLog = [&](const std::string& line) { lines.push_back(line); };
    const std::string fits = "COM" + std::string(12, '1');    // 15 characters
    const std::string tooLong = "COM" + std::string(13, '2'); // 16 characters
    EXPECT_EQ(Refresh({Port(fits), Port(tooLong)}), (Names{fits}));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "PortName: " + tooLong), 0);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "PortName: " + fits), 1);
    // A name with an embedded zero is not a name that a buffer can hold.
    EXPECT_EQ(Refresh({Port(std::string("COM1\0X", 6))}), Names{});
}

TEST_F(TManagerFixture, LogLinesOfOneEnumerationInOrder)
{
    std::vector<std::string> lines;
    Manager->OnLog = [&](const std::string& line) { lines.push_back(line); };
    Refresh({Port("ttyUSB0", "USB-Serial Controller")});
    EXPECT_EQ(lines,
              (Names{"TComPortListManager.UpdateList", "Friendly name: USB-Serial Controller", "PortName: ttyUSB0"}));

    // Failures: an unreadable friendly name logs its error and skips the
    // device; a device without a port name logs only its friendly name.
    lines.clear();
    TDevice noFriendly = Port("COM1");
    noFriendly.FriendlyNameOk = false;
    noFriendly.FriendlyNameError = 13;
    TDevice noPort = Port("COM2", "Printer");
    noPort.PortNameOk = false;
    EXPECT_EQ(Refresh({noFriendly, noPort, Port("LPT1", "Printer port")}), Names{});
    EXPECT_EQ(lines, (Names{"TComPortListManager.UpdateList", "Error of getting friendly name. Error = 13",
                            "Friendly name: Printer", "Friendly name: Printer port", "PortName: LPT1"}));
}

TEST(ComPortListManager, WorksWithoutLogHandlerOrSource)
{
    TComPortListManager noSource(nullptr);
    std::vector<std::string> lines;
    noSource.OnLog = [&](const std::string& line) { lines.push_back(line); };
    noSource.UpdateList();
    EXPECT_EQ(noSource.List.Count(), 0);
    EXPECT_EQ(lines, Names{"TComPortListManager.UpdateList"});

    auto source = std::make_unique<TFakeSource>();
    TDevice broken = Port("COM1");
    broken.FriendlyNameOk = false;
    source->Devices = {broken, Port("COM2")};
    TComPortListManager silent(std::move(source));
    silent.UpdateList(); // no OnLog: the lines are dropped
    EXPECT_EQ(silent.List.Strings(), Names{"COM2"});
}

TEST(ComPortList, OrderIsConsistent)
{
    const Names names = {"COM",
                         "COMX",
                         "COM1",
                         "COM01",
                         "COM2",
                         "COM10",
                         "COM99999999999999999999",
                         "COM100000000000000000000",
                         "tty",
                         "tty0",
                         "ttyS",
                         "ttyS3",
                         "ttyUSB0",
                         "/dev/pts/3",
                         "/dev/pts/12",
                         "/dev/ttyUSB1",
                         "A",
                         "COM1X",
                         "COM1X2"};
    for (const std::string& a : names) {
        EXPECT_EQ(TComPortList::CompareStrings(a, a), 0) << a;
        for (const std::string& b : names) {
            const int ab = TComPortList::CompareStrings(a, b);
            const int ba = TComPortList::CompareStrings(b, a);
            EXPECT_EQ((ab > 0) - (ab < 0), -((ba > 0) - (ba < 0))) << a << " vs " << b;
        }
    }
    TComPortList list;
    for (auto it = names.rbegin(); it != names.rend(); ++it)
        list.Add(*it);
    for (int32_t i = 1; i < list.Count(); ++i)
        EXPECT_LT(TComPortList::CompareStrings(list[i - 1], list[i]), 0) << list[i - 1] << " / " << list[i];
    // COM01 and COM1 are one port; numbers of any length compare by value.
    EXPECT_EQ(list.Count(), static_cast<int32_t>(names.size()) - 1);
    EXPECT_LT(list.IndexOf("COM99999999999999999999"), list.IndexOf("COM100000000000000000000"));
    // A name without a trailing number sits before the numbered names of its stem.
    EXPECT_LT(list.IndexOf("COM"), list.IndexOf("COM1"));
    EXPECT_LT(list.IndexOf("COM10"), list.IndexOf("COMX"));
    EXPECT_LT(list.IndexOf("/dev/pts/3"), list.IndexOf("/dev/pts/12"));
    EXPECT_EQ(list.IndexOf("COM001"), list.IndexOf("COM1"));
    EXPECT_EQ(list.IndexOf("COM5"), -1);
    EXPECT_FALSE(list.Add("COM0001"));
}
