#pragma once
#include <QMainWindow>

#include "adapter/ComPortList.h"
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QComboBox;
class QCheckBox;
class QFileSystemWatcher;
class QGroupBox;
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
class TTraceView;
class TTraceMenu;
class TSendGridPanel;
class TSignalsPage;
struct TCanSettings;

// The program's main window: owns the adapter factory, the port list, the
// rate list, the channel panels, the receive views and the periodic senders;
// opens and closes channels and shuts everything down in order.
class TfmMain : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kMaxChannels = 4;

    // `portSource` lists the serial ports; none means the system's own list.
    explicit TfmMain(std::unique_ptr<TComPortSource> portSource = nullptr, QWidget* parent = nullptr);
    ~TfmMain() override;

    // Message boxes go through these, so that tests can see and answer them.
    std::function<void(const QString& text)> ErrorBox;
    // An error box with an informative text below the error (how to fix it).
    std::function<void(const QString& text, const QString& informative)> ErrorHintBox;
    std::function<void(const QString& text)> InfoBox;
    // Returns true for Yes.
    std::function<bool(const QString& text)> QuestionBox;

    void UpdateState();
    void RefreshPortList();
    void OpenChannel(int index);
    void CloseChannel(int index, bool quiet);
    // With an informative text, the box is ErrorHintBox's.
    void ShowError(const QString& text, const QString& informative = QString());
    void ShowInfo(const QString& text);
    void DrainLog();
    // Closes every open channel whose adapter failed and says why, once.
    void CloseFailedChannels();
    void UpdateTrace();
    void ClearTable();
    void ClearTrace();
    bool IsChannelOpen(int index) const;
    bool IsCurrentChannelOpen() const;
    void SelectAdapter(int index);
    void ShowAdapterSettings();
    void SelectChannel(int index);
    // A serial port device arrived or went away: refresh the port box, keep its text.
    void DeviceChanged();
    // Rewrites the transmit grid from the current transmit list.
    void RefreshSendGrid();

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
    // Milliseconds the update ticks took, for measuring.
    double LastTickMs() const { return TickMs; }
    double MaxTickMs() const { return MaxTick; }
    void ResetTickStats() { MaxTick = 0; }

    // Closing: the exit question, then the close and destroy steps.
    void closeEvent(QCloseEvent* event) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    QWidget* BuildLeftColumn();
    QWidget* BuildDataArea();
    void CreateAdapters();
    void FormClose();
    void FormDestroy();
    void tmUpdateTimer();
    void pcDataChange(int index);
    void btPortClick(int channel);
    void cbCanRateChange(int channel, int index);
    void cbCanModeChange(int channel, int index);
    void btTestClick();
    void About1Click();
    bool IsTracePageActive() const;

    bool Initialising = true;
    bool Destroyed = false;
    std::string IniFile;
    std::unique_ptr<TComPortListManager> ComPortList;
    std::unique_ptr<CAdapterFactory> AdapterFactory;
    CAdapterCustom* CurrentAdapter = nullptr;
    CAdapterSerial* SerialAdapter = nullptr;
    int AdapterIndex = -1;
    int CurrentChannel = 0;
    bool IsSerial = false;
    TTarvenixTraceList* Trace = nullptr;
    TTarvenixTable* Table = nullptr;
    TLogger* Logger = nullptr;
    std::array<TfrChannelMan*, kMaxChannels> ChannelPanels{};
    std::array<TCanSettings*, kMaxChannels> ChannelSettings{};
    std::unique_ptr<TCanRateList> RateList;
    bool Autoscroll = true;
    TListViewFrameTable* TableView = nullptr;
    TCanSendList* SendList = nullptr;
    std::array<TCanSendList*, kMaxChannels> SendLists{};
    std::array<std::unique_ptr<TPeriodicSendThread>, kMaxChannels> PeriodicThreads;
    std::vector<std::string> FileErrors;
    double TickMs = 0;
    double MaxTick = 0;

    // Controls.
    QComboBox* cbSelectAdapter = nullptr;
    QGroupBox* gbComport = nullptr;
    QComboBox* cbComPort = nullptr;
    QPushButton* btUpdatePortList = nullptr;
    QWidget* pCanManager = nullptr;
    QPushButton* btTest = nullptr;
    QTabBar* tbChannels = nullptr;
    QTabWidget* pcData = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QWidget* tsLog = nullptr;
    QWidget* pTable = nullptr;
    QTreeWidget* lvTable = nullptr;
    TTraceView* mTrace = nullptr;
    QCheckBox* cbTraceAutoscroll = nullptr;
    QPlainTextEdit* mLog = nullptr;
    QSplitter* Splitter1 = nullptr;
    QGroupBox* GroupBox4 = nullptr;
    TSendGridPanel* SendGrid = nullptr;
    TSignalsPage* SignalsPage = nullptr;
    TDatabaseMenu* DatabaseMenu = nullptr;
    TTraceMenu* TraceMenu = nullptr; // the trace view's pop-up menu and recordings
    QTimer* tmUpdate = nullptr;
    QFileSystemWatcher* DeviceWatcher = nullptr;
};
