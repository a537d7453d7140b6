#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "adapter/AdapterFactory.h"
#include "adapter/AdapterSeeed.h"
#include "core/CanSettings.h"
#include "platform/IniFile.h"
#include "platform/ProgramDir.h"
#include "support/TempDir.h"

namespace {

// An adapter with two channels and no port, to see the per-channel keys.
class TTwoChannelAdapter : public CAdapterCustom {
public:
    TCanSettings Channels[2];
    static const TAdapterKind Kind;
    int32_t GetChannelCount() const override { return 2; }
    TCanSettings* GetSettings(int32_t channel) override
    {
        return channel >= 0 && channel < 2 ? &Channels[channel] : nullptr;
    }
    bool Open(int32_t) override { return false; }
    void Close(int32_t) override {}
    const TAdapterKind& GetKind() const override { return Kind; }
};
const TAdapterKind TTwoChannelAdapter::Kind = {"Twin", nullptr};

class AdapterSettings : public ::testing::Test {
protected:
    void SetUp() override { tcm::SetProgramDirOverride(Dir.Path()); }
    void TearDown() override { tcm::SetProgramDirOverride(""); }
    TempDir Dir;
};

} // namespace

TEST_F(AdapterSettings, MissingFileIsCreatedAndDefaultsApply)
{
    const std::string ini = Dir.File("TarvenixCanMonitor.ini");
    CAdapterSeeed adapter;
    adapter.GetSettings(0)->Rate = 1;
    adapter.GetSettings(0)->Extended = true;
    adapter.Port = "old";
    adapter.LoadSettings(ini);
    EXPECT_EQ(access(ini.c_str(), F_OK), 0);
    EXPECT_EQ(adapter.GetSettings(0)->Rate, 250000);
    EXPECT_FALSE(adapter.GetSettings(0)->Extended);
    EXPECT_EQ(adapter.Port, "");

    adapter.SaveSettings(ini);
    TIniFile file(ini);
    EXPECT_EQ(file.ReadString("Seeed", "CanRate", "?"), "250000");
    EXPECT_EQ(file.ReadString("Seeed", "CanMode", "?"), "0");
    EXPECT_EQ(file.ReadString("Seeed", "Port", "?"), "");
    EXPECT_TRUE(file.SectionExists("Seeed"));
}

TEST_F(AdapterSettings, IntegerFormsAndModeByLowByte)
{
    const std::string ini = Dir.File("a.ini");
    struct Case {
        const char* Rate;
        const char* Mode;
        int32_t WantRate;
        bool WantExtended;
    };
    const Case cases[] = {{"0x3D090", "256", 250000, false},
                          {"$3D090", "2", 250000, true},
                          {"fast", "one", 250000, false},
                          {"-125000", "1", -125000, true},
                          {"500000", "0x100", 500000, false}};
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteWholeFile(ini, std::string("[Seeed]\nCanRate=") + c.Rate + "\nCanMode=" + c.Mode +
                                            "\nPort=/dev/ttyUSB7\n"));
        CAdapterSeeed adapter;
        adapter.LoadSettings(ini);
        EXPECT_EQ(adapter.GetSettings(0)->Rate, c.WantRate) << c.Rate;
        EXPECT_EQ(adapter.GetSettings(0)->Extended, c.WantExtended) << c.Mode;
        EXPECT_EQ(adapter.Port, "/dev/ttyUSB7");
    }
}

TEST_F(AdapterSettings, SaveKeepsOtherSectionsAndKeys)
{
    const std::string ini = Dir.File("keep.ini");
    ASSERT_TRUE(WriteWholeFile(ini, "; kept comment\n[Other]\nCanRate=1\nX=y\n\n[Seeed]\nExtra=7\nCanRate=5000\n"));
    CAdapterSeeed adapter;
    adapter.LoadSettings(ini);
    EXPECT_EQ(adapter.GetSettings(0)->Rate, 5000);
    adapter.GetSettings(0)->Rate = 1000000;
    adapter.GetSettings(0)->Extended = true;
    adapter.Port = "ttyACM0";
    adapter.SaveSettings(ini);
    const std::string text = ReadWholeFile(ini);
    EXPECT_EQ(text.rfind("; kept comment\n[Other]\nCanRate=1\nX=y\n", 0), 0u) << text;
    TIniFile file(ini);
    EXPECT_EQ(file.ReadString("Seeed", "Extra", ""), "7");
    EXPECT_EQ(file.ReadInteger("Seeed", "CanRate", 0), 1000000);
    EXPECT_EQ(file.ReadInteger("Seeed", "CanMode", 0), 1);
    EXPECT_EQ(file.ReadString("Seeed", "Port", ""), "ttyACM0");
    EXPECT_EQ(file.ReadInteger("Other", "CanRate", 0), 1);
}

TEST_F(AdapterSettings, SeveralChannelsUseSuffixedKeys)
{
    const std::string ini = Dir.File("twin.ini");
    ASSERT_TRUE(WriteWholeFile(ini, "[Twin]\nCanRate_channel1=125000\nCanMode_channel1=1\n"));
    TTwoChannelAdapter adapter;
    EXPECT_TRUE(adapter.IsMultiChannel());
    adapter.LoadSettings(ini);
    EXPECT_EQ(adapter.Channels[0].Rate, 250000);
    EXPECT_EQ(adapter.Channels[1].Rate, 125000);
    EXPECT_TRUE(adapter.Channels[1].Extended);
    adapter.Channels[0].Rate = 20000;
    adapter.SaveSettings(ini);
    TIniFile file(ini);
    EXPECT_EQ(file.ReadInteger("Twin", "CanRate_channel0", 0), 20000);
    EXPECT_EQ(file.ReadInteger("Twin", "CanMode_channel0", 9), 0);
    EXPECT_EQ(file.ReadInteger("Twin", "CanRate_channel1", 0), 125000);
    EXPECT_FALSE(file.SectionExists("Seeed"));
    EXPECT_FALSE(adapter.IsAnyOpen());
}

TEST_F(AdapterSettings, UnwritablePathGivesDefaultsAndSaveNamesThePath)
{
    // A path below a regular file can be neither created nor written, even by root.
    const std::string blocker = Dir.File("plainfile");
    ASSERT_TRUE(WriteWholeFile(blocker, "x"));
    const std::string ini = blocker + "/TarvenixCanMonitor.ini";
    CAdapterSeeed adapter;
    adapter.LoadSettings(ini); // not reported
    EXPECT_EQ(adapter.GetSettings(0)->Rate, 250000);
    try {
        adapter.SaveSettings(ini);
        FAIL() << "no error raised";
    } catch (const EIniFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + ini);
    }
}

TEST(AdapterFactory, KindsNamesAndCreateOnce)
{
    TempDir dir;
    tcm::SetProgramDirOverride(dir.Path());
    {
        CAdapterFactory factory;
        EXPECT_EQ(factory.GetCount(), 1);
        EXPECT_EQ(factory.GetAdapterName(0), "Seeed");
        EXPECT_EQ(factory.GetAdapterName(-1), "unknown");
        EXPECT_EQ(factory.GetAdapterName(1), "unknown");
        EXPECT_EQ(factory.GetAdapterClass(1), nullptr);
        EXPECT_EQ(factory.GetAdapter(1), nullptr);
        std::vector<std::string> names = {"a", "b"};
        factory.FillNames(names);
        EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "Seeed"}));
        CAdapterCustom* adapter = factory.GetAdapter(0);
        ASSERT_NE(adapter, nullptr);
        EXPECT_EQ(factory.GetAdapter(0), adapter);
        EXPECT_EQ(adapter->GetName(), "Seeed");
        EXPECT_EQ(adapter->GetChannelCount(), 1);
        EXPECT_FALSE(adapter->IsMultiChannel());
        EXPECT_EQ(adapter->GetSettings(0), adapter->GetSettings(3));
        EXPECT_NE(adapter->GetTable(0), nullptr);
        EXPECT_NE(dynamic_cast<CAdapterSerial*>(adapter), nullptr);
        std::vector<int32_t> rates;
        adapter->GetSupportedRates(rates);
        EXPECT_EQ(rates, (std::vector<int32_t>{5000, 10000, 20000, 50000, 100000, 125000, 200000, 250000, 400000,
                                               500000, 800000, 1000000}));
    }
    tcm::SetProgramDirOverride("");
}
