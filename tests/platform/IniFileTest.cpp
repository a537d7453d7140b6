#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/IniFile.h"
#include "Version.h"
#include "platform/ProgramDir.h"
#include "support/TempDir.h"

namespace {

// Replaces the first occurrence of `from` in `text`.
std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    const size_t at = text.find(from);
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

class IniFileTest : public ::testing::Test {
protected:
    std::string Path() const { return Dir.File("TarvenixCanMonitor.ini"); }
    TempDir Dir;
};

TEST_F(IniFileTest, NewFileRoundTripsStringsAndIntegers)
{
    {
        TIniFile ini(Path());
        EXPECT_EQ(ini.ReadString("Seeed", "Port", "none"), "none");
        EXPECT_FALSE(ini.SectionExists("Seeed"));
        ini.WriteInteger("Seeed", "CanRate", 250000);
        ini.WriteInteger("Seeed", "CanMode", 0);
        ini.WriteString("Seeed", "Port", "ttyUSB0");
        ini.WriteInteger("Other", "Offset", -12);
        // On disk at once, readable by a second object.
        TIniFile reader(Path());
        EXPECT_EQ(reader.ReadInteger("Seeed", "CanRate", 0), 250000);
    }
    EXPECT_EQ(ReadWholeFile(Path()), "[Seeed]\nCanRate=250000\nCanMode=0\nPort=ttyUSB0\n\n[Other]\nOffset=-12\n");

    TIniFile ini(Path());
    EXPECT_EQ(ini.ReadInteger("Seeed", "CanRate", 0), 250000);
    EXPECT_EQ(ini.ReadInteger("Seeed", "CanMode", 7), 0);
    EXPECT_EQ(ini.ReadString("Seeed", "Port", ""), "ttyUSB0");
    EXPECT_EQ(ini.ReadInteger("Other", "Offset", 0), -12);
    EXPECT_EQ(ini.ReadSection("Seeed"), (std::vector<std::string>{"CanRate", "CanMode", "Port"}));
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Seeed", "Other"}));

    // Rewriting a key changes its line, adds none.
    ini.WriteInteger("Seeed", "CanRate", 1000000);
    EXPECT_EQ(ReadWholeFile(Path()), "[Seeed]\nCanRate=1000000\nCanMode=0\nPort=ttyUSB0\n\n[Other]\nOffset=-12\n");
}

TEST_F(IniFileTest, EverythingElseSurvivesByteForByte)
{
    const std::string original = "; settings of the monitor\n"
                                 "loose=before any section\n"
                                 "\n"
                                 "[Window]\n"
                                 "  Left = 10   \n"
                                 "# a comment inside\n"
                                 "Top=20\n"
                                 "not a key line\n"
                                 "\n"
                                 "\n"
                                 "[Seeed]\n"
                                 "CanRate = 125000\n"
                                 "Port=COM3\n"
                                 "\n"
                                 "[Tail]\n"
                                 "Last=1";
    ASSERT_TRUE(WriteWholeFile(Path(), original));
    TIniFile ini(Path());

    ini.WriteInteger("Seeed", "CanRate", 500000);
    std::string expected = Replaced(original, "CanRate = 125000", "CanRate = 500000");
    EXPECT_EQ(ReadWholeFile(Path()), expected);

    // A new key goes after the section's last line, before its blank lines.
    ini.WriteInteger("Window", "Width", 640);
    expected = Replaced(expected, "not a key line\n", "not a key line\nWidth=640\n");
    EXPECT_EQ(ReadWholeFile(Path()), expected);

    // The last line had no line end: it gets one before anything follows it.
    ini.WriteString("Tail", "More", "x");
    expected += "\nMore=x\n";
    EXPECT_EQ(ReadWholeFile(Path()), expected);

    ini.WriteString("New", "Key", "v");
    expected += "\n[New]\nKey=v\n";
    EXPECT_EQ(ReadWholeFile(Path()), expected);

    EXPECT_EQ(ini.ReadString("Window", "Left", ""), "10");
    EXPECT_EQ(ini.ReadInteger("Window", "Top", 0), 20);
    EXPECT_EQ(ini.ReadString("Seeed", "Port", ""), "COM3");
    EXPECT_FALSE(ini.ValueExists("Window", "not a key line"));
}

TEST_F(IniFileTest, CrLfFileKeepsCrLf)
{
    const std::string original = "[Seeed]\r\nCanRate=250000\r\nPort=COM3\r\n\r\n[Other]\r\nA=1\r\n";
    ASSERT_TRUE(WriteWholeFile(Path(), original));
    TIniFile ini(Path());
    EXPECT_EQ(ini.ReadString("Seeed", "Port", ""), "COM3"); // no CR in the value

    ini.WriteString("Seeed", "Port", "ttyACM1");
    ini.WriteInteger("Seeed", "CanMode", 1);
    ini.WriteInteger("Added", "B", 2);
    EXPECT_EQ(ReadWholeFile(Path()),
              "[Seeed]\r\nCanRate=250000\r\nPort=ttyACM1\r\nCanMode=1\r\n\r\n[Other]\r\nA=1\r\n\r\n[Added]\r\nB=2\r\n");
}

TEST_F(IniFileTest, NamesCompareWithoutCase)
{
    ASSERT_TRUE(WriteWholeFile(Path(), "[SEEED]\ncanrate=20000\n"));
    TIniFile ini(Path());
    EXPECT_EQ(ini.ReadInteger("Seeed", "CanRate", 0), 20000);
    EXPECT_TRUE(ini.SectionExists("seeed"));
    ini.WriteInteger("Seeed", "CANRATE", 50000);
    EXPECT_EQ(ReadWholeFile(Path()), "[SEEED]\ncanrate=50000\n");
}

TEST_F(IniFileTest, ByteOrderMarkDoesNotHideTheFirstSection)
{
    ASSERT_TRUE(WriteWholeFile(Path(), "\xEF\xBB\xBF[Seeed]\nPort=COM1\n"));
    TIniFile ini(Path());
    EXPECT_EQ(ini.ReadString("Seeed", "Port", ""), "COM1");
    ini.WriteString("Seeed", "Port", "COM2");
    EXPECT_EQ(ReadWholeFile(Path()), "\xEF\xBB\xBF[Seeed]\nPort=COM2\n");
}

TEST_F(IniFileTest, IntegersAreReadByTheRulesAndAnythingElseGivesTheDefault)
{
    struct TCase {
        const char* Text;
        int32_t Expected;
    };
    constexpr int32_t kDef = -999;
    const TCase cases[] = {
        {"0x3D090", 250000},
        {"$3D090", 250000},
        {"0X3d090", 250000},
        {"$3d090", 250000},
        {"-5", -5},
        {"+7", 7},
        {"256", 256},
        {"0", 0},
        {"007", 7},
        {"   42   ", 42},
        {"\t13\t", 13},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"0xFFFFFFFF", -1},
        {"$80000000", INT32_MIN},
        {"word", kDef},
        {"", kDef},
        {"12abc", kDef},
        {"0x", kDef},
        {"$", kDef},
        {"0x3G", kDef},
        {"- 5", kDef},
        {"1 2", kDef},
        {"+", kDef},
        {"-0x5", kDef},
        {"2147483648", kDef},
        {"-2147483649", kDef},
        {"0x100000000", kDef},
        {"99999999999999999999", kDef},
        {"1.5", kDef},
    };
    std::string content = "[N]\n";
    for (size_t i = 0; i < std::size(cases); ++i)
        content += "k" + std::to_string(i) + "=" + cases[i].Text + "\n";
    ASSERT_TRUE(WriteWholeFile(Path(), content));

    TIniFile ini(Path());
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(ini.ReadInteger("N", "k" + std::to_string(i), kDef), cases[i].Expected)
            << "text \"" << cases[i].Text << "\"";
    EXPECT_EQ(ini.ReadInteger("N", "missing", kDef), kDef);
    EXPECT_EQ(ini.ReadInteger("Missing", "k0", kDef), kDef);

    ini.WriteInteger("N", "min", INT32_MIN);
    EXPECT_EQ(TIniFile(Path()).ReadInteger("N", "min", 0), INT32_MIN);
}

TEST_F(IniFileTest, ValueWithALineBreakCannotAddLines)
{
    TIniFile ini(Path());
    ini.WriteString("Seeed", "Port", "COM3\n[Evil]\nCanRate=1");
    TIniFile reader(Path());
    EXPECT_FALSE(reader.SectionExists("Evil"));
    EXPECT_EQ(reader.ReadSection("Seeed"), (std::vector<std::string>{"Port"}));
    EXPECT_THROW(ini.WriteString("Seeed", "a=b", "1"), std::invalid_argument);
    EXPECT_THROW(ini.WriteString("Se]ed", "a", "1"), std::invalid_argument);
}

TEST_F(IniFileTest, CreateEmptyIfMissing)
{
    EXPECT_TRUE(TIniFile::CreateEmptyIfMissing(Path()));
    EXPECT_EQ(access(Path().c_str(), F_OK), 0);
    EXPECT_EQ(ReadWholeFile(Path()), "");

    ASSERT_TRUE(WriteWholeFile(Path(), "[A]\nb=1\n"));
    EXPECT_TRUE(TIniFile::CreateEmptyIfMissing(Path()));
    EXPECT_EQ(ReadWholeFile(Path()), "[A]\nb=1\n"); // an existing file is left alone

    EXPECT_FALSE(TIniFile::CreateEmptyIfMissing(Dir.File("no/such/folder.ini")));
}

// Makes a folder unwritable, for root too: mode 0555 stops others, the
// immutable attribute stops root. Undone at the end.
class TReadOnlyFolder {
public:
    explicit TReadOnlyFolder(const std::string& dir) : Dir(dir)
    {
        chmod(Dir.c_str(), 0555);
        if (access(Dir.c_str(), W_OK) != 0) {
            Works = true;
            return;
        }
        const int fd = open(Dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int flags = 0;
        if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            int locked = flags | FS_IMMUTABLE_FL;
            if (ioctl(fd, FS_IOC_SETFLAGS, &locked) == 0) {
                Immutable = true;
                Works = true;
                OldFlags = flags;
            }
        }
        if (fd >= 0)
            close(fd);
    }
    ~TReadOnlyFolder()
    {
        if (Immutable) {
            const int fd = open(Dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd >= 0) {
                ioctl(fd, FS_IOC_SETFLAGS, &OldFlags);
                close(fd);
            }
        }
        chmod(Dir.c_str(), 0755);
    }
    bool Works = false;

private:
    std::string Dir;
    bool Immutable = false;
    int OldFlags = 0;
};

TEST_F(IniFileTest, WriteIntoAReadOnlyFolderThrowsAndChangesNothing)
{
    ASSERT_TRUE(WriteWholeFile(Path(), "[Seeed]\nPort=COM3\n"));
    TIniFile ini(Path());
    {
        TReadOnlyFolder locked(Dir.Path());
        if (!locked.Works)
            GTEST_SKIP() << "cannot make a folder read-only here";
        try {
            ini.WriteString("Seeed", "Port", "COM4");
            ADD_FAILURE() << "no exception";
        } catch (const EIniFileError& e) {
            EXPECT_STREQ(e.what(), ("Unable to write to " + Path()).c_str());
        }
        EXPECT_THROW(ini.WriteInteger("Seeed", "CanRate", 1), EIniFileError);
        EXPECT_EQ(ini.ReadString("Seeed", "Port", ""), "COM3"); // the object did not pretend
    }
    EXPECT_EQ(ReadWholeFile(Path()), "[Seeed]\nPort=COM3\n");
}

TEST_F(IniFileTest, WriteWhereNoFolderCanBeThrowsWithThePath)
{
    // A regular file in place of the folder: fails for any user.
    ASSERT_TRUE(WriteWholeFile(Dir.File("plain"), "x"));
    const std::string path = Dir.File("plain/settings.ini");
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("Seeed", "CanRate", 250000), 250000);
    try {
        ini.WriteInteger("Seeed", "CanRate", 250000);
        ADD_FAILURE() << "no exception";
    } catch (const EIniFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
        EXPECT_EQ(e.Path(), path);
    }
    EXPECT_FALSE(ini.SectionExists("Seeed"));
}

} // namespace

// Where the settings file and the transmit lists live: beside a portable copy,
// in the user's configuration folder for an installed program, whoever runs it
// (root may write to /usr/bin, yet must not keep its files there).
TEST(FilesDir, InstalledProgramsUseTheConfigFolderAndPortableCopiesTheirOwn)
{
    TempDir dir;
    const std::string config = "/cfg/TarvenixCanMonitor/";
    for (const char* installed : {"/usr/bin", "/usr/local/bin/", TCM_INSTALL_BINDIR})
        EXPECT_EQ(tcm::ChooseFilesDir(installed, "/cfg", "/home/u"), config) << installed;
    EXPECT_EQ(tcm::ChooseFilesDir("/usr/bin/", "relative", "/home/u"), "/home/u/.config/TarvenixCanMonitor/");
    // A writable folder of its own, or one that already holds the settings file.
    EXPECT_EQ(tcm::ChooseFilesDir(dir.Path(), "/cfg", "/home/u"), dir.Path());
    const std::string empty = dir.File("empty/"), holding = dir.File("holding/");
    ASSERT_EQ(mkdir(empty.c_str(), 0555), 0);
    ASSERT_EQ(mkdir(holding.c_str(), 0755), 0);
    ASSERT_TRUE(WriteWholeFile(holding + "TarvenixCanMonitor.ini", ""));
    ASSERT_EQ(chmod(holding.c_str(), 0555), 0);
    EXPECT_EQ(tcm::ChooseFilesDir(holding, "/cfg", "/home/u"), holding);
    if (geteuid() != 0) { // root may write anywhere
        EXPECT_EQ(tcm::ChooseFilesDir(empty, "/cfg", "/home/u"), config);
    }
    chmod(holding.c_str(), 0755);
}
