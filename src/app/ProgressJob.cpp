#include "app/ProgressJob.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>
#include <atomic>
#include <memory>
#include <thread>

namespace {

// The dialog's bar counts in thousandths, so any count fits its int range.
constexpr int kBarSteps = 1000;

} // namespace

bool TProgressJob::Run(const std::function<void(TFileJobControl&)>& work)
{
    TFileJobControl control;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        work(control);
        finished.store(true);
    });

    QEventLoop loop;
    QTimer poll;
    poll.setInterval(20);
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QProgressDialog> dialog;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (finished.load()) {
            loop.quit();
            return;
        }
        if (!dialog) {
            if (clock.elapsed() >= DelayMs)
                loop.quit(); // time for the dialog
            return;
        }
        const int64_t done = control.Done.load();
        if (Total > 0)
            dialog->setValue(static_cast<int>(std::min<int64_t>(done, Total) * kBarSteps / Total));
        if (Text)
            dialog->setLabelText(Text(done));
        if (dialog->wasCanceled())
            control.Cancel.store(true);
    });
    poll.start();

    // First the job gets its chance to end quickly; input waits meanwhile,
    // so nothing the user does can pull the data from under it.
    if (!finished.load())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!finished.load()) {
        dialog = std::make_unique<QProgressDialog>(Text ? Text(control.Done.load()) : QString(), "Cancel", 0,
                                                   Total > 0 ? kBarSteps : 0, Parent);
        dialog->setObjectName("ProgressJobDialog");
        dialog->setWindowTitle("TarvenixCanMonitor");
        dialog->setWindowModality(Qt::WindowModal);
        dialog->setAutoClose(false);
        dialog->setAutoReset(false);
        dialog->setMinimumDuration(0);
        dialog->setValue(0);
        dialog->show();
        while (!finished.load())
            loop.exec();
    }
    poll.stop();
    worker.join();
    return !control.Cancel.load();
}
