// The transmit list and settings files are never overwritten unread: files that
// cannot be read, read-only files, rejected lines and leftovers of killed saves.
#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "adapter/AdapterSeeed.h"
#include "core/CanSettings.h"
#include "core/Logger.h"
#include "platform/IniFile.h"
#include "support/TempDir.h"
#include "transmit/CanSendList.h"

namespace {

constexpr uid_t kNobody = 65534;

std::unique_ptr<TCanSendItem> Item(uint32_t id)
{
    auto item = std::make_unique<TCanSendItem>();
    item->Frame.Id = id;
    return item;
}

// The id of a process that has ended.
pid_t EndedProcess()
{
    const pid_t pid = fork();
    if (pid == 0)
        _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
}

} // namespace

// Run as root (as CI does), the check runs in a child that drops to the user
// "nobody", since root reads any file; run as an ordinary user, it stays that user.
TEST(ListFileSafety, AListFileTheUserCannotReadIsLeftAsItIs)
{
    TempDir dir;
    ASSERT_EQ(chmod(dir.Path().c_str(), 0777), 0);
    const std::string list = dir.File("trans_list_seed.dat");
    const std::string bytes = "1;64;1;123;0;2;0102;kept;\r\n";
    ASSERT_TRUE(WriteWholeFile(list, bytes));
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(list.c_str(), kNobody, kNobody), 0);
    }
    ASSERT_EQ(chmod(list.c_str(), 0200), 0); // its owner may write it, nobody may read it

    const std::string report = dir.File("report.txt");
    const pid_t child = fork();
    if (child == 0) {
        if (root && (setgid(kNobody) != 0 || setuid(kNobody) != 0))
            _exit(3);
        {
            // Start, an edit, exit.
            CAdapterSeeed adapter(TSeeedManagerOptions{list});
            adapter.GetSendList(0)->Add(Item(0x7FF).release());
            WriteWholeFile(report, adapter.TakeLoadError());
        }
        _exit(0);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(ReadWholeFile(report), "Cannot read the transmit list file " + list +
                                         ": Permission denied. Changes to the transmit list will not be saved "
                                         "to this file.");
    struct stat st {};
    ASSERT_EQ(stat(list.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0200u);
    ASSERT_EQ(chmod(list.c_str(), 0600), 0);
    EXPECT_EQ(ReadWholeFile(list), bytes);
}

TEST(ListFileSafety, RejectedLinesAreNamedAndTheFileKeptBesideIt)
{
    TempDir dir;
    const std::string path = dir.File("trans_list_seed.dat");
    const std::string good1 = "1;64;1;123;0;2;0102;one;\r\n";
    const std::string good2 = "0;0;0;7FF;0;0;;two;\r\n";
    const std::string original = good1 + "1;64;1;123;0;9;0102;length nine;\r\n\r\n" + good2 + "garbage\r\n" + good1;
    ASSERT_TRUE(WriteWholeFile(path, original));
    {
        CAdapterSeeed adapter(TSeeedManagerOptions{path});
        EXPECT_EQ(adapter.GetSendList(0)->Count(), 3);
        EXPECT_EQ(adapter.TakeLoadNotice(), "The transmit list file " + path +
                                                " has lines that were not understood: 2, 5. They are not in "
                                                "the list; the file as it was is kept as " +
                                                path + ".bak when the list is saved.");
        EXPECT_EQ(adapter.TakeLoadNotice(), ""); // once
        EXPECT_NE(adapter.GetLogger(0)->TakeFirst().find("not understood: 2, 5"), std::string::npos);
        // The first save keeps the original; a later one leaves that copy alone.
        TCanSendList& list = *adapter.GetSendList(0);
        list.SaveToFile();
        EXPECT_EQ(ReadWholeFile(path + ".bak"), original);
        EXPECT_EQ(ReadWholeFile(path), good1 + good2 + good1);
        list.Delete(0);
        list.SaveToFile();
        EXPECT_EQ(ReadWholeFile(path + ".bak"), original);
    }
    EXPECT_EQ(ReadWholeFile(path), good2 + good1);

    // A list without a rejected line: no notice, no copy.
    const std::string clean = dir.File("clean.dat");
    ASSERT_TRUE(WriteWholeFile(clean, good1 + "\r\n" + good2));
    {
        CAdapterSeeed adapter(TSeeedManagerOptions{clean});
        EXPECT_EQ(adapter.TakeLoadNotice(), "");
    }
    EXPECT_EQ(ReadWholeFile(clean), good1 + good2);
    EXPECT_NE(access((clean + ".bak").c_str(), F_OK), 0);
}

TEST(ListFileSafety, ReadOnlyFilesStayAndLeftoversOfEndedSavesGo)
{
    TempDir dir;
    const std::string list = dir.File("trans_list_seed.dat");
    const std::string ini = dir.File("TarvenixCanMonitor.ini");
    const std::string listBytes = "0;0;0;7FF;0;0;;two;\r\n";
    const std::string iniBytes = "[Seeed]\r\nCanRate=500000\r\n";
    ASSERT_TRUE(WriteWholeFile(list, listBytes));
    ASSERT_TRUE(WriteWholeFile(ini, iniBytes));
    // Leftovers of a killed save, and the temporary file of a save still running (this process).
    const std::string stale = list + ".tmp-" + std::to_string(EndedProcess());
    const std::string staleIni = ini + ".tmp-" + std::to_string(EndedProcess());
    const std::string running = list + ".tmp-" + std::to_string(getpid());
    for (const auto& f : {stale, staleIni, running})
        ASSERT_TRUE(WriteWholeFile(f, "half"));
    ASSERT_EQ(chmod(list.c_str(), 0444), 0);
    ASSERT_EQ(chmod(ini.c_str(), 0444), 0);
    {
        CAdapterSeeed adapter(TSeeedManagerOptions{list});
        EXPECT_EQ(adapter.TakeLoadError(), "");
        adapter.LoadSettings(ini);
        EXPECT_EQ(adapter.GetSettings(0)->Rate, 500000);
        EXPECT_NE(access(stale.c_str(), F_OK), 0);
        EXPECT_NE(access(staleIni.c_str(), F_OK), 0);
        EXPECT_EQ(ReadWholeFile(running), "half");

        adapter.GetSettings(0)->Rate = 125000;
        try {
            adapter.SaveSettings(ini);
            ADD_FAILURE() << "a read-only settings file was written";
        } catch (const EIniFileError& e) {
            EXPECT_EQ(std::string(e.what()), "Unable to write to " + ini);
        }
        adapter.GetSendList(0)->Add(Item(1).release());
        try {
            adapter.GetSendList(0)->SaveToFile();
            ADD_FAILURE() << "a read-only list file was written";
        } catch (const std::system_error& e) {
            EXPECT_EQ(e.code().value(), EACCES);
        }
    }
    EXPECT_EQ(ReadWholeFile(list), listBytes);
    EXPECT_EQ(ReadWholeFile(ini), iniBytes);
    unlink(running.c_str());
}

// Names beside the files that someone else placed there (links, folders, other
// users' files) are never written through, removed or replaced: the save fails
// and names them. Owner-only permissions carry over to the new file and its copy.
TEST(ListFileSafety, PlantedNamesBesideTheFilesAreLeftAloneAndNamed)
{
    TempDir dir;
    const std::string victim = dir.File("victim");
    ASSERT_TRUE(WriteWholeFile(victim, "precious"));
    ASSERT_EQ(chmod(victim.c_str(), 0444), 0);
    const std::string list = dir.File("trans_list_seed.dat");
    const std::string ini = dir.File("TarvenixCanMonitor.ini");
    const std::string pid = std::to_string(getpid());
    const std::string original = "1;64;1;123;0;2;0102;one;\r\ngarbage\r\n";
    ASSERT_TRUE(WriteWholeFile(ini, "[Seeed]\r\nCanRate=500000\r\n"));
    const mode_t oldMask = umask(0);
    struct TCase {
        std::string Planted;
        bool Folder;
    };
    const std::vector<TCase> cases = {{list + ".tmp-" + pid, false},
                                      {list + ".bak", false},
                                      {list + ".bak.tmp-" + pid, false},
                                      {list + ".tmp-" + pid, true},
                                      {ini + ".tmp-" + pid, false}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Planted + (c.Folder ? " (folder)" : " (link)"));
        unlink((list + ".bak").c_str());
        ASSERT_TRUE(WriteWholeFile(list, original));
        ASSERT_EQ(chmod(list.c_str(), 0600), 0);
        ASSERT_EQ(c.Folder ? mkdir(c.Planted.c_str(), 0755) : symlink(victim.c_str(), c.Planted.c_str()), 0);
        {
            CAdapterSeeed adapter(TSeeedManagerOptions{list});
            adapter.LoadSettings(ini);
            adapter.GetSettings(0)->Rate = 125000;
            if (c.Planted.rfind(ini, 0) == 0) {
                EXPECT_THROW(adapter.SaveSettings(ini), EIniFileError);
            } else {
                try {
                    adapter.GetSendList(0)->SaveToFile();
                    ADD_FAILURE() << "saved past a planted name";
                } catch (const std::system_error& e) {
                    EXPECT_NE(std::string(e.what()).find(c.Planted + " is in the way"), std::string::npos) << e.what();
                }
            }
            adapter.GetSendList(0)->SetPersistent(false);
        }
        struct stat st {};
        EXPECT_EQ(lstat(c.Planted.c_str(), &st), 0);
        EXPECT_TRUE(c.Folder ? S_ISDIR(st.st_mode) : S_ISLNK(st.st_mode));
        EXPECT_EQ(ReadWholeFile(victim), "precious");
        EXPECT_EQ(ReadWholeFile(list), original);
        c.Folder ? rmdir(c.Planted.c_str()) : unlink(c.Planted.c_str());
    }

    // A stale link of an ended save is left alone and named when the list is read.
    const std::string stale = list + ".tmp-" + std::to_string(EndedProcess());
    ASSERT_EQ(symlink(victim.c_str(), stale.c_str()), 0);
    {
        CAdapterSeeed adapter(TSeeedManagerOptions{list});
        EXPECT_NE(adapter.TakeLoadNotice().find(stale + " is in the way"), std::string::npos);
        // Nothing planted at the names it writes: the list and its copy keep owner-only permissions.
        adapter.GetSendList(0)->SaveToFile();
    }
    struct stat st {};
    EXPECT_EQ(lstat(stale.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    for (const std::string& f : {list, list + ".bak"}) {
        ASSERT_EQ(stat(f.c_str(), &st), 0) << f;
        EXPECT_EQ(st.st_mode & 07777, 0600u) << f;
    }
    EXPECT_EQ(ReadWholeFile(list + ".bak"), original);
    umask(oldMask);
}
