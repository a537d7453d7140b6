#include "app/Main.h"

// Adapter and channel selection, the controls' state, the port box and the
// views' updates; the window's event handlers that are not about opening,
// closing or shutting down.

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>

#include "adapter/AdapterCustom.h"
#include "adapter/AdapterFactory.h"
#include "adapter/ComPortList.h"
#include "adapter/frmChannelMan.h"
#include "app/About.h"
#include "app/PlotPage.h"
#include "app/SignalsPage.h"
#include "app/StatisticsPage.h"
#include "app/sendgrid/SendGridPanel.h"
#include "app/TraceMenu.h"
#include "core/CanRateList.h"
#include "core/CanSettings.h"
#include "core/Logger.h"
#include "stats/ChannelStats.h"
#include "transmit/CanSendList.h"
#include "transmit/PeriodicSendThread.h"
#include "views/ListViewFrameTable.h"
#include "views/TarvenixTable.h"
#include "views/TarvenixTrace.h"
#include "views/TraceView.h"
#include "views/UiFonts.h"

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
        const QString text = QString("The adapter could not be created: ") + e.what();
        TellWhenRunning([this, text] { ShowError(text); });
        return;
    }
    if (!adapter)
        return;
    AdapterIndex = index;
    CurrentAdapter = adapter;
    CurrentAdapter->OnFileError = [this](const std::string& text) { FileErrors.push_back(text); };
    // The transmit list file's troubles, told once the window is up, over it.
    const QString loadError = QString::fromStdString(CurrentAdapter->TakeLoadError());
    if (!loadError.isEmpty())
        TellWhenRunning([this, loadError] { ShowError(loadError); });
    const QString loadNotice = QString::fromStdString(CurrentAdapter->TakeLoadNotice());
    if (!loadNotice.isEmpty())
        TellWhenRunning([this, loadNotice] {
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
    // The timer refreshes them while a channel runs; a change of channel or of
    // its state shows at once.
    StatisticsChanged();
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
    if (lines.Shown() >= total)
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
    // A recording's statistics go with its frames.
    if (RecordingStats) {
        RecordingStats.reset();
        StatisticsChanged();
    }
    // The view lets go of its lines first: it never points at freed entries.
    mTrace->Lines().ClearLines();
    mTrace->LinesChanged();
    if (Trace) {
        // A recording still takes the removed entries it has not written yet.
        const auto removed = Trace->TakeAll();
        TraceMenu->TraceCleared(*Trace, *removed);
    }
    PlotPage->TraceReset();
}

// The filter line's terms: lines of other entries are hidden at once; a term
// that cannot be read marks the line and keeps the filter in force.
void TfmMain::ApplyTraceFilter()
{
    auto filter = std::make_shared<TTraceFilter>();
    std::string bad;
    if (!TTraceFilter::Parse(edTraceFilter->text().toStdString(), *filter, bad)) {
        edTraceFilter->setStyleSheet("QLineEdit { background: #ffd8d8; }");
        edTraceFilter->setToolTip(
            QString("Not a filter term: %1\n%2").arg(QString::fromStdString(bad), kTraceFilterHelp));
        return;
    }
    edTraceFilter->setStyleSheet(QString());
    edTraceFilter->setToolTip(kTraceFilterHelp);
    mTrace->Lines().SetFilter(std::move(filter));
    mTrace->SelectLines(-1, -1);
    mTrace->LinesChanged();
    if (Autoscroll)
        mTrace->ScrollToBottom();
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
    if (pcData->currentWidget() == StatisticsPage)
        RefreshStatistics();
    // Three times a second is often enough for a figure read at a glance.
    if (++BusLoadTicks >= 3) {
        BusLoadTicks = 0;
        UpdateBusLoad();
    }
    TickMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    MaxTick = std::max(MaxTick, TickMs);
}

void TfmMain::pcDataChange(int)
{
    if (IsTracePageActive() && !IsCurrentChannelOpen())
        UpdateTrace();
    if (pcData->currentWidget() == SignalsPage)
        SignalsPage->Refresh();
    if (pcData->currentWidget() == StatisticsPage)
        RefreshStatistics();
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
