// The Plot page: signals chosen on the Signals page plotted from a recording
// opened into the window, the view's zoom, pan, pause and fit.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <cmath>

#include "app/DatabaseMenu.h"
#include "app/Main.h"
#include "app/PlotBytesDialog.h"
#include "app/PlotPage.h"
#include "app/PlotView.h"
#include "app/SignalsPage.h"
#include "app/TraceMenu.h"
#include "core/CanText.h"
#include "platform/ProgramDir.h"
#include "plot/CanmatrixCsv.h"
#include "views/ListViewFrameTable.h"
#include "views/TarvenixTrace.h"
#include "support/FastClock.h"
#include "support/TempDir.h"
#include "../adapter/GuiTestSupport.h"

namespace {

// 20 s of a vehicle: engine data every 10 ms (speed in a slow wave, the gear
// stepping up), the multiplexed diagnosis message every 20 ms on its pages.
std::string VehicleLog(int& cabinFrames)
{
    std::string log;
    cabinFrames = 0;
    for (int i = 0; i < 2000; ++i) {
        const int64_t us = int64_t{1700000000000000} + i * 10000;
        TCanFrame f;
        f.Standard = true;
        f.Length = 8;
        if (i % 2 == 0) {
            f.Id = 608;
            const auto speed = static_cast<uint16_t>((2500 + 1500 * std::sin(i / 300.0)) * 8);
            f.Data[0] = static_cast<uint8_t>(speed);
            f.Data[1] = static_cast<uint8_t>(speed >> 8);
            f.Data[7] = static_cast<uint8_t>(1 + i / 500);
        } else {
            f.Id = 1300;
            f.Data[0] = static_cast<uint8_t>((i / 2) % 3 == 0 ? 1 : 5); // Service: 1 selects SubFunction
            f.Data[1] = static_cast<uint8_t>((i / 6) % 6);              // SubFunction 0..3 select CabinTemp
            const auto temp = static_cast<uint16_t>(400 + 215 + 30 * std::sin(i / 150.0) * 10);
            f.Data[2] = static_cast<uint8_t>(temp);
            f.Data[3] = static_cast<uint8_t>(temp >> 8);
            cabinFrames += f.Data[0] == 1 && f.Data[1] <= 3 ? 1 : 0;
        }
        char stamp[40];
        std::snprintf(stamp, sizeof stamp, "(%lld.%06lld) can0 ", static_cast<long long>(us / 1000000),
                      static_cast<long long>(us % 1000000));
        log += stamp + FormatCompactFrame(f) + "\n";
    }
    return log;
}

} // namespace

TEST(PlotWindow, SignalsOfARecordingPlottedZoomedAndPanned)
{
    const tcmtest::TScopedFastClock clock;
    TempDir dir;
    tcm::SetProgramDirOverride(dir.Path());
    {
        TfmMain w;
        std::vector<std::string> errors;
        w.ErrorBox = [&](const QString& t) { errors.push_back(t.toStdString()); };
        w.QuestionBox = [](const QString&) { return true; };
        w.InfoBox = [](const QString&) {}; // the database's unreadable lines
        w.resize(1100, 760);
        w.show();

        auto* pages = w.findChild<QTabWidget*>("pcData");
        auto* plot = w.findChild<TPlotPage*>("tsPlot");
        ASSERT_TRUE(plot);
        EXPECT_EQ(pages->indexOf(plot), 5);
        EXPECT_EQ(pages->tabText(5), "Plot");
        EXPECT_EQ(pages->tabText(4), "Statistics");
        EXPECT_FALSE(pages->isTabVisible(2));
        for (const char* name : {"pvPlot", "btPlotPause", "btPlotFit", "lbPlotStatus"})
            EXPECT_FALSE(plot->findChild<QWidget*>(name)->accessibleName().isEmpty()) << name;

        int cabinFrames = 0;
        ASSERT_TRUE(WriteWholeFile(dir.File("vehicle.log"), VehicleLog(cabinFrames)));
        auto* menu = w.findChild<TTraceMenu*>("TraceMenu");
        menu->AskFileName = [&](TTraceMenu::TFileAsk) { return QString::fromStdString(dir.File("vehicle.log")); };
        menu->OpenRecording();
        ASSERT_TRUE(w.Databases()->Load(TCM_DBC_TEST_DIR "/data/vehicle.dbc"));
        ASSERT_TRUE(errors.empty()) << errors[0];

        // "Plot" on the Signals page's menu plots the selected signals, in the list's order.
        auto* signalsPage = w.findChild<TSignalsPage*>("tsSignals");
        pages->setCurrentWidget(signalsPage);
        signalsPage->Refresh();
        QTreeWidget* list = signalsPage->List();
        for (const char* name : {"ENGINE_SPEED", "GEAR", "CabinTemp"}) {
            const auto found = list->findItems(name, Qt::MatchExactly, TSignalsPage::kColSignal);
            ASSERT_EQ(found.size(), 1) << name;
            found[0]->setSelected(true);
        }
        signalsPage->findChild<QAction*>("actPlot")->trigger();
        EXPECT_EQ(pages->currentWidget(), plot);
        const TPlotFeed& feed = plot->Feed();
        ASSERT_EQ(feed.Count(), 3u);
        EXPECT_EQ(feed.Source(0).Name(), "ENGINE_DATA.ENGINE_SPEED");
        EXPECT_EQ(feed.Source(2).Name(), "DIAG_RESPONSE.CabinTemp");
        ASSERT_TRUE(tcmtest::WaitFor([&] { return feed.Samples(2).Count() == cabinFrames; }));
        EXPECT_EQ(feed.Samples(0).Count(), 1000);
        EXPECT_EQ(feed.Samples(1).Count(), 1000);
        // The recording's own times; gear 4 from 15 s on.
        EXPECT_EQ(feed.Samples(1).Sample(0).TimeUs, 1700000000000000);
        EXPECT_EQ(feed.Samples(1).Sample(feed.Samples(1).LowerBound(1700000015000000)).Value, 4);

        // Fit shows the whole recording; the wheel zooms in around the mouse;
        // a drag pans and pauses; "Resume" follows again.
        TPlotView* view = plot->View();
        auto* pause = plot->findChild<QPushButton*>("btPlotPause");
        plot->findChild<QPushButton*>("btPlotFit")->click();
        EXPECT_LE(view->FromUs(), 1700000000000000);
        EXPECT_GE(view->ToUs(), 1700000019990000);
        EXPECT_LT(view->ToUs() - view->FromUs(), 21'000'000);
        pause->click();
        EXPECT_FALSE(view->Following());
        const int64_t before = view->ToUs() - view->FromUs();
        QWheelEvent wheel(QPointF(view->width() / 2, 50), view->mapToGlobal(QPointF(view->width() / 2, 50)), QPoint(),
                          QPoint(0, 360), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view, &wheel);
        EXPECT_NEAR(static_cast<double>(view->ToUs() - view->FromUs()), before * 0.512, before * 0.01);
        pause->click();
        EXPECT_TRUE(view->Following());
        const int64_t from = view->FromUs();
        QTest::mousePress(view, Qt::LeftButton, {}, QPoint(400, 60));
        QTest::mouseMove(view, QPoint(500, 60));
        QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(500, 60));
        EXPECT_FALSE(view->Following());
        EXPECT_EQ(pause->text(), "Resume");
        EXPECT_LT(view->FromUs(), from);

        // The cursor shows the values under it; the picture is drawn from the samples.
        plot->findChild<QPushButton*>("btPlotFit")->click();
        view->SetCursorX(view->width() / 2);
        const QImage picture = view->grab().toImage();
        EXPECT_LT(view->LastPaintMs(), 1000.0);
        int coloured = 0;
        for (int y = 0; y < picture.height(); y += 2)
            for (int x = 0; x < picture.width(); x += 2)
                coloured += QColor(picture.pixel(x, y)).saturation() > 100 ? 1 : 0;
        EXPECT_GT(coloured, 500);
        if (const char* shots = std::getenv("TCM_SCREENSHOT_DIR"))
            w.grab().save(QString(shots) + "/plot-recording.png");

        // The samples shown, as CSV, hold canmatrix's values of the recording.
        plot->findChild<QPushButton*>("btPlotFit")->click();
        QString problem;
        ASSERT_TRUE(plot->SaveVisibleCsv(QString::fromStdString(dir.File("plot.csv")), problem))
            << problem.toStdString();
        const auto rows = Lines(ReadWholeFile(dir.File("plot.csv")));
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows[0], "time,ENGINE_DATA.ENGINE_SPEED,ENGINE_DATA.GEAR,DIAG_RESPONSE.CabinTemp");
        ExpectCanmatrixRows(rows, CanmatrixCsvRows(TCM_DBC_TEST_DIR "/data/vehicle.dbc", dir.File("vehicle.log"),
                                                   "ENGINE_SPEED,GEAR,CabinTemp"));
        ASSERT_TRUE(plot->SavePicture(QString::fromStdString(dir.File("plot.png")), problem));
        EXPECT_EQ(QImage(QString::fromStdString(dir.File("plot.png"))).size(), view->size());

        // "Plot bytes..." on the receive table's menu: a signed Motorola range
        // of the diagnosis message's bytes 2 and 3, chosen in its dialog.
        w.AskPlotBytes = [](uint32_t id, bool extended) {
            TPlotBytesDialog dialog(id, extended);
            EXPECT_EQ(dialog.findChild<QLabel*>("lbPlotBytesFrame")->text(), "<b>Plot bytes of 514</b>");
            dialog.rbBits->setChecked(true);
            dialog.seStartBit->setValue(23);
            dialog.seLength->setValue(12);
            dialog.cbByteOrder->setCurrentIndex(1);
            dialog.chSigned->setChecked(true);
            return dialog.Source();
        };
        auto* table = w.findChild<TListViewFrameTable*>("TableView");
        ASSERT_TRUE(table);
        pages->setCurrentIndex(0);
        int row = 0;
        while (row < table->LineCount() && table->Line(row)->Row.Id != 1300)
            ++row;
        ASSERT_LT(row, table->LineCount());
        const QPoint at = table->visualItemRect(table->Line(row)).center();
        emit table->customContextMenuRequested(at);
        QAction* plotBytes = w.Databases()->ContextMenu()->findChild<QAction*>("miPlotBytes");
        ASSERT_TRUE(plotBytes);
        plotBytes->trigger();
        w.Databases()->ContextMenu()->close();
        ASSERT_EQ(feed.Count(), 4u);
        EXPECT_EQ(feed.Source(3).Name(), "0x514 bits 23|12@0-");
        EXPECT_EQ(pages->currentWidget(), plot);
        ASSERT_TRUE(tcmtest::WaitFor([&] { return feed.Samples(3).Count() == 1000; }));
        for (int64_t i = 0; i < 1000; i += 97) {
            const TTarvenixTraceItem* item = w.CurrentTrace()->Item(2 * i + 1);
            const int bits = ((item->Data[2] << 4) | (item->Data[3] >> 4)) & 0xFFF;
            EXPECT_EQ(feed.Samples(3).Sample(i).Value, bits >= 2048 ? bits - 4096 : bits) << i;
        }
        if (const char* shots = std::getenv("TCM_SCREENSHOT_DIR")) {
            plot->findChild<QPushButton*>("btPlotFit")->click();
            view->SetRange(1700000004000000, 1700000006000000);
            view->SetCursorX(view->width() * 2 / 3);
            w.grab().save(QString(shots) + "/plot-raw-bytes.png");
        }

        // Clearing the trace empties the series; they stay plotted.
        w.ClearTrace();
        EXPECT_EQ(feed.Count(), 4u);
        EXPECT_EQ(feed.Samples(0).Count(), 0);
        plot->Remove(0);
        plot->View()->Looks()[2].InLegend = false;
        std::string unused;
        plot->Add(*TPlotSource::RawField(0x7FF, false, 0, 8, TDbcByteOrder::Intel, false, unused));
    }
    // The next start plots the same, with the same database.
    {
        TfmMain w;
        w.InfoBox = [](const QString&) {};
        const TPlotFeed& feed = w.findChild<TPlotPage*>("tsPlot")->Feed();
        ASSERT_EQ(feed.Count(), 4u);
        const char* names[] = {"ENGINE_DATA.GEAR", "DIAG_RESPONSE.CabinTemp", "0x514 bits 23|12@0-", "0x7FF byte 0"};
        for (size_t i = 0; i < 4; ++i)
            EXPECT_EQ(feed.Source(i).Name(), names[i]);
        EXPECT_FALSE(w.findChild<TPlotPage*>("tsPlot")->View()->Looks()[2].InLegend);
    }
    tcm::SetProgramDirOverride("");
}
