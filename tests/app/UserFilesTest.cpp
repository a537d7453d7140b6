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
constexpr int kRate500k = 9; // "500 Kbit/sec" in the rate box

struct TRun {
    int Exit = -1;
    std::string Out;
    std::string Err;
};

// Runs `args` with `env` added; as nobody when `unprivileged` and we are root.
TRun RunAs(const std::vector<std::string>& args, const std::vector<std::string>& env, bool unprivileged)
{
    std::vector<std::string> command;
    if (unprivileged && ::geteuid() == 0)
        command = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    command.push_back("/usr/bin/env");
    command.insert(command.end(), env.begin(), env.end());
    command.insert(command.end(), args.begin(), args.end());
    TChild child(command);
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

// A folder for the program that the user of the child cannot write: root's
// 0755 folder for nobody, or 0555 for an ordinary user.
struct TProgramFolder {
    TempDir Dir;
    std::string Exe;
    explicit TProgramFolder(const std::string& source)
    {
        Exe = Dir.File(fs::path(source).filename().string());
        fs::copy_file(source, Exe);
    }
    void MakeReadOnly() { ::chmod(Dir.Path().c_str(), ::geteuid() == 0 ? 0755 : 0555); }
    ~TProgramFolder() { ::chmod(Dir.Path().c_str(), 0700); }
};

// An empty configuration home that the child's user owns.
struct TConfigHome {
    TempDir Dir;
    std::string Path;
    TConfigHome() : Path(Dir.File("config"))
    {
        ::chmod(Dir.Path().c_str(), 0755);
        fs::create_directory(Path);
        if (::geteuid() == 0) {
            EXPECT_EQ(::chown(Path.c_str(), kNobody, kNobody), 0);
        }
    }
    std::string Env() const { return "XDG_CONFIG_HOME=" + Path; }
};

const std::vector<std::string> kWindowEnv = {"QT_QPA_PLATFORM=offscreen", "HOME=/nonexistent"};

std::vector<std::string> With(std::vector<std::string> env, const std::string& more)
{
    env.push_back(more);
    return env;
}

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

    const TRun run = RunAs({program.Exe, std::to_string(kRate500k), port, std::to_string(SIGTERM)},
                         With(kWindowEnv, config.Env()), true);
    ASSERT_EQ(run.Exit, 0) << run.Out << run.Err;
    const std::string files = config.Path + "/TarvenixCanMonitor/";
    EXPECT_NE(run.Out.find("files: " + files + "\n"), std::string::npos) << run.Out;
    // Permission denied: the described text, and how to get access below it.
    EXPECT_NE(run.Out.find("error: Opening port is failed!|Port: " + port + ", ErrorCode: 13\n"), std::string::npos)
        << run.Out;
    EXPECT_NE(run.Out.find("hint: To get access to serial ports, make your user a member of the group dialout"),
              std::string::npos)
        << run.Out;

    EXPECT_EQ(Names(files), (std::vector<std::string>{"TarvenixCanMonitor.ini", "trans_list_seed.dat"}));
    const std::string ini = ReadWholeFile(files + "TarvenixCanMonitor.ini");
    EXPECT_NE(ini.find("CanRate=500000"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Port=" + port), std::string::npos) << ini;
    struct stat st{};
    ASSERT_EQ(::stat(files.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    if (::geteuid() == 0) {
        EXPECT_EQ(st.st_uid, kNobody);
    }
    EXPECT_EQ(Names(program.Dir.Path()), (std::vector<std::string>{fs::path(program.Exe).filename().string()}));

    // Without XDG_CONFIG_HOME the folder is ~/.config/TarvenixCanMonitor/, parents created.
    const TRun homeRun = RunAs({program.Exe, std::to_string(kRate500k), port, std::to_string(SIGTERM)},
                               {"-u", "XDG_CONFIG_HOME", "QT_QPA_PLATFORM=offscreen", "HOME=" + config.Path}, true);
    ASSERT_EQ(homeRun.Exit, 0) << homeRun.Out << homeRun.Err;
    const std::string homeFiles = config.Path + "/.config/TarvenixCanMonitor/";
    EXPECT_NE(homeRun.Out.find("files: " + homeFiles + "\n"), std::string::npos) << homeRun.Out;
    EXPECT_NE(ReadWholeFile(homeFiles + "TarvenixCanMonitor.ini").find("CanRate=500000"), std::string::npos);

    // The headless monitor gives the same hint on a line of its own.
    TProgramFolder dump(TCM_CAN_DUMP_EXE);
    dump.MakeReadOnly();
    const TRun dumpRun = RunAs({dump.Exe, "--port", port}, {}, true);
    EXPECT_EQ(dumpRun.Exit, 1);
    const auto lines = Lines(dumpRun.Err);
    ASSERT_GE(lines.size(), 3u) << dumpRun.Err;
    EXPECT_EQ(lines[1], "Port: " + port + ", ErrorCode: 13");
    EXPECT_EQ(lines[2].rfind("To get access to serial ports, make your user a member of the group dialout", 0), 0u)
        << dumpRun.Err;
}

TEST(UserFiles, WritableFolderOrSettingsBesideTheProgramStayPortable)
{
    TConfigHome config;
    {
        // A writable folder: everything beside the executable, as always. SIGHUP
        // while the exit question is open ends it in order all the same.
        TProgramFolder program(TCM_WINDOW_CHILD_EXE);
        const TRun run = RunAs({program.Exe, std::to_string(kRate500k), "/dev/ttyTcmMissing0", std::to_string(SIGHUP),
                                "question"},
                               With(kWindowEnv, config.Env()), false);
        ASSERT_EQ(run.Exit, 0) << run.Out << run.Err;
        EXPECT_NE(run.Out.find("files: " + program.Dir.Path() + "\n"), std::string::npos) << run.Out;
        // No such port: the described text alone.
        EXPECT_NE(run.Out.find("error: Opening port is failed!|Port: /dev/ttyTcmMissing0, ErrorCode: 2\n"),
                  std::string::npos)
            << run.Out;
        EXPECT_EQ(run.Out.find("hint:"), std::string::npos) << run.Out;
        EXPECT_NE(ReadWholeFile(program.Dir.File("TarvenixCanMonitor.ini")).find("CanRate=500000"),
                  std::string::npos);
        EXPECT_TRUE(fs::exists(program.Dir.File("trans_list_seed.dat")));
    }
    {
        // A settings file already beside a read-only program: the folder stays the
        // program's own; SIGINT ends it, and the failed save is reported, not hidden.
        TProgramFolder program(TCM_WINDOW_CHILD_EXE);
        const std::string before = "[Seeed]\nCanRate=125000\nCanMode=0\nPort=ttyUSB3\n";
        ASSERT_TRUE(WriteWholeFile(program.Dir.File("TarvenixCanMonitor.ini"), before));
        program.MakeReadOnly();
        const TRun run = RunAs({program.Exe, std::to_string(kRate500k), "/dev/ttyTcmMissing0", std::to_string(SIGINT)},
                             With(kWindowEnv, config.Env()), true);
        ASSERT_EQ(run.Exit, 0) << run.Out << run.Err;
        EXPECT_NE(run.Out.find("files: " + program.Dir.Path() + "\n"), std::string::npos) << run.Out;
        EXPECT_NE(run.Err.find("tarvenix-can-monitor: "), std::string::npos) << run.Err;
        if (::geteuid() == 0) {
            EXPECT_EQ(ReadWholeFile(program.Dir.File("TarvenixCanMonitor.ini")), before);
        }
    }
    EXPECT_TRUE(Names(config.Path).empty());
}
