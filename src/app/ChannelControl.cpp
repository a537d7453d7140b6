#include "app/Main.h"

// Opening and closing a channel: the one place the window's policy is written.
//
// Opening (OpenChannel), in order:
//   1. a serial adapter takes its port from the port box: blanks trimmed, an
//      empty or badly named box refused with an error box; the name is stored
//      in the adapter before the attempt, so that it is saved even when the
//      attempt fails;
//   2. the adapter opens the channel, blocking while it initialises; the log
//      lines of the attempt show at once;
//   3. on failure, an error box with the adapter's LastError (and how to get
//      access to the port, when that was the cause); everything else stays;
//   4. on success, trace and table start empty, the channel's periodic sender
//      runs and the controls follow.
// Closing (CloseChannel): the adapter stops the engine and closes the port,
// the periodic sender pauses, a recording of the channel ends; unless quiet
// (the window's own shutdown), the controls follow and the log lines show.
// A lost or hung adapter (CloseFailedChannels, every update tick) closes its
// channel as the button would, then says why once.

#include <QApplication>
#include <QComboBox>

#include "adapter/AdapterCustom.h"
#include "app/TraceMenu.h"
#include "platform/SerialPort.h"
#include "transmit/PeriodicSendThread.h"

namespace {

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

void TfmMain::OpenChannel(int index)
{
    if (!CurrentAdapter)
        return;
    if (IsSerial && !StorePortFromBox())
        return;
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
    ClearTable(); // a request now, carried out by the reading thread
    PeriodicThreads[static_cast<size_t>(index)]->Resume();
    UpdateState();
}

// The port box's name checked and stored in the serial adapter; false after the error box.
bool TfmMain::StorePortFromBox()
{
    const QString name = TrimmedPortName(cbComPort->currentText());
    if (name.isEmpty()) {
        ShowError("Communication port is not selected");
        return false;
    }
    if (!TComPortListManager::IsAcceptedPortName(name.toStdString())) {
        ShowError("Incorrect name of COM port");
        return false;
    }
    SerialAdapter->Port = name.toStdString();
    return true;
}

void TfmMain::CloseChannel(int index, bool quiet)
{
    CurrentAdapter->Close(index);
    PeriodicThreads[static_cast<size_t>(index)]->Pause();
    TraceMenu->ChannelClosed(); // ends a recording with the frames of the closing
    if (!quiet) {
        UpdateState();
        DrainLog();
        // The timer has stopped: the entries of the last moments show now.
        if (IsTracePageActive())
            UpdateTrace();
    }
}

void TfmMain::CloseFailedChannels()
{
    for (int i = 0; CurrentAdapter && i < CurrentAdapter->GetChannelCount() && i < kMaxChannels; ++i) {
        const std::string text = CurrentAdapter->IsOpen(i) ? CurrentAdapter->ChannelFailure(i) : std::string();
        if (text.empty())
            continue;
        // Closed before the box, so that update ticks during the box find nothing to report.
        TraceMenu->TakeEndNote(); // only an ending of this close is told
        CloseChannel(i, false);
        const QString ended = TraceMenu->TakeEndNote();
        ShowError(QString::fromStdString(text) + (ended.isEmpty() ? QString() : "\n" + ended));
    }
}

// The panel's button: closes an open channel, opens a closed one.
void TfmMain::btPortClick(int channel)
{
    if (IsChannelOpen(channel))
        CloseChannel(channel, false);
    else
        OpenChannel(channel);
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
