// The main window, headless, against the in-process simulated adapter.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <sys/stat.h>

#include "../adapter/GuiTestSupport.h"
#include "SeeedSimulator.h"
#include "adapter/AdapterCustom.h"
#include "adapter/frmChannelMan.h"
#include "app/Main.h"
#include "app/sendgrid/SendGridPanel.h"
#include "transmit/SendFrameForm.h"
#include "core/CanSettings.h"
#include "platform/IniFile.h"
#include "platform/ProgramDir.h"
#include "support/FastClock.h"
#include "support/TempDir.h"
#include "transmit/CanSendList.h"
#include "transmit/PeriodicSendThread.h"
#include "views/ListViewFrameTable.h"
#include "views/TarvenixTable.h"
#include "views/TarvenixTrace.h"
#include "views/TraceView.h"

namespace {

class TFakePorts : public TComPortSource {
public:
    explicit TFakePorts(std::vector<std::string>* names) : Names(names) {}
    std::vector<TDevice> PresentDevices() override
    {
        std::vector<TDevice> devices;
        for (const auto& name : *Names) {
            TDevice d;
            d.FriendlyName = "Port " + name;
            d.PortName = name;
            devices.push_back(d);
        }
        return devices;
    }
    std::vector<std::string>* Names;
};

using tcmtest::WaitFor;

class MainWindow : public ::testing::Test {
protected:
    // Installed before the window and removed after it: an opening's settle
    // pauses only move the tick count on instead of sleeping.
    tcmtest::TScopedFastClock Clock;
    void SetUp() override { tcm::SetProgramDirOverride(Dir.Path()); }
    void TearDown() override
    {
        Window.reset();
        tcm::SetProgramDirOverride("");
    }

    // A new window; its message boxes are recorded and the exit question
    // answered with `Answer`.
    TfmMain& Open()
    {
        Window = std::make_unique<TfmMain>(std::make_unique<TFakePorts>(&Ports));
        Window->ErrorBox = [this](const QString& t) { Errors.push_back(t.toStdString()); };
        Window->InfoBox = [this](const QString& t) { Infos.push_back(t.toStdString()); };
        Window->QuestionBox = [this](const QString& t) {
            Questions.push_back(t.toStdString());
            return Answer;
        };
        Window->show();
        QCoreApplication::processEvents();
        return *Window;
    }

    template <class T> T* Find(const char* name) { return Window->findChild<T*>(name); }
    QPushButton* PortButton() { return Window->ChannelPanel(0)->findChild<QPushButton*>("btPort"); }
    QComboBox* RateBox() { return Window->ChannelPanel(0)->findChild<QComboBox*>("cbCanRate"); }
    QComboBox* ModeBox() { return Window->ChannelPanel(0)->findChild<QComboBox*>("cbCanMode"); }
    std::string Ini() const { return Dir.File("TarvenixCanMonitor.ini"); }

    TempDir Dir;
    std::vector<std::string> Ports = {"COM10", "ttyUSB0", "COM2"};
    std::unique_ptr<TfmMain> Window;
    std::vector<std::string> Errors;
    std::vector<std::string> Infos;
    std::vector<std::string> Questions;
    bool Answer = true;
};

} // namespace

TEST_F(MainWindow, StartsWithTheSeeedAdapterSelected)
{
    TfmMain& w = Open();
    EXPECT_EQ(w.windowTitle().toStdString(), "TarvenixCanMonitor for Seeed adapter");
    EXPECT_EQ(w.IniFileName(), Ini());
    struct stat st {};
    EXPECT_EQ(stat(Ini().c_str(), &st), 0); // a missing settings file is created

    auto* adapterBox = Find<QComboBox>("cbSelectAdapter");
    EXPECT_EQ(adapterBox->currentText().toStdString(), "Seeed");
    EXPECT_FALSE(adapterBox->isEnabled());
    EXPECT_EQ(Find<QTabBar>("tbChannels")->count(), 0);
    EXPECT_TRUE(w.ChannelPanel(0)->isVisible());
    for (int i = 1; i < 4; ++i)
        EXPECT_FALSE(w.ChannelPanel(i)->isVisible());
    EXPECT_EQ(w.ChannelPanel(0)->findChild<QGroupBox*>("gbMain")->title().toStdString(), "");
    EXPECT_EQ(PortButton()->text().toStdString(), "OPEN");
    EXPECT_TRUE(Find<QGroupBox>("gbComport")->isVisible());

    // Twelve rates of the adapter, the default 250000 selected, Standard mode.
    EXPECT_EQ(RateBox()->count(), 12);
    EXPECT_EQ(RateBox()->currentText().toStdString(), "250 Kbit/sec");
    EXPECT_EQ(ModeBox()->currentText().toStdString(), "Standard");

    // Ports in number order; with no stored port the first entry is chosen.
    auto* portBox = Find<QComboBox>("cbComPort");
    ASSERT_EQ(portBox->count(), 3);
    EXPECT_EQ(portBox->itemText(0).toStdString(), "COM2");
    EXPECT_EQ(portBox->itemText(1).toStdString(), "COM10");
    EXPECT_EQ(portBox->currentText().toStdString(), "COM2");

    auto* pages = Find<QTabWidget>("pcData");
    EXPECT_EQ(pages->tabText(pages->currentIndex()).toStdString(), "Table");
    EXPECT_FALSE(pages->isTabVisible(pages->indexOf(Find<QWidget>("tsLog"))));
    EXPECT_TRUE(Find<QCheckBox>("cbTraceAutoscroll")->isChecked());
    EXPECT_FALSE(Find<QTimer>("tmUpdate")->isActive());
    EXPECT_TRUE(Errors.empty());

    // Tab from the port box only reaches controls that can be seen; the hidden diagnostic button is never one.
    w.activateWindow();
    portBox->setFocus();
    for (int i = 0; i < 12; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* focus = QApplication::focusWidget();
        ASSERT_TRUE(focus);
        EXPECT_NE(focus->objectName().toStdString(), "btTest") << "Tab " << i + 1;
        EXPECT_FALSE(focus->visibleRegion().isEmpty()) << focus->objectName().toStdString() << ", Tab " << i + 1;
    }
    EXPECT_TRUE(Infos.empty());
    QTest::mouseClick(Find<QPushButton>("btTest"), Qt::LeftButton);
    EXPECT_EQ(Infos, std::vector<std::string>{"Seeed"});

    // A box shows printable text only and at most 20 lines.
    std::string noise = "head";
    for (int line = 0; line < 30; ++line)
        noise += std::string("\nline\x01\x1b[2J\x7f") + static_cast<char>(0xC3) + static_cast<char>(0xA9);
    w.ShowError(QString::fromUtf8(noise.c_str()));
    ASSERT_EQ(Errors.size(), 1u);
    const QStringList lines = QString::fromStdString(Errors[0]).split('\n');
    ASSERT_EQ(lines.size(), 21);
    EXPECT_EQ(lines[1], QString("line\uFFFD\uFFFD[2J\uFFFD\u00E9"));
    EXPECT_EQ(lines[20].toStdString(), "... and 11 more");
}

TEST_F(MainWindow, StoredSettingsFillTheBoxesAndTheBoxesChangeThem)
{
    ASSERT_TRUE(WriteWholeFile(Ini(), "[Seeed]\nCanRate=40000\nCanMode=1\nPort=COM7\n"));
    TfmMain& w = Open();
    TCanSettings* settings = w.Adapter()->GetSettings(0);
    EXPECT_EQ(RateBox()->currentIndex(), -1); // 40000 is not offered
    EXPECT_EQ(settings->Rate, 40000);
    EXPECT_EQ(ModeBox()->currentText().toStdString(), "Extended");
    EXPECT_FALSE(w.CurrentList()->Standard);
    EXPECT_EQ(Find<QComboBox>("cbComPort")->currentText().toStdString(), "COM7");

    // Typing into the boxes changes nothing.
    RateBox()->setFocus();
    QTest::keyClicks(RateBox(), "1K");
    ModeBox()->setFocus();
    QTest::keyClicks(ModeBox(), "S");
    EXPECT_EQ(ModeBox()->currentText().toStdString(), "Extended");
    EXPECT_EQ(RateBox()->currentIndex(), -1);
    EXPECT_EQ(settings->Rate, 40000);

    // Picking entries changes the settings and the transmit list's mode.
    RateBox()->setCurrentIndex(11);
    emit RateBox()->activated(11);
    EXPECT_EQ(settings->Rate, 1000000);
    ModeBox()->setCurrentIndex(0);
    emit ModeBox()->activated(0);
    EXPECT_FALSE(settings->Extended);
    EXPECT_TRUE(w.CurrentList()->Standard);
}

TEST_F(MainWindow, OpenChannelChecksThePortName)
{
    Ports.clear();
    TfmMain& w = Open();
    auto* portBox = Find<QComboBox>("cbComPort");
    const std::pair<const char*, const char*> cases[] = {{"", "Communication port is not selected"},
                                                         {"   \t ", "Communication port is not selected"},
                                                         {"com3", "Incorrect name of COM port"},
                                                         {"LPT1", "Incorrect name of COM port"}};
    for (auto [text, message] : cases) {
        Errors.clear();
        portBox->setEditText(text);
        QTest::mouseClick(PortButton(), Qt::LeftButton);
        EXPECT_EQ(Errors, std::vector<std::string>{message}) << "'" << text << "'";
    }
    // A name between blanks is trimmed, stored, and the adapter's failure shown.
    Errors.clear();
    portBox->setEditText("  ttyTcmMissing \t");
    QTest::mouseClick(PortButton(), Qt::LeftButton);
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_EQ(Errors[0], "Opening port is failed!\rPort: ttyTcmMissing, ErrorCode: 2");
    EXPECT_EQ(static_cast<CAdapterSerial*>(w.Adapter())->Port, "ttyTcmMissing");
    EXPECT_EQ(PortButton()->text().toStdString(), "OPEN");

    // The refresh button empties the box's text; a device change keeps it.
    Ports = {"COM4"};
    portBox->setEditText("COM9");
    w.DeviceChanged();
    EXPECT_EQ(portBox->count(), 1);
    EXPECT_EQ(portBox->currentText().toStdString(), "COM9");
    QTest::mouseClick(Find<QPushButton>("btUpdatePortList"), Qt::LeftButton);
    EXPECT_EQ(portBox->currentText().toStdString(), "");
}

TEST_F(MainWindow, OpensAgainstTheSimulatorShowsTrafficAndCloses)
{
    TSeeedSimOptions traffic;
    traffic.FramesPerSecond = 400;
    traffic.IdCount = 6;
    traffic.IdKind = TSimIdKind::Mixed;
    TSeeedSimulator sim(traffic);
    ASSERT_TRUE(sim.Start());
    TfmMain& w = Open();
    // Something left over from before the opening is cleared by it.
    TCanFrame old;
    old.Id = 0x1;
    w.CurrentTrace()->AddFrame(old, false);
    w.CurrentTable()->AddFrame(old);

    Find<QComboBox>("cbComPort")->setEditText(sim.PortPath().c_str());
    QTest::mouseClick(PortButton(), Qt::LeftButton);
    ASSERT_TRUE(Errors.empty()) << Errors[0];
    EXPECT_EQ(PortButton()->text().toStdString(), "CLOSE");
    EXPECT_FALSE(RateBox()->isEnabled());
    EXPECT_FALSE(Find<QComboBox>("cbComPort")->isEnabled());
    EXPECT_TRUE(Find<QTimer>("tmUpdate")->isActive());
    EXPECT_FALSE(w.PeriodicThread(0)->IsPaused());

    // The table view fills from the reading thread with one line per identifier.
    auto* view = Find<TListViewFrameTable>("TableView");
    ASSERT_TRUE(WaitFor([&] { return view->topLevelItemCount() == 6; }));
    ASSERT_TRUE(WaitFor([&] { return w.CurrentTrace()->Count() >= 100; }));
    for (int i = 0; i < view->topLevelItemCount(); ++i)
        EXPECT_NE(view->topLevelItem(i)->text(0).toStdString(), "001");

    // The trace view shows the entries once the page is active.
    auto* pages = Find<QTabWidget>("pcData");
    auto* trace = Find<TTraceView>("mTrace");
    EXPECT_EQ(trace->Lines().LineCount(), 0);
    pages->setCurrentIndex(1);
    ASSERT_TRUE(WaitFor([&] { return trace->Lines().LineCount() >= 100; }));
    EXPECT_EQ(trace->Lines().LineText(0).toStdString(), w.CurrentTrace()->Item(0)->FormatLine());
    EXPECT_TRUE(trace->IsAtBottom());
    tcmtest::SaveScreenshot(w, "main-trace");
    pages->setCurrentIndex(0);
    tcmtest::SaveScreenshot(w, "main-table", 300);

    QTest::mouseClick(PortButton(), Qt::LeftButton);
    EXPECT_EQ(PortButton()->text().toStdString(), "OPEN");
    EXPECT_TRUE(RateBox()->isEnabled());
    EXPECT_FALSE(Find<QTimer>("tmUpdate")->isActive());
    EXPECT_TRUE(w.PeriodicThread(0)->IsPaused());
    // Views and data stay after closing; the log page got the run's lines.
    EXPECT_EQ(view->topLevelItemCount(), 6);
    const QString log = Find<QPlainTextEdit>("mLog")->toPlainText();
    EXPECT_TRUE(log.contains("** Start"));
    EXPECT_TRUE(log.contains("** Stop"));

    // With autoscroll off, new lines are added but the view is not scrolled.
    QTest::mouseClick(Find<QCheckBox>("cbTraceAutoscroll"), Qt::LeftButton);
    EXPECT_FALSE(w.TraceAutoscroll());
    trace->ScrollToTop();
    for (int i = 0; i < 200; ++i)
        w.CurrentTrace()->AddFrame(old, true);
    pages->setCurrentIndex(0);
    pages->setCurrentIndex(1); // switching to the page while closed renders at once
    EXPECT_EQ(trace->Lines().LineCount(), w.CurrentTrace()->Count());
    EXPECT_EQ(trace->FirstVisibleLine(), 0);

    QTest::mouseClick(Find<QPushButton>("btClearTrace"), Qt::LeftButton);
    EXPECT_EQ(trace->Lines().LineCount(), 0);
    EXPECT_EQ(w.CurrentTrace()->Count(), 0);
    QTest::mouseClick(Find<QPushButton>("btClearTable"), Qt::LeftButton);
    EXPECT_EQ(view->topLevelItemCount(), 0);
}

TEST_F(MainWindow, ExitQuestionAndSettingsWrittenAtExit)
{
    TSeeedSimulator sim;
    ASSERT_TRUE(sim.Start());
    TfmMain& w = Open();
    RateBox()->setCurrentIndex(9);
    emit RateBox()->activated(9); // 500 Kbit/sec
    ModeBox()->setCurrentIndex(1);
    emit ModeBox()->activated(1);
    Find<QComboBox>("cbComPort")->setEditText(sim.PortPath().c_str());
    QTest::mouseClick(PortButton(), Qt::LeftButton);
    ASSERT_TRUE(w.IsChannelOpen(0));

    Answer = false;
    EXPECT_FALSE(w.close());
    EXPECT_EQ(Questions, std::vector<std::string>{"Are you sure you want to exit the application?"});
    EXPECT_TRUE(w.IsChannelOpen(0));

    Answer = true;
    EXPECT_TRUE(w.close());
    Window.reset();
    TIniFile ini(Ini());
    EXPECT_EQ(ini.ReadInteger("Seeed", "CanRate", 0), 500000);
    EXPECT_EQ(ini.ReadInteger("Seeed", "CanMode", 0), 1);
    EXPECT_EQ(ini.ReadString("Seeed", "Port", ""), sim.PortPath());
    // The channel was closed: the port opens again.
    TSeeedSimulator::TCounters c = sim.Counters();
    EXPECT_GE(c.SettingsReceived, 2u);
    EXPECT_TRUE(Errors.empty());
}

TEST_F(MainWindow, FilesThatCannotBeWrittenAtExitAreShownAndShutdownGoesOn)
{
    TfmMain& w = Open();
    // The settings file and the transmit list's file become folders: neither can be replaced.
    ASSERT_EQ(::remove(Ini().c_str()), 0);
    ASSERT_EQ(::mkdir(Ini().c_str(), 0755), 0);
    const std::string list = w.CurrentList()->GetFileName();
    ASSERT_EQ(::mkdir(list.c_str(), 0755), 0);
    auto* item = new TCanSendItem;
    w.CurrentList()->Add(item);
    EXPECT_TRUE(w.close());
    ASSERT_EQ(Errors.size(), 2u);
    EXPECT_EQ(Errors[0], "Unable to write to " + Ini());
    EXPECT_NE(Errors[1].find(list), std::string::npos) << Errors[1];
    EXPECT_EQ(w.Adapter(), nullptr); // the factory was freed all the same
}

namespace {

// Fills the item dialog as an operator would and saves it.
void FillAndSave(TfmSendFrame& dialog, int type, const char* id, const char* period, int length, const char* caption)
{
    dialog.FormShow();
    dialog.cbSendType->setCurrentIndex(type);
    dialog.UpdateControls();
    dialog.edPeriod->setText(period);
    dialog.edId->setText(id);
    dialog.cbLength->setCurrentIndex(length);
    dialog.UpdateControls();
    for (int i = 0; i < length; ++i)
        dialog.DataEdits[static_cast<size_t>(i)]->setText(
            QString("%1").arg(0x11 * (i + 1), 2, 16, QChar('0')).toUpper());
    dialog.edCaption->setText(caption);
    dialog.StoreItem();
}

std::vector<TCanFrame> FramesWithId(const TSeeedSimulator& sim, uint32_t id)
{
    std::vector<TCanFrame> frames;
    for (const auto& f : sim.ReceivedFrames())
        if (f.Id == id)
            frames.push_back(f);
    return frames;
}

} // namespace

TEST_F(MainWindow, TransmitGridSendsThroughTheSimulatorAndItsEditsAreSavedAtExit)
{
    TSeeedSimulator sim;
    ASSERT_TRUE(sim.Start());
    TfmMain& w = Open();
    TSendGridPanel& grid = *w.TransmitPanel();
    struct TEntry {
        int Type;
        const char* Id;
        const char* Period;
        int Length;
        const char* Caption;
    };
    const TEntry entries[] = {{cstSingle, "123", "1000", 2, "single"},
                              {cstPeriodic, "200", "50", 1, "tick"},
                              {cstOnRequest, "300", "1000", 0, "answer"}};
    for (const auto& e : entries) {
        grid.RunDialog = [&](TfmSendFrame& dialog) {
            FillAndSave(dialog, e.Type, e.Id, e.Period, e.Length, e.Caption);
            return dialog.result();
        };
        QTest::mouseClick(grid.btAdd, Qt::LeftButton);
    }
    ASSERT_EQ(w.CurrentList()->Count(), 3);
    auto press = [&](int row, int column) {
        const QRect cell = grid.sgSend->visualRect(grid.sgSend->model()->index(row - 1, column));
        QTest::mouseClick(grid.sgSend->viewport(), Qt::LeftButton, {}, cell.center());
    };
    press(2, 1); // Periodic and OnRequest items made active
    press(3, 1);
    EXPECT_TRUE(w.CurrentList()->GetItem(1)->Active);
    EXPECT_TRUE(w.CurrentList()->GetItem(2)->Active);

    Find<QComboBox>("cbComPort")->setEditText(sim.PortPath().c_str());
    QTest::mouseClick(PortButton(), Qt::LeftButton);
    ASSERT_TRUE(w.IsChannelOpen(0)) << (Errors.empty() ? "" : Errors[0]);
    const auto opened = std::chrono::steady_clock::now();

    // The Single item goes out once per press of its "Send" cell.
    press(1, 1);
    tcmtest::SaveScreenshot(w, "main-transmit-pressed"); // before the button is released
    QTest::qWait(150);
    press(1, 1);
    ASSERT_TRUE(WaitFor([&] { return FramesWithId(sim, 0x123).size() == 2; }));
    const auto single = FramesWithId(sim, 0x123);
    EXPECT_EQ(single[0].Length, 2);
    EXPECT_EQ(single[0].Data[1], 0x22);
    EXPECT_TRUE(single[0].Standard);

    // The OnRequest item answers a remote frame of the bus.
    TCanFrame remote;
    remote.Id = 0x7DF;
    remote.Standard = true;
    remote.Request = true;
    sim.SendFrame(remote);
    ASSERT_TRUE(WaitFor([&] { return FramesWithId(sim, 0x300).size() == 1; }));

    // The Periodic item runs every 50 ms from the opening on.
    WaitFor([&] { return std::chrono::steady_clock::now() - opened > std::chrono::milliseconds(300); }, 4000);
    QTest::mouseClick(PortButton(), Qt::LeftButton);
    ASSERT_FALSE(w.IsChannelOpen(0));
    // What was written before the close reaches the adapter: every frame the trace shows as sent.
    size_t written = 0;
    for (int32_t i = 0; i < w.CurrentTrace()->Count(); ++i)
        written += w.CurrentTrace()->Item(i)->Outgoing && w.CurrentTrace()->Item(i)->Id == 0x200 ? 1 : 0;
    ASSERT_TRUE(WaitFor([&] { return FramesWithId(sim, 0x200).size() >= written; }));
    const size_t atClose = FramesWithId(sim, 0x200).size();
    QTest::qWait(150);
    const auto periodic = FramesWithId(sim, 0x200);
    EXPECT_EQ(periodic.size(), atClose); // nothing after closing (three periods)
    // About 6 in 0.3 s; the bounds only catch a sender that never runs or runs
    // without its period (bench_periodic measures the intervals).
    EXPECT_GE(periodic.size(), 2u);
    EXPECT_LE(periodic.size(), 14u);

    // The trace shows the sends as outgoing entries.
    int outgoing = 0;
    for (int32_t i = 0; i < w.CurrentTrace()->Count(); ++i)
        outgoing += w.CurrentTrace()->Item(i)->Outgoing && w.CurrentTrace()->Item(i)->Id == 0x123 ? 1 : 0;
    EXPECT_EQ(outgoing, 2);
    EXPECT_EQ(grid.CellText(1, 7).toStdString(), "2");

    // Edits, moves and active ticks reach the file at exit.
    grid.SelectRow(3);
    QTest::mouseClick(grid.btUp, Qt::LeftButton); // OnRequest item above the Periodic one
    press(3, 1);                                  // Periodic item inactive again
    grid.SelectRow(1);
    grid.RunDialog = [&](TfmSendFrame& dialog) {
        dialog.FormShow();
        dialog.edCaption->setText("renamed");
        dialog.StoreItem();
        return dialog.result();
    };
    QTest::mouseClick(grid.btEdit, Qt::LeftButton);
    const std::string listFile = w.CurrentList()->GetFileName();
    EXPECT_TRUE(w.close());
    Window.reset();
    EXPECT_EQ(ReadWholeFile(listFile), "0;0;0;123;0;2;1122;renamed;\r\n"
                                       "2;0;1;300;0;0;;answer;\r\n"
                                       "1;32;0;200;0;1;11;tick;\r\n");
}

TEST_F(MainWindow, AnAdapterThatVanishesOrHangsClosesTheChannelWithOneMessage)
{
    TfmMain& w = Open();
    auto owned = std::make_unique<TCanSendItem>();
    TCanSendItem* item = owned.get();
    item->SendType = cstPeriodic;
    item->Period = 2;
    item->Active = true;
    item->Frame.Id = 0x200;
    item->Frame.Length = 1;
    w.CurrentList()->Add(std::move(owned));
    // Fifteen more every millisecond fill a terminal that is no longer read sooner.
    for (uint32_t id = 0x201; id <= 0x20F; ++id) {
        auto more = std::make_unique<TCanSendItem>();
        more->SendType = cstPeriodic;
        more->Period = 1;
        more->Active = true;
        more->Frame.Id = id;
        more->Frame.Length = 1;
        w.CurrentList()->Add(std::move(more));
    }
    auto count = [&] {
        tcm::TMutexLock guard(w.CurrentList()->Lock());
        return item->Count;
    };
    auto openOn = [&](TSeeedSimulator& sim) {
        Find<QComboBox>("cbComPort")->setEditText(sim.PortPath().c_str());
        QTest::mouseClick(PortButton(), Qt::LeftButton);
        return w.IsChannelOpen(0) && WaitFor([&] { return count() >= 20; });
    };
    auto expectClosed = [&] {
        EXPECT_EQ(PortButton()->text().toStdString(), "OPEN");
        EXPECT_TRUE(Find<QComboBox>("cbComPort")->isEnabled());
        EXPECT_TRUE(w.PeriodicThread(0)->IsPaused());
        // Nothing is sent or counted any more (25 periods later), and the box came once.
        const int32_t before = count();
        QTest::qWait(50);
        EXPECT_EQ(count(), before);
        EXPECT_EQ(Errors.size(), 1u);
    };

    // The port disappears while open.
    TSeeedSimulator unplugged;
    ASSERT_TRUE(unplugged.Start());
    ASSERT_TRUE(openOn(unplugged)) << (Errors.empty() ? "" : Errors[0]);
    unplugged.Unplug();
    ASSERT_TRUE(WaitFor([&] { return !Errors.empty(); }));
    EXPECT_EQ(Errors[0],
              "Connection to the adapter on " + unplugged.PortPath() + " was lost (error 5). The channel was closed.");
    expectClosed();

    // The adapter stops reading: once the terminal is full, writes time out.
    Errors.clear();
    TSeeedSimulator hung;
    ASSERT_TRUE(hung.Start());
    ASSERT_TRUE(openOn(hung)) << (Errors.empty() ? "" : Errors[0]);
    hung.HoldReading(true);
    // Writes fail once the terminal is full; the second they must keep failing
    // passes on the test clock, 100 ms of ticks at each look.
    ASSERT_TRUE(WaitFor(
        [&] {
            Clock.Get().Advance(100);
            return !Errors.empty();
        },
        20000));
    EXPECT_EQ(Errors[0],
              "The adapter on " + hung.PortPath() + " does not respond (error 110). The channel was closed.");
    expectClosed();
    EXPECT_NE(Find<QPlainTextEdit>("mLog")->toPlainText().indexOf("WriteFile is failed. Error = 110"), -1);

    // Every frame the trace shows as sent reached the adapter once it read again, and no other.
    hung.HoldReading(false);
    int32_t sentLines = 0;
    for (int32_t i = 0; i < w.CurrentTrace()->Count(); ++i)
        sentLines += w.CurrentTrace()->Item(i)->Outgoing ? 1 : 0;
    EXPECT_GT(sentLines, 100);
    // The probe and the sent frames arrive together; a frame left out would be
    // right behind them in the terminal, so it is in once the terminal is read empty.
    EXPECT_TRUE(hung.WaitFramesReceived(static_cast<uint64_t>(sentLines) + 1, 5000));
    EXPECT_TRUE(hung.WaitAllRead(5000));
    EXPECT_EQ(hung.ReceivedFrames().size(), static_cast<size_t>(sentLines) + 1); // the probe first
}

TEST_F(MainWindow, RejectedListLinesAreToldOnceAndAReadOnlySettingsFileStays)
{
    const std::string list = Dir.File("trans_list_seed.dat");
    const std::string original = "0;0;0;123;0;0;;one;\r\nnot an item\r\n0;0;0;124;0;0;;two;\r\n0;0;0;125;0;9;;;\r\n";
    ASSERT_TRUE(WriteWholeFile(list, original));
    const std::string settings = "[Seeed]\r\nCanRate=500000\r\n";
    ASSERT_TRUE(WriteWholeFile(Ini(), settings));
    ASSERT_EQ(chmod(Ini().c_str(), 0444), 0);
    TfmMain& w = Open();
    ASSERT_TRUE(WaitFor([&] { return !Infos.empty(); }));
    EXPECT_EQ(Infos.size(), 1u);
    EXPECT_NE(Infos[0].find("not understood: 2, 4."), std::string::npos) << Infos[0];
    EXPECT_NE(Infos[0].find(list + ".bak"), std::string::npos) << Infos[0];
    EXPECT_NE(Find<QPlainTextEdit>("mLog")->toPlainText().indexOf("not understood: 2, 4."), -1);
    EXPECT_EQ(w.CurrentList()->Count(), 2);
    EXPECT_TRUE(w.close());
    EXPECT_EQ(ReadWholeFile(list + ".bak"), original);
    EXPECT_EQ(ReadWholeFile(list), "0;0;0;123;0;0;;one;\r\n0;0;0;124;0;0;;two;\r\n");
    EXPECT_EQ(Errors, std::vector<std::string>{"Unable to write to " + Ini()});
    EXPECT_EQ(ReadWholeFile(Ini()), settings);
}

// Boxes asked for while the window is created come once it runs, in order,
// through the hooks set after creation: an unreadable transmit list file (a
// folder in its place), then a remembered database that is gone.
TEST_F(MainWindow, StartUpTroublesAreToldThroughTheBoxHooksInOrder)
{
    const std::string list = Dir.File("trans_list_seed.dat");
    ASSERT_TRUE(std::filesystem::create_directory(list));
    const std::string dbc = Dir.File("gone.dbc");
    ASSERT_TRUE(WriteWholeFile(Ini(), "[Database]\nFile=" + dbc + "\n"));
    const std::string unread = "Cannot read the transmit list file " + list +
                               ": Is a directory. Changes to the transmit list will not be saved to this file.";
    TfmMain& w = Open();
    ASSERT_TRUE(WaitFor([&] { return Errors.size() >= 2; }));
    EXPECT_EQ(Errors, (std::vector<std::string>{unread, "The CAN database " + dbc +
                                                            " was not found; the monitor starts without it."}));
    EXPECT_TRUE(w.close());
    EXPECT_TRUE(std::filesystem::is_directory(list));
}
