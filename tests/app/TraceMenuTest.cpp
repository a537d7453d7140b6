// The trace view's pop-up menu end to end: the window against the in-process
// simulated adapter, files read back by the CAN tools of the system.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QProgressDialog>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <sstream>
#include <sys/stat.h>

#include "SeeedSimulator.h"
#include "TrafficGenerator.h"
#include "adapter/frmChannelMan.h"
#include "app/Main.h"
#include "app/TraceMenu.h"
#include "core/FrameText.h"
#include "platform/ProgramDir.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "transmit/CanSendList.h"
#include "views/ListViewFrameTable.h"
#include "views/TarvenixTrace.h"
#include "views/TraceView.h"

namespace {

// A frame as a reader tool reports it; Dir is -1 where the format has no direction.
struct TToolFrame {
    double Seconds = 0;
    uint32_t Id = 0;
    bool Extended = false;
    bool Remote = false;
    int Length = 0;
    std::string Data; // upper-case hex, no blanks
    int Dir = -1;     // 0 received, 1 sent
};

std::string RunTool(std::vector<std::string> args)
{
    TChild child(std::move(args));
    EXPECT_TRUE(child.Started());
    EXPECT_EQ(child.WaitExit(60000), 0) << child.ErrText;
    return child.OutText;
}

// python-can's readers (LogReader picks the format by extension): one line per message.
std::vector<TToolFrame> ReadWithPythonCan(const std::string& path, bool hasDirection)
{
    const char* script = R"(import can, sys
for m in can.LogReader(sys.argv[1]):
    print('%.6f %X %d %d %d %s %d' % (m.timestamp, m.arbitration_id, m.is_extended_id, m.is_remote_frame,
          m.dlc, bytes(m.data).hex().upper() or '-', 0 if m.is_rx else 1))
)";
    std::vector<TToolFrame> frames;
    std::istringstream lines(RunTool({"/usr/bin/python3", "-c", script, path}));
    TToolFrame f;
    std::string id;
    int ext = 0, rtr = 0;
    while (lines >> f.Seconds >> id >> ext >> rtr >> f.Length >> f.Data >> f.Dir) {
        f.Id = static_cast<uint32_t>(std::stoul(id, nullptr, 16));
        f.Extended = ext != 0;
        f.Remote = rtr != 0;
        if (!hasDirection)
            f.Dir = -1;
        if (f.Data == "-" || f.Remote)
            f.Data.clear();
        frames.push_back(f);
    }
    return frames;
}

// candump log lines, as asc2log writes them: "(1700000000.123456) can0 123#DEADBEEF".
std::vector<TToolFrame> ParseCandumpLog(const std::string& text)
{
    std::vector<TToolFrame> frames;
    for (const auto& line : Lines(text)) {
        const size_t close = line.find(')');
        const size_t hash = line.find('#');
        if (line.empty() || line[0] != '(' || close == std::string::npos || hash == std::string::npos)
            continue;
        const size_t space = line.rfind(' ', hash);
        const size_t end = line.find(' ', hash); // a direction may follow
        const auto frame = ParseCompactFrame(std::string_view(line).substr(space + 1, end - space - 1));
        EXPECT_TRUE(frame) << line;
        if (!frame)
            continue;
        TToolFrame f;
        f.Seconds = std::stod(line.substr(1, close - 1));
        f.Id = frame->Id;
        f.Extended = !frame->Standard;
        f.Remote = frame->Request;
        f.Length = frame->Length;
        if (!f.Remote)
            AppendDataBytes(f.Data, frame->Data, CanDataBytes(frame->Length), '\0');
        frames.push_back(f);
    }
    return frames;
}

// Wireshark's reading of a pcap file with SocketCAN frames.
std::vector<TToolFrame> ReadWithTshark(const std::string& path)
{
    const std::string out = RunTool({"/usr/bin/tshark", "-r", path, "-T", "fields", "-E", "separator=;", "-e",
                                 "frame.time_epoch", "-e", "can.id", "-e", "can.flags.xtd", "-e", "can.flags.rtr",
                                 "-e", "can.len", "-e", "data.data"});
    std::vector<TToolFrame> frames;
    for (const auto& line : Lines(out)) {
        std::vector<std::string> fields;
        std::stringstream cells(line);
        std::string cell;
        while (std::getline(cells, cell, ';'))
            fields.push_back(cell);
        fields.resize(6);
        TToolFrame f;
        f.Seconds = std::stod(fields[0]);
        f.Id = static_cast<uint32_t>(std::stoul(fields[1], nullptr, 0));
        f.Extended = fields[2] == "1" || fields[2] == "True";
        f.Remote = fields[3] == "1" || fields[3] == "True";
        f.Length = std::stoi(fields[4]);
        for (char c : fields[5])
            if (c != ':')
                f.Data += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (f.Remote)
            f.Data.clear();
        frames.push_back(f);
    }
    return frames;
}

// The tool's frames equal trace entries first.. in order: identifier and kind,
// length, data, direction where the format has one, wall-clock time within 1 ms
// (for ASC counted from the first frame: asc2log reads the date line only in
// an English locale, which a build machine may lack).
void ExpectFramesOfTrace(const std::vector<TToolFrame>& frames, const TTarvenixTraceList& trace, int32_t first,
                         const std::string& what)
{
    const bool relative = what.find(".asc") != std::string::npos;
    ASSERT_LE(first + static_cast<int32_t>(frames.size()), trace.Count()) << what;
    for (size_t i = 0; i < frames.size(); ++i) {
        const TTarvenixTraceItem& item = *trace.Item(first + static_cast<int32_t>(i));
        const TToolFrame& f = frames[i];
        std::string data;
        if (!item.Request)
            AppendDataBytes(data, item.Data, CanDataBytes(item.Length), '\0');
        SCOPED_TRACE(what + " frame " + std::to_string(i) + ": " + item.FormatLine());
        ASSERT_EQ(f.Id, item.Id);
        ASSERT_EQ(f.Extended, !item.Standard);
        ASSERT_EQ(f.Remote, item.Request);
        ASSERT_EQ(f.Length, item.Length);
        ASSERT_EQ(f.Data, data);
        if (f.Dir >= 0) {
            ASSERT_EQ(f.Dir, item.Outgoing ? 1 : 0);
        }
        const double seconds = static_cast<double>(trace.WallTimeUs(item)) / 1e6;
        if (relative)
            ASSERT_NEAR(f.Seconds - frames[0].Seconds, seconds - trace.WallTimeUs(*trace.Item(first)) / 1e6, 0.001);
        else
            ASSERT_NEAR(f.Seconds, seconds, 0.001);
    }
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}

class TraceMenu : public ::testing::Test {
protected:
    void SetUp() override { tcm::SetProgramDirOverride(Dir.Path()); }
    void TearDown() override
    {
        Window.reset();
        tcm::SetProgramDirOverride("");
    }

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

    TempDir Dir;
    std::unique_ptr<TfmMain> Window;
    TTraceMenu* Menu = nullptr;
    std::string NextFile;
    std::vector<std::string> Errors;
};

} // namespace

TEST_F(TraceMenu, SavesTheTraceWhileFramesArriveInFilesTheToolsRead)
{
    TSeeedSimOptions traffic;
    traffic.FramesPerSecond = 1000;
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

    // Each file holds the whole trace as it was when saving began, read by two tools where they can.
    for (const char* name : {"all.log", "all.asc", "all.blf", "all.pcap"}) {
        const std::string path = Dir.File(name);
        const int32_t before = trace.Count();
        Choose("actSaveTrace", path);
        ASSERT_TRUE(Errors.empty()) << Errors[0];
        std::vector<TToolFrame> frames;
        const std::string ext = path.substr(path.size() - 4);
        if (ext == ".log" || ext == ".blf") {
            frames = ReadWithPythonCan(path, ext == ".blf");
        } else if (ext == ".asc") {
            frames = ParseCandumpLog(RunTool({"/usr/bin/asc2log", "-I", path}));
            std::vector<TToolFrame> python = ReadWithPythonCan(path, true);
            ASSERT_EQ(python.size(), frames.size());
            ExpectFramesOfTrace(python, trace, 0, "python-can " + path);
        } else {
            frames = ReadWithTshark(path);
        }
        EXPECT_GE(static_cast<int32_t>(frames.size()), before) << path;
        ExpectFramesOfTrace(frames, trace, 0, path);
        EXPECT_GT(trace.Count(), static_cast<int32_t>(frames.size())) << "the channel went on meanwhile";
    }
    // candump log through log2asc as well: its ASC lines carry our frames.
    const std::string asc = RunTool({"/usr/bin/log2asc", "-I", Dir.File("all.log"), "can0"});
    EXPECT_NE(asc.find(std::string(" Rx   d 8 ")), std::string::npos);

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
    w.CloseChannel(0, true);
    TCanFrame frame;
    while (trace.Count() < 3000000)
        trace.AddFrame(frame, false);
    Menu->ProgressDelayMs = 0;
    QTimer cancel;
    bool dialogSeen = false;
    QObject::connect(&cancel, &QTimer::timeout, [&] {
        if (auto* dialog = w.findChild<QProgressDialog*>("ProgressJobDialog"); dialog && dialog->isVisible()) {
            dialogSeen = true;
            dialog->cancel();
        }
    });
    cancel.start(5);
    Choose("actSaveTrace", Dir.File("big.asc"));
    cancel.stop();
    EXPECT_TRUE(dialogSeen);
    struct stat st {};
    EXPECT_NE(stat(Dir.File("big.asc").c_str(), &st), 0) << "the cancelled file is removed";

    // A file that cannot be made is named with the reason.
    Choose("actSaveTrace", Dir.File("no/such/folder.log"));
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_EQ(Errors[0], "Unable to create " + Dir.File("no/such/folder.log") + ": No such file or directory");
}

TEST_F(TraceMenu, RecordsEveryFrameAcrossAClearUntilStoppedOrAWriteFails)
{
    TSeeedSimOptions traffic;
    traffic.FramesPerSecond = 2000;
    traffic.IdKind = TSimIdKind::Mixed;
    TSeeedSimulator sim(traffic);
    ASSERT_TRUE(sim.Start());
    TfmMain& w = OpenWindow(sim);
    TTarvenixTraceList& trace = *w.CurrentTrace();
    auto* sign = w.findChild<QLabel*>("lbRecording");
    w.findChild<QTabWidget*>("pcData")->setCurrentIndex(1);
    ASSERT_TRUE(WaitFor([&] { return trace.Count() >= 200; }));

    // Recording starts with the entries that come after the menu entry.
    const std::string path = Dir.File("run.asc");
    const int32_t before = trace.Count();
    Choose("actRecord", path);
    const int32_t after = trace.Count();
    ASSERT_TRUE(Menu->IsRecording());
    EXPECT_EQ(Action("actRecord")->text().toStdString(), "Stop recording");
    EXPECT_TRUE(sign->isVisible());
    ASSERT_TRUE(WaitFor([&] { return sign->text().contains(QRegularExpression(": [1-9][0-9,]* frames")); }));
    EXPECT_TRUE(sign->text().startsWith("Recording to run.asc: "));

    // "Clear trace" in the middle: the removed entries not yet written still are,
    // including those that arrived just before the clear.
    ASSERT_TRUE(WaitFor([&] { return trace.Count() >= after + 500; }));
    std::vector<TTarvenixTraceItem> early;
    for (int32_t i = 0; i < trace.Count(); ++i)
        early.push_back(*trace.Item(i));
    QTest::mouseClick(w.findChild<QPushButton*>("btClearTrace"), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return trace.Count() >= 500; }));
    const int32_t later = trace.Count();
    Choose("actRecord", ""); // the stop entry asks nothing
    EXPECT_FALSE(Menu->IsRecording());
    EXPECT_FALSE(sign->isVisible());

    // The file: the early entries from where recording began, then entries 0.. of the
    // cleared trace; the generator's sequence numbers run on over the clear.
    const std::vector<TToolFrame> frames = ParseCandumpLog(RunTool({"/usr/bin/asc2log", "-I", path}));
    auto sequenceOf = [](uint32_t id, const uint8_t* data) {
        TCanFrame f;
        f.Id = id;
        std::memcpy(f.Data, data, 8);
        uint32_t sequence = 0;
        EXPECT_TRUE(TTrafficGenerator::SequenceOf(f, sequence));
        return sequence;
    };
    std::vector<uint32_t> sequences;
    for (const auto& f : frames) {
        uint8_t data[8] = {};
        for (size_t b = 0; b < 8 && 2 * b + 1 < f.Data.size(); ++b)
            data[b] = static_cast<uint8_t>(std::stoul(f.Data.substr(2 * b, 2), nullptr, 16));
        sequences.push_back(sequenceOf(f.Id, data));
    }
    ASSERT_FALSE(sequences.empty());
    size_t start = static_cast<size_t>(before);
    while (start <= static_cast<size_t>(after) && sequenceOf(early[start].Id, early[start].Data) != sequences[0])
        ++start;
    ASSERT_LE(start, static_cast<size_t>(after)) << "the first frame recorded came after the menu entry was chosen";
    ASSERT_GE(sequences.size(), early.size() - start + static_cast<size_t>(later));
    for (size_t i = 0; start + i < early.size(); ++i)
        ASSERT_EQ(sequences[i], sequenceOf(early[start + i].Id, early[start + i].Data)) << i;
    const uint32_t firstAfter = sequenceOf(trace.Item(0)->Id, trace.Item(0)->Data);
    size_t cleared = early.size() - start;
    while (cleared < sequences.size() && sequences[cleared] != firstAfter)
        ++cleared;
    ASSERT_GE(sequences.size() - cleared, static_cast<size_t>(later));
    ExpectFramesOfTrace({frames.begin() + static_cast<long>(cleared), frames.end()}, trace, 0,
                        path + " after the clear");
    // Nothing missing around the clear (unless the link itself lost frames under load).
    if (sim.Counters().FramesOverrun == 0) {
        for (size_t i = 1; i < sequences.size(); ++i)
            ASSERT_EQ(sequences[i], sequences[i - 1] + 1) << "frame " << i << " of " << sequences.size();
    }

    // A write that fails stops the recording with the file and the reason; the trace goes on.
    const std::string full = Dir.File("full.blf");
    ASSERT_EQ(symlink("/dev/full", full.c_str()), 0);
    Choose("actRecord", full);
    ASSERT_TRUE(WaitFor([&] { return !Errors.empty(); }));
    EXPECT_EQ(Errors[0], "Unable to write to " + full + ": No space left on device");
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
    const std::vector<TToolFrame> closing = ReadWithPythonCan(Dir.File("closing.log"), false);
    ASSERT_GE(closing.size(), static_cast<size_t>(trace.Count() - first));
    ExpectFramesOfTrace(closing, trace, trace.Count() - static_cast<int32_t>(closing.size()), "closing.log");
    EXPECT_FALSE(Action("actRecord")->isEnabled());
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
    const char* rows[3][5] = {{"100", "2", "07 08", "4", "19"},
                              {"7FF", "1", "AA", "1", "0"},
                              {"18DAF110", "0", "Request", "1", "0"}};
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
