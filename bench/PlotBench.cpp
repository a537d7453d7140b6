// The Plot page at the link limit and over an hour of samples.
//
//   bench_plot [--seconds S] [--minutes M] [--live-only | --hour-only]
// Live: the simulated adapter sends one identifier at 10,000 frames/s, eight
// of its signals are plotted, and the window shows the Plot page scrolling
// for S seconds (10): the window thread's CPU and the time of every repaint.
// Hour: eight series of M minutes (60) of samples at 10,000 a second, written
// straight into the plot's store, drawn by the Plot page's view; a zoom from
// the whole range to one second and back, each repaint timed, and the
// process's resident memory before and after.
// Offscreen unless QT_QPA_PLATFORM says otherwise; for the figures that
// count run it on a display server:
//   xvfb-run -a -s "-screen 0 1280x900x24" env QT_QPA_PLATFORM=xcb build/bench/bench_plot
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTabWidget>
#include <QTimer>
#include <QWheelEvent>

#include <csignal>
#include <ctime>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "adapter/ComPortList.h"
#include "app/Main.h"
#include "app/DatabaseMenu.h"
#include "app/PlotPage.h"
#include "app/PlotView.h"
#include "platform/ProgramDir.h"
#include "plot/PlotFeed.h"
#include "signals/DbcReader.h"
#include "ProcStats.h"

namespace {

constexpr uint32_t kId = 0x100; // the simulator's identifier with --ids 1
constexpr double kTargetCpu = 15;
constexpr double kTargetPaintMs = 16;
constexpr double kTargetRssMiB = 150;

// Eight signals of the simulator's frames (a sequence number in bytes 0..3,
// least significant first, its complement in 4..7): ramps and saw teeth of
// several speeds, steps, a bit, an enumeration, both byte orders, a sign.
const char* const kDbc = R"(VERSION ""

BS_:

BU_: SIM

BO_ 256 SIM_COUNTER: 8 SIM
 SG_ Counter : 0|8@1+ (1,0) [0|255] "" SIM
 SG_ Ramp : 0|16@1+ (0.01,0) [0|655.35] "s" SIM
 SG_ Sequence : 0|24@1+ (1,0) [0|16777215] "" SIM
 SG_ Toggle : 9|1@1+ (1,0) [0|1] "" SIM
 SG_ Mode : 12|3@1+ (1,0) [0|7] "" SIM
 SG_ Level : 32|16@1- (0.5,-100) [-16484|16283.5] "V" SIM
 SG_ Word : 23|16@0+ (0.25,0) [0|16383.75] "rpm" SIM
 SG_ Temp : 40|8@1+ (0.75,-48) [-48|143.25] "degC" SIM

VAL_ 256 Mode 0 "Off" 1 "Idle" 2 "Low" 3 "Mid" 4 "High" 5 "Boost" 6 "Limp" 7 "Fault" ;
)";

struct TStats {
    double Median = 0, P99 = 0, Max = 0;
    size_t Count = 0;
};

TStats StatsOf(std::vector<double> ms)
{
    TStats s;
    s.Count = ms.size();
    if (ms.empty())
        return s;
    std::sort(ms.begin(), ms.end());
    s.Median = ms[ms.size() / 2];
    s.P99 = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
    s.Max = ms.back();
    return s;
}

const char* Verdict(bool met)
{
    return met ? "met" : "MISSED";
}

void PrintMemory(const char* when)
{
    std::printf("  resident memory %s: %.1f MiB (anonymous %.1f, mapped files %.1f, shared %.1f)\n", when,
                StatusKiB("VmRSS:") / 1024.0, StatusKiB("RssAnon:") / 1024.0, StatusKiB("RssFile:") / 1024.0,
                StatusKiB("RssShmem:") / 1024.0);
}

double ThreadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
}

// The times of a repaint: the clock on the wall and the window thread's CPU.
struct TRepaintTimes {
    std::vector<double> Wall, Cpu;
    void Add(double wall, double cpu)
    {
        Wall.push_back(wall);
        Cpu.push_back(cpu);
    }
};

// Times every paint event a view receives, by handing the event to the view itself.
class TPaintTimes : public QObject {
public:
    explicit TPaintTimes(QWidget* view) : View(view) { view->installEventFilter(this); }
    ~TPaintTimes() override { View->removeEventFilter(this); }
    TRepaintTimes Times;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != View || event->type() != QEvent::Paint)
            return false;
        QElapsedTimer wall;
        wall.start();
        const double cpu = ThreadCpuMs();
        static_cast<QObject*>(View)->event(event);
        Times.Add(static_cast<double>(wall.nsecsElapsed()) * 1e-6, ThreadCpuMs() - cpu);
        return true;
    }

private:
    QWidget* View;
};

class TNoPorts : public TComPortSource {
public:
    std::vector<TDevice> PresentDevices() override { return {}; }
};

// Where --screenshots saves pictures of what was measured; empty: none.
QString ScreenshotDir;

void SaveScreenshot(QWidget& widget, const char* name)
{
    if (!ScreenshotDir.isEmpty())
        widget.grab().save(ScreenshotDir + "/" + name + ".png");
}

void RunEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Live: the window with the simulator's traffic on the Plot page. True when it measured.
bool MeasureLive(const std::string& dbcPath, int seconds)
{
    TChild sim({TCM_SEEED_SIM_EXE, "--quiet", "--fps", "10000", "--ids", "1"});
    const std::string port = sim.ReadLine(3000);
    auto window = std::make_unique<TfmMain>(std::make_unique<TNoPorts>());
    TfmMain& w = *window;
    w.ErrorBox = [](const QString& t) { std::printf("error box: %s\n", t.toStdString().c_str()); };
    w.InfoBox = [](const QString& t) { std::printf("info box: %s\n", t.toStdString().c_str()); };
    w.QuestionBox = [](const QString&) { return true; };
    w.resize(1200, 800);
    w.show();
    if (!w.Databases()->Load(QString::fromStdString(dbcPath)))
        return false;
    auto* plot = w.findChild<TPlotPage*>("tsPlot");
    for (const TDbcSignal& signal : w.Databases()->Database()->Messages.front().Signals) {
        std::vector<TPlotSource> sources;
        std::string error;
        FindPlotSources(*w.Databases()->Database(), {signal.Name}, sources, error);
        plot->Add(sources.front());
    }
    w.findChild<QTabWidget*>("pcData")->setCurrentWidget(plot);
    w.findChild<QComboBox*>("cbComPort")->setEditText(QString::fromStdString(port));
    w.OpenChannel(0);
    if (!w.IsChannelOpen(0)) {
        std::printf("could not open %s\n", port.c_str());
        return false;
    }
    TPlotView* view = plot->View();
    RunEventLoop(2000); // the view fills its 10 s width and the rate settles

    const TPlotFeed& feed = plot->Feed();
    const int64_t samplesBefore = feed.Samples(0).Count();
    const int64_t rightBefore = view->ToUs();
    const std::string self = "/proc/" + std::to_string(getpid());
    const std::string windowThread = self + "/task/" + std::to_string(getpid()) + "/stat";
    const double windowBefore = StatCpuSeconds(windowThread);
    const double processBefore = StatCpuSeconds(self + "/stat");
    QElapsedTimer clock;
    clock.start();
    TRepaintTimes paintMs;
    {
        TPaintTimes paints(view);
        RunEventLoop(seconds * 1000);
        paintMs = std::move(paints.Times);
    }
    const double wall = static_cast<double>(clock.nsecsElapsed()) * 1e-9;
    const double windowCpu = 100.0 * (StatCpuSeconds(windowThread) - windowBefore) / wall;
    const double processCpu = 100.0 * (StatCpuSeconds(self + "/stat") - processBefore) / wall;
    const TStats paint = StatsOf(paintMs.Wall);
    const TStats paintCpu = StatsOf(paintMs.Cpu);
    const double rate = static_cast<double>(feed.Samples(0).Count() - samplesBefore) / wall;
    const double scrolled = static_cast<double>(view->ToUs() - rightBefore) * 1e-6;

    std::printf("Live: %zu signals of identifier %03X from the simulated adapter, Plot page shown and following, "
                "view %dx%d showing %.0f s, %.1f s measured\n",
                feed.Count(), kId, view->width(), view->height(),
                static_cast<double>(view->ToUs() - view->FromUs()) * 1e-6, wall);
    std::printf("  samples arriving: %.0f per second per signal; the view scrolled %.1f s\n", rate, scrolled);
    std::printf("  window thread %.1f %% of a core (target at most %.0f %%: %s); whole process %.1f %%\n", windowCpu,
                kTargetCpu, Verdict(windowCpu <= kTargetCpu), processCpu);
    std::printf("  %zu repaints (%.1f/s): median %.2f ms, p99 %.2f ms, max %.2f ms (target under %.0f ms: %s); "
                "the window thread's CPU in them median %.2f ms, p99 %.2f ms, max %.2f ms\n",
                paint.Count, static_cast<double>(paint.Count) / wall, paint.Median, paint.P99, paint.Max,
                kTargetPaintMs, Verdict(paint.Max < kTargetPaintMs), paintCpu.Median, paintCpu.P99, paintCpu.Max);
    PrintMemory("at the end");
    SaveScreenshot(w, "plot-live");
    w.CloseChannel(0, true);
    ::kill(sim.Id(), SIGTERM);
    sim.WaitExit(5000);
    window.reset();
    return paint.Count > 0 && rate > 1000 && scrolled > seconds / 2.0;
}

// Repaints the view at once, timing the whole repaint with showing the picture on the display.
void TimedRepaint(QWidget* view, TRepaintTimes& shown)
{
    QElapsedTimer wall;
    wall.start();
    const double cpu = ThreadCpuMs();
    view->repaint();
    shown.Add(static_cast<double>(wall.nsecsElapsed()) * 1e-6, ThreadCpuMs() - cpu);
}

void Wheel(TPlotView* view, int notches)
{
    const QPointF at(view->width() / 2.0, view->height() / 2.0);
    QWheelEvent wheel(at, view->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(view, &wheel);
}

void PrintZoom(const char* what, const TRepaintTimes& drawing, const TRepaintTimes& shown)
{
    const TStats wall = StatsOf(drawing.Wall);
    const TStats cpu = StatsOf(drawing.Cpu);
    const TStats all = StatsOf(shown.Wall);
    std::printf("  %s: %zu repaints, median %.2f ms, p99 %.2f ms, max %.2f ms (target under %.0f ms: %s); the "
                "window thread's CPU in them median %.2f ms, max %.2f ms; with showing on the display median "
                "%.2f ms, max %.2f ms\n",
                what, wall.Count, wall.Median, wall.P99, wall.Max, kTargetPaintMs, Verdict(wall.Max < kTargetPaintMs),
                cpu.Median, cpu.Max, all.Median, all.Max);
}

// Hour: samples written straight into the store, then a zoom in and out. True when it measured.
bool MeasureHour(const TDbcDatabase& db, int minutes, QSize viewSize)
{
    TPlotFeed feed;
    const TDbcMessage& message = db.Messages.front();
    for (size_t i = 0; i < message.Signals.size(); ++i)
        feed.Add(TPlotSource(message, i));
    PrintMemory("before writing");
    // The frames the simulator would have sent, decoded as the feed decodes
    // them, at 10,000 a second from an hour ago.
    const int64_t frames = int64_t{minutes} * 60 * 10000;
    const int64_t startUs = int64_t{1'765'000'000'000'000};
    QElapsedTimer writing;
    writing.start();
    TDbcDecoded decoded;
    for (int64_t n = 0; n < frames; ++n) {
        uint8_t data[8];
        const auto sequence = static_cast<uint32_t>(n);
        for (int b = 0; b < 4; ++b) {
            data[b] = static_cast<uint8_t>(sequence >> (8 * b));
            data[4 + b] = static_cast<uint8_t>(~sequence >> (8 * b));
        }
        for (size_t i = 0; i < feed.Count(); ++i)
            if (feed.Source(i).Decode(kId, false, data, 8, decoded))
                feed.Samples(i).Append(startUs + n * 100, decoded.Value);
    }
    const double writeSeconds = static_cast<double>(writing.nsecsElapsed()) * 1e-9;
    int64_t written = 0;
    for (size_t i = 0; i < feed.Count(); ++i)
        written += feed.Samples(i).Count();
    std::printf("Hour: %zu series of %lld samples each (%d min at 10,000/s), written straight into the store in "
                "%.1f s%s\n",
                feed.Count(), static_cast<long long>(feed.Samples(0).Count()), minutes, writeSeconds,
                feed.StorageProblem().empty() ? "" : (" (" + feed.StorageProblem() + ")").c_str());
    PrintMemory("after writing");

    TPlotView view(feed);
    view.resize(viewSize);
    view.show();
    view.SetFollow(false);
    view.SetTimes(startUs, startUs + (frames - 1) * 100);
    QCoreApplication::processEvents();
    TRepaintTimes zoomIn, zoomOut;
    TPaintTimes drawing(&view); // the paint events alone
    view.Fit();
    view.repaint(); // as the window shows it before the first turn of the wheel
    TimedRepaint(&view, zoomIn);
    const double whole = static_cast<double>(view.ToUs() - view.FromUs()) * 1e-6;
    while (view.ToUs() - view.FromUs() > 1'000'000) {
        Wheel(&view, 1);
        TimedRepaint(&view, zoomIn);
    }
    const double closest = static_cast<double>(view.ToUs() - view.FromUs()) * 1e-6;
    const auto closestView = std::pair(view.FromUs(), view.ToUs());
    PrintMemory("zoomed in");
    const TRepaintTimes drawnIn = std::exchange(drawing.Times, {});
    while (static_cast<double>(view.ToUs() - view.FromUs()) * 1e-6 < whole) {
        Wheel(&view, -1);
        TimedRepaint(&view, zoomOut);
    }
    std::printf("  zoom at the middle of the range with the wheel, view %dx%d, from %.0f s across to %.2f s and "
                "back (a fifth per notch)\n",
                view.width(), view.height(), whole, closest);
    PrintZoom("in", drawnIn, zoomIn);
    PrintZoom("out", drawing.Times, zoomOut);
    const double rss = StatusKiB("VmRSS:") / 1024.0;
    PrintMemory("zoomed out");
    std::printf("  resident memory %.1f MiB (target under %.0f MiB: %s)\n", rss, kTargetRssMiB,
                Verdict(rss < kTargetRssMiB));
    // Pictures after the timing, whose paints they would add to.
    view.Fit();
    SaveScreenshot(view, "plot-hour");
    view.SetRange(closestView.first, closestView.second);
    view.SetCursorX(view.width() / 2);
    SaveScreenshot(view, "plot-hour-second");
    return written == frames * static_cast<int64_t>(feed.Count()) && !zoomIn.Wall.empty() && !zoomOut.Wall.empty();
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int seconds = 10;
    int minutes = 60;
    bool live = true, hour = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc)
            seconds = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--minutes" && i + 1 < argc)
            minutes = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--live-only")
            hour = false;
        else if (arg == "--hour-only")
            live = false;
        else if (arg == "--screenshots" && i + 1 < argc)
            ScreenshotDir = QString::fromLocal8Bit(argv[++i]);
    }
    std::printf("Conditions: %s display, %ld processors online, load average read at start: %s\n",
                qgetenv("QT_QPA_PLATFORM").constData(), sysconf(_SC_NPROCESSORS_ONLN), LoadAverage().c_str());

    TempDir dir;
    tcm::SetProgramDirOverride(dir.Path());
    const std::string dbcPath = dir.File("sim.dbc");
    WriteWholeFile(dbcPath, kDbc);
    const TDbcDatabase db = ReadDbcText(kDbc);
    bool measured = true;
    QSize viewSize(1126, 690);
    if (live)
        measured = MeasureLive(dbcPath, seconds) && measured;
    if (hour)
        measured = MeasureHour(db, minutes, viewSize) && measured;
    tcm::SetProgramDirOverride("");
    return measured ? 0 : 1;
}
