// The window and the headless monitor run the way an installed program runs:
// copied into a folder the user cannot write (as the unprivileged user nobody
// when the test runs as root, whom permissions do not stop), with an empty
// XDG_CONFIG_HOME, ended by a signal.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/PseudoTerminal.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

constexpr uid_t kNobody = 65534;
const std::string kRate500k = "9"; // "500 Kbit/sec" in the rate box
const std::string kHint = "To get access to serial ports, make your user a member of the group dialout";

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

struct TRun {
    int Exit = -1;
    std::string Out, Err;
};

// Runs `args` under `env`, as nobody when `unprivileged` and we are root.
TRun RunAs(const std::vector<std::string>& args, const std::vector<std::string>& env, bool unprivileged)
{
    std::vector<std::string> command = {"/usr/bin/env"};
    command.insert(command.end(), env.begin(), env.end());
    command.insert(command.end(), args.begin(), args.end());
    TChild child(unprivileged ? AsUserWhenRoot(std::move(command)) : command);
    TRun run;
    run.Exit = child.WaitExit(60000);
    run.Out = child.OutText;
    run.Err = child.ErrText;
    return run;
}

std::vector<std::string> Names(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A copy of a program in a folder of its own; MakeReadOnly keeps the child's
// user from writing there: root's 0755 folder for nobody, 0555 for anyone else.
struct TProgramFolder {
    TempDir Dir;
    std::string Exe;
    explicit TProgramFolder(const std::string& source) : Exe(Dir.File(fs::path(source).filename().string()))
    {
        fs::copy_file(source, Exe);
    }
    void MakeReadOnly() { ::chmod(Dir.Path().c_str(), ::geteuid() == 0 ? 0755 : 0555); }
    ~TProgramFolder() { ::chmod(Dir.Path().c_str(), 0700); }
};

// An empty configuration home that the child's user owns.
struct TConfigHome {
    TempDir Dir;
    std::string Path = Dir.File("config");
    TConfigHome()
    {
        ::chmod(Dir.Path().c_str(), 0755);
        fs::create_directory(Path);
        EXPECT_TRUE(::geteuid() != 0 || ::chown(Path.c_str(), kNobody, kNobody) == 0);
    }
    std::vector<std::string> WindowEnv() const
    {
        return {"QT_QPA_PLATFORM=offscreen", "HOME=/nonexistent", "XDG_CONFIG_HOME=" + Path};
    }
};

} // namespace

TEST(UserFiles, ReadOnlyFolderKeepsFilesInTheConfigFolderAndSignalsEndInOrder)
{
    TProgramFolder program(TCM_WINDOW_CHILD_EXE);
    program.MakeReadOnly();
    TConfigHome config;
    // A port the child's user may not open: a pseudo-terminal of root's for
    // nobody, or one of our own without any permission for an ordinary user.
    tcm::TPseudoTerminal pty;
    ASSERT_TRUE(pty.Open()) << pty.LastError();
    const std::string port = pty.SlavePath();
    ASSERT_EQ(::chmod(port.c_str(), ::geteuid() == 0 ? 0600 : 0000), 0);

    const TRun run = RunAs({program.Exe, kRate500k, port, std::to_string(SIGTERM)}, config.WindowEnv(), true);
    ASSERT_EQ(run.Exit, 0) << run.Out << run.Err;
    const std::string files = config.Path + "/TarvenixCanMonitor/";
    EXPECT_PRED2(Contains, run.Out, "files: " + files + "\n");
    // Permission denied: the described text, and how to get access below it.
    EXPECT_PRED2(Contains, run.Out, "error: Opening port is failed!|Port: " + port + ", ErrorCode: 13\nhint: " + kHint);
    EXPECT_EQ(Names(files), (std::vector<std::string>{"TarvenixCanMonitor.ini", "trans_list_seed.dat"}));
    const std::string ini = ReadWholeFile(files + "TarvenixCanMonitor.ini");
    EXPECT_PRED2(Contains, ini, "CanRate=500000");
    EXPECT_PRED2(Contains, ini, "Port=" + port);
    struct stat st {};
    ASSERT_EQ(::stat(files.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, ::geteuid() == 0 ? kNobody : ::geteuid());
    EXPECT_EQ(Names(program.Dir.Path()), (std::vector<std::string>{fs::path(program.Exe).filename().string()}));

    // Without XDG_CONFIG_HOME the folder is ~/.config/TarvenixCanMonitor/, parents created.
    const TRun homeRun = RunAs({program.Exe, kRate500k, port, std::to_string(SIGTERM)},
                               {"-u", "XDG_CONFIG_HOME", "QT_QPA_PLATFORM=offscreen", "HOME=" + config.Path}, true);
    ASSERT_EQ(homeRun.Exit, 0) << homeRun.Out << homeRun.Err;
    const std::string homeFiles = config.Path + "/.config/TarvenixCanMonitor/";
    EXPECT_PRED2(Contains, homeRun.Out, "files: " + homeFiles + "\n");
    EXPECT_PRED2(Contains, ReadWholeFile(homeFiles + "TarvenixCanMonitor.ini"), "CanRate=500000");

    // The headless monitor gives the same hint on a line of its own.
    TProgramFolder dump(TCM_CAN_DUMP_EXE);
    dump.MakeReadOnly();
    const TRun dumpRun = RunAs({dump.Exe, "--port", port}, {}, true);
    EXPECT_EQ(dumpRun.Exit, 1);
    EXPECT_PRED2(Contains, dumpRun.Err, "\nPort: " + port + ", ErrorCode: 13\n" + kHint);
}

TEST(UserFiles, WritableFolderOrSettingsBesideTheProgramStayPortable)
{
    TConfigHome config;
    {
        // A writable folder: everything beside the executable, as always. SIGHUP
        // while the exit question is open ends it in order all the same.
        TProgramFolder program(TCM_WINDOW_CHILD_EXE);
        const TRun run = RunAs({program.Exe, kRate500k, "/dev/ttyTcmMissing0", std::to_string(SIGHUP), "question"},
                               config.WindowEnv(), false);
        ASSERT_EQ(run.Exit, 0) << run.Out << run.Err;
        EXPECT_PRED2(Contains, run.Out, "files: " + program.Dir.Path() + "\n");
        // No such port: the described text alone.
        EXPECT_PRED2(Contains, run.Out, "error: Opening port is failed!|Port: /dev/ttyTcmMissing0, ErrorCode: 2\n");
        EXPECT_FALSE(Contains(run.Out, "hint:")) << run.Out;
        EXPECT_PRED2(Contains, ReadWholeFile(program.Dir.File("TarvenixCanMonitor.ini")), "CanRate=500000");
        EXPECT_TRUE(fs::exists(program.Dir.File("trans_list_seed.dat")));
    }
    {
        // A settings file already beside a read-only program: the folder stays the
        // program's own; SIGINT ends it, and the failed save is reported, not hidden.
        TProgramFolder program(TCM_WINDOW_CHILD_EXE);
        const std::string before = "[Seeed]\nCanRate=125000\nCanMode=0\nPort=ttyUSB3\n";
        ASSERT_TRUE(WriteWholeFile(program.Dir.File("TarvenixCanMonitor.ini"), before));
        program.MakeReadOnly();
        const TRun run =
            RunAs({program.Exe, kRate500k, "/dev/ttyTcmMissing0", std::to_string(SIGINT)}, config.WindowEnv(), true);
        ASSERT_EQ(run.Exit, 0) << run.Out << run.Err;
        EXPECT_PRED2(Contains, run.Out, "files: " + program.Dir.Path() + "\n");
        EXPECT_PRED2(Contains, run.Err, "tarvenix-can-monitor: ");
        EXPECT_TRUE(::geteuid() != 0 || ReadWholeFile(program.Dir.File("TarvenixCanMonitor.ini")) == before);
    }
    EXPECT_TRUE(Names(config.Path).empty());
}
