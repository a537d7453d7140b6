#pragma once
// Helpers shared by the widget tests.
#include <functional>
#include <string>

#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QProgressDialog>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <QtTest/QTest>

namespace tcmtest {

// Saves a picture of `widget` as <dir>/<name>.png when TCM_SCREENSHOT_DIR
// names a folder, so that the looks can be checked by eye; first runs the event
// loop for `settleMs`, so that what was just shown has painted.
inline void SaveScreenshot(QWidget& widget, const char* name, int settleMs = 0)
{
    const QString dir = qEnvironmentVariable("TCM_SCREENSHOT_DIR");
    if (dir.isEmpty())
        return;
    if (settleMs > 0)
        QTest::qWait(settleMs);
    QDir().mkpath(dir);
    widget.grab().save(dir + QLatin1Char('/') + QString::fromLatin1(name) + QStringLiteral(".png"));
}

// Runs the event loop until `done` holds; false when `timeoutMs` passes first.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}

// Presses Cancel on a long job's progress dialog under `window` as soon as it
// shows, checking every `everyMs` while started; Seen tells whether it came.
class TProgressCanceller {
public:
    TProgressCanceller(QWidget& window, int everyMs) : EveryMs(everyMs)
    {
        QObject::connect(&Timer, &QTimer::timeout, [this, &window] {
            if (auto* dialog = window.findChild<QProgressDialog*>("ProgressJobDialog"); dialog && dialog->isVisible()) {
                Seen = true;
                dialog->cancel();
            }
        });
    }
    void Start() { Timer.start(EveryMs); }
    void Stop() { Timer.stop(); }
    bool Seen = false;

private:
    const int EveryMs;
    QTimer Timer;
};

} // namespace tcmtest
