#include "app/AppEntry.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Version.h"
#include "app/Main.h"
#include "app/QuitSignals.h"

namespace {

const char kUsage[] = "Usage: tarvenix-can-monitor [Qt options]\n"
                      "\n"
                      "Monitor and transmitter for a CAN bus through the Seeed USB-CAN adapter (a\n"
                      "serial port at 2000000 baud). Pick the adapter's port in the COM Port box, the\n"
                      "bit rate and the identifier mode, and press OPEN: received frames show in the\n"
                      "Table and Trace pages; the transmit list below sends prepared frames once,\n"
                      "periodically or in answer to remote frames.\n"
                      "\n"
                      "Files: the settings file TarvenixCanMonitor.ini and the transmit list\n"
                      "trans_list_seed.dat live beside the program when its folder is writable or the\n"
                      "settings file is already there; otherwise in $XDG_CONFIG_HOME/TarvenixCanMonitor/\n"
                      "(by default ~/.config/TarvenixCanMonitor/). The About box names the folder.\n"
                      "\n"
                      "The window needs a desktop session (DISPLAY or WAYLAND_DISPLAY). SIGTERM,\n"
                      "SIGINT and SIGHUP end it in order, as the window's own close does, without the\n"
                      "exit question.\n"
                      "\n"
                      "Options:\n"
                      "  -h, --help     show this text and exit\n"
                      "  --version      show the version and exit\n"
                      "Any other option goes to Qt (such as -platform offscreen or -style fusion).\n";

bool HasArgument(int argc, char** argv, const char* name)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return true;
    return false;
}

bool HasEnv(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value;
}

} // namespace

int RunMonitorWindow(int argc, char** argv, const std::function<void(TfmMain&)>& started)
{
    if (HasArgument(argc, argv, "--help") || HasArgument(argc, argv, "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (HasArgument(argc, argv, "--version")) {
        std::printf("tarvenix-can-monitor %d.%d\n", TCM_VERSION_MAJOR, TCM_VERSION_MINOR);
        return 0;
    }
    // Qt aborts with a long message when it finds no display: say it in one line.
    if (!HasEnv("DISPLAY") && !HasEnv("WAYLAND_DISPLAY") && !HasEnv("QT_QPA_PLATFORM") &&
        !HasArgument(argc, argv, "-platform")) {
        std::fputs("tarvenix-can-monitor: no display (DISPLAY and WAYLAND_DISPLAY are not set): "
                   "start it in a desktop session\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    TfmMain fmMain;
    new TQuitSignals(fmMain);
    fmMain.show();
    if (started)
        started(fmMain);
    return QApplication::exec();
}
