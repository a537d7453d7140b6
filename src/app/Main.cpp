#include "app/Main.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "adapter/AdapterCustom.h"
#include "adapter/AdapterFactory.h"
#include "adapter/ComPortList.h"
#include "adapter/QtComPortSource.h"
#include "adapter/frmChannelMan.h"
#include "app/About.h"
#include "app/SendGrid.h"
#include "core/CanRateList.h"
#include "core/CanSettings.h"
#include "core/Logger.h"
#include "platform/IniFile.h"
#include "platform/ProgramDir.h"
#include "transmit/CanSendList.h"
#include "transmit/PeriodicSendThread.h"
#include "views/ListViewFrameTable.h"
#include "views/TarvenixTable.h"
#include "views/TarvenixTrace.h"
#include "views/TraceView.h"
#include "views/UiFonts.h"

namespace {

const char kAppTitle[] = "TarvenixCanMonitor";
const char kErrorCaption[] = "TarvenixCanMonitor - Error!";

// The port box's text without blanks and control characters at either end.
QString TrimmedPortName(const QString& text)
{
    int first = 0;
    int last = static_cast<int>(text.size()) - 1;
    auto blank = [](QChar c) { return c.isSpace() || c.unicode() < 0x20; };
    while (first <= last && blank(text[first]))
        ++first;
    while (last >= first && blank(text[last]))
        --last;
    return text.mid(first, last - first + 1);
}

} // namespace

TfmMain::TfmMain(std::unique_ptr<TComPortSource> portSource, QWidget* parent) : QMainWindow(parent)
{
    ErrorBox = [this](const QString& text) {
        QMessageBox box(QMessageBox::Critical, kErrorCaption, text, QMessageBox::Ok, this);
        box.exec();
    };
    InfoBox = [this](const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, kAppTitle, text, QMessageBox::Ok, this);
        box.exec();
    };
    QuestionBox = [this](const QString& text) {
        QMessageBox box(QMessageBox::Question, kAppTitle, text, QMessageBox::Yes | QMessageBox::No, this);
        box.setDefaultButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    };

    // Start-up, in order.
    Initialising = true;
    setObjectName("fmMain");
    setWindowTitle(QString(kAppTitle) + " for Seeed adapter");
    IniFile = tcm::ProgramDir() + kAppTitle + ".ini";
    if (!portSource)
        portSource = std::make_unique<TQtComPortSource>();
    ComPortList = std::make_unique<TComPortListManager>(std::move(portSource));
    RateList = std::make_unique<TCanRateList>();
    BuildControls();
    for (int i = 0; i < kMaxChannels; ++i)
        PeriodicThreads[static_cast<size_t>(i)] = std::make_unique<TPeriodicSendThread>();
    CreateAdapters();
    pcData->setTabVisible(pcData->indexOf(tsLog), false);
    Autoscroll = true;
    cbTraceAutoscroll->setChecked(true);
    SendGrid->SetupSendGrid();
    Initialising = false;

    // Serial devices come and go as nodes in /dev.
    DeviceWatcher = new QFileSystemWatcher(QStringList() << "/dev", this);
    connect(DeviceWatcher, &QFileSystemWatcher::directoryChanged, this, [this] { DeviceChanged(); });
}

TfmMain::~TfmMain()
{
    if (!Destroyed) {
        FormClose();
        FormDestroy();
    }
}

void TfmMain::BuildControls()
{
    setFont(SansSerifPixelFont(11));
    resize(850, 542);

    QAction* about = menuBar()->addAction("About");
    about->setObjectName("About1");
    connect(about, &QAction::triggered, this, [this] { About1Click(); });

    auto* central = new QWidget(this);
    auto* row = new QHBoxLayout(central);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(BuildLeftColumn());
    row->addWidget(BuildDataArea(), 1);
    setCentralWidget(central);

    tmUpdate = new QTimer(this);
    tmUpdate->setObjectName("tmUpdate");
    tmUpdate->setInterval(100);
    connect(tmUpdate, &QTimer::timeout, this, [this] { tmUpdateTimer(); });
}

QWidget* TfmMain::BuildLeftColumn()
{
    auto* panel1 = new QWidget;
    panel1->setObjectName("Panel1");
    panel1->setFixedWidth(148);
    auto* column = new QVBoxLayout(panel1);
    column->setContentsMargins(2, 2, 2, 2);
    column->setSpacing(2);

    auto* pAdapter = new QWidget;
    pAdapter->setObjectName("pAdapter");
    auto* adapterRows = new QVBoxLayout(pAdapter);
    adapterRows->setContentsMargins(0, 0, 0, 0);
    adapterRows->setSpacing(2);

    auto* pAdapterSelect = new QWidget;
    pAdapterSelect->setObjectName("pAdapterSelect");
    pAdapterSelect->setFixedHeight(26);
    auto* selectRow = new QHBoxLayout(pAdapterSelect);
    selectRow->setContentsMargins(2, 0, 2, 0);
    auto* label3 = new QLabel("Adapter");
    label3->setObjectName("Label3");
    cbSelectAdapter = new QComboBox;
    cbSelectAdapter->setObjectName("cbSelectAdapter");
    selectRow->addWidget(label3);
    selectRow->addWidget(cbSelectAdapter, 1);
    adapterRows->addWidget(pAdapterSelect);

    gbComport = new QGroupBox("COM Port");
    gbComport->setObjectName("gbComport");
    gbComport->setFixedHeight(44);
    auto* portRow = new QHBoxLayout(gbComport);
    portRow->setContentsMargins(4, 0, 4, 2);
    cbComPort = new QComboBox;
    cbComPort->setObjectName("cbComPort");
    cbComPort->setEditable(true);
    cbComPort->setFixedWidth(105);
    cbComPort->setInsertPolicy(QComboBox::NoInsert);
    btUpdatePortList = new QPushButton;
    btUpdatePortList->setObjectName("btUpdatePortList");
    btUpdatePortList->setFixedSize(23, 22);
    btUpdatePortList->setToolTip("Refresh available port list");
    connect(btUpdatePortList, &QPushButton::clicked, this, [this] { RefreshPortList(); });
    portRow->addWidget(cbComPort);
    portRow->addWidget(btUpdatePortList);
    adapterRows->addWidget(gbComport);
    gbComport->setVisible(false);
    column->addWidget(pAdapter);

    pCanManager = new QWidget;
    pCanManager->setObjectName("pCanManager");
    pCanManager->setAutoFillBackground(true); // covers btTest
    auto* panels = new QVBoxLayout(pCanManager);
    panels->setContentsMargins(0, 0, 0, 0);
    panels->setSpacing(0);
    for (int i = 0; i < kMaxChannels; ++i) {
        auto* panel = new TfrChannelMan(pCanManager);
        panel->setObjectName(QString("frChannelMan%1").arg(i));
        panel->setFixedSize(144, 124);
        panel->SetChannelIndex(i);
        panel->SetCompact(false);
        panel->setVisible(false);
        panels->addWidget(panel);
        ChannelPanels[static_cast<size_t>(i)] = panel;
        auto* rate = panel->findChild<QComboBox*>("cbCanRate");
        auto* mode = panel->findChild<QComboBox*>("cbCanMode");
        auto* port = panel->findChild<QPushButton*>("btPort");
        connect(rate, qOverload<int>(&QComboBox::activated), this, [this, i](int index) { cbCanRateChange(i, index); });
        connect(mode, qOverload<int>(&QComboBox::activated), this, [this, i](int index) { cbCanModeChange(i, index); });
        connect(port, &QPushButton::clicked, this, [this, i] { btPortClick(i); });
    }
    panels->addStretch(1);
    column->addWidget(pCanManager, 1);

    // The diagnostic button sits under the channel area, which covers it.
    btTest = new QPushButton("btTest", panel1);
    btTest->setObjectName("btTest");
    btTest->setGeometry(30, 400, 75, 25);
    btTest->lower();
    connect(btTest, &QPushButton::clicked, this, [this] { btTestClick(); });
    return panel1;
}

QWidget* TfmMain::BuildDataArea()
{
    auto* panel2 = new QWidget;
    panel2->setObjectName("Panel2");
    auto* rows = new QVBoxLayout(panel2);
    rows->setContentsMargins(2, 2, 2, 2);
    rows->setSpacing(2);

    tbChannels = new QTabBar;
    tbChannels->setObjectName("tbChannels");
    tbChannels->setDrawBase(false);
    tbChannels->setExpanding(false);
    connect(tbChannels, &QTabBar::currentChanged, this, [this](int index) {
        if (!Initialising && index >= 0)
            SelectChannel(index);
    });
    rows->addWidget(tbChannels);

    Splitter1 = new QSplitter(Qt::Vertical);
    Splitter1->setObjectName("Splitter1");
    Splitter1->setHandleWidth(6);
    Splitter1->setChildrenCollapsible(false);
    rows->addWidget(Splitter1, 1);

    pcData = new QTabWidget;
    pcData->setObjectName("pcData");
    Splitter1->addWidget(pcData);

    // "Table" page.
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName("TabSheet1");
    auto* tableRow = new QHBoxLayout(TabSheet1);
    tableRow->setContentsMargins(2, 2, 2, 2);
    pTable = new QWidget;
    pTable->setObjectName("pTable");
    auto* tableFill = new QVBoxLayout(pTable);
    tableFill->setContentsMargins(0, 0, 0, 0);
    lvTable = new QTreeWidget(pTable);
    lvTable->setObjectName("lvTable");
    lvTable->setHeaderLabels({"ID", "DLC"});
    lvTable->setFont(FixedPixelFont("Lucida Console", 13));
    lvTable->setVisible(false);
    TableView = new TListViewFrameTable(pTable);
    TableView->setObjectName("TableView");
    TableView->setFont(lvTable->font());
    tableFill->addWidget(TableView);
    tableRow->addWidget(pTable, 1);
    auto* panel6 = new QWidget;
    panel6->setObjectName("Panel6");
    panel6->setFixedWidth(112);
    auto* strip6 = new QVBoxLayout(panel6);
    strip6->addStretch(1);
    auto* btClearTable = new QPushButton("Clear table");
    btClearTable->setObjectName("btClearTable");
    connect(btClearTable, &QPushButton::clicked, this, [this] { ClearTable(); });
    strip6->addWidget(btClearTable);
    tableRow->addWidget(panel6);
    pcData->addTab(TabSheet1, "Table");

    // "Trace" page.
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName("TabSheet2");
    auto* traceRow = new QHBoxLayout(TabSheet2);
    traceRow->setContentsMargins(2, 2, 2, 2);
    auto* groupBox3 = new QGroupBox;
    groupBox3->setObjectName("GroupBox3");
    auto* traceFill = new QVBoxLayout(groupBox3);
    traceFill->setContentsMargins(2, 2, 2, 2);
    mTrace = new TTraceView;
    mTrace->setObjectName("mTrace");
    mTrace->setFont(FixedPixelFont("Lucida Console", 11));
    traceFill->addWidget(mTrace);
    traceRow->addWidget(groupBox3, 1);
    auto* panel5 = new QWidget;
    panel5->setObjectName("Panel5");
    panel5->setFixedWidth(112);
    auto* strip5 = new QVBoxLayout(panel5);
    cbTraceAutoscroll = new QCheckBox("Autoscroll");
    cbTraceAutoscroll->setObjectName("cbTraceAutoscroll");
    connect(cbTraceAutoscroll, &QCheckBox::clicked, this, [this](bool on) { Autoscroll = on; });
    strip5->addWidget(cbTraceAutoscroll);
    strip5->addStretch(1);
    auto* btClearTrace = new QPushButton("Clear trace");
    btClearTrace->setObjectName("btClearTrace");
    connect(btClearTrace, &QPushButton::clicked, this, [this] { ClearTrace(); });
    strip5->addWidget(btClearTrace);
    traceRow->addWidget(panel5);
    pcData->addTab(TabSheet2, "Trace");

    // "Log" page, whose tab stays hidden.
    tsLog = new QWidget;
    tsLog->setObjectName("tsLog");
    auto* logRow = new QHBoxLayout(tsLog);
    mLog = new QPlainTextEdit;
    mLog->setObjectName("mLog");
    mLog->setReadOnly(true);
    mLog->setFont(FixedPixelFont("Lucida Console", 11));
    logRow->addWidget(mLog, 1);
    auto* panel4 = new QWidget;
    panel4->setObjectName("Panel4");
    panel4->setFixedWidth(112);
    auto* strip4 = new QVBoxLayout(panel4);
    strip4->addStretch(1);
    auto* btClearLog = new QPushButton("Clear log");
    btClearLog->setObjectName("btClearLog");
    connect(btClearLog, &QPushButton::clicked, mLog, &QPlainTextEdit::clear);
    strip4->addWidget(btClearLog);
    logRow->addWidget(panel4);
    pcData->addTab(tsLog, "Log");

    connect(pcData, &QTabWidget::currentChanged, this, [this](int index) { pcDataChange(index); });

    GroupBox4 = new QGroupBox("Transmit");
    GroupBox4->setObjectName("GroupBox4");
    TSendGridHost host;
    host.CurrentList = [this] { return SendList; };
    host.CurrentChannel = [this] { return CurrentChannel; };
    host.CurrentExtended = [this] {
        const TCanSettings* settings = CurrentAdapter ? CurrentAdapter->GetSettings(CurrentChannel) : nullptr;
        return settings && settings->Extended;
    };
    host.IsCurrentChannelOpen = [this] { return IsCurrentChannelOpen(); };
    host.IsMultiChannel = [this] { return CurrentAdapter && CurrentAdapter->IsMultiChannel(); };
    host.ShowInfo = [this](const QString& text) { ShowInfo(text); };
    host.AskYesNo = [this](const QString& text) { return QuestionBox && QuestionBox(text); };
    SendGrid = new TSendGridPanel(std::move(host));
    auto* transmitFill = new QVBoxLayout(GroupBox4);
    transmitFill->setContentsMargins(4, 4, 4, 4);
    transmitFill->addWidget(SendGrid);
    Splitter1->addWidget(GroupBox4);
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 0);
    Splitter1->setSizes({300, 212});
    return panel2;
}

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

void TfmMain::CreateAdapters()
{
    AdapterIndex = -1;
    CurrentAdapter = nullptr;
    AdapterFactory = std::make_unique<CAdapterFactory>();
    std::vector<std::string> names;
    AdapterFactory->FillNames(names);
    for (const auto& name : names)
        cbSelectAdapter->addItem(QString::fromStdString(name));
    if (AdapterFactory->GetCount() > 0)
        SelectAdapter(0);
    cbSelectAdapter->setEnabled(AdapterFactory->GetCount() > 1);
}

void TfmMain::SelectAdapter(int index)
{
    if (index == AdapterIndex)
        return;
    CAdapterCustom* adapter = nullptr;
    try {
        adapter = AdapterFactory->GetAdapter(index);
    } catch (const std::exception& e) {
        ShowError(QString("The adapter could not be created: ") + e.what());
        return;
    }
    if (!adapter)
        return;
    AdapterIndex = index;
    CurrentAdapter = adapter;
    CurrentAdapter->OnFileError = [this](const std::string& text) { FileErrors.push_back(text); };
    const std::string loadError = CurrentAdapter->TakeLoadError();
    if (!loadError.empty())
        ShowError(QString::fromStdString(loadError));
    CurrentAdapter->LoadSettings(IniFile);
    SerialAdapter = dynamic_cast<CAdapterSerial*>(CurrentAdapter);
    IsSerial = SerialAdapter != nullptr;

    const int channels = CurrentAdapter->GetChannelCount();
    for (int i = 0; i < kMaxChannels; ++i) {
        ChannelPanels[static_cast<size_t>(i)]->setVisible(i < channels);
        ChannelPanels[static_cast<size_t>(i)]->SetCompact(!CurrentAdapter->IsMultiChannel());
    }
    for (int i = 0; i < channels && i < kMaxChannels; ++i) {
        const auto slot = static_cast<size_t>(i);
        ChannelSettings[slot] = CurrentAdapter->GetSettings(i);
        SendLists[slot] = CurrentAdapter->GetSendList(i);
        if (SendLists[slot])
            SendLists[slot]->SetStandard(!(ChannelSettings[slot] && ChannelSettings[slot]->Extended));
        PeriodicThreads[slot]->SetList(SendLists[slot]);
    }

    const bool wasInitialising = Initialising;
    Initialising = true; // building the tabs must not select channels on its own
    while (tbChannels->count() > 0)
        tbChannels->removeTab(0);
    if (CurrentAdapter->IsMultiChannel())
        for (int i = 0; i < channels; ++i)
            tbChannels->addTab(QString("Channel #%1").arg(i + 1));
    tbChannels->setVisible(tbChannels->count() > 0);
    Initialising = wasInitialising;

    SelectChannel(0);
    ShowAdapterSettings();
    UpdateState();
}

void TfmMain::ShowAdapterSettings()
{
    RateList->LoadFromAdapter(CurrentAdapter);
    std::vector<std::string> labels;
    RateList->FillStrings(labels);
    for (int i = 0; i < CurrentAdapter->GetChannelCount() && i < kMaxChannels; ++i) {
        auto* rate = ChannelPanels[static_cast<size_t>(i)]->findChild<QComboBox*>("cbCanRate");
        auto* mode = ChannelPanels[static_cast<size_t>(i)]->findChild<QComboBox*>("cbCanMode");
        for (const auto& label : labels)
            rate->addItem(QString::fromStdString(label));
        if (const TCanSettings* settings = CurrentAdapter->GetSettings(i)) {
            rate->setCurrentIndex(RateList->IndexOfRate(settings->Rate));
            mode->setCurrentIndex(settings->Extended ? 1 : 0);
        } else {
            rate->setCurrentIndex(-1);
            mode->setCurrentIndex(-1);
        }
    }
    gbComport->setVisible(IsSerial);
    if (IsSerial) {
        RefreshPortList();
        if (!SerialAdapter->Port.empty())
            cbComPort->setEditText(QString::fromStdString(SerialAdapter->Port));
        else if (cbComPort->count() > 0)
            cbComPort->setCurrentIndex(0);
    }
    cbSelectAdapter->setCurrentIndex(AdapterIndex);
}

void TfmMain::SelectChannel(int index)
{
    CurrentChannel = index;
    Logger = CurrentAdapter->GetLogger(index);
    Trace = CurrentAdapter->GetTrace(index);
    Table = CurrentAdapter->GetTable(index);
    SendList = SendLists[static_cast<size_t>(index)];
    TableView->SetTable(Table);
    mTrace->Lines().SetTrace(Trace);
    mTrace->LinesChanged();
    if (Table) {
        if (IsCurrentChannelOpen())
            Table->RequestRebuild();
        else
            Table->Rebuild();
    }
    RefreshSendGrid();
}

void TfmMain::RefreshSendGrid()
{
    SendGrid->RefreshSendGrid();
}

void TfmMain::UpdateState()
{
    if (Initialising || !CurrentAdapter)
        return;
    if (IsSerial)
        cbComPort->setEnabled(!CurrentAdapter->IsOpen(CurrentChannel));
    for (int i = 0; i < CurrentAdapter->GetChannelCount() && i < kMaxChannels; ++i)
        ChannelPanels[static_cast<size_t>(i)]->SetOpened(IsChannelOpen(i));
    if (CurrentAdapter->IsAnyOpen()) {
        if (!tmUpdate->isActive())
            tmUpdate->start();
    } else {
        tmUpdate->stop();
    }
}

void TfmMain::RefreshPortList()
{
    ComPortList->UpdateList();
    cbComPort->clear();
    cbComPort->setEditText(QString());
    for (const auto& name : ComPortList->List.Strings())
        cbComPort->addItem(QString::fromStdString(name));
    cbComPort->setCurrentIndex(-1);
    cbComPort->setEditText(QString());
}

void TfmMain::DeviceChanged()
{
    if (!IsSerial)
        return;
    const QString text = cbComPort->currentText();
    RefreshPortList();
    cbComPort->setEditText(text);
}

void TfmMain::OpenChannel(int index)
{
    if (!CurrentAdapter)
        return;
    if (IsSerial) {
        const QString name = TrimmedPortName(cbComPort->currentText());
        if (name.isEmpty()) {
            ShowError("Communication port is not selected");
            return;
        }
        if (!TComPortListManager::IsAcceptedPortName(name.toStdString())) {
            ShowError("Incorrect name of COM port");
            return;
        }
        SerialAdapter->Port = name.toStdString();
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool ok = CurrentAdapter->Open(index);
    QApplication::restoreOverrideCursor();
    DrainLog();
    if (!ok) {
        ShowError(QString::fromStdString(CurrentAdapter->LastError));
        return;
    }
    ClearTrace();
    ClearTable();
    PeriodicThreads[static_cast<size_t>(index)]->Resume();
    UpdateState();
}

void TfmMain::CloseChannel(int index, bool quiet)
{
    CurrentAdapter->Close(index);
    PeriodicThreads[static_cast<size_t>(index)]->Pause();
    if (!quiet) {
        UpdateState();
        DrainLog();
    }
}

void TfmMain::ShowError(const QString& text)
{
    if (ErrorBox)
        ErrorBox(text);
}

void TfmMain::ShowInfo(const QString& text)
{
    if (InfoBox)
        InfoBox(text);
}

void TfmMain::DrainLog()
{
    if (!Logger)
        return;
    while (!Logger->IsEmpty())
        mLog->appendPlainText(QString::fromStdString(Logger->TakeFirst()));
}

void TfmMain::UpdateTrace()
{
    if (!Trace)
        return;
    TTraceLines& lines = mTrace->Lines();
    const int total = Trace->Count();
    if (lines.LineCount() >= total)
        return;
    lines.AppendUpTo(total);
    mTrace->LinesChanged();
    if (Autoscroll)
        mTrace->ScrollToBottom();
}

void TfmMain::ClearTable()
{
    if (!Table)
        return;
    if (IsCurrentChannelOpen())
        Table->RequestClear();
    else
        Table->Clear();
}

void TfmMain::ClearTrace()
{
    // The view lets go of its lines first: it never points at freed entries.
    mTrace->Lines().ClearLines();
    mTrace->LinesChanged();
    if (Trace)
        Trace->Clear();
}

bool TfmMain::IsChannelOpen(int index) const
{
    if (!CurrentAdapter)
        return false;
    return CurrentAdapter->IsMultiChannel() ? CurrentAdapter->IsOpen(index) : CurrentAdapter->IsAnyOpen();
}

bool TfmMain::IsCurrentChannelOpen() const
{
    return IsChannelOpen(CurrentChannel);
}

bool TfmMain::IsTracePageActive() const
{
    return pcData->currentWidget() == TabSheet2;
}

void TfmMain::tmUpdateTimer()
{
    QElapsedTimer timer;
    timer.start();
    DrainLog();
    if (IsTracePageActive())
        UpdateTrace();
    TickMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    MaxTick = std::max(MaxTick, TickMs);
}

void TfmMain::pcDataChange(int)
{
    if (IsTracePageActive() && !IsCurrentChannelOpen())
        UpdateTrace();
}

void TfmMain::btPortClick(int channel)
{
    if (IsChannelOpen(channel))
        CloseChannel(channel, false);
    else
        OpenChannel(channel);
}

void TfmMain::cbCanRateChange(int channel, int index)
{
    if (channel < 0 || channel >= kMaxChannels)
        return;
    if (TCanSettings* settings = ChannelSettings[static_cast<size_t>(channel)])
        settings->Rate = static_cast<int32_t>(RateList->RateAt(index));
}

void TfmMain::cbCanModeChange(int channel, int index)
{
    if (channel >= 0 && channel < kMaxChannels) {
        if (TCanSettings* settings = ChannelSettings[static_cast<size_t>(channel)]) {
            settings->Extended = index != 0;
            if (TCanSendList* list = SendLists[static_cast<size_t>(channel)])
                list->SetStandard(!settings->Extended);
        }
    }
    RefreshSendGrid();
}

void TfmMain::btTestClick()
{
    CAdapterCustom* adapter = AdapterFactory->GetAdapter(0);
    if (adapter)
        ShowInfo(QString::fromStdString(adapter->GetName()));
}

void TfmMain::About1Click()
{
    TfmAbout about(this);
    about.exec();
}

void TfmMain::closeEvent(QCloseEvent* event)
{
    if (Destroyed) {
        event->accept();
        return;
    }
    if (QuestionBox && !QuestionBox("Are you sure you want to exit the application?")) {
        event->ignore();
        return;
    }
    FormClose();
    FormDestroy();
    event->accept();
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
    ComPortList.reset();
    RateList.reset();
    if (CurrentAdapter) {
        // A settings file that cannot be written is reported; the rest of the
        // shutdown still runs.
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
    TableView->SetTable(nullptr);
    mTrace->Lines().SetTrace(nullptr);
    SendGrid->hide(); // it draws from the current list, which goes with the factory
    Logger = nullptr;
    Trace = nullptr;
    Table = nullptr;
    SendList = nullptr;
    SendLists.fill(nullptr);
    ChannelSettings.fill(nullptr);
    CurrentAdapter = nullptr;
    SerialAdapter = nullptr;
    AdapterFactory.reset(); // the transmit lists save their files here
    for (const auto& text : FileErrors)
        ShowError(QString::fromStdString(text));
    FileErrors.clear();
}
