#include "app/TraceMenu.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QBoxLayout>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTimer>
#include <optional>
#include <utility>

#include "app/ProgressJob.h"
#include "app/ReplayPanel.h"
#include "app/TraceFiles.h"
#include "core/CanText.h"
#include "record/RecordFormat.h"
#include "record/RecordReader.h"
#include "stats/ChannelStats.h"
#include "views/ListViewFrameTable.h"
#include "views/TarvenixTable.h"
#include "views/TarvenixTrace.h"
#include "views/TraceView.h"

namespace {

QString SaveFilters()
{
    return QString::fromStdString(RecordSaveFilters());
}

QString KnownExtensions()
{
    return QString::fromStdString(RecordSaveExtensions());
}

QString Count(int64_t n)
{
    return QLocale::c().toString(static_cast<qlonglong>(n));
}

// "1:02:03" from milliseconds.
QString Elapsed(int64_t ms)
{
    const int64_t s = ms / 1000;
    return QString("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QChar('0')).arg(s % 60, 2, 10, QChar('0'));
}

// The list of malformed parts a file had, as the boxes show it.
QString SkippedParts(const TLoadErrors& errors)
{
    QString text =
        QString("%1 malformed %2 skipped:").arg(Count(errors.Count), errors.Count == 1 ? "part was" : "parts were");
    for (const auto& e : errors.Texts)
        text += "\n" + QString::fromStdString(e);
    if (errors.Count > static_cast<int64_t>(errors.Texts.size()))
        text += QString("\n... and %1 more").arg(Count(errors.Count - static_cast<int64_t>(errors.Texts.size())));
    return text;
}

} // namespace

TTraceMenu::TTraceMenu(TTraceMenuHost host, TTraceView& view, QWidget& strip, QObject* parent)
    : QObject(parent), ProgressDelayMs(TProgressJob::kDefaultDelayMs), Host(std::move(host)), View(view)
{
    setObjectName("TraceMenu");
    AskFileName = [this](TFileAsk ask) { return DefaultAsk(ask); };
    AskChannel = [this](const std::vector<int>& channels, const std::vector<uint64_t>& frames) {
        return DefaultAskChannel(channels, frames);
    };

    pmTrace = new QMenu(&View);
    pmTrace->setObjectName("pmTrace");
    pmTrace->setAccessibleName("Trace menu");
    actCopy = pmTrace->addAction("Copy", [this] { View.CopySelection(); });
    actCopy->setShortcut(QKeySequence::Copy);
    actCopyCandump = pmTrace->addAction("Copy as candump", [this] { CopyAsCandump(); });
    actSelectAll = pmTrace->addAction("Select all", [this] { View.SelectLines(0, View.Lines().LineCount() - 1); });
    actSelectAll->setShortcut(QKeySequence::SelectAll);
    pmTrace->addSeparator();
    actSaveTrace = pmTrace->addAction("Save trace as...", [this] { SaveTrace(false); });
    actSaveSelection = pmTrace->addAction("Save selected lines as...", [this] { SaveTrace(true); });
    pmTrace->addSeparator();
    actRecord = pmTrace->addAction("Record to file...", [this] { ToggleRecording(); });
    actOpenRecording = pmTrace->addAction("Open recording...", [this] { OpenRecording(); });
    actReplay = pmTrace->addAction("Replay recording...", [this] { ToggleReplay(); });
    actReplay->setObjectName("actReplay");
    actCopy->setObjectName("actCopy");
    actCopyCandump->setObjectName("actCopyCandump");
    actSelectAll->setObjectName("actSelectAll");
    actSaveTrace->setObjectName("actSaveTrace");
    actSaveSelection->setObjectName("actSaveSelection");
    actRecord->setObjectName("actRecord");
    actOpenRecording->setObjectName("actOpenRecording");
    // The view handles its own keys; the shortcuts are only shown in the menu.
    for (QAction* action : pmTrace->actions())
        action->setShortcutContext(Qt::WidgetShortcut);

    View.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&View, &QWidget::customContextMenuRequested, this, &TTraceMenu::ShowMenu);

    // The recording sign sits in the page's strip above "Clear trace", so no
    // other control moves or shrinks while it shows.
    lbRecording = new QLabel(&strip);
    lbRecording->setObjectName("lbRecording");
    lbRecording->setAccessibleName("Recording");
    lbRecording->setWordWrap(true);
    lbRecording->setStyleSheet("QLabel { color: #b00000; }");
    lbRecording->hide();
    if (auto* layout = qobject_cast<QBoxLayout*>(strip.layout()))
        layout->insertWidget(layout->count() - 1, lbRecording);

    // The same state in the status bar, seen from every page; after a
    // recording it says how that one ended.
    lbRecordState = new QLabel;
    lbRecordState->setObjectName("lbRecordState");
    lbRecordState->setAccessibleName("Recording state");
    lbRecordState->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    lbRecordState->hide();
    if (Host.StatusBar)
        Host.StatusBar->addWidget(lbRecordState, 1);

    ReplayPanel = new TReplayPanel(Host.Parent, Host.StatusBar, this);
    ReplayPanel->ShowError = Host.ShowError;

    tmRecord = new QTimer(this);
    tmRecord->setObjectName("tmRecord");
    tmRecord->setInterval(100);
    connect(tmRecord, &QTimer::timeout, this, &TTraceMenu::tmRecordTimer);
}

TTraceMenu::~TTraceMenu() = default;

QString TTraceMenu::DefaultAsk(TFileAsk ask)
{
    if (ask == TFileAsk::Open || ask == TFileAsk::Replay)
        return QFileDialog::getOpenFileName(Host.Parent, ask == TFileAsk::Open ? "Open recording" : "Replay recording",
                                            LastFolder, QString::fromStdString(RecordOpenFilters()));
    return AskSaveName(ask);
}

// The save dialog without its own overwrite question: the name gets the
// chosen type's extension first, and the question is about that final name.
QString TTraceMenu::AskSaveName(TFileAsk ask)
{
    const char* caption = ask == TFileAsk::Record          ? "Record to file"
                          : ask == TFileAsk::SaveSelection ? "Save selected lines as"
                                                           : "Save trace as";
    QFileDialog dialog(Host.Parent, caption, LastFolder, SaveFilters());
    dialog.setObjectName("dlgTraceFile");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    QString name = dialog.selectedFiles().constFirst();
    // A name typed without a known extension takes the one of the chosen filter.
    if (!RecordFormatFromPath(name.toStdString(), true)) {
        const auto match = QRegularExpression(R"(\*(\.\w+))").match(dialog.selectedNameFilter());
        if (match.hasMatch())
            name += match.captured(1);
    }
    // The recorded file is refused by the save itself, without a question first.
    if (QFileInfo::exists(name) && !IsRecordedFile(name) &&
        !(Host.AskYesNo && Host.AskYesNo(QString("%1 already exists.\nDo you want to replace it?").arg(name))))
        return {};
    return name;
}

void TTraceMenu::UpdateActions()
{
    const bool open = Host.IsCurrentChannelOpen();
    const bool selection = View.SelectionStart() >= 0;
    const bool trace = Host.CurrentTrace() != nullptr;
    actCopy->setEnabled(selection);
    actCopyCandump->setEnabled(selection);
    actSelectAll->setEnabled(View.Lines().LineCount() > 0);
    actSaveTrace->setEnabled(trace);
    actSaveSelection->setEnabled(trace && selection);
    actRecord->setText(Recorder ? "Stop recording" : "Record to file...");
    actRecord->setEnabled(Recorder || (trace && open));
    actOpenRecording->setEnabled(trace && Host.CurrentTable() && !open && !Recorder);
    actReplay->setText(ReplayPanel->IsRunning() ? "Stop replay" : "Replay recording...");
    actReplay->setEnabled(ReplayPanel->IsRunning() || (open && Host.CurrentSendList && Host.CurrentSendList()));
}

void TTraceMenu::ToggleReplay()
{
    if (ReplayPanel->IsRunning()) {
        ReplayPanel->Stop();
        return;
    }
    TCanSendList* list = Host.CurrentSendList ? Host.CurrentSendList() : nullptr;
    if (!list || !Host.IsCurrentChannelOpen())
        return;
    const QString path = AskFileName(TFileAsk::Replay);
    if (path.isEmpty())
        return;
    LastFolder = QFileInfo(path).absolutePath();
    QString error;
    if (!ReplayPanel->Start(path, *list, error) && !error.isEmpty())
        Host.ShowError(error);
}

void TTraceMenu::CopyAsCandump()
{
    const TTarvenixTraceList* trace = Host.CurrentTrace();
    if (!trace || View.SelectionStart() < 0)
        return;
    std::string text;
    for (int row = View.SelectionStart(); row <= View.SelectionEnd(); ++row) {
        if (const TTarvenixTraceItem* item = trace->Item(View.Lines().EntryOf(row))) {
            AppendCompactFrame(text, item->AsFrame());
            text += '\n';
        }
    }
    QApplication::clipboard()->setText(QString::fromStdString(text));
}

void TTraceMenu::ShowMenu(const QPoint& pos)
{
    UpdateActions();
    pmTrace->popup(View.viewport()->mapToGlobal(pos));
}

bool TTraceMenu::IsRecordedFile(const QString& path) const
{
    if (!Recorder)
        return false;
    const QString recorded = QFileInfo(QString::fromStdString(Recorder->Path())).canonicalFilePath();
    return !recorded.isEmpty() && QFileInfo(path).canonicalFilePath() == recorded;
}

void TTraceMenu::SaveTrace(bool selectionOnly)
{
    TTarvenixTraceList* trace = Host.CurrentTrace();
    if (!trace)
        return;
    // With a filter, what is shown: rows of a copy of its index, which the window goes on extending.
    std::optional<TTraceIndex> shown;
    if (const TTraceIndex* index = View.Lines().FilterIndex())
        shown = *index;
    int32_t first = 0;
    int32_t last = shown ? static_cast<int32_t>(shown->Count()) - 1 : trace->Count() - 1;
    if (selectionOnly) {
        if (View.SelectionStart() < 0)
            return;
        first = View.SelectionStart();
        last = View.SelectionEnd();
    }
    const QString path = AskFileName(selectionOnly ? TFileAsk::SaveSelection : TFileAsk::SaveTrace);
    if (path.isEmpty())
        return;
    LastFolder = QFileInfo(path).absolutePath();
    const auto format = RecordFormatFromPath(path.toStdString(), true);
    if (!format) {
        Host.ShowError(QString("Unable to save %1: unknown file type; use %2").arg(path, KnownExtensions()));
        return;
    }
    if (IsRecordedFile(path)) {
        Host.ShowError(QString("Unable to save %1: the recording is being written to this file; choose another "
                               "file or stop the recording first")
                           .arg(path));
        return;
    }

    // The entries up to `last` stay where they are while the channel goes on
    // appending; the trace is not cleared meanwhile, as the job holds the window.
    const int64_t total = last - first + 1;
    TProgressJob job(Host.Parent, total, [total](int64_t done) {
        return QString("Saving %1 of %2 entries...").arg(Count(done), Count(total));
    });
    job.DelayMs = ProgressDelayMs;
    std::string error;
    bool saved = false;
    const bool completed = job.Run([&](TFileJobControl& control) {
        saved =
            ExportTrace(*trace, first, last, *format, path.toStdString(), control, error, shown ? &*shown : nullptr);
    });
    if (completed && !error.empty())
        Host.ShowError(QString::fromStdString(error));
    if (saved && !shown && first == 0 && (SavedTrace != trace || SavedUpTo <= last)) {
        SavedTrace = trace;
        SavedUpTo = last + 1;
    }
}

void TTraceMenu::ToggleRecording()
{
    if (Recorder) {
        StopRecording();
        return;
    }
    if (!Host.CurrentTrace() || !Host.IsCurrentChannelOpen())
        return;
    const QString path = AskFileName(TFileAsk::Record);
    if (path.isEmpty())
        return;
    LastFolder = QFileInfo(path).absolutePath();
    StartRecording(path);
}

void TTraceMenu::StartRecording(const QString& path)
{
    const auto format = RecordFormatFromPath(path.toStdString(), true);
    if (!format) {
        Host.ShowError(QString("Unable to record to %1: unknown file type; use %2").arg(path, KnownExtensions()));
        return;
    }
    std::string error;
    TTarvenixTraceList& trace = *Host.CurrentTrace();
    RecordFrom = trace.Count();
    Recorder = TTraceRecorder::Start(path.toStdString(), *format, trace, error);
    if (!Recorder) {
        Host.ShowError(QString::fromStdString(error));
        return;
    }
    RecordClock.start();
    EndNote.clear();
    tmRecord->start();
    ShowRecordingSign();
    lbRecording->show();
    lbRecordState->setStyleSheet("QLabel { color: #b00000; }");
    lbRecordState->show();
    UpdateActions();
}

// Ends the recording and says so with the file's path: in the status bar,
// and in the error box when writing failed (`failure` or the recorder's own).
void TTraceMenu::StopRecording(const QString& failure)
{
    if (!Recorder)
        return;
    tmRecord->stop();
    std::string error;
    const bool ok = Recorder->Stop(error);
    const QString path = QFileInfo(QString::fromStdString(Recorder->Path())).absoluteFilePath();
    const auto written = static_cast<int64_t>(Recorder->FramesWritten());
    const TTarvenixTraceList* trace = Host.CurrentTrace();
    // Every entry since the start is in the file: what came before was saved already or is still unsaved.
    if (ok && trace && (RecordFrom == 0 || (SavedTrace == trace && SavedUpTo >= RecordFrom))) {
        SavedTrace = trace;
        SavedUpTo = trace->Count();
    }
    Recorder.reset();
    EndNote = QString("The recording to %1 ended: %2 frames written.").arg(path, Count(written));
    lbRecording->hide();
    lbRecordState->setStyleSheet(QString());
    lbRecordState->setText(EndNote);
    lbRecordState->setToolTip(path);
    UpdateActions();
    // The box comes last: its own event loop must find the recording over.
    const QString reason = !ok ? QString::fromStdString(error) : failure;
    if (!reason.isEmpty()) {
        Host.ShowError(reason + "\n" + EndNote);
        EndNote.clear(); // said already
    }
}

void TTraceMenu::tmRecordTimer()
{
    if (!Recorder)
        return;
    std::string error;
    // A channel that went away without the window closing it ends the recording too.
    if (Recorder->Failed(error) || !Host.IsCurrentChannelOpen()) {
        StopRecording();
        return;
    }
    Recorder->Collect();
    ShowRecordingSign();
}

void TTraceMenu::ShowRecordingSign()
{
    if (!Recorder)
        return;
    const QString path = QFileInfo(QString::fromStdString(Recorder->Path())).absoluteFilePath();
    const QString frames = Count(static_cast<int64_t>(Recorder->FramesWritten()));
    lbRecording->setText(QString("Recording to %1: %2 frames").arg(QFileInfo(path).fileName(), frames));
    lbRecording->setToolTip(path);
    lbRecordState->setText(QString("Recording to %1: %2 frames, %3")
                               .arg(QFileInfo(path).fileName(), frames, Elapsed(RecordClock.elapsed())));
    lbRecordState->setToolTip(path);
}

void TTraceMenu::TraceCleared(const TTarvenixTraceList& trace, const TTarvenixTraceList& removed)
{
    if (&trace == SavedTrace)
        SavedUpTo = 0;
    if (Recorder) {
        Recorder->TraceCleared(trace, removed);
        RecordFrom = 0;
    }
}

void TTraceMenu::ChannelClosed()
{
    if (Recorder && !Host.IsCurrentChannelOpen())
        StopRecording();
    if (!Host.IsCurrentChannelOpen())
        ReplayPanel->Stop();
    UpdateActions();
}

QString TTraceMenu::TakeEndNote()
{
    return std::exchange(EndNote, QString());
}

// True when `trace` holds no entries that are in no file, or the user agrees to lose them.
bool TTraceMenu::MayReplaceUnsaved(const TTarvenixTraceList& trace)
{
    const int64_t unsaved = trace.Count() - (SavedTrace == &trace ? SavedUpTo : 0);
    if (unsaved <= 0)
        return true;
    return Host.AskYesNo &&
           Host.AskYesNo(QString("The trace holds %1 frames that were not saved. Replace them?").arg(Count(unsaved)));
}

void TTraceMenu::OpenRecording()
{
    TTarvenixTraceList* trace = Host.CurrentTrace();
    TTarvenixTable* table = Host.CurrentTable();
    if (!trace || !table || Host.IsCurrentChannelOpen() || Recorder)
        return;
    const QString path = AskFileName(TFileAsk::Open);
    if (path.isEmpty())
        return;
    LastFolder = QFileInfo(path).absolutePath();
    OpenRecordingChannel(path, 1);
}

void TTraceMenu::OpenRecordingChannel(const QString& path, int channel)
{
    TTarvenixTraceList* trace = Host.CurrentTrace();
    TTarvenixTable* table = Host.CurrentTable();
    std::string error;
    const auto reader = OpenRecordReader(path.toStdString(), error);
    if (!reader) {
        Host.ShowError(QString::fromStdString(error));
        return;
    }
    reader->Channel = channel;

    // Nothing is replaced before the file has shown one frame it can give.
    TLoadErrors errors;
    TRecordFrame first;
    bool found = false;
    TProgressJob peek(Host.Parent, 0, [](int64_t) { return QString("Looking for frames..."); });
    peek.DelayMs = ProgressDelayMs;
    if (!peek.Run([&](TFileJobControl& control) { found = ReadFirstFrame(*reader, first, control, errors); }))
        return;
    if (!found) {
        QString text = QString("No frame could be read from %1; the trace and the table stay as they were.").arg(path);
        if (errors.Count > 0)
            text += "\n" + SkippedParts(errors);
        if (const std::string leftOut = reader->LeftOut(); !leftOut.empty())
            text += "\n" + QString::fromStdString(leftOut);
        Host.ShowError(text);
        return;
    }
    if (!MayReplaceUnsaved(*trace))
        return;

    // The table is filled without its view, which is rebuilt once at the end.
    Host.ClearTrace();
    Host.ClearTable();
    if (Host.TableView)
        Host.TableView->SetTable(nullptr);
    TProgressJob job(Host.Parent, 0, [](int64_t done) { return QString("Loading: %1 frames...").arg(Count(done)); });
    job.DelayMs = ProgressDelayMs;
    TStatsAccumulator stats;
    job.Run([&](TFileJobControl& control) { LoadRecording(*reader, first, *trace, *table, control, errors, &stats); });
    if (Host.TableView) {
        Host.TableView->SetTable(table);
        table->Rebuild();
    }
    SavedTrace = trace;
    SavedUpTo = trace->Count();
    Host.UpdateTrace();
    UpdateActions();
    if (Host.RecordingStatsLoaded)
        Host.RecordingStatsLoaded(path, stats.Snapshot(0));

    // Channel 1 is shown first; with several, the user may pick another.
    const auto& channelsFound = reader->ChannelFrames();
    if (channel == 1 && channelsFound.size() > 1) {
        std::vector<int> channels;
        std::vector<uint64_t> frames;
        for (const auto& [number, count] : channelsFound) {
            channels.push_back(number);
            frames.push_back(count);
        }
        if (const int chosen = AskChannel(channels, frames); chosen > 0 && chosen != 1) {
            OpenRecordingChannel(path, chosen);
            return;
        }
    }
    QStringList told;
    if (errors.Count > 0)
        told << SkippedParts(errors);
    if (const std::string leftOut = reader->LeftOut(); !leftOut.empty())
        told << QString::fromStdString(leftOut);
    if (!told.isEmpty())
        Host.ShowError(path + ": " + told.join("\n"));
}

int TTraceMenu::DefaultAskChannel(const std::vector<int>& channels, const std::vector<uint64_t>& frames)
{
    QStringList items;
    for (size_t i = 0; i < channels.size(); ++i)
        items << QString("Channel %1: %2 frames").arg(channels[i]).arg(Count(static_cast<int64_t>(frames[i])));
    const auto one = std::find(channels.begin(), channels.end(), 1);
    bool ok = false;
    const QString item = QInputDialog::getItem(
        Host.Parent, "Open recording", "The recording holds frames of several channels. Show:", items,
        one == channels.end() ? 0 : static_cast<int>(one - channels.begin()), false, &ok);
    const auto index = items.indexOf(item);
    return ok && index >= 0 ? channels[static_cast<size_t>(index)] : 0;
}
