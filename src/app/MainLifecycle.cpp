#include "app/Main.h"

// The window's life: start-up in order (the constructor), and the shutdown
// order (ShutDown, the one place it is written).

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileSystemWatcher>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>

#include "adapter/AdapterCustom.h"
#include "app/PlotBytesDialog.h"
#include "app/PlotPage.h"
#include "app/PlotSettings.h"
#include "adapter/AdapterFactory.h"
#include "adapter/QtComPortSource.h"
#include "stats/ChannelStats.h"
#include "app/DatabaseMenu.h"
#include "app/TraceMenu.h"
#include "app/sendgrid/SendGridPanel.h"
#include "core/CanRateList.h"
#include "platform/ProgramDir.h"
#include "transmit/PeriodicSendThread.h"
#include "views/ListViewFrameTable.h"
#include "views/TraceView.h"

TfmMain::TfmMain(std::unique_ptr<TComPortSource> portSource, QWidget* parent) : QMainWindow(parent)
{
    InstallMessageBoxes();

    // Start-up, in order.
    Initialising = true;
    setObjectName("fmMain");
    setWindowTitle(QString(kAppTitle) + " for Seeed adapter");
    IniFile = tcm::FilesDir() + kAppTitle + ".ini";
    if (!portSource)
        portSource = std::make_unique<TQtComPortSource>();
    ComPortList = std::make_unique<TComPortListManager>(std::move(portSource));
    RateList = std::make_unique<TCanRateList>();
    BuildControls();
    TTraceMenuHost traceHost;
    traceHost.Parent = this;
    traceHost.StatusBar = statusBar();
    traceHost.TableView = TableView;
    traceHost.CurrentTrace = [this] { return Trace; };
    traceHost.CurrentTable = [this] { return Table; };
    traceHost.CurrentSendList = [this] { return SendList; };
    traceHost.IsCurrentChannelOpen = [this] { return IsCurrentChannelOpen(); };
    traceHost.ClearTrace = [this] { ClearTrace(); };
    traceHost.ClearTable = [this] { ClearTable(); };
    traceHost.UpdateTrace = [this] { UpdateTrace(); };
    traceHost.ShowError = [this](const QString& text) { ShowError(text); };
    traceHost.AskYesNo = [this](const QString& text) { return QuestionBox && QuestionBox(text); };
    traceHost.RecordingStatsLoaded = [this](const QString& path, const TStatsSnapshot& stats) {
        SetRecordingStats(path, stats);
    };
    TraceMenu = new TTraceMenu(std::move(traceHost), *mTrace, *findChild<QWidget*>("Panel5"), this);
    for (int i = 0; i < kMaxChannels; ++i)
        PeriodicThreads[static_cast<size_t>(i)] = std::make_unique<TPeriodicSendThread>();
    CreateAdapters();
    pcData->setTabVisible(pcData->indexOf(tsLog), false);
    Autoscroll = true;
    cbTraceAutoscroll->setChecked(true);
    SendGrid->SetupSendGrid();
    DatabaseMenu = new TDatabaseMenu(TableView, SignalsPage, pcData, IniFile, this);
    DatabaseMenu->ShowError = [this](const QString& text) { ShowError(text); };
    DatabaseMenu->ShowInfo = [this](const QString& text) { ShowInfo(text); };
    DatabaseMenu->LoadFromSettings();
    // "Plot bytes..." on the receive table's menu: the dialog's field goes to the Plot page.
    AskPlotBytes = [this](uint32_t id, bool extended) -> std::optional<TPlotSource> {
        TPlotBytesDialog dialog(id, extended, this);
        return dialog.exec() == QDialog::Accepted ? dialog.Source() : std::nullopt;
    };
    DatabaseMenu->PlotBytes = [this](uint32_t id, bool extended) {
        if (std::optional<TPlotSource> source = AskPlotBytes ? AskPlotBytes(id, extended) : std::nullopt) {
            PlotPage->Add(std::move(*source));
            pcData->setCurrentWidget(PlotPage);
        }
    };
    PlotPage->ShowError = [this](const QString& text) { ShowError(text); };
    // What was plotted comes back (signals with the same database), and every change is kept.
    try {
        PlotPage->Restore(LoadPlotSettings(IniFile, DatabaseMenu->FileName()), DatabaseMenu->Database());
    } catch (const std::exception& e) {
        ShowError(QString::fromUtf8(e.what()));
    }
    PlotPage->OnChanged = [this] {
        try {
            SavePlotSettings(IniFile, DatabaseMenu->FileName(), PlotPage->Saved());
        } catch (const std::exception& e) {
            ShowError(QString::fromUtf8(e.what()));
        }
    };
    Initialising = false;

    // Serial devices come and go as nodes in /dev.
    DeviceWatcher = new QFileSystemWatcher(QStringList() << "/dev", this);
    connect(DeviceWatcher, &QFileSystemWatcher::directoryChanged, this, [this] { DeviceChanged(); });
}

TfmMain::~TfmMain()
{
    ShutDown(false);
}

// FormShow: centred on the screen, "Table" the active page, the first UpdateState that counts.
void TfmMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (event->spontaneous())
        return;
    if (const QScreen* screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
    pcData->setCurrentWidget(TabSheet1);
    UpdateState();
}

void TfmMain::closeEvent(QCloseEvent* event)
{
    if (ShutDown(true))
        event->accept();
    else
        event->ignore();
}

// Shutdown, in this order; it runs once, and later calls only return true.
// `ask`: the exit question first (a close by the user; a signal takes the
// question away); a window destroyed without a close ends without it.
bool TfmMain::ShutDown(bool ask)
{
    if (Destroyed)
        return true;
    // 1. The exit question: on No nothing else happens.
    if (ask && !FormCloseQuery())
        return false;
    // 2. Every open channel closed quietly, as its button would: engine
    //    stopped, port closed, periodic sender paused, a recording ended.
    FormClose();
    // 3. Update tick stopped, port and rate lists freed, settings file written,
    //    periodic senders stopped for good, views detached, adapters freed (the
    //    transmit lists write their files then), file errors told.
    FormDestroy();
    return true;
}

bool TfmMain::FormCloseQuery()
{
    return !QuestionBox || QuestionBox("Are you sure you want to exit the application?");
}

void TfmMain::FormClose()
{
    if (!CurrentAdapter)
        return;
    for (int i = 0; i < CurrentAdapter->GetChannelCount() && i < kMaxChannels; ++i)
        if (CurrentAdapter->IsOpen(i))
            CloseChannel(i, true);
}

void TfmMain::FormDestroy()
{
    Destroyed = true;
    tmUpdate->stop();
    PlotPage->CurrentTrace = nullptr; // the traces go with the adapter
    ComPortList.reset();
    RateList.reset();
    // A settings file that cannot be written is reported; the rest of the shutdown still runs.
    if (CurrentAdapter) {
        try {
            CurrentAdapter->SaveSettings(IniFile);
        } catch (const std::exception& e) {
            ShowError(QString::fromUtf8(e.what()));
        }
    }
    // The periodic senders hold the transmit lists: they end before the lists do.
    for (auto& thread : PeriodicThreads)
        if (thread)
            thread->Terminate();
    // The views and the lent pointers let go of the channel's objects, which go with the factory.
    TableView->SetTable(nullptr);
    mTrace->Lines().SetTrace(nullptr);
    SendGrid->hide(); // it draws from the current list
    Logger = nullptr;
    Trace = nullptr;
    Table = nullptr;
    SendList = nullptr;
    SendLists.fill(nullptr);
    ChannelSettings.fill(nullptr);
    CurrentAdapter = nullptr;
    SerialAdapter = nullptr;
    AdapterFactory.reset(); // the adapters stop their engines; the transmit lists save their files
    for (const auto& text : FileErrors)
        ShowError(QString::fromStdString(text));
    FileErrors.clear();
}
