#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QTest>

#include "views/TarvenixTrace.h"
#include "views/TraceView.h"

namespace {

struct TFilledView {
    TTarvenixTraceList Trace;
    TTraceView View;

    explicit TFilledView(int entries)
    {
        TCanFrame f;
        f.Standard = true;
        f.Length = 1;
        for (int i = 0; i < entries; ++i) {
            f.Id = static_cast<uint32_t>(i);
            f.Time = static_cast<uint32_t>(1000 + i);
            Trace.AddFrame(f, false);
        }
        View.resize(500, 200);
        View.Lines().SetTrace(&Trace);
        View.show();
    }
    void ShowAll()
    {
        View.Lines().AppendUpTo(Trace.Count());
        View.LinesChanged();
    }
};

} // namespace

TEST(TraceView, ShowsOneLinePerEntryAppendedUpToTheTotal)
{
    TFilledView v(25);
    EXPECT_EQ(v.View.Lines().LineCount(), 0);
    v.View.Lines().AppendUpTo(10);
    EXPECT_EQ(v.View.Lines().LineCount(), 10);
    v.View.Lines().AppendUpTo(5); // never shrinks
    EXPECT_EQ(v.View.Lines().LineCount(), 10);
    v.ShowAll();
    EXPECT_EQ(v.View.Lines().LineCount(), 25);
    EXPECT_EQ(v.View.Lines().LineText(24).toStdString(), v.Trace.Item(24)->FormatLine());
    EXPECT_EQ(v.View.Lines().LineText(25).toStdString(), "");
    v.View.Lines().ClearLines();
    EXPECT_EQ(v.View.Lines().LineCount(), 0);
}

TEST(TraceView, ScrollsByLinesAndKeepsTheBottomWhenAsked)
{
    TFilledView v(100000);
    v.ShowAll();
    EXPECT_EQ(v.View.FirstVisibleLine(), 0);
    v.View.ScrollToBottom();
    EXPECT_TRUE(v.View.IsAtBottom());
    EXPECT_GT(v.View.FirstVisibleLine(), 99000);
    v.View.ScrollToTop();
    EXPECT_EQ(v.View.FirstVisibleLine(), 0);
}

TEST(TraceView, SelectionWithMouseAndKeysIsCopiedLineByLine)
{
    TFilledView v(50);
    v.ShowAll();
    const int lineHeight = v.View.fontMetrics().height();
    QTest::mouseClick(v.View.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(20, lineHeight * 2 + 2));
    EXPECT_EQ(v.View.SelectionStart(), 2);
    QTest::mouseClick(v.View.viewport(), Qt::LeftButton, Qt::ShiftModifier, QPoint(20, lineHeight * 4 + 2));
    EXPECT_EQ(v.View.SelectionStart(), 2);
    EXPECT_EQ(v.View.SelectionEnd(), 4);
    QTest::keyClick(&v.View, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(v.View.SelectionEnd(), 5);
    QTest::keyClick(&v.View, Qt::Key_C, Qt::ControlModifier);
    const QStringList copied = QApplication::clipboard()->text().split('\n');
    ASSERT_EQ(copied.size(), 4);
    EXPECT_EQ(copied[0].toStdString(), v.Trace.Item(2)->FormatLine());
    EXPECT_EQ(copied[3].toStdString(), v.Trace.Item(5)->FormatLine());
    QTest::keyClick(&v.View, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(v.View.SelectionStart(), 0);
    EXPECT_EQ(v.View.SelectionEnd(), 49);
    // A click below the last line selects nothing new; clearing drops the selection.
    v.View.Lines().ClearLines();
    v.View.LinesChanged();
    EXPECT_EQ(v.View.SelectionStart(), -1);
    EXPECT_EQ(v.View.SelectedText().toStdString(), "");
}
