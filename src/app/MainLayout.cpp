#include "app/Main.h"

// The window's controls: their names, captions, sizes and where they sit.
// Behaviour is attached here by connecting each control to its handler.

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "adapter/AdapterCustom.h"
#include "adapter/frmChannelMan.h"
#include "app/DatabaseMenu.h"
#include "app/sendgrid/SendGridPanel.h"
#include "app/PlotPage.h"
#include "app/SignalsPage.h"
#include "app/StatisticsPage.h"
#include "app/TraceFindBar.h"
#include "core/CanSettings.h"
#include "views/ListViewFrameTable.h"
#include "views/TraceView.h"
#include "views/UiFonts.h"

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

    // The status bar: what goes on beside the page shown (a recording).
    statusBar()->setObjectName("sbMain");
    statusBar()->setAccessibleName("Status bar");

    // The bus load of the channel shown, whatever page is open.
    lbBusLoad = new QLabel;
    lbBusLoad->setObjectName("lbBusLoad");
    lbBusLoad->setAccessibleName("Bus load");
    lbBusLoad->setToolTip("Bits on the bus in the last second / bit rate, and the busiest second of the run");
    // Room for the widest figures, so a long replay or recording line beside it
    // cannot squeeze it to a few letters in a narrow window.
    lbBusLoad->setMinimumWidth(lbBusLoad->fontMetrics().horizontalAdvance("Bus load 100.0 % (peak 100.0 %)") + 8);
    statusBar()->addPermanentWidget(lbBusLoad);

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
    btTest->setFocusPolicy(Qt::NoFocus); // hidden: Tab must never land on it
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
    TableView->setAccessibleName("Receive table");
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
    mTrace->setAccessibleName("Trace");
    mTrace->setFont(FixedPixelFont("Lucida Console", 11));
    edTraceFilter = new QLineEdit;
    edTraceFilter->setObjectName("edTraceFilter");
    edTraceFilter->setAccessibleName("Trace filter");
    edTraceFilter->setPlaceholderText("Filter: 123:7FF 18DA0000~1FFF0000 IN OUT");
    edTraceFilter->setToolTip(kTraceFilterHelp);
    edTraceFilter->setClearButtonEnabled(true);
    connect(edTraceFilter, &QLineEdit::textChanged, this, [this] { ApplyTraceFilter(); });
    traceFill->addWidget(edTraceFilter);
    TraceFind = new TTraceFindBar(*mTrace);
    TraceFind->OnJump = [this] {
        // A match stays in sight: the view stops following the newest line.
        Autoscroll = false;
        cbTraceAutoscroll->setChecked(false);
    };
    traceFill->addWidget(TraceFind);
    traceFill->addWidget(mTrace);
    // Ctrl+F, F3 and Shift+F3 work from anywhere in the window while the Trace page shows.
    const auto onTracePage = [this](QKeySequence keys, std::function<void()> act) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, [this, act] {
            if (IsTracePageActive())
                act();
        });
    };
    onTracePage(QKeySequence::Find, [this] { TraceFind->Open(); });
    onTracePage(QKeySequence(Qt::Key_F3), [this] {
        TraceFind->Open();
        TraceFind->FindNext(true);
    });
    onTracePage(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] {
        TraceFind->Open();
        TraceFind->FindNext(false);
    });
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
    mLog->setAccessibleName("Log");
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

    // "Signals" page, shown while a CAN database is loaded; after the hidden
    // "Log" page, so that every page keeps its index.
    SignalsPage = new TSignalsPage(TableView);
    SignalsPage->setObjectName("tsSignals");
    pcData->addTab(SignalsPage, "Signals");

    // "Statistics" page, always there, after "Signals".
    StatisticsPage = new TStatisticsPage;
    StatisticsPage->setObjectName("tsStatistics");
    pcData->addTab(StatisticsPage, "Statistics");

    // "Plot" page, after "Statistics": the samples come from the shown channel's trace.
    PlotPage = new TPlotPage;
    PlotPage->setObjectName("tsPlot");
    PlotPage->CurrentTrace = [this] { return Trace; };
    pcData->addTab(PlotPage, "Plot");
    SignalsPage->OnPlot = [this](std::vector<TPlotSource> sources) {
        for (TPlotSource& source : sources)
            PlotPage->Add(std::move(source));
        pcData->setCurrentWidget(PlotPage);
    };

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
    host.CurrentDatabase = [this] {
        return DatabaseMenu ? DatabaseMenu->Shared() : std::shared_ptr<const TDbcDatabase>();
    };
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
