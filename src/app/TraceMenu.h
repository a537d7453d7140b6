#pragma once
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QPoint;
class QTimer;
class QWidget;
class TfmMain;
class TTarvenixTraceList;
class TTraceRecorder;
class TTraceView;

// The trace view's pop-up menu and the files behind it: the view's Copy and
// Select all, saving the trace or its selected lines as a recording, recording
// new frames to a file while the channel is open, and opening a recording
// into the trace and the receive table while it is closed. The file format
// follows the file's extension (.log candump, .asc, .blf, .pcap, .txt lines).
class TTraceMenu : public QObject {
    Q_OBJECT
public:
    enum class TFileAsk { SaveTrace, SaveSelection, Record, Open };

    // `strip` is the Trace page's button strip, where the recording sign goes.
    TTraceMenu(TfmMain& window, TTraceView& view, QWidget& strip);
    ~TTraceMenu() override;

    // Asks for a file name (empty: the user gave up); the file dialogs by
    // default, so that tests can answer instead.
    std::function<QString(TFileAsk ask)> AskFileName;

    // Menu commands.
    void SaveTrace(bool selectionOnly);
    void ToggleRecording();
    void OpenRecording();

    // Window events: `trace` was cleared (`removed` holds what it had); a channel was closed.
    void TraceCleared(const TTarvenixTraceList& trace, const TTarvenixTraceList& removed);
    void ChannelClosed();

    bool IsRecording() const { return Recorder != nullptr; }
    QMenu* Menu() const { return pmTrace; }
    // Enables and names the entries for the window's current state.
    void UpdateActions();
    // Milliseconds before a file job shows its progress dialog.
    int ProgressDelayMs;

private:
    QString DefaultAsk(TFileAsk ask);
    void ShowMenu(const QPoint& pos);
    void StartRecording(const QString& path);
    void StopRecording();
    void tmRecordTimer();
    void ShowRecordingSign();

    TfmMain& Window;
    TTraceView& View;
    std::unique_ptr<TTraceRecorder> Recorder;
    QString LastFolder;

    QMenu* pmTrace = nullptr;
    QAction* actCopy = nullptr;
    QAction* actSelectAll = nullptr;
    QAction* actSaveTrace = nullptr;
    QAction* actSaveSelection = nullptr;
    QAction* actRecord = nullptr;
    QAction* actOpenRecording = nullptr;
    QLabel* lbRecording = nullptr;
    QTimer* tmRecord = nullptr;
};
