// The window with a CAN database: the context menu of the receive table, the
// "Signals" page fed from the simulator, tool tips and the remembered file.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QToolTip>
#include <QTreeWidget>
#include <algorithm>
#include <future>
#include <numeric>
#include <vector>

#include "../adapter/GuiTestSupport.h"
#include "WindowTestFixture.h"
#include "SeeedSimulator.h"
#include "adapter/frmChannelMan.h"
#include "app/DatabaseMenu.h"
#include "app/Main.h"
#include "app/sendgrid/SendGridPanel.h"
#include "signals/CanmatrixOracle.h"
#include "transmit/CanSendList.h"
#include "transmit/SendFrameForm.h"
#include "transmit/SendFrameSignals.h"
#include "platform/IniFile.h"
#include "platform/ProgramDir.h"
#include "support/FastClock.h"
#include "support/TempDir.h"
#include "views/ListViewFrameTable.h"

namespace {

const std::string kDbcDir = TCM_DBC_TEST_DIR "/data/";

using tcmtest::WaitFor;

class SignalsWindow : public TWindowTest {
protected:
    TfmMain& Open()
    {
        Window = std::make_unique<TfmMain>();
        Window->ErrorBox = [this](const QString& t) { Errors.push_back(t.toStdString()); };
        Window->InfoBox = [this](const QString& t) { Infos.push_back(t.toStdString()); };
        Window->QuestionBox = [](const QString&) { return true; };
        Window->show();
        QTest::qWait(20); // start-up messages come once the window runs
        return *Window;
    }
    template <class T> T* Find(const char* name) { return Window->findChild<T*>(name); }
    std::string Ini() const { return Dir.File("TarvenixCanMonitor.ini"); }
    std::string StoredFile() const { return TIniFile(Ini()).ReadString("Database", "File", ""); }

    std::vector<std::string> Errors;
    std::vector<std::string> Infos;
};

} // namespace

TEST_F(SignalsWindow, RememberedDatabaseDecodesTheTableOnTheSignalsPage)
{
    TSeeedSimOptions traffic;
    traffic.FramesPerSecond = 300;
    traffic.Ids = {0x64, 0x300, 0x123};
    TSeeedSimulator sim(traffic);
    ASSERT_TRUE(sim.Start());
    ASSERT_TRUE(
        WriteWholeFile(Ini(), "[Seeed]\nPort=" + sim.PortPath() + "\n\n[Database]\nFile=" + kDbcDir + "signals.dbc\n"));
    TfmMain& w = Open();
    EXPECT_TRUE(Errors.empty());

    // The pages keep their indexes; "Signals" follows the hidden "Log" page.
    auto* pages = Find<QTabWidget>("pcData");
    auto* signalsPage = Find<QWidget>("tsSignals");
    EXPECT_EQ(pages->tabText(0).toStdString(), "Table");
    EXPECT_EQ(pages->tabText(1).toStdString(), "Trace");
    EXPECT_FALSE(pages->isTabVisible(pages->indexOf(Find<QWidget>("tsLog"))));
    EXPECT_EQ(pages->tabText(pages->indexOf(signalsPage)).toStdString(), "Signals");
    EXPECT_TRUE(pages->isTabVisible(pages->indexOf(signalsPage)));

    auto* port = w.ChannelPanel(0)->findChild<QPushButton*>("btPort");
    QTest::mouseClick(port, Qt::LeftButton);
    ASSERT_TRUE(Errors.empty()) << Errors[0];
    auto* table = Find<TListViewFrameTable>("TableView");
    ASSERT_TRUE(WaitFor([&] { return table->LineCount() == 3; }));
    pages->setCurrentWidget(signalsPage);
    auto* list = Find<QTreeWidget>("lvSignals");
    // EngineData's seven signals and at least Muxed's multiplexor and Common.
    ASSERT_TRUE(WaitFor([&] { return list->topLevelItemCount() >= 9; }));
    tcmtest::SaveScreenshot(w, "signals-page");
    QTest::mouseClick(port, Qt::LeftButton);
    QTest::qWait(100); // the table view takes in what the channel read before it closed
    pages->setCurrentIndex(0);
    pages->setCurrentWidget(signalsPage); // refreshed from the table as it stands now

    // Rows against the table lines' bytes: the simulator's frames carry a
    // counter in bytes 0..3 and its complement in bytes 4..7.
    const TFrameRowView* engine = nullptr;
    const TFrameRowView* muxed = nullptr;
    for (int i = 0; i < table->LineCount(); ++i) {
        const TFrameRowView& row = table->Line(i)->Row;
        engine = row.Id == 0x64 ? &row : engine;
        muxed = row.Id == 0x300 ? &row : muxed;
    }
    ASSERT_TRUE(engine && muxed);
    const char* pageSignals[4][2] = {{"Voltage", "Offset"}, {"Position", nullptr}, {"Current", "Heater"}, {}};
    const int page = muxed->Data[0];
    std::vector<std::string> expected = {"EngineData EngineSpeed", "EngineData CoolantTemp", "EngineData Torque",
                                         "EngineData Gear",        "EngineData BrakeOn",     "EngineData Throttle",
                                         "EngineData Status",      "Muxed Selector",         "Muxed Common"};
    for (const char* name : pageSignals[page < 3 ? page : 3])
        if (name)
            expected.push_back(std::string("Muxed ") + name);
    std::vector<std::string> shown;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        shown.push_back(list->topLevelItem(i)->text(0).toStdString() + " " +
                        list->topLevelItem(i)->text(1).toStdString());
    EXPECT_EQ(shown, expected);
    auto cell = [&](int row, int column) { return list->topLevelItem(row)->text(column).toStdString(); };
    const double speed = (engine->Data[0] | engine->Data[1] << 8) * 0.25;
    EXPECT_EQ(cell(0, 2), QString::number(speed, 'g', 15).toStdString());
    EXPECT_EQ(cell(0, 3), "rpm");
    const char* gears[8] = {"Park", "Reverse", "Neutral", "Drive", "Sport", "", "", ""};
    EXPECT_EQ(cell(3, 2), std::to_string(engine->Data[5] & 7));
    EXPECT_EQ(cell(3, 4), gears[engine->Data[5] & 7]);
    EXPECT_EQ(cell(7, 2), std::to_string(page));
    // Identifier and raw value; sorted by any column when its header is clicked, numbers as numbers.
    EXPECT_EQ(cell(0, 5), "064");
    EXPECT_EQ(cell(0, 6), std::to_string(engine->Data[0] | engine->Data[1] << 8));
    auto* header = list->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(6) + 5, header->height() / 2));
    for (int i = 1; i < list->topLevelItemCount(); ++i)
        EXPECT_LE(std::stoll(cell(i - 1, 6)), std::stoll(cell(i, 6))) << i;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
    for (int i = 1; i < list->topLevelItemCount(); ++i)
        EXPECT_LE(QString::fromStdString(cell(i - 1, 1)).localeAwareCompare(QString::fromStdString(cell(i, 1))), 0);
    // Names and units are shown whole.
    for (int c : {0, 1, 3})
        EXPECT_GE(list->columnWidth(c), list->header()->sectionSizeHint(c)) << c;
    list->sortByColumn(7, Qt::AscendingOrder); // the table's order again

    // The tool tip of a table line lists its message and signals.
    pages->setCurrentIndex(0);
    QTest::qWait(20);
    // The line of a frame the database lacks comes first: a tip once shown
    // takes a moment to hide.
    std::vector<int> lines(static_cast<size_t>(table->LineCount()));
    std::iota(lines.begin(), lines.end(), 0);
    std::stable_partition(lines.begin(), lines.end(), [&](int i) { return table->Line(i)->Row.Id == 0x123; });
    for (const int i : lines) {
        const QRect rect = table->visualItemRect(table->Line(i));
        QHelpEvent help(QEvent::ToolTip, rect.center(), table->viewport()->mapToGlobal(rect.center()));
        QApplication::sendEvent(table->viewport(), &help);
        const std::string tip = QToolTip::isVisible() ? QToolTip::text().toStdString() : std::string();
        if (table->Line(i)->Row.Id == 0x64) {
            EXPECT_EQ(tip.rfind("EngineData\nEngineSpeed = " + cell(0, 2) + " rpm\nCoolantTemp = ", 0), 0u) << tip;
        } else if (table->Line(i)->Row.Id == 0x123) {
            EXPECT_EQ(tip, ""); // not in the database
        }
    }

    // Unloading hides the page and forgets the file; loading a file with
    // unreadable lines reports them and uses the rest.
    auto* menu = w.Databases();
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(20, 5), table->viewport()->mapToGlobal(QPoint(20, 5)));
    QApplication::sendEvent(table->viewport(), &click);
    ASSERT_TRUE(WaitFor([&] { return menu->ContextMenu()->isVisible(); }));
    QStringList captions;
    for (QAction* action : menu->ContextMenu()->actions())
        captions << action->text() + (action->isEnabled() ? "" : " (disabled)");
    EXPECT_EQ(captions.join(", ").toStdString(), "Copy as candump, Plot bytes..., , Load database..., Unload database");
    menu->ContextMenu()->hide();
    menu->ContextMenu()->findChild<QAction*>("miUnloadDatabase")->trigger();
    EXPECT_FALSE(pages->isTabVisible(pages->indexOf(signalsPage)));
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_EQ(StoredFile(), "");
    menu->ChooseFile = [] { return QString::fromStdString(kDbcDir + "broken.dbc"); };
    menu->ContextMenu()->findChild<QAction*>("miLoadDatabase")->trigger();
    ASSERT_EQ(Infos.size(), 1u);
    EXPECT_NE(Infos[0].find("broken.dbc:12: expected the signal length"), std::string::npos) << Infos[0];
    EXPECT_TRUE(pages->isTabVisible(pages->indexOf(signalsPage)));
    EXPECT_EQ(StoredFile(), kDbcDir + "broken.dbc");
    menu->ChooseFile = [] { return QString::fromStdString(kDbcDir + "none.dbc"); };
    menu->ContextMenu()->findChild<QAction*>("miLoadDatabase")->trigger();
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_EQ(Errors[0], "The CAN database cannot be read: " + kDbcDir + "none.dbc");
    EXPECT_EQ(menu->FileName().toStdString(), kDbcDir + "broken.dbc"); // the loaded one stays
}

TEST_F(SignalsWindow, AMissingRememberedDatabaseIsReportedOnce)
{
    ASSERT_TRUE(WriteWholeFile(Ini(), "[Database]\nFile=" + Dir.File("gone.dbc") + "\n"));
    Open();
    EXPECT_EQ(Errors, std::vector<std::string>{"The CAN database " + Dir.File("gone.dbc") +
                                               " was not found; the monitor starts without it."});
    auto* pages = Find<QTabWidget>("pcData");
    EXPECT_FALSE(pages->isTabVisible(pages->indexOf(Find<QWidget>("tsSignals"))));
    // The name stays for the next start, which says it once again.
    EXPECT_EQ(StoredFile(), Dir.File("gone.dbc"));
    Window.reset();
    Errors.clear();
    Open();
    EXPECT_EQ(Errors.size(), 1u);
    EXPECT_EQ(StoredFile(), Dir.File("gone.dbc"));
}

TEST_F(SignalsWindow, TransmitItemComposedFromSignalsReachesTheBusAsCanmatrixEncodesIt)
{
    // A real-sized database: the vehicle file and 300 more messages.
    std::string dbc = ReadWholeFile(kDbcDir + "vehicle.dbc");
    ASSERT_FALSE(dbc.empty());
    for (int i = 0; i < 300; ++i) {
        const std::string name = "BODY_MODULE_" + std::to_string(i);
        dbc += "BO_ " + std::to_string(0x80000000u | (0x18FF0000u + static_cast<uint32_t>(i))) + " " + name +
               ": 8 BCM\n SG_ " + name + "_STATE : 0|8@1+ (1,0) [0|255] \"\" XXX\n SG_ " + name +
               "_LEVEL : 8|16@1+ (0.01,0) [0|655.35] \"%\" XXX\n";
    }
    const std::string file = Dir.File("vehicle-large.dbc");
    ASSERT_TRUE(WriteWholeFile(file, dbc));
    // canmatrix composes the frame while the window does.
    auto byCanmatrix = std::async(std::launch::async, [&] {
        return CanmatrixEncode(
            file, {{608, false, {"ENGINE_SPEED=2000.125", "GEAR=Drive", "AMBIENT_TEMP=-7.5", "FUEL_RATE=0.25"}}},
            "cp1252");
    });
    TSeeedSimulator sim(TSeeedSimOptions{});
    ASSERT_TRUE(sim.Start());
    ASSERT_TRUE(WriteWholeFile(Ini(), "[Seeed]\nPort=" + sim.PortPath() + "\n\n[Database]\nFile=" + file + "\n"));
    TfmMain& w = Open();
    ASSERT_TRUE(Errors.empty()) << Errors[0];
    TSendGridPanel& grid = *w.TransmitPanel();

    grid.RunDialog = [&](TfmSendFrame& dialog) {
        dialog.show();
        TSendFrameSignals* signalsPart = dialog.Signals;
        EXPECT_NE(signalsPart, nullptr);
        if (!signalsPart)
            return 0;
        // The fields keep their places; the part stands to their right and above the
        // buttons, everything inside the dialog and the dialog within the window.
        EXPECT_EQ(dialog.GroupBox1->geometry(), QRect(8, 100, 345, 122));
        const QRect part = signalsPart->geometry();
        EXPECT_GT(part.left(), dialog.GroupBox1->geometry().right());
        EXPECT_LT(part.bottom(), dialog.Panel1->geometry().top());
        for (const QWidget* shown : {static_cast<QWidget*>(signalsPart), static_cast<QWidget*>(dialog.btSave),
                                     static_cast<QWidget*>(dialog.btCancel)}) {
            EXPECT_TRUE(shown->isVisible());
            EXPECT_TRUE(dialog.rect().contains(QRect(shown->mapTo(&dialog, QPoint(0, 0)), shown->size())));
        }
        EXPECT_EQ(dialog.size().boundedTo(w.size()), dialog.size()) << "no larger than the window it is centred on";
        EXPECT_EQ(signalsPart->MessageBox()->count(), 310); // "(none)" and every message
        // Picking a message fills identifier and length; signals fill the bytes.
        signalsPart->ChooseMessage(signalsPart->MessageBox()->findText("ENGINE_DATA") - 1);
        EXPECT_EQ(dialog.edId->text().toStdString(), "260");
        EXPECT_EQ(dialog.cbLength->currentIndex(), 8);
        EXPECT_TRUE(signalsPart->SetSignal("ENGINE_SPEED", "2000.125"));
        EXPECT_TRUE(signalsPart->SetSignal("GEAR", "Drive"));
        EXPECT_TRUE(signalsPart->SetSignal("AMBIENT_TEMP", "-7.5"));
        EXPECT_EQ(dialog.DataEdits[0]->text().toStdString() + dialog.DataEdits[1]->text().toStdString(), "813E");
        // Refused values say why and leave the bytes alone.
        EXPECT_FALSE(signalsPart->SetSignal("THROTTLE", "500"));
        EXPECT_EQ(signalsPart->Status()->text().toStdString(), "THROTTLE: 500 % is outside its range 0..102.3 %");
        QCoreApplication::processEvents(); // the part's layout takes the new text
        EXPECT_LE(signalsPart->Status()->heightForWidth(signalsPart->Status()->width()),
                  signalsPart->Status()->height())
            << "the whole reason can be read";
        // The signals follow the data bytes: byte 4 holds FUEL_RATE's low six bits.
        dialog.DataEdits[4]->clear();
        QTest::keyClicks(dialog.DataEdits[4], "64");
        EXPECT_EQ(qobject_cast<QLineEdit*>(signalsPart->Editor("FUEL_RATE"))->text().toStdString(), "0.25");
        EXPECT_EQ(qobject_cast<QComboBox*>(signalsPart->Editor("GEAR"))->currentText().toStdString(), "Drive");
        EXPECT_EQ(signalsPart->Editor("GEAR")->accessibleName().toStdString(), "Value of GEAR");
        tcmtest::SaveScreenshot(dialog, "transmit-signals", 50);
        dialog.edCaption->setText("composed");
        QTest::mouseClick(dialog.btSave, Qt::LeftButton);
        return dialog.result();
    };
    QTest::mouseClick(grid.btAdd, Qt::LeftButton);
    ASSERT_EQ(w.CurrentList()->Count(), 1);
    EXPECT_EQ(w.CurrentList()->GetItem(0)->SaveToString(), "0;0;0;260;0;8;813E000064000503;composed;");

    QTest::mouseClick(w.ChannelPanel(0)->findChild<QPushButton*>("btPort"), Qt::LeftButton);
    ASSERT_TRUE(Errors.empty()) << Errors[0];
    const QRect cell = grid.sgSend->visualRect(grid.sgSend->model()->index(0, 1));
    QTest::mouseClick(grid.sgSend->viewport(), Qt::LeftButton, {}, cell.center());
    ASSERT_TRUE(WaitFor([&] { return sim.ReceivedFrames().size() == 2; })); // the probe and the item
    const TCanFrame sent = sim.ReceivedFrames()[1];
    char hex[17] = {};
    for (int i = 0; i < 8; ++i)
        std::snprintf(hex + 2 * i, 3, "%02X", sent.Data[i]);
    const auto theirs = byCanmatrix.get();
    EXPECT_EQ(sent.Id, 608u);
    EXPECT_EQ(std::vector<std::string>{hex}, theirs);

    // Without a database the dialog is the plain one.
    w.Databases()->Unload();
    grid.RunDialog = [&](TfmSendFrame& dialog) {
        dialog.show();
        EXPECT_EQ(dialog.Signals, nullptr);
        EXPECT_EQ(dialog.size(), QSize(TfmSendFrame::kClientWidth, TfmSendFrame::kClientHeight));
        return 0;
    };
    QTest::mouseClick(grid.btAdd, Qt::LeftButton);
}
