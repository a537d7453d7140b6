// The window program as an operator would drive it, for tests that run it as a
// child process: WindowChild RATE_INDEX PORT SIGNAL [question] starts the window
// through the program's own entry, prints the folder of its files, picks the
// rate, types the port and presses OPEN (an error box is printed, not shown),
// then sends itself SIGNAL and lets the program end as it would. With
// "question", the signal comes while the exit question waits for an answer.
#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "adapter/frmChannelMan.h"
#include "app/AppEntry.h"
#include "app/Main.h"
#include "platform/ProgramDir.h"
#include "platform/FastSleepClock.h"

namespace {

std::string OneLine(QString text)
{
    return text.replace('\r', '|').replace('\n', '|').toStdString();
}

} // namespace

int main(int argc, char** argv)
{
    tcm::UseFastSleepClockWhenAsked();
    if (argc != 4 && !(argc == 5 && std::string(argv[4]) == "question")) {
        std::fputs("usage: WindowChild RATE_INDEX PORT SIGNAL [question]\n", stderr);
        return 2;
    }
    const int rateIndex = std::atoi(argv[1]);
    const QString port = QString::fromLocal8Bit(argv[2]);
    const int signal = std::atoi(argv[3]);
    const bool duringQuestion = argc == 5;
    char* args[] = {argv[0], nullptr};
    return RunMonitorWindow(1, args, [&](TfmMain& window) {
        std::printf("files: %s\n", tcm::FilesDir().c_str());
        window.ErrorBox = [](const QString& text) { std::printf("error: %s\n", OneLine(text).c_str()); };
        window.ErrorHintBox = [](const QString& text, const QString& hint) {
            std::printf("error: %s\nhint: %s\n", OneLine(text).c_str(), OneLine(hint).c_str());
        };
        auto* rate = window.ChannelPanel(0)->findChild<QComboBox*>("cbCanRate");
        rate->setCurrentIndex(rateIndex);
        emit rate->activated(rateIndex);
        window.findChild<QComboBox*>("cbComPort")->setEditText(port);
        window.ChannelPanel(0)->findChild<QPushButton*>("btPort")->click();
        std::fflush(stdout);
        // From inside the running event loop, as a logout or `kill` would come.
        if (!duringQuestion) {
            QTimer::singleShot(0, [signal] { std::raise(signal); });
            return;
        }
        QTimer::singleShot(0, [&window, signal] {
            QTimer::singleShot(100, [signal] { std::raise(signal); });
            window.close(); // the exit question's box runs until the signal ends it
        });
    });
}
