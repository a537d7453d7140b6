#include "app/Main.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QGroupBox>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>

#include "adapter/AdapterCustom.h"
#include "adapter/AdapterFactory.h"
#include "adapter/ComPortList.h"
#include "adapter/QtComPortSource.h"
#include "adapter/frmChannelMan.h"
#include "app/About.h"
#include "app/DatabaseMenu.h"
#include "app/SignalsPage.h"
#include "app/sendgrid/SendGridPanel.h"
#include "app/TraceMenu.h"
#include "core/CanRateList.h"
#include "core/CanSettings.h"
#include "core/Logger.h"
#include "platform/IniFile.h"
#include "platform/ProgramDir.h"
#include "platform/SerialPort.h"
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
    ErrorHintBox = [this](const QString& text, const QString& informative) {
        QMessageBox box(QMessageBox::Critical, kErrorCaption, text, QMessageBox::Ok, this);
        box.setInformativeText(informative);
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
    IniFile = tcm::FilesDir() + kAppTitle + ".ini";
    if (!portSource)
        portSource = std::make_unique<TQtComPortSource>();
    ComPortList = std::make_unique<TComPortListManager>(std::move(portSource));
    RateList = std::make_unique<TCanRateList>();
    BuildControls();
    TraceMenu = new TTraceMenu(*this, *mTrace, *findChild<QWidget*>("Panel5"));
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
    // Told once the window is up, over it.
    const QString loadNotice = QString::fromStdString(CurrentAdapter->TakeLoadNotice());
    if (!loadNotice.isEmpty())
        QTimer::singleShot(0, this, [this, loadNotice] {
            DrainLog(); // the log page has the text too
            ShowInfo(loadNotice);
        });
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
        ShowError(QString::fromStdString(CurrentAdapter->LastError),
                  QString::fromStdString(tcm::PortAccessHint(CurrentAdapter->LastErrorNumber)));
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
    TraceMenu->ChannelClosed(); // ends a recording with the frames of the closing
    if (!quiet) {
        UpdateState();
        DrainLog();
    }
}

void TfmMain::CloseFailedChannels()
{
    for (int i = 0; CurrentAdapter && i < CurrentAdapter->GetChannelCount() && i < kMaxChannels; ++i) {
        const std::string text = CurrentAdapter->IsOpen(i) ? CurrentAdapter->ChannelFailure(i) : std::string();
        if (text.empty())
            continue;
        // Closed before the box, so that update ticks during the box find nothing to report.
        CloseChannel(i, false);
        ShowError(QString::fromStdString(text));
    }
}

void TfmMain::ShowError(const QString& text, const QString& informative)
{
    if (!informative.isEmpty() && ErrorHintBox)
        ErrorHintBox(text, informative);
    else if (ErrorBox)
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
    if (Trace) {
        // A recording still takes the removed entries it has not written yet.
        const auto removed = Trace->TakeAll();
        TraceMenu->TraceCleared(*Trace, *removed);
    }
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
    CloseFailedChannels();
    DrainLog();
    if (IsTracePageActive())
        UpdateTrace();
    if (pcData->currentWidget() == SignalsPage)
        SignalsPage->Refresh();
    TickMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    MaxTick = std::max(MaxTick, TickMs);
}

void TfmMain::pcDataChange(int)
{
    if (IsTracePageActive() && !IsCurrentChannelOpen())
        UpdateTrace();
    if (pcData->currentWidget() == SignalsPage)
        SignalsPage->Refresh();
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
