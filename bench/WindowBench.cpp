// The window under full link load and with a large trace, offscreen.
//
//   bench_window [--seconds S] [--ids N]
// Figures: update tick time and event-loop lateness on the "Table" and the
// "Trace" page with the simulated adapter at 10,000 frames/s, the window
// thread's CPU on the "Table" and then the "Statistics" page with a real event loop (with the table
// view's drains and paints per second), on the "Trace" page without and with a filter (and a find),
// the click-to-change latency of the
// "Clear table" button, frames lost by the window (the simulator's own drops at
// the link's limit counted apart, by their sequence numbers), and the cost of a tick that appends 1,000
// lines to a trace view of 1,000,000.
// Offscreen unless QT_QPA_PLATFORM says otherwise (xvfb-run with
// QT_QPA_PLATFORM=xcb for a real display server).
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <QEventLoop>
#include <QMouseEvent>

#include <csignal>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "TrafficGenerator.h"
#include "adapter/ComPortList.h"
#include "adapter/frmChannelMan.h"
#include "app/Main.h"
#include "app/TraceFindBar.h"
#include "platform/ProgramDir.h"
#include "views/ListViewFrameTable.h"
#include "views/TarvenixTrace.h"
#include "views/TraceView.h"
#include "ProcStats.h"
#include "SequenceCount.h"

namespace {

class TNoPorts : public TComPortSource {
public:
    std::vector<TDevice> PresentDevices() override { return {}; }
};

// Runs the event loop for `ms` while a 10 ms timer records how late it fires.
double RunAndMeasureLateness(int ms)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    double worst = 0;
    QTimer probe;
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (last != 0)
            worst = std::max(worst, static_cast<double>(now - last - 10));
        last = now;
    });
    probe.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return worst;
}

// Runs the real event loop for `ms` and prints the CPU share of the window
// thread (the process's main thread) and of the whole process.
void MeasureWindowCpu(const char* page, int ms)
{
    const std::string self = "/proc/" + std::to_string(getpid());
    const std::string windowThread = self + "/task/" + std::to_string(getpid()) + "/stat";
    const double windowBefore = StatCpuSeconds(windowThread);
    const double processBefore = StatCpuSeconds(self + "/stat");
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    const double wall = static_cast<double>(clock.nsecsElapsed()) * 1e-9;
    std::printf("%s page, real event loop: window thread %.1f %% of a core, whole process %.1f %% "
                "(reading and sending threads included)\n",
                page, 100.0 * (StatCpuSeconds(windowThread) - windowBefore) / wall,
                100.0 * (StatCpuSeconds(self + "/stat") - processBefore) / wall);
}

// Counts the paint events a widget receives and notes when the next one
// arrives after a test holds.
class TPaintWatch : public QObject {
public:
    explicit TPaintWatch(QWidget* widget) : Widget(widget) { widget->installEventFilter(this); }
    ~TPaintWatch() override { Widget->removeEventFilter(this); }

    uint64_t Paints = 0;
    std::function<bool()> Awaited; // checked at each paint while set
    qint64 AwaitedAtNs = -1;       // steady time of the first paint that found Awaited true

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == Widget && event->type() == QEvent::Paint) {
            ++Paints;
            if (Awaited && AwaitedAtNs < 0 && Awaited()) {
                AwaitedAtNs = Clock.nsecsElapsed();
                Awaited = nullptr;
            }
        }
        return false;
    }

public:
    QElapsedTimer Clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();

private:
    QWidget* Widget;
};

// A left click delivered through the event loop, as a click of the mouse arrives.
void PostClick(QWidget* widget)
{
    const QPointF at(widget->width() / 2.0, widget->height() / 2.0);
    const QPointF global = widget->mapToGlobal(at);
    QCoreApplication::postEvent(
        widget, new QMouseEvent(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(
        widget, new QMouseEvent(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
}

// Click-to-change latency: the "Clear table" button clicked under load, timed
// from posting the click to the first paint of the table view that shows
// fewer lines than the full table (the clear has gone through the reading
// thread, the hand-over and the view). Waits for the table to fill again
// between clicks.
void MeasureClearLatency(QWidget* button, TListViewFrameTable* view, int clicks)
{
    TPaintWatch watch(view->viewport());
    const int full = view->LineCount(); // every identifier has a line by now
    std::vector<double> ms;
    for (int c = 0; c < clicks; ++c) {
        QElapsedTimer fill;
        fill.start();
        while (view->LineCount() < full && fill.elapsed() < 3000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        QEventLoop settle;
        QTimer::singleShot(50, &settle, &QEventLoop::quit);
        settle.exec();
        watch.AwaitedAtNs = -1;
        watch.Awaited = [view, full] { return view->LineCount() < full; };
        const qint64 start = watch.Clock.nsecsElapsed();
        PostClick(button);
        QEventLoop loop;
        QTimer timeout;
        QObject::connect(&timeout, &QTimer::timeout, &loop, [&] {
            if (watch.AwaitedAtNs >= 0 || watch.Clock.nsecsElapsed() - start > 2'000'000'000)
                loop.quit();
        });
        timeout.start(1);
        loop.exec();
        if (watch.AwaitedAtNs >= 0)
            ms.push_back(static_cast<double>(watch.AwaitedAtNs - start) * 1e-6);
    }
    if (ms.empty()) {
        std::printf("Clear table click: the view never showed the change\n");
        return;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("Clear table click to the view's first paint showing it: median %.1f ms, max %.1f ms (%zu of %d "
                "clicks)\n",
                ms[ms.size() / 2], ms.back(), ms.size(), clicks);
}

// Counts the trace's frames by sequence number against the numbers the
// simulator handed out between its first two totals readings.
TSeqCount CountFrames(const TTarvenixTraceList& trace, const std::vector<TSimTotals>& totals)
{
    if (totals.size() < 2)
        return {};
    TSeqTally tally(totals[0].Generated, totals[1].Generated);
    for (int64_t i = 0; i < trace.Count(); ++i)
        if (const TTarvenixTraceItem* item = trace.Item(i))
            tally.Add(item->AsFrame());
    return tally.Result();
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int seconds = 10;
    std::string ids = "200"; // distinct identifiers the simulator sends
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--seconds")
            seconds = std::atoi(argv[i + 1]);
        if (std::string(argv[i]) == "--ids")
            ids = argv[i + 1];
    }

    TempDir dir;
    tcm::SetProgramDirOverride(dir.Path());
    TChild sim({TCM_SEEED_SIM_EXE, "--quiet", "--fps", "20000", "--ids", ids.c_str(), "--mixed"});
    const std::string port = sim.ReadLine(3000);
    auto window = std::make_unique<TfmMain>(std::make_unique<TNoPorts>());
    TfmMain& w = *window;
    w.ErrorBox = [](const QString& t) { std::printf("error box: %s\n", t.toStdString().c_str()); };
    w.show();
    w.findChild<QComboBox*>("cbComPort")->setEditText(QString::fromStdString(port));
    w.OpenChannel(0);
    if (!w.IsChannelOpen(0)) {
        std::printf("could not open %s\n", port.c_str());
        return 1;
    }
    auto* pages = w.findChild<QTabWidget*>("pcData");
    std::printf("Conditions: %s window, simulator process at the link limit (10,000 frames/s), "
                "%s identifiers mixed 11/29-bit, %d s per page.\n",
                qgetenv("QT_QPA_PLATFORM").constData(), ids.c_str(), seconds);

    pages->setCurrentIndex(0);
    RunAndMeasureLateness(500);
    // The simulator's totals now and at the end frame the frames that are counted.
    ::kill(sim.Id(), SIGUSR1);
    w.ResetTickStats();
    const double tableLate = RunAndMeasureLateness(seconds * 1000);
    std::printf("Table page: longest update tick %.2f ms, worst event-loop lateness %.1f ms\n", w.MaxTickMs(),
                tableLate);
    auto* tableView = w.findChild<TListViewFrameTable*>();
    const TListViewFrameTable::TStatistics tableBefore = tableView->Statistics();
    uint64_t paints = 0;
    {
        TPaintWatch watch(tableView->viewport());
        MeasureWindowCpu("Table", seconds * 1000);
        paints = watch.Paints;
    }
    const TListViewFrameTable::TStatistics tableAfter = tableView->Statistics();
    std::printf("Table view meanwhile: %.0f notifications/s in %.0f drains/s, %.1f %% of the window thread applying "
                "them, %.0f paints/s\n",
                static_cast<double>(tableAfter.Queued - tableBefore.Queued) / seconds,
                static_cast<double>(tableAfter.Drains - tableBefore.Drains) / seconds,
                static_cast<double>(tableAfter.BusyNs - tableBefore.BusyNs) * 1e-7 / seconds,
                static_cast<double>(paints) / seconds);
    MeasureClearLatency(w.findChild<QPushButton*>("btClearTable"), tableView, 20);

    // The Statistics page refreshed by every update tick, against the Table page just before.
    pages->setCurrentWidget(w.findChild<QWidget*>("tsStatistics"));
    RunAndMeasureLateness(500);
    w.ResetTickStats();
    MeasureWindowCpu("Statistics", seconds * 1000);
    std::printf("Statistics page: longest update tick %.2f ms\n", w.MaxTickMs());

    pages->setCurrentIndex(1);
    RunAndMeasureLateness(500);
    w.ResetTickStats();
    const double traceLate = RunAndMeasureLateness(seconds * 1000);
    std::printf("Trace page: longest update tick %.2f ms, worst event-loop lateness %.1f ms\n", w.MaxTickMs(),
                traceLate);
    // The Trace page's own cost without a filter, with one, and with a find
    // kept up with the new lines as well, one after the other.
    MeasureWindowCpu("Trace, no filter", seconds * 1000);
    w.findChild<QLineEdit*>("edTraceFilter")->setText("100:700 IN");
    MeasureWindowCpu("Trace, filter \"100:700 IN\"", seconds * 1000);
    auto* find = w.findChild<TTraceFindBar*>("TraceFindBar");
    find->Open();
    w.findChild<QLineEdit*>("edTraceFind")->setText("DATA: 00");
    find->FindNext(true);
    MeasureWindowCpu("Trace, filter and find \"DATA: 00\"", seconds * 1000);
    find->Close();
    w.findChild<QLineEdit*>("edTraceFilter")->clear();

    ::kill(sim.Id(), SIGUSR1);
    RunAndMeasureLateness(500); // the frames numbered by then arrive
    w.CloseChannel(0, false);
    ::kill(sim.Id(), SIGTERM);
    sim.WaitExit(5000);
    const std::vector<TSimTotals> totals = TSimTotals::AllIn(sim.ErrText);
    const TSeqCount count = CountFrames(*w.CurrentTrace(), totals);
    const TSimTotals simulator = totals.size() >= 2 ? totals[1].Since(totals[0]) : TSimTotals();
    // The simulator is asked for more than the link carries: what it drops
    // itself is no loss of the window's.
    const long long lost = static_cast<long long>(count.Lost) - static_cast<long long>(simulator.DroppedBeforeLink());
    const bool measured = simulator.Valid && count.Expected > 0;
    std::printf("Frames numbered by the simulator %llu, of which it dropped %llu itself (the link's limit); "
                "received %llu, lost by the window %lld, out of order %llu, duplicated %llu\n",
                static_cast<unsigned long long>(count.Expected), simulator.DroppedBeforeLink(),
                static_cast<unsigned long long>(count.Received), lost,
                static_cast<unsigned long long>(count.OutOfOrder), static_cast<unsigned long long>(count.Duplicated));
    if (!measured)
        std::printf("the simulator's totals were not read: frames not counted\n");

    // A trace of a million shown lines, then one tick's worth of 1,000 more.
    w.ClearTrace();
    TCanFrame f;
    f.Length = 8;
    for (int i = 0; i < 1000000; ++i) {
        f.Id = static_cast<uint32_t>(i & 0x7FF);
        f.Time = static_cast<uint32_t>(i);
        w.CurrentTrace()->AddFrame(f, (i & 1) != 0);
    }
    pages->setCurrentIndex(0);
    pages->setCurrentIndex(1);
    QCoreApplication::processEvents();
    double worst = 0;
    double total = 0;
    constexpr int kTicks = 20;
    for (int t = 0; t < kTicks; ++t) {
        for (int i = 0; i < 1000; ++i)
            w.CurrentTrace()->AddFrame(f, false);
        QElapsedTimer timer;
        timer.start();
        w.UpdateTrace();
        w.findChild<TTraceView*>("mTrace")->repaint();
        const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        worst = std::max(worst, ms);
        total += ms;
    }
    std::printf("Trace view with %d lines: a tick appending 1,000 lines and repainting takes %.2f ms on average, "
                "%.2f ms at most; process resident memory %ld MiB\n",
                w.findChild<TTraceView*>("mTrace")->Lines().LineCount(), total / kTicks, worst,
                (StatusKiB("VmRSS:") / 1024));
    w.QuestionBox = [](const QString&) { return true; };
    window.reset();
    tcm::SetProgramDirOverride("");
    return measured && lost == 0 && count.OutOfOrder == 0 && count.Duplicated == 0 ? 0 : 1;
}
