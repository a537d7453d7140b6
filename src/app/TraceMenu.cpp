#include "app/TraceMenu.h"

#include <QAction>
#include <QBoxLayout>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QRegularExpression>
#include <QTimer>

#include "app/Main.h"
#include "app/ProgressJob.h"
#include "app/TraceFiles.h"
#include "record/RecordFormat.h"
#include "record/RecordReader.h"
#include "views/ListViewFrameTable.h"
#include "views/TarvenixTable.h"
#include "views/TarvenixTrace.h"
#include "views/TraceView.h"

namespace {

const char kSaveFilters[] = "candump log (*.log);;Vector ASC (*.asc);;Vector BLF (*.blf);;pcap (*.pcap);;"
                            "Trace lines (*.txt)";
const char kOpenFilters[] = "Recordings (*.log *.asc *.blf *.pcap);;All files (*)";
const char kKnownExtensions[] = ".log, .asc, .blf, .pcap or .txt";

QString Count(int64_t n)
{
    return QLocale::c().toString(static_cast<qlonglong>(n));
}

} // namespace

TTraceMenu::TTraceMenu(TfmMain& window, TTraceView& view, QWidget& strip)
    : QObject(&window), ProgressDelayMs(TProgressJob::kDefaultDelayMs), Window(window), View(view)
{
    setObjectName("TraceMenu");
    AskFileName = [this](TFileAsk ask) { return DefaultAsk(ask); };

    pmTrace = new QMenu(&View);
    pmTrace->setObjectName("pmTrace");
    actCopy = pmTrace->addAction("Copy", [this] { View.CopySelection(); });
    actCopy->setShortcut(QKeySequence::Copy);
    actSelectAll = pmTrace->addAction("Select all", [this] { View.SelectLines(0, View.Lines().LineCount() - 1); });
    actSelectAll->setShortcut(QKeySequence::SelectAll);
    pmTrace->addSeparator();
    actSaveTrace = pmTrace->addAction("Save trace as...", [this] { SaveTrace(false); });
    actSaveSelection = pmTrace->addAction("Save selected lines as...", [this] { SaveTrace(true); });
    pmTrace->addSeparator();
    actRecord = pmTrace->addAction("Record to file...", [this] { ToggleRecording(); });
    actOpenRecording = pmTrace->addAction("Open recording...", [this] { OpenRecording(); });
    actCopy->setObjectName("actCopy");
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
    lbRecording->setWordWrap(true);
    lbRecording->setStyleSheet("QLabel { color: #b00000; }");
    lbRecording->hide();
    if (auto* layout = qobject_cast<QBoxLayout*>(strip.layout()))
        layout->insertWidget(layout->count() - 1, lbRecording);

    tmRecord = new QTimer(this);
    tmRecord->setObjectName("tmRecord");
    tmRecord->setInterval(100);
    connect(tmRecord, &QTimer::timeout, this, &TTraceMenu::tmRecordTimer);
}

TTraceMenu::~TTraceMenu() = default;

QString TTraceMenu::DefaultAsk(TFileAsk ask)
{
    if (ask == TFileAsk::Open)
        return QFileDialog::getOpenFileName(&Window, "Open recording", LastFolder, kOpenFilters);
    const char* caption = ask == TFileAsk::Record          ? "Record to file"
                          : ask == TFileAsk::SaveSelection ? "Save selected lines as"
                                                           : "Save trace as";
    QString filter;
    QString name = QFileDialog::getSaveFileName(&Window, caption, LastFolder, kSaveFilters, &filter);
    // A name typed without a known extension takes the one of the chosen filter.
    if (!name.isEmpty() && !RecordFormatFromPath(name.toStdString())) {
        const auto match = QRegularExpression(R"(\*(\.\w+))").match(filter);
        if (match.hasMatch())
            name += match.captured(1);
    }
    return name;
}

void TTraceMenu::UpdateActions()
{
    const bool open = Window.IsCurrentChannelOpen();
    const bool selection = View.SelectionStart() >= 0;
    const bool trace = Window.CurrentTrace() != nullptr;
    actCopy->setEnabled(selection);
    actSelectAll->setEnabled(View.Lines().LineCount() > 0);
    actSaveTrace->setEnabled(trace);
    actSaveSelection->setEnabled(trace && selection);
    actRecord->setText(Recorder ? "Stop recording" : "Record to file...");
    actRecord->setEnabled(Recorder || (trace && open));
    actOpenRecording->setEnabled(trace && Window.CurrentTable() && !open && !Recorder);
}

void TTraceMenu::ShowMenu(const QPoint& pos)
{
    UpdateActions();
    pmTrace->popup(View.viewport()->mapToGlobal(pos));
}

void TTraceMenu::SaveTrace(bool selectionOnly)
{
    TTarvenixTraceList* trace = Window.CurrentTrace();
    if (!trace)
        return;
    int32_t first = 0;
    int32_t last = trace->Count() - 1;
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
    const auto format = RecordFormatFromPath(path.toStdString());
    if (!format) {
        Window.ShowError(QString("Unable to save %1: unknown file type; use %2").arg(path, kKnownExtensions));
        return;
    }

    // The entries up to `last` stay where they are while the channel goes on
    // appending; the trace is not cleared meanwhile, as the job holds the window.
    const int64_t total = last - first + 1;
    TProgressJob job(&Window, total, [total](int64_t done) {
        return QString("Saving %1 of %2 entries...").arg(Count(done), Count(total));
    });
    job.DelayMs = ProgressDelayMs;
    std::string error;
    const bool completed = job.Run([&](TFileJobControl& control) {
        ExportTrace(*trace, first, last, *format, path.toStdString(), control, error);
    });
    if (completed && !error.empty())
        Window.ShowError(QString::fromStdString(error));
}

void TTraceMenu::ToggleRecording()
{
    if (Recorder) {
        StopRecording();
        return;
    }
    if (!Window.CurrentTrace() || !Window.IsCurrentChannelOpen())
        return;
    const QString path = AskFileName(TFileAsk::Record);
    if (path.isEmpty())
        return;
    LastFolder = QFileInfo(path).absolutePath();
    StartRecording(path);
}

void TTraceMenu::StartRecording(const QString& path)
{
    const auto format = RecordFormatFromPath(path.toStdString());
    if (!format) {
        Window.ShowError(QString("Unable to record to %1: unknown file type; use %2").arg(path, kKnownExtensions));
        return;
    }
    std::string error;
    Recorder = TTraceRecorder::Start(path.toStdString(), *format, *Window.CurrentTrace(), error);
    if (!Recorder) {
        Window.ShowError(QString::fromStdString(error));
        return;
    }
    tmRecord->start();
    ShowRecordingSign();
    lbRecording->show();
    UpdateActions();
}

void TTraceMenu::StopRecording()
{
    if (!Recorder)
        return;
    tmRecord->stop();
    std::string error;
    const bool ok = Recorder->Stop(error);
    Recorder.reset();
    lbRecording->hide();
    UpdateActions();
    // The box comes last: its own event loop must find the recording over.
    if (!ok)
        Window.ShowError(QString::fromStdString(error));
}

void TTraceMenu::tmRecordTimer()
{
    if (!Recorder)
        return;
    std::string error;
    // A channel that went away without the window closing it ends the recording too.
    if (Recorder->Failed(error) || !Window.IsCurrentChannelOpen()) {
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
    const QString path = QString::fromStdString(Recorder->Path());
    lbRecording->setText(QString("Recording to %1: %2 frames")
                             .arg(QFileInfo(path).fileName(), Count(static_cast<int64_t>(Recorder->FramesWritten()))));
    lbRecording->setToolTip(path);
}

void TTraceMenu::TraceCleared(const TTarvenixTraceList& trace, const TTarvenixTraceList& removed)
{
    if (Recorder)
        Recorder->TraceCleared(trace, removed);
}

void TTraceMenu::ChannelClosed()
{
    if (Recorder && !Window.IsCurrentChannelOpen())
        StopRecording();
    UpdateActions();
}

void TTraceMenu::OpenRecording()
{
    TTarvenixTraceList* trace = Window.CurrentTrace();
    TTarvenixTable* table = Window.CurrentTable();
    if (!trace || !table || Window.IsCurrentChannelOpen() || Recorder)
        return;
    const QString path = AskFileName(TFileAsk::Open);
    if (path.isEmpty())
        return;
    LastFolder = QFileInfo(path).absolutePath();
    std::string error;
    const auto reader = OpenRecordReader(path.toStdString(), error);
    if (!reader) {
        Window.ShowError(QString::fromStdString(error));
        return;
    }

    // The table is filled without its view, which is rebuilt once at the end.
    auto* tableView = Window.findChild<TListViewFrameTable*>("TableView");
    Window.ClearTrace();
    Window.ClearTable();
    if (tableView)
        tableView->SetTable(nullptr);
    std::vector<std::string> errors;
    int64_t errorCount = 0;
    TProgressJob job(&Window, 0, [](int64_t done) { return QString("Loading: %1 frames...").arg(Count(done)); });
    job.DelayMs = ProgressDelayMs;
    job.Run([&](TFileJobControl& control) { LoadRecording(*reader, *trace, *table, control, errors, errorCount); });
    if (tableView) {
        tableView->SetTable(table);
        table->Rebuild();
    }
    Window.UpdateTrace();
    UpdateActions();

    if (errorCount > 0) {
        QString text = QString("%1: %2 malformed %3 skipped:")
                           .arg(path, Count(errorCount), errorCount == 1 ? "part was" : "parts were");
        for (const auto& e : errors)
            text += "\n" + QString::fromStdString(e);
        if (errorCount > static_cast<int64_t>(errors.size()))
            text += QString("\n... and %1 more").arg(Count(errorCount - static_cast<int64_t>(errors.size())));
        Window.ShowError(text);
    }
}
