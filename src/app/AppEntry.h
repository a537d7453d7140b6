#pragma once
#include <functional>

class TfmMain;

// The window program: answers --help and --version without a display, says in
// one line when there is no display to show a window on, otherwise creates the
// application and the main window and runs until the window closes (or a
// SIGTERM, SIGINT or SIGHUP ends it in order). `started`, when given, runs once
// the window is shown.
int RunMonitorWindow(int argc, char** argv, const std::function<void(TfmMain&)>& started = {});
