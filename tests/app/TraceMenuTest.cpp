// The trace view's pop-up menu end to end: the window against the in-process
// simulated adapter, files read back by the CAN tools of the system.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLocale>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QProgressDialog>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <future>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

#include "SeeedSimulator.h"
#include "TrafficGenerator.h"
#include "adapter/frmChannelMan.h"
#include "app/Main.h"
#include "app/DatabaseMenu.h"
#include "app/TraceMenu.h"
#include "platform/ProgramDir.h"
#include "record/RecordFormat.h"
#include "record/RecordTestSupport.h"
#include "support/FastClock.h"
#include "support/TempDir.h"
#include "transmit/CanSendList.h"
#include "../adapter/GuiTestSupport.h"
#include "WindowTestFixture.h"
#include "views/ListViewFrameTable.h"
#include "views/TarvenixTrace.h"
#include "views/TraceView.h"

namespace {

// Trace entries first.. as the readers report frames; `count` of them.
std::vector<TSeenFrame> TraceFrames(const TTarvenixTraceList& trace, int32_t first, size_t count, bool direction)
{
    std::vector<TSeenFrame> frames;
    for (int32_t i = first; frames.size() < count && i < trace.Count(); ++i)
        frames.push_back(Seen(MakeRecordFrame(trace, *trace.Item(i)), direction));
    return frames;
}

std::vector<TSeenFrame> ReadWithTshark(const std::string& path, bool direction)
{
    // AUTOSAR NM would take the data of identifier 0 for itself.
    std::vector<std::string> args = {"/usr/bin/tshark", "-r", path, "--disable-protocol", "autosar-nm", "-T", "fields"};
    for (const auto& field : kTsharkFields) {
        args.push_back("-e");
        args.push_back(field);
    }
    return ParseTsharkFields(RunTool(args), direction);
}

// The generator's sequence number in a frame's data.
uint32_t SequenceOf(const TSeenFrame& seen)
{
    TCanFrame frame;
    for (size_t b = 0; b < 8 && 2 * b + 1 < seen.Data.size(); ++b)
        frame.Data[b] = static_cast<uint8_t>(std::stoul(seen.Data.substr(2 * b, 2), nullptr, 16));
    uint32_t sequence = 0;
    EXPECT_TRUE(TTrafficGenerator::SequenceOf(frame, sequence)) << seen.Data;
    return sequence;
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000)
{
    return tcmtest::WaitFor(done, timeoutMs);
}

class TraceMenu : public TWindowTest {
protected:
    // The window against `sim`, its channel open, its boxes and file questions answered here.
    TfmMain& OpenWindow(TSeeedSimulator& sim)
    {
        Window = std::make_unique<TfmMain>();
        Window->ErrorBox = [this](const QString& t) { Errors.push_back(t.toStdString()); };
        Window->QuestionBox = [](const QString&) { return true; };
        Menu = Window->findChild<TTraceMenu*>("TraceMenu");
        Menu->AskFileName = [this](TTraceMenu::TFileAsk) { return QString::fromStdString(NextFile); };
        Window->show();
        Window->findChild<QComboBox*>("cbComPort")->setEditText(sim.PortPath().c_str());
        Window->OpenChannel(0);
        EXPECT_TRUE(Window->IsChannelOpen(0)) << (Errors.empty() ? "" : Errors[0]);
        return *Window;
    }
    QAction* Action(const char* name)
    {
        Menu->UpdateActions();
        return Menu->Menu()->findChild<QAction*>(name);
    }
    // Chooses `path` in the file dialog and runs the entry.
    void Choose(const char* action, const std::string& path)
    {
        NextFile = path;
        Action(action)->trigger();
    }

    TTraceMenu* Menu = nullptr;
    std::string NextFile;
    std::vector<std::string> Errors;
};

} // namespace

TEST_F(TraceMenu, SavesTheTraceWhileFramesArriveInFilesTheToolsRead)
{
    StartPythonCan(); // it reads the files at the end
    TSeeedSimOptions traffic;
    traffic.FramesPerSecond = 6000;
    traffic.IdKind = TSimIdKind::Mixed;
    traffic.RemoteShare = 0.2;
    TSeeedSimulator sim(traffic);
    ASSERT_TRUE(sim.Start());
    TfmMain& w = OpenWindow(sim);
    // Frames we send appear as outgoing entries.
    auto item = std::make_unique<TCanSendItem>();
    item->Frame.Id = 0x3A5;
    item->Frame.Length = 3;
    item->Frame.Data[0] = 0xC0;
    item->SendType = cstPeriodic;
    item->Period = 20;
    item->Active = true;
    w.CurrentList()->Add(std::move(item));
    TTarvenixTraceList& trace = *w.CurrentTrace();
    ASSERT_TRUE(WaitFor([&] { return trace.Count() >= 1500; }));
    ASSERT_FALSE(Action("actOpenRecording")->isEnabled()); // only while the channel is closed

    // Each file holds the whole trace as it was when saving began, read by the real tools.
    std::map<std::string, int32_t> before; // entries when saving began
    auto check = [&](const std::string& what, const std::vector<TSeenFrame>& read, bool direction, bool relative) {
        ASSERT_GE(read.size(), static_cast<size_t>(before[what.substr(what.find(' ') + 1)])) << what;
        EXPECT_GT(trace.Count(), static_cast<int32_t>(read.size())) << "the channel went on meanwhile";
        CompareFrames(TraceFrames(trace, 0, read.size(), direction), read, relative, what);
    };
    for (const char* name : {"all.log", "all.asc", "all.blf", "all.pcap"}) {
        before[name] = trace.Count();
        Choose("actSaveTrace", Dir.File(name));
        ASSERT_TRUE(Errors.empty()) << Errors[0];
    }
    // Every file holds at most what the trace held when the last save ended; once
    // a frame came after that, the channel is closed: the tools read with the
    // whole machine to themselves.
    const int32_t saved = trace.Count();
    ASSERT_TRUE(WaitFor([&] { return trace.Count() > saved; }));
    w.CloseChannel(0, true);
    // The tools read side by side.
    auto pythonRun = std::async(std::launch::async, [&] {
        return ReadWithPythonCan(
            {{Dir.File("all.log"), false}, {Dir.File("all.asc"), true}, {Dir.File("all.blf"), true}});
    });
    auto blfRun = std::async(std::launch::async, [&] { return ReadWithTshark(Dir.File("all.blf"), true); });
    auto pcapRun = std::async(std::launch::async, [&] { return ReadWithTshark(Dir.File("all.pcap"), false); });
    const std::string byAsc2log = RunTool({"/usr/bin/asc2log", "-I", Dir.File("all.asc")});
    const auto byPython = pythonRun.get();
    const auto byTsharkBlf = blfRun.get();
    const auto byTsharkPcap = pcapRun.get();
    check("python-can all.log", byPython[0], false, false);
    // ASC times count from the date line, which asc2log reads only in an English locale.
    check("python-can all.asc", byPython[1], true, true);
    ASSERT_TRUE(WriteWholeFile(Dir.File("asc2log.log"), byAsc2log));
    check("asc2log all.asc", ReadWithOurs(Dir.File("asc2log.log"), true), true, true);
    check("python-can all.blf", byPython[2], true, false);
    check("tshark all.blf", byTsharkBlf, true, false);
    check("tshark all.pcap", byTsharkPcap, false, false);

    // Selected lines as trace text: exactly the lines the view shows.
    auto* view = w.findChild<TTraceView*>("mTrace");
    w.UpdateTrace();
    view->SelectLines(5, 9);
    Choose("actSaveSelection", Dir.File("five.txt"));
    std::string expected;
    for (int row = 5; row <= 9; ++row)
        expected += view->Lines().LineText(row).toStdString() + "\n";
    EXPECT_EQ(ReadWholeFile(Dir.File("five.txt")), expected);

    // A long save shows its progress; Cancel removes the partial file.
    TCanFrame frame;
    while (trace.Count() < 1000000)
        trace.AddFrame(frame, false);
    Menu->ProgressDelayMs = 0;
    tcmtest::TProgressCanceller cancel(w, 5);
    cancel.Start();
    Choose("actSaveTrace", Dir.File("big.asc"));
    cancel.Stop();
    EXPECT_TRUE(cancel.Seen);
    struct stat st {};
    EXPECT_NE(stat(Dir.File("big.asc").c_str(), &st), 0) << "the cancelled file is removed";

    // A file that cannot be made is named with the reason.
    Choose("actSaveTrace", Dir.File("no/such/folder.log"));
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_EQ(Errors[0], "Unable to create " + Dir.File("no/such/folder.log") + ": No such file or directory");
}

TEST_F(TraceMenu, RecordsEveryFrameAcrossAClearUntilStoppedOrAWriteFails)
{
    StartPythonCan(); // it reads the files at the end
    TSeeedSimOptions traffic;
    traffic.FramesPerSecond = 4000;
    traffic.IdKind = TSimIdKind::Mixed;
    TSeeedSimulator sim(traffic);
    ASSERT_TRUE(sim.Start());
    TfmMain& w = OpenWindow(sim);
    TTarvenixTraceList& trace = *w.CurrentTrace();
    auto* sign = w.findChild<QLabel*>("lbRecording");
    w.findChild<QTabWidget*>("pcData")->setCurrentIndex(1);
    ASSERT_TRUE(WaitFor([&] { return trace.Count() >= 200; }));

    // Recording starts with the entries that come after the menu entry.
    const std::string path = Dir.File("run.blf");
    const int32_t before = trace.Count();
    Choose("actRecord", path);
    const int32_t after = trace.Count();
    ASSERT_TRUE(Menu->IsRecording());
    EXPECT_EQ(Action("actRecord")->text().toStdString(), "Stop recording");
    EXPECT_TRUE(sign->isVisible());
    ASSERT_TRUE(WaitFor([&] { return sign->text().contains(QRegularExpression(": [1-9][0-9,]* frames")); }));
    EXPECT_TRUE(sign->text().startsWith("Recording to run.blf: "));

    // "Clear trace" in the middle: the removed entries not yet written still are,
    // including those that arrived just before the clear.
    ASSERT_TRUE(WaitFor([&] { return trace.Count() >= after + 500; }));
    const std::vector<TSeenFrame> early = TraceFrames(trace, 0, SIZE_MAX, true);
    QTest::mouseClick(w.findChild<QPushButton*>("btClearTrace"), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return trace.Count() >= 500; }));
    const auto later = static_cast<size_t>(trace.Count());
    Choose("actRecord", ""); // the stop entry asks nothing
    const uint64_t overrunWhileRecording = sim.Counters().FramesOverrun;
    EXPECT_FALSE(Menu->IsRecording());
    EXPECT_FALSE(sign->isVisible());
    // The file is read at the end, with the next one.

    // A write that fails stops the recording with the file and the reason; the trace goes on.
    const std::string full = Dir.File("full.pcap");
    ASSERT_EQ(symlink("/dev/full", full.c_str()), 0);
    Choose("actRecord", full);
    ASSERT_TRUE(WaitFor([&] { return !Errors.empty(); }));
    EXPECT_EQ(Errors[0].rfind(
                  "Unable to write to " + full + ": No space left on device\nThe recording to " + full + " ended: ", 0),
              0u)
        << Errors[0];
    EXPECT_FALSE(Menu->IsRecording());
    EXPECT_FALSE(sign->isVisible());
    struct stat st {};
    EXPECT_EQ(stat("/dev/full", &st), 0);
    const int32_t count = trace.Count();
    ASSERT_TRUE(WaitFor([&] { return trace.Count() > count + 100; }));

    // Closing the channel ends a recording with the frames of the closing.
    Choose("actRecord", Dir.File("closing.log"));
    ASSERT_TRUE(WaitFor([&] { return trace.Count() > count + 300; }));
    const int32_t first = trace.Count();
    w.CloseChannel(0, false);
    EXPECT_FALSE(Menu->IsRecording());
    // Both files read in one run of python-can.
    const auto files = ReadWithPythonCan({{path, true}, {Dir.File("closing.log"), false}});
    const std::vector<TSeenFrame>& closing = files[1];
    ASSERT_GE(closing.size(), static_cast<size_t>(trace.Count() - first));
    CompareFrames(TraceFrames(trace, trace.Count() - static_cast<int32_t>(closing.size()), closing.size(), false),
                  closing, false, "closing.log");
    EXPECT_FALSE(Action("actRecord")->isEnabled());

    // The file: the early entries from where recording began, then entries 0.. of the cleared trace.
    const std::vector<TSeenFrame>& frames = files[0];
    ASSERT_FALSE(frames.empty());
    auto start = static_cast<size_t>(before);
    while (start <= static_cast<size_t>(after) && SequenceOf(early[start]) != SequenceOf(frames[0]))
        ++start;
    ASSERT_LE(start, static_cast<size_t>(after)) << "the first frame recorded came after the menu entry was chosen";
    const size_t fromEarly = early.size() - start;
    ASSERT_GE(frames.size(), fromEarly + later);
    CompareFrames({early.begin() + static_cast<long>(start), early.end()},
                  {frames.begin(), frames.begin() + static_cast<long>(fromEarly)}, false, "before the clear");
    const uint32_t firstAfter = SequenceOf(TraceFrames(trace, 0, 1, true)[0]);
    size_t cleared = fromEarly;
    while (cleared < frames.size() && SequenceOf(frames[cleared]) != firstAfter)
        ++cleared;
    const std::vector<TSeenFrame> tail(frames.begin() + static_cast<long>(cleared), frames.end());
    ASSERT_GE(tail.size(), later);
    CompareFrames(TraceFrames(trace, 0, tail.size(), true), tail, false, "after the clear");
    // Nothing missing around the clear (unless the link itself lost frames under load).
    if (overrunWhileRecording == 0) {
        for (size_t i = 1; i < frames.size(); ++i)
            ASSERT_EQ(SequenceOf(frames[i]), SequenceOf(frames[i - 1]) + 1) << "frame " << i << " of " << frames.size();
    }
}

TEST_F(TraceMenu, OpensRecordingsIntoTraceAndTableWhileTheChannelIsClosed)
{
    TSeeedSimulator sim;
    ASSERT_TRUE(sim.Start());
    TfmMain& w = OpenWindow(sim);
    w.CloseChannel(0, false);
    ASSERT_TRUE(Action("actOpenRecording")->isEnabled());

    // A candump log with a malformed line; 0x100 comes after 20, 10 and 20 ms.
    const std::string log = Dir.File("bench.log");
    const std::string frames = "(1700000000.000000) can0 100#0102\n"
                               "(1700000000.020000) can0 100#0304\n"
                               "(1700000000.030000) can0 100#0506\n"
                               "(1700000000.035000) can0 18DAF110#R\n"
                               "(1700000000.050000) can0 100#0708\n";
    const std::string last = "(1700000000.070000) can0 7FF#AA\n";
    ASSERT_TRUE(WriteWholeFile(log, frames + "(1700000000.060000) can0 not-a-frame\n" + last));
    Choose("actOpenRecording", log);
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_NE(Errors[0].find(log + ": 1 malformed part was skipped:\n" + log + ": line 6"), std::string::npos)
        << Errors[0];
    TTarvenixTraceList& trace = *w.CurrentTrace();
    ASSERT_EQ(trace.Count(), 6);
    EXPECT_EQ(trace.Item(3)->FormatLine(),
              "IN  ts: " + std::to_string(static_cast<uint32_t>(1700000000035ULL)) + "  id: 18DAF110  l: 0  Request");
    EXPECT_EQ(trace.WallTimeUs(*trace.Item(5)), 1700000000070000);
    EXPECT_EQ(w.findChild<TTraceView*>("mTrace")->Lines().LineCount(), 6);

    // The table as if the frames had been received: latest data, counts, smoothed periods.
    auto* table = w.findChild<TListViewFrameTable*>("TableView");
    ASSERT_EQ(table->topLevelItemCount(), 3);
    const char* rows[3][5] = {
        {"100", "2", "07 08", "4", "19"}, {"7FF", "1", "AA", "1", "0"}, {"18DAF110", "0", "Request", "1", "0"}};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 5; ++c)
            EXPECT_EQ(table->topLevelItem(r)->text(c).toStdString(), rows[r][c]) << r << "," << c;

    // The same frames as Vector ASC from log2asc, one turned into a sent frame: it
    // goes to the trace as outgoing and stays out of the table.
    ASSERT_TRUE(WriteWholeFile(Dir.File("clean.log"), frames + last));
    std::string asc = RunTool({"/usr/bin/log2asc", "-I", Dir.File("clean.log"), "can0"});
    const size_t sent = asc.find("7FF             Rx");
    ASSERT_NE(sent, std::string::npos) << asc;
    asc.replace(sent + 16, 2, "Tx");
    ASSERT_TRUE(WriteWholeFile(Dir.File("bench.asc"), asc));
    Errors.clear();
    Choose("actOpenRecording", Dir.File("bench.asc"));
    EXPECT_TRUE(Errors.empty()) << Errors[0];
    ASSERT_EQ(trace.Count(), 6);
    EXPECT_TRUE(trace.Item(5)->Outgoing);
    EXPECT_EQ(table->topLevelItemCount(), 2);
    EXPECT_EQ(table->topLevelItem(0)->text(4).toStdString(), "19");

    // What cannot be opened says why, and leaves the views as they were.
    Choose("actOpenRecording", Dir.File("missing.blf"));
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_NE(Errors[0].find(Dir.File("missing.blf")), std::string::npos);
    EXPECT_EQ(trace.Count(), 6);
    EXPECT_EQ(table->topLevelItemCount(), 2);
}

TEST_F(TraceMenu, AFileStepThatFailsOrIsRefusedKeepsTheCaptureAndTheOldFile)
{
    TSeeedSimOptions traffic;
    traffic.FramesPerSecond = 3000;
    TSeeedSimulator sim(traffic);
    ASSERT_TRUE(sim.Start());
    TfmMain& w = OpenWindow(sim);
    TTarvenixTraceList& trace = *w.CurrentTrace();
    std::vector<std::string> questions;
    bool answer = false;
    w.QuestionBox = [&](const QString& text) {
        questions.push_back(text.toStdString());
        return answer;
    };
    ASSERT_TRUE(WaitFor([&] { return trace.Count() >= 300; }));

    // Saving onto the file being recorded is refused; the recording goes on.
    Choose("actRecord", Dir.File("rec.log"));
    ASSERT_TRUE(Menu->IsRecording());
    Choose("actSaveTrace", Dir.File("rec.log"));
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_NE(Errors[0].find("Unable to save " + Dir.File("rec.log") + ": the recording is being written"),
              std::string::npos)
        << Errors[0];
    EXPECT_TRUE(Menu->IsRecording());
    Choose("actRecord", "");
    Errors.clear();

    // A name typed without an extension: the question is about the name with
    // the chosen type's extension, before anything is written.
    const std::string old = "old content\n";
    ASSERT_TRUE(WriteWholeFile(Dir.File("run1.blf"), old));
    auto typeInDialog = [this](const char* name) {
        Menu->AskFileName = [this, name](TTraceMenu::TFileAsk ask) {
            QTimer::singleShot(0, [this, name] {
                auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                ASSERT_TRUE(dialog);
                dialog->setDirectory(QString::fromStdString(Dir.Path()));
                dialog->selectNameFilter("Vector BLF (*.blf)");
                dialog->selectFile(name);
                QMetaObject::invokeMethod(dialog, "accept");
            });
            return Menu->DefaultAsk(ask);
        };
    };
    typeInDialog("run1");
    Action("actSaveTrace")->trigger();
    EXPECT_EQ(questions,
              std::vector<std::string>{Dir.File("run1.blf") + " already exists.\nDo you want to replace it?"});
    EXPECT_TRUE(ReadWholeFile(Dir.File("run1.blf")) == old);
    Menu->AskFileName = [this](TTraceMenu::TFileAsk) { return QString::fromStdString(NextFile); };

    // A save cancelled half-way, or one that fails, leaves the old file whole.
    w.CloseChannel(0, false);
    const int32_t captured = trace.Count();
    Menu->ProgressDelayMs = 0;
    tcmtest::TProgressCanceller cancel(w, 5);
    TCanFrame frame;
    while (trace.Count() < 1000000)
        trace.AddFrame(frame, false);
    cancel.Start();
    Choose("actSaveTrace", Dir.File("run1.blf"));
    cancel.Stop();
    EXPECT_TRUE(ReadWholeFile(Dir.File("run1.blf")) == old);
    if (geteuid() != 0) { // root makes the temporary file anyway
        ASSERT_EQ(chmod(Dir.Path().c_str(), 0555), 0);
        Choose("actSaveTrace", Dir.File("run1.blf"));
        ASSERT_EQ(chmod(Dir.Path().c_str(), 0755), 0);
        ASSERT_EQ(Errors.size(), 1u);
        EXPECT_EQ(Errors[0], "Unable to create " + Dir.File("run1.blf") + ": Permission denied");
        Errors.clear();
    }
    EXPECT_TRUE(ReadWholeFile(Dir.File("run1.blf")) == old);
    for (const auto& entry : std::filesystem::directory_iterator(Dir.Path()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();

    // Opening what holds no frame says so and keeps the unsaved capture, without a question.
    auto* table = w.findChild<TListViewFrameTable*>("TableView");
    const int rows = table->topLevelItemCount();
    const int32_t entries = trace.Count();
    ASSERT_GT(captured, 0);
    std::string noise(4096, '\0');
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>((i * 7919u + 13u) % 251u);
    ASSERT_TRUE(WriteWholeFile(Dir.File("noise.log"), noise));
    ASSERT_TRUE(WriteWholeFile(Dir.File("empty.log"), ""));
    questions.clear();
    for (const char* name : {"noise.log", "empty.log"}) {
        Choose("actOpenRecording", Dir.File(name));
        ASSERT_EQ(Errors.size(), 1u) << name;
        EXPECT_EQ(Errors[0].rfind("No frame could be read from " + Dir.File(name) +
                                      "; the trace and the table stay as they were.",
                                  0),
                  0u)
            << Errors[0];
        EXPECT_EQ(trace.Count(), entries);
        EXPECT_EQ(table->topLevelItemCount(), rows);
        Errors.clear();
    }
    EXPECT_TRUE(questions.empty());

    // A readable file asks first: No keeps everything, Yes replaces it.
    ASSERT_TRUE(WriteWholeFile(Dir.File("two.log"), "(1.000000) can0 123#01\n(1.001000) can0 124#02\n"));
    Choose("actOpenRecording", Dir.File("two.log"));
    EXPECT_EQ(questions, std::vector<std::string>{"The trace holds " + QLocale::c().toString(entries).toStdString() +
                                                  " frames that were not saved. Replace them?"});
    EXPECT_EQ(trace.Count(), entries);
    answer = true;
    Choose("actOpenRecording", Dir.File("two.log"));
    EXPECT_EQ(trace.Count(), 2);
    // What came from a file is not asked about again.
    questions.clear();
    Choose("actOpenRecording", Dir.File("two.log"));
    EXPECT_TRUE(questions.empty());
    EXPECT_TRUE(Errors.empty()) << Errors[0];
}

TEST_F(TraceMenu, TheRecordingShowsOnEveryPageAndEveryEndingNamesTheFileAndTheTraceIsComplete)
{
    TSeeedSimOptions traffic;
    traffic.FramesPerSecond = 4000;
    TSeeedSimulator sim(traffic);
    ASSERT_TRUE(sim.Start());
    TfmMain& w = OpenWindow(sim);
    TTarvenixTraceList& trace = *w.CurrentTrace();
    auto* pages = w.findChild<QTabWidget*>("pcData");
    auto* view = w.findChild<TTraceView*>("mTrace");
    auto* state = w.findChild<QLabel*>("lbRecordState");
    ASSERT_TRUE(state);
    const std::string longName = Dir.File(std::string(60, 'x') + ".log");

    // Recording, seen from the Table page: file, frames and time; the full path in the tool tip.
    pages->setCurrentIndex(0);
    Choose("actRecord", longName);
    ASSERT_TRUE(WaitFor([&] { return state->text().contains(QRegularExpression(": [1-9][0-9,]* frames, 0:00:0")); }));
    EXPECT_TRUE(state->isVisible());
    EXPECT_TRUE(state->text().startsWith(QString::fromStdString("Recording to " + std::string(60, 'x') + ".log: ")));
    EXPECT_EQ(state->toolTip().toStdString(), longName);
    EXPECT_LE(w.width(), 850) << "a long name does not widen the window";

    // "Stop recording" and CLOSE say where the file is; the trace page then shows every entry.
    Choose("actRecord", "");
    EXPECT_EQ(state->text().toStdString().rfind("The recording to " + longName + " ended: ", 0), 0u);
    Choose("actRecord", Dir.File("close.log"));
    pages->setCurrentIndex(1);
    ASSERT_TRUE(WaitFor([&] { return view->Lines().LineCount() > 200; }));
    QTest::mouseClick(w.ChannelPanel(0)->findChild<QPushButton*>("btPort"), Qt::LeftButton);
    EXPECT_EQ(view->Lines().LineCount(), trace.Count());
    EXPECT_EQ(state->text().toStdString().rfind("The recording to " + Dir.File("close.log") + " ended: ", 0), 0u);
    EXPECT_TRUE(Errors.empty());

    // A lost adapter's box says that the recording ended, and where it is.
    w.OpenChannel(0);
    Choose("actRecord", Dir.File("lost.log"));
    ASSERT_TRUE(WaitFor([&] { return view->Lines().LineCount() > 200; }));
    sim.Unplug();
    ASSERT_TRUE(WaitFor([&] { return !Errors.empty(); }));
    EXPECT_NE(Errors[0].find("was lost"), std::string::npos) << Errors[0];
    EXPECT_NE(Errors[0].find("\nThe recording to " + Dir.File("lost.log") + " ended: "), std::string::npos)
        << Errors[0];
    EXPECT_EQ(view->Lines().LineCount(), trace.Count());
    tcmtest::SaveScreenshot(w, "recording-ended");
}

TEST_F(TraceMenu, TheFilterLineNarrowsTheTraceAndWhatIsSavedOrCopied)
{
    TSeeedSimulator sim;
    ASSERT_TRUE(sim.Start());
    TfmMain& w = OpenWindow(sim);
    w.CloseChannel(0, false);
    ASSERT_TRUE(WriteWholeFile(Dir.File("mix.log"), "(1.000000) can0 100#0102\n"
                                                    "(1.001000) can0 7FF#R\n"
                                                    "(1.002000) can0 18DAF110#AABB\n"
                                                    "(1.003000) can0 101#03\n"
                                                    "(1.004000) can0 100#0405\n"));
    Choose("actOpenRecording", Dir.File("mix.log"));
    TTarvenixTraceList& trace = *w.CurrentTrace();
    TCanFrame sent;
    sent.Id = 0x100;
    sent.Standard = true;
    sent.Length = 1;
    sent.Data[0] = 0x55;
    trace.AddFrame(sent, true);
    auto* pages = w.findChild<QTabWidget*>("pcData");
    pages->setCurrentIndex(1);
    auto* view = w.findChild<TTraceView*>("mTrace");
    auto* filter = w.findChild<QLineEdit*>("edTraceFilter");
    ASSERT_TRUE(filter);
    ASSERT_EQ(view->Lines().LineCount(), 6);
    auto shown = [&] {
        std::string ids;
        for (int row = 0; row < view->Lines().LineCount(); ++row) {
            const QString line = view->Lines().LineText(row);
            ids += line.left(3).trimmed().toStdString() +
                   line.mid(line.indexOf("id: ") + 4).section(' ', 0, 0).toStdString() + " ";
        }
        return ids;
    };

    // candump's terms, several at once, and the directions.
    const std::pair<const char*, const char*> cases[] = {
        {"100:7FF", "IN100 IN100 OUT100 "},
        {"100:7FE, 7FF:7FF", "IN100 IN7FF IN101 IN100 OUT100 "},
        {"100:7FF OUT", "OUT100 "},
        {"in", "IN100 IN7FF IN18DAF110 IN101 IN100 "},
        {"100~7FF", "IN7FF IN18DAF110 IN101 "},
        {"18DAF110:DFFFFFFF", "IN18DAF110 "},
        {"7FF:C00007FF", "" /* a remote frame does not pass the data-frame bit */},
        {"", "IN100 IN7FF IN18DAF110 IN101 IN100 OUT100 "},
    };
    for (const auto& [text, expected] : cases) {
        filter->setText(text);
        EXPECT_EQ(shown(), expected) << text;
        EXPECT_TRUE(filter->styleSheet().isEmpty()) << text;
    }
    filter->setText("100:7FF");
    filter->setText("100:7FF zz");
    EXPECT_FALSE(filter->styleSheet().isEmpty());
    EXPECT_NE(filter->toolTip().indexOf("Not a filter term: zz"), -1);
    EXPECT_EQ(shown(), "IN100 IN100 OUT100 ") << "the last good filter stays";

    // New entries pass through the filter as they come.
    filter->setText("101:7FF");
    sent.Id = 0x101;
    trace.AddFrame(sent, true);
    sent.Id = 0x102;
    trace.AddFrame(sent, true);
    w.UpdateTrace();
    EXPECT_EQ(shown(), "IN101 OUT101 ");

    // Saving and copying take what is shown.
    Choose("actSaveTrace", Dir.File("shown.txt"));
    EXPECT_EQ(ReadWholeFile(Dir.File("shown.txt")),
              view->Lines().LineText(0).toStdString() + "\n" + view->Lines().LineText(1).toStdString() + "\n");
    view->SelectLines(1, 1);
    Choose("actSaveSelection", Dir.File("one.log"));
    EXPECT_NE(ReadWholeFile(Dir.File("one.log")).find("101#55"), std::string::npos);
    filter->setText("100:7FF");
    view->SelectLines(0, 2);
    Action("actCopyCandump")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "100#0102\n100#0405\n100#55\n");
    EXPECT_TRUE(Errors.empty()) << Errors[0];

    // The receive table's menu copies its selected line the same way.
    auto* table = w.findChild<TListViewFrameTable*>("TableView");
    for (int i = 0; i < table->topLevelItemCount(); ++i)
        if (table->topLevelItem(i)->text(0) == "18DAF110")
            table->setCurrentItem(table->topLevelItem(i));
    w.Databases()->ContextMenu()->findChild<QAction*>("miCopyCandump")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "18DAF110#AABB");
    tcmtest::SaveScreenshot(w, "trace-filter");
}
