#pragma once
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QPoint;
class QStatusBar;
class QTimer;
class QWidget;
class TCanSendList;
class TListViewFrameTable;
class TReplayPanel;
class TTarvenixTable;
class TTarvenixTraceList;
class TTraceRecorder;
class TTraceView;
struct TStatsSnapshot;

// What the trace menu needs from the window: the shown channel's trace and
// table and their views, the boxes, and the window's own steps for them.
struct TTraceMenuHost {
    QWidget* Parent = nullptr;       // dialogs and progress boxes go over it
    QStatusBar* StatusBar = nullptr; // where the recording's state shows on every page
    TListViewFrameTable* TableView = nullptr;
    std::function<TTarvenixTraceList*()> CurrentTrace; // may return nullptr
    std::function<TTarvenixTable*()> CurrentTable;     // may return nullptr
    std::function<TCanSendList*()> CurrentSendList;    // the shown channel's; may return nullptr
    std::function<bool()> IsCurrentChannelOpen;
    std::function<void()> ClearTrace; // the trace and its view emptied together
    std::function<void()> ClearTable;
    std::function<void()> UpdateTrace; // shows the entries not yet shown
    std::function<void(const QString&)> ShowError;
    std::function<bool(const QString&)> AskYesNo; // Yes/No, No default; true = Yes
    // Told the statistics of a recording just opened, from its own times; may be empty.
    std::function<void(const QString& path, const TStatsSnapshot& stats)> RecordingStatsLoaded;
};

// The trace view's pop-up menu and the files behind it: the view's Copy and
// Select all, saving the trace or its selected lines as a recording, recording
// new frames to a file while the channel is open, and opening a recording
// follows the file's extension (the formats of the recording format table).
// follows the file's extension (.log candump, .asc, .blf, .pcap, .txt lines).
class TTraceMenu : public QObject {
    Q_OBJECT
public:
    enum class TFileAsk { SaveTrace, SaveSelection, Record, Open, Replay };

    // `strip` is the Trace page's button strip, where the recording sign goes.
    TTraceMenu(TTraceMenuHost host, TTraceView& view, QWidget& strip, QObject* parent);
    ~TTraceMenu() override;

    // Asks for a file name (empty: the user gave up); the file dialogs by
    // default, so that tests can answer instead. A name to save to has its
    // extension and the user's consent to replace an existing file.
    std::function<QString(TFileAsk ask)> AskFileName;
    // Asks which channel of a recording with several to show (`channels` as found,
    // `frames` each); 0: keep the one shown. A list dialog by default.
    std::function<int(const std::vector<int>& channels, const std::vector<uint64_t>& frames)> AskChannel;
    // The file dialogs themselves.
    QString DefaultAsk(TFileAsk ask);
    int DefaultAskChannel(const std::vector<int>& channels, const std::vector<uint64_t>& frames);
    // Opens one channel of the recording at `path` into the current trace and table.
    void OpenRecordingChannel(const QString& path, int channel);

    // Menu commands.
    void SaveTrace(bool selectionOnly);
    void ToggleRecording();
    void OpenRecording();
    // "Replay recording..." while the channel is open; "Stop replay" while one runs.
    void ToggleReplay();
    TReplayPanel* Replayer() const { return ReplayPanel; }
    // The selected lines as "123#DEADBEEF" lines, as can-utils write and read frames.
    void CopyAsCandump();

    // Window events: `trace` was cleared (`removed` holds what it had); a channel was closed.
    void TraceCleared(const TTarvenixTraceList& trace, const TTarvenixTraceList& removed);
    void ChannelClosed();
    // The sentence that said how the last recording ended, once: for a box
    // that tells why the channel closed.
    QString TakeEndNote();

    bool IsRecording() const { return Recorder != nullptr; }
    QMenu* Menu() const { return pmTrace; }
    // Enables and names the entries for the window's current state.
    void UpdateActions();
    // Milliseconds before a file job shows its progress dialog.
    int ProgressDelayMs;

private:
    QString AskSaveName(TFileAsk ask);
    void ShowMenu(const QPoint& pos);
    bool IsRecordedFile(const QString& path) const;
    bool MayReplaceUnsaved(const TTarvenixTraceList& trace);
    void StartRecording(const QString& path);
    void StopRecording(const QString& failure = QString());
    void tmRecordTimer();
    void ShowRecordingSign();

    TTraceMenuHost Host;
    TTraceView& View;
    std::unique_ptr<TTraceRecorder> Recorder;
    QElapsedTimer RecordClock;
    int32_t RecordFrom = 0; // the trace's entry count when the recording began
    QString LastFolder;
    QString EndNote;
    // Entries 0..SavedUpTo-1 of SavedTrace are in a file (opened from one, saved whole or recorded).
    const TTarvenixTraceList* SavedTrace = nullptr;
    int32_t SavedUpTo = 0;

    QMenu* pmTrace = nullptr;
    QAction* actCopy = nullptr;
    QAction* actCopyCandump = nullptr;
    QAction* actSelectAll = nullptr;
    QAction* actSaveTrace = nullptr;
    QAction* actSaveSelection = nullptr;
    QAction* actRecord = nullptr;
    QAction* actOpenRecording = nullptr;
    QAction* actReplay = nullptr;
    TReplayPanel* ReplayPanel = nullptr;
    QLabel* lbRecording = nullptr;
    QLabel* lbRecordState = nullptr;
    QTimer* tmRecord = nullptr;
};
