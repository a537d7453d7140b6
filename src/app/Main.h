#pragma once
#include <QMainWindow>

#include "adapter/ComPortList.h"
#include "plot/PlotSource.h"
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QCheckBox;
class QFileSystemWatcher;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTabBar;
class QTabWidget;
class QTimer;
class QTreeWidget;
class QWidget;

class CAdapterCustom;
class CAdapterFactory;
class CAdapterSerial;
class TCanRateList;
class TCanSendList;
class TDatabaseMenu;
class TfrChannelMan;
class TListViewFrameTable;
class TLogger;
class TPeriodicSendThread;
class TTarvenixTable;
class TTarvenixTraceList;
class TTraceFindBar;
class TTraceView;
class TTraceMenu;
class TSendGridPanel;
class TSignalsPage;
class TStatisticsPage;
class TPlotPage;
struct TStatsSnapshot;
struct TCanSettings;

// The program's main window: owns the adapter factory, the port list, the
// rate list, the channel panels, the receive views and the periodic senders;
// opens and closes channels and shuts everything down in order.
//
// Where each job lives:
//   MainLifecycle.cpp   start-up in order; the shutdown order in one place (ShutDown)
//   ChannelControl.cpp  opening and closing a channel, a lost or hung adapter
//   MainMessages.cpp    the message boxes and the hooks tests replace; start-up messages
//   MainLayout.cpp      the controls and what each is connected to
//   Main.cpp            adapter and channel selection, the controls' state, the views' updates
//   MainStatistics.cpp  the Statistics page and the bus load in the status bar
class TfmMain : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kMaxChannels = 4;
    static constexpr const char* kAppTitle = "TarvenixCanMonitor";
    static constexpr const char* kErrorCaption = "TarvenixCanMonitor - Error!";

    // `portSource` lists the serial ports; none means the system's own list.
    explicit TfmMain(std::unique_ptr<TComPortSource> portSource = nullptr, QWidget* parent = nullptr);
    ~TfmMain() override;

    // Message boxes go through these, so that tests can see and answer them.
    // Boxes asked for while the window is being created are shown once the
    // event loop runs, through the hooks set by then.
    std::function<void(const QString& text)> ErrorBox;
    // An error box with an informative text below the error (how to fix it).
    std::function<void(const QString& text, const QString& informative)> ErrorHintBox;
    std::function<void(const QString& text)> InfoBox;
    // Returns true for Yes.
    std::function<bool(const QString& text)> QuestionBox;
    // "Plot bytes...": the raw field to plot of an identifier, or nothing; a dialog unless replaced.
    std::function<std::optional<TPlotSource>(uint32_t id, bool extended)> AskPlotBytes;

    // Channels (ChannelControl.cpp).
    void OpenChannel(int index);
    void CloseChannel(int index, bool quiet);
    // Closes every open channel whose adapter failed and says why, once.
    void CloseFailedChannels();
    bool IsChannelOpen(int index) const;
    bool IsCurrentChannelOpen() const;

    // Boxes (MainMessages.cpp). With an informative text, the box is ErrorHintBox's.
    void ShowError(const QString& text, const QString& informative = QString());
    void ShowInfo(const QString& text);
    // What a box shows of `text`: printable characters, a bounded number of lines.
    static QString BoxText(const QString& text);

    // Adapter, channel shown, controls and views (Main.cpp).
    void UpdateState();
    void RefreshPortList();
    void DrainLog();
    void UpdateTrace();
    void ClearTable();
    void ClearTrace();
    void SelectAdapter(int index);
    void ShowAdapterSettings();
    void SelectChannel(int index);
    // A serial port device arrived or went away: refresh the port box, keep its text.
    void DeviceChanged();
    // Rewrites the transmit grid from the current transmit list.
    void RefreshSendGrid();

    // Statistics (MainStatistics.cpp): the page from the current channel's run,
    // or from the recording opened into it while it is closed; the status
    // bar's bus load line.
    void RefreshStatistics();
    void UpdateBusLoad();
    void SetRecordingStats(const QString& path, const TStatsSnapshot& stats);
    // Both at once, after the figures' source changed.
    void StatisticsChanged();
    // The figures the page shows now; false before any run or recording.
    bool CurrentStatistics(TStatsSnapshot& out, bool ids, QString& what, int64_t& startWallUs) const;

    const std::string& IniFileName() const { return IniFile; }
    CAdapterCustom* Adapter() const { return CurrentAdapter; }
    TTarvenixTraceList* CurrentTrace() const { return Trace; }
    TTarvenixTable* CurrentTable() const { return Table; }
    TCanSendList* CurrentList() const { return SendList; }
    TPeriodicSendThread* PeriodicThread(int index) const { return PeriodicThreads[static_cast<size_t>(index)].get(); }
    TfrChannelMan* ChannelPanel(int index) const { return ChannelPanels[static_cast<size_t>(index)]; }
    TSendGridPanel* TransmitPanel() const { return SendGrid; }
    TDatabaseMenu* Databases() const { return DatabaseMenu; }
    bool TraceAutoscroll() const { return Autoscroll; }
    // The longest update tick in milliseconds, for measuring.
    double MaxTickMs() const { return MaxTick; }
    void ResetTickStats() { MaxTick = 0; }

    // Closing: the exit question, then the close and destroy steps (MainLifecycle.cpp).
    void closeEvent(QCloseEvent* event) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Start-up and shutdown (MainLifecycle.cpp).
    bool ShutDown(bool ask);
    bool FormCloseQuery();
    void FormClose();
    void FormDestroy();
    // Channels (ChannelControl.cpp).
    bool StorePortFromBox();
    void btPortClick(int channel);
    // Boxes (MainMessages.cpp).
    void InstallMessageBoxes();
    void TellWhenRunning(std::function<void()> tell);
    // Controls (MainLayout.cpp).
    void BuildControls();
    QWidget* BuildLeftColumn();
    QWidget* BuildDataArea();
    // Adapter and handlers (Main.cpp).
    void CreateAdapters();
    void tmUpdateTimer();
    void pcDataChange(int index);
    void cbCanRateChange(int channel, int index);
    void cbCanModeChange(int channel, int index);
    void btTestClick();
    void ApplyTraceFilter();
    void About1Click();
    bool IsTracePageActive() const;

    // Life of the window: creating (UpdateState does nothing), shut down, boxes waiting for the event loop.
    bool Initialising = true;
    bool Destroyed = false;
    std::vector<std::function<void()>> StartupMessages;

    // Files: the settings file, and file errors the adapter reported, told at the end.
    std::string IniFile;
    std::vector<std::string> FileErrors;

    // Adapter: the port list, the kinds, the current adapter, each channel's settings and the rate choices.
    std::unique_ptr<TComPortListManager> ComPortList;
    std::unique_ptr<CAdapterFactory> AdapterFactory;
    CAdapterCustom* CurrentAdapter = nullptr;
    CAdapterSerial* SerialAdapter = nullptr;
    int AdapterIndex = -1;
    bool IsSerial = false;
    std::array<TCanSettings*, kMaxChannels> ChannelSettings{};
    std::unique_ptr<TCanRateList> RateList;

    // The channel shown: its objects, lent by the adapter.
    int CurrentChannel = 0;
    TTarvenixTraceList* Trace = nullptr;
    TTarvenixTable* Table = nullptr;
    TLogger* Logger = nullptr;
    TCanSendList* SendList = nullptr;

    // Transmit: each channel's list, its periodic sender and the grid.
    std::array<TCanSendList*, kMaxChannels> SendLists{};
    std::array<std::unique_ptr<TPeriodicSendThread>, kMaxChannels> PeriodicThreads;
    TSendGridPanel* SendGrid = nullptr;
    QGroupBox* GroupBox4 = nullptr;

    // Pages and views: table, trace (with its menu and recordings), log, signals.
    QTabWidget* pcData = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QWidget* tsLog = nullptr;
    QWidget* pTable = nullptr;
    QTreeWidget* lvTable = nullptr;
    TListViewFrameTable* TableView = nullptr;
    TTraceView* mTrace = nullptr;
    QLineEdit* edTraceFilter = nullptr;
    TTraceFindBar* TraceFind = nullptr;
    static constexpr const char* kTraceFilterHelp =
        "Shows only the lines that pass: ID:MASK (identifier & MASK == ID & MASK), ID~MASK (not equal), "
        "IN, OUT; several separated by blanks or commas";
    QCheckBox* cbTraceAutoscroll = nullptr;
    bool Autoscroll = true;
    TTraceMenu* TraceMenu = nullptr;
    QPlainTextEdit* mLog = nullptr;
    TSignalsPage* SignalsPage = nullptr;
    TStatisticsPage* StatisticsPage = nullptr;
    TPlotPage* PlotPage = nullptr;
    QLabel* lbBusLoad = nullptr;
    // A recording opened into the current channel's trace, and its statistics.
    std::unique_ptr<TStatsSnapshot> RecordingStats;
    QString RecordingPath;
    int RecordingChannel = -1;
    int BusLoadTicks = 0;
    TDatabaseMenu* DatabaseMenu = nullptr;
    QSplitter* Splitter1 = nullptr;

    // The left column (adapter, port box, channel panels) and the channel tabs.
    QComboBox* cbSelectAdapter = nullptr;
    QGroupBox* gbComport = nullptr;
    QComboBox* cbComPort = nullptr;
    QPushButton* btUpdatePortList = nullptr;
    QWidget* pCanManager = nullptr;
    std::array<TfrChannelMan*, kMaxChannels> ChannelPanels{};
    QPushButton* btTest = nullptr;
    QTabBar* tbChannels = nullptr;

    // Timers and watchers: the 100 ms update tick and how long it took; serial devices coming and going.
    QTimer* tmUpdate = nullptr;
    double TickMs = 0;
    double MaxTick = 0;
    QFileSystemWatcher* DeviceWatcher = nullptr;
};
