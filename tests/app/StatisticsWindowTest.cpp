// The Statistics page and the bus load line: a live channel against the
// in-process simulated adapter, then a recording opened while it is closed.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include "SeeedSimulator.h"
#include "app/LoadStrip.h"
#include "app/Main.h"
#include "app/StatisticsPage.h"
#include "app/StatsTableModel.h"
#include "app/TraceMenu.h"
#include "core/CanSettings.h"
#include "core/CanText.h"
#include "adapter/AdapterCustom.h"
#include "platform/ProgramDir.h"
#include "stats/FrameBits.h"
#include "support/FastClock.h"
#include "support/TempDir.h"
#include "../adapter/GuiTestSupport.h"
#include "WindowTestFixture.h"

namespace {

class StatisticsWindow : public TWindowTest {};

QString Text(const TStatsTableModel& model, int row, int column)
{
    return model.data(model.index(row, column), Qt::DisplayRole).toString();
}

} // namespace

TEST_F(StatisticsWindow, LiveFiguresSortingAndARecordingsOwnTimes)
{
    TSeeedSimOptions traffic;
    traffic.FramesPerSecond = 3000;
    traffic.IdCount = 6;
    TSeeedSimulator sim(traffic);
    ASSERT_TRUE(sim.Start());
    Window = std::make_unique<TfmMain>();
    TfmMain& w = *Window;
    std::vector<std::string> errors;
    w.ErrorBox = [&](const QString& t) { errors.push_back(t.toStdString()); };
    w.QuestionBox = [](const QString&) { return true; };
    w.show();

    // The described pages keep their places; "Statistics" follows "Signals".
    auto* pages = w.findChild<QTabWidget*>("pcData");
    auto* page = w.findChild<TStatisticsPage*>("tsStatistics");
    ASSERT_TRUE(page);
    const char* titles[] = {"Table", "Trace", "Log", "Signals", "Statistics"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(pages->tabText(i).toStdString(), titles[i]);
    EXPECT_EQ(pages->indexOf(page), 4);
    EXPECT_FALSE(pages->isTabVisible(2));
    EXPECT_TRUE(pages->isTabVisible(4));
    auto* busLoad = w.findChild<QLabel*>("lbBusLoad");
    ASSERT_TRUE(busLoad);
    EXPECT_FALSE(busLoad->accessibleName().isEmpty());
    EXPECT_TRUE(busLoad->text().isEmpty()); // no run yet

    w.findChild<QComboBox*>("cbComPort")->setEditText(sim.PortPath().c_str());
    w.OpenChannel(0);
    ASSERT_TRUE(w.IsChannelOpen(0)) << (errors.empty() ? "" : errors[0]);
    pages->setCurrentWidget(page);
    TStatsTableModel& model = *page->Model();
    const QRegularExpression loadLine(R"(^Bus load \d+\.\d % \(peak \d+\.\d %\)$)");
    // The status line is shown on every page, whatever page is open.
    ASSERT_TRUE(tcmtest::WaitFor([&] { return model.rowCount() == 6 && loadLine.match(busLoad->text()).hasMatch(); }))
        << model.rowCount() << " " << busLoad->text().toStdString();
    for (int r = 0; r < 6; ++r) {
        EXPECT_EQ(Text(model, r, TStatsTableModel::kColId), QString::number(0x100 + r, 16));
        EXPECT_EQ(Text(model, r, TStatsTableModel::kColKind), "std data");
        EXPECT_EQ(Text(model, r, TStatsTableModel::kColDirection), "IN");
    }

    // A click on "Count" sorts by it, a second click the other way; the order
    // holds through the refreshes that follow.
    QHeaderView* header = page->Table()->horizontalHeader();
    const QPoint countHeader(header->sectionViewportPosition(TStatsTableModel::kColCount) + 5, 5);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, countHeader);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, countHeader);
    QTest::qWait(250);
    const Qt::SortOrder order = header->sortIndicatorOrder();
    for (int r = 1; r < model.rowCount(); ++r) {
        const auto a = model.Figures()[static_cast<size_t>(r - 1)].Count;
        const auto b = model.Figures()[static_cast<size_t>(r)].Count;
        EXPECT_TRUE(order == Qt::AscendingOrder ? a <= b : a >= b) << r;
    }
    w.CloseChannel(0, false);

    // A recording: 0x100 every 10 ms for 3 s, and a burst of 0x200 in 100 ms
    // at 1.5 s. Its figures come from its own times, at the channel's rate.
    std::string log;
    std::vector<std::pair<int64_t, TCanFrame>> frames;
    for (int i = 0; i < 300; ++i)
        frames.emplace_back(int64_t{1700000000000000} + i * 10000, *ParseCompactFrame("100#0102030405060708"));
    for (int i = 0; i < 200; ++i)
        frames.emplace_back(int64_t{1700000001500000} + i * 500 + 1, *ParseCompactFrame("200#55"));
    std::sort(frames.begin(), frames.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [t, f] : frames) {
        char stamp[40];
        std::snprintf(stamp, sizeof stamp, "(%lld.%06lld) can0 ", static_cast<long long>(t / 1000000),
                      static_cast<long long>(t % 1000000));
        log += stamp + FormatCompactFrame(f) + "\n";
    }
    ASSERT_TRUE(WriteWholeFile(Dir.File("bus.log"), log));
    auto* menu = w.findChild<TTraceMenu*>("TraceMenu");
    menu->AskFileName = [&](TTraceMenu::TFileAsk) { return QString::fromStdString(Dir.File("bus.log")); };
    menu->OpenRecording();
    ASSERT_TRUE(errors.empty()) << errors[0];
    auto* source = page->findChild<QLabel*>("lbStatsSource");
    ASSERT_TRUE(tcmtest::WaitFor([&] { return source->text().contains("bus.log"); }, 10000));
    ASSERT_EQ(model.rowCount(), 2);
    page->Model()->sort(TStatsTableModel::kColId, Qt::AscendingOrder);
    EXPECT_EQ(Text(model, 0, TStatsTableModel::kColId), "100");
    EXPECT_EQ(Text(model, 0, TStatsTableModel::kColCount), "300");
    EXPECT_EQ(Text(model, 0, TStatsTableModel::kColPeriod), "10.000");
    EXPECT_EQ(Text(model, 0, TStatsTableModel::kColJitter), "0.000");
    EXPECT_EQ(Text(model, 1, TStatsTableModel::kColPeriod), "0.500");
    EXPECT_EQ(page->Strip()->Loads().size(), 3u);
    EXPECT_NE(page->Strip()->TextAt(0).indexOf("2023-11-1"), -1) << page->Strip()->TextAt(0).toStdString();

    // The peak is the second with the burst, by brute force over the frames.
    const int32_t rate = w.Adapter()->GetSettings(0)->Rate;
    uint64_t peak = 0;
    for (size_t end = 0; end < frames.size(); ++end) {
        uint64_t bits = 0;
        for (size_t i = 0; i <= end; ++i)
            if (frames[i].first > frames[end].first - 1000000)
                bits += static_cast<uint64_t>(CanFrameBits(frames[i].second));
        peak = std::max(peak, bits);
    }
    const QString peakText = QString("(peak %1 %)").arg(static_cast<double>(peak) * 100.0 / rate, 0, 'f', 1);
    EXPECT_TRUE(busLoad->text().endsWith(peakText)) << busLoad->text().toStdString() << " " << peakText.toStdString();

    // Clearing the trace lets the recording go: the last run is shown again.
    w.ClearTrace();
    EXPECT_TRUE(tcmtest::WaitFor([&] { return source->text().contains("last run"); }, 10000))
        << source->text().toStdString();
    EXPECT_EQ(model.rowCount(), 6);
}
