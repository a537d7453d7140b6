#include "app/QuitSignals.h"

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app/Main.h"

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
int g_fds[2] = {-1, -1};

extern "C" void OnQuitSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_fds[0], &byte, 1);
    errno = saved;
}

} // namespace

TQuitSignals::TQuitSignals(TfmMain& window) : QObject(&window), Window(window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_fds) != 0) {
        std::perror("tarvenix-can-monitor: socketpair");
        return;
    }
    Notifier = new QSocketNotifier(g_fds[1], QSocketNotifier::Read, this);
    connect(Notifier, &QSocketNotifier::activated, this, [this] { OnSignalByte(); });
    struct sigaction action {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : kSignals)
        ::sigaction(sig, &action, nullptr);
}

TQuitSignals::~TQuitSignals()
{
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int sig : kSignals)
        ::sigaction(sig, &action, nullptr);
    for (int& fd : g_fds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void TQuitSignals::OnSignalByte()
{
    char bytes[64];
    while (::read(g_fds[1], bytes, sizeof bytes) > 0) {}
    if (Quitting)
        return; // a second signal while ending changes nothing
    Quitting = true;
    // No box may wait for an answer now: failures of the shutdown go to stderr.
    Window.ErrorBox = [](const QString& text) {
        std::fprintf(stderr, "tarvenix-can-monitor: %s\n", text.toLocal8Bit().constData());
    };
    Window.InfoBox = Window.ErrorBox;
    Window.ErrorHintBox = [](const QString& text, const QString& informative) {
        std::fprintf(stderr, "tarvenix-can-monitor: %s\n%s\n", text.toLocal8Bit().constData(),
                     informative.toLocal8Bit().constData());
    };
    EndWindow();
}

void TQuitSignals::EndWindow()
{
    // A modal dialog (the exit question, About, an error box) runs its own event
    // loop: cancel it and come back once that loop has returned.
    if (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
        QTimer::singleShot(20, this, [this] { EndWindow(); });
        return;
    }
    Window.QuestionBox = nullptr; // the close runs without the exit question
    Window.close();
}
