// The trace's find bar and the lines' tool tips, through the real window:
// keys as a user presses them, matches among the lines shown (a filter's
// lines only), new lines counted as they come, and a long search that shows
// its progress and can be cancelled.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "app/Main.h"
#include "app/TraceFindBar.h"
#include "platform/ProgramDir.h"
#include "support/TempDir.h"
#include "views/TarvenixTrace.h"
#include "views/TraceView.h"
#include "../adapter/GuiTestSupport.h"
#include "WindowTestFixture.h"

namespace {

class TraceFind : public TWindowTest {};

TCanFrame Frame(uint32_t id, std::initializer_list<uint8_t> data, int64_t timeUs)
{
    TCanFrame frame;
    frame.Id = id;
    frame.Standard = id <= 0x7FF;
    frame.Length = static_cast<int32_t>(data.size());
    std::copy(data.begin(), data.end(), frame.Data);
    frame.TimeUs = timeUs;
    frame.Time = static_cast<uint32_t>(timeUs / 1000);
    return frame;
}

} // namespace

TEST_F(TraceFind, FindsAmongTheLinesShownGoesRoundAndKeepsCounting)
{
    Window = std::make_unique<TfmMain>();
    TfmMain& w = *Window;
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w)); // shortcuts go to the active window
    w.findChild<QTabWidget*>("pcData")->setCurrentIndex(1);
    TTarvenixTraceList& trace = *w.CurrentTrace();
    trace.AddFrame(Frame(0x100, {0x01, 0x02}, 1000000), false);
    trace.AddFrame(Frame(0x18DAF110, {0xDE, 0xAD, 0xBE, 0xEF}, 1001000), false);
    trace.AddFrame(Frame(0x100, {0xAD, 0xBE}, 1002500), true);
    trace.AddFrame(Frame(0x101, {0x03}, 1003000), false);
    trace.AddFrame(Frame(0x100, {0x04, 0x05}, 1004000), false);
    w.UpdateTrace();
    auto* view = w.findChild<TTraceView*>("mTrace");
    auto* bar = w.findChild<TTraceFindBar*>("TraceFindBar");
    auto* find = w.findChild<QLineEdit*>("edTraceFind");
    auto* count = w.findChild<QLabel*>("lbTraceFindCount");
    ASSERT_TRUE(bar && find && count);
    for (QWidget* control : bar->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        EXPECT_FALSE(control->accessibleName().isEmpty()) << control->objectName().toStdString();
    EXPECT_FALSE(bar->isVisible());

    // Ctrl+F opens the bar ready to type; Enter, F3 and Shift+F3 move between matches, going round.
    QTest::keyClick(view, Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(bar->isVisible());
    EXPECT_TRUE(find->hasFocus());
    QTest::keyClicks(find, "ID: 100");
    QTest::keyClick(find, Qt::Key_Return);
    EXPECT_EQ(view->CursorLine(), 0);
    EXPECT_EQ(count->text().toStdString(), "1 of 3");
    QTest::keyClick(find, Qt::Key_F3);
    EXPECT_EQ(view->CursorLine(), 2);
    EXPECT_EQ(count->text().toStdString(), "2 of 3");
    QTest::keyClick(view, Qt::Key_F3);
    QTest::keyClick(view, Qt::Key_F3);
    EXPECT_EQ(view->CursorLine(), 0) << "round from the last match to the first";
    QTest::keyClick(find, Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(count->text().toStdString(), "3 of 3");
    EXPECT_FALSE(w.findChild<QCheckBox*>("cbTraceAutoscroll")->isChecked()) << "a match stays in sight";
    view->SelectLines(1, 1);
    EXPECT_EQ(count->text().toStdString(), "3 found");

    // Data bytes in a row, wherever they sit in the frame; not the text of a line.
    w.findChild<QCheckBox*>("cbTraceFindHex")->setChecked(true);
    find->setText("adbe");
    QTest::keyClick(find, Qt::Key_Return);
    EXPECT_EQ(count->text().toStdString(), "2 of 2") << "the next after line 1";
    find->setText("ad b");
    QTest::keyClick(find, Qt::Key_Return);
    EXPECT_NE(find->toolTip().indexOf("Not data bytes"), -1);
    EXPECT_FALSE(find->styleSheet().isEmpty());

    // With a filter, only the lines it leaves; lines that come later are counted as they come.
    find->setText("AD BE");
    w.findChild<QLineEdit*>("edTraceFilter")->setText("OUT");
    QTest::keyClick(find, Qt::Key_Return);
    EXPECT_EQ(count->text().toStdString(), "1 of 1");
    EXPECT_EQ(view->Lines().EntryOf(view->CursorLine()), 2);
    trace.AddFrame(Frame(0x200, {0x00, 0xAD, 0xBE}, 1005000), true);
    trace.AddFrame(Frame(0x200, {0xAD, 0xBE}, 1006000), false);
    w.UpdateTrace();
    EXPECT_EQ(count->text().toStdString(), "1 of 2");
    w.findChild<QLineEdit*>("edTraceFilter")->clear();
    QTest::keyClick(find, Qt::Key_Return);
    EXPECT_EQ(view->Lines().FoundCount(), 4) << "a new filter: the matches are looked for again";

    // A line's tool tip: the time since the previous frame of its identifier.
    EXPECT_EQ(view->Lines().GapText(4).toStdString(), "Time since the previous frame of identifier 100: 1.500 ms");
    EXPECT_EQ(view->Lines().GapText(1).toStdString(), "The first frame of identifier 18DAF110 in the trace");
    tcmtest::SaveScreenshot(w, "trace-find");

    // Esc closes the bar and forgets the matches.
    QTest::keyClick(find, Qt::Key_Escape);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_FALSE(view->Lines().HasFound());
}

TEST_F(TraceFind, ALongSearchShowsItsProgressAndCanBeCancelled)
{
    Window = std::make_unique<TfmMain>();
    TfmMain& w = *Window;
    w.show();
    w.findChild<QTabWidget*>("pcData")->setCurrentIndex(1);
    TTarvenixTraceList& trace = *w.CurrentTrace();
    const int entries = 1000000;
    for (int i = 0; i < entries; ++i)
        trace.AddFrame(Frame(0x100 + static_cast<uint32_t>(i % 50), {0x11, 0x22}, 1000000 + i), false);
    trace.AddFrame(Frame(0x7AB, {0x11, 0x22}, 3000000), false);
    w.UpdateTrace();
    auto* bar = w.findChild<TTraceFindBar*>("TraceFindBar");
    auto* view = w.findChild<TTraceView*>("mTrace");
    bar->ProgressDelayMs = 0;
    bar->Open();

    // Cancelled: no match is kept and the view stays where it was.
    tcmtest::TProgressCanceller cancel(w, 1);
    cancel.Start();
    w.findChild<QLineEdit*>("edTraceFind")->setText("id: 7AB");
    bar->FindNext(true);
    cancel.Stop();
    EXPECT_TRUE(cancel.Seen);
    EXPECT_FALSE(view->Lines().HasFound());

    // Let run, it finds the last line.
    bar->FindNext(true);
    EXPECT_EQ(view->CursorLine(), entries);
    EXPECT_EQ(bar->CountText().toStdString(), "1 of 1");
}
