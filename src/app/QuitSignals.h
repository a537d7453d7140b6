#pragma once
#include <QObject>

class QSocketNotifier;
class TfmMain;

// Ends the window in its normal shutdown order when the process gets SIGTERM,
// SIGINT or SIGHUP (a session logout, `kill`, Ctrl+C in the terminal): open
// channels are closed and the settings file and transmit lists are written,
// without the exit question. The signal handler only writes a byte into a
// socket pair; the window thread reads it and does the work.
class TQuitSignals : public QObject {
    Q_OBJECT
public:
    explicit TQuitSignals(TfmMain& window);
    ~TQuitSignals() override;

    // Set once the first signal arrived.
    bool Requested() const { return Quitting; }

private:
    void OnSignalByte();
    void EndWindow();

    TfmMain& Window;
    QSocketNotifier* Notifier = nullptr;
    bool Quitting = false;
};
