#pragma once
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Mutex.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTimer;
class QWidget;
class TCanSendList;
class TReplay;

// "Replay recording..." in the window: a recording sent through a channel's
// send path with its original timing, by the same engine as
// tarvenix-can-dump --replay, the chosen number of passes. The frames go out
// as any sent frame does, so the trace shows them as OUT lines. Its progress
// and a Stop button sit in the status bar, seen from every page; the end says
// how many frames were sent.
class TReplayPanel : public QObject {
    Q_OBJECT
public:
    TReplayPanel(QWidget* dialogParent, QStatusBar* bar, QObject* parent);
    ~TReplayPanel() override;

    // Starts `path` on `list`'s channel after asking for the passes; false
    // with `error` set when the file is no recording, false and no error when
    // the user gave up.
    bool Start(const QString& path, TCanSendList& list, QString& error);
    void Stop();
    bool IsRunning() const { return Replay != nullptr; }
    QString StateText() const;

    // Asks for the number of passes (0: without end); -1 when the user gave up.
    // An input box by default, so that tests can answer instead.
    std::function<int()> AskPasses;
    // Told the problems the file had (damaged lines that were passed over) at the end.
    std::function<void(const QString&)> ShowError;

private:
    void Refresh();
    void Finish(bool stopped);

    QWidget* DialogParent;
    std::unique_ptr<TReplay> Replay;
    QString Name;
    QLabel* lbReplay = nullptr;
    QProgressBar* pbReplay = nullptr;
    QPushButton* btReplayStop = nullptr;
    QTimer* tmReplay = nullptr;
    tcm::TMutex ProblemLock;
    std::vector<std::string> Problems TCM_GUARDED_BY(ProblemLock); // the first few
    size_t ProblemCount TCM_GUARDED_BY(ProblemLock) = 0;
};
