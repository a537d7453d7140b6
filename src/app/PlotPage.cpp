#include "app/PlotPage.h"

#include <QColorDialog>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app/PlotView.h"
#include "views/TarvenixTrace.h"

namespace {

// Colours that stay apart on white and from each other.
const QColor kPalette[] = {QColor(0x1F, 0x77, 0xB4), QColor(0xD6, 0x27, 0x28), QColor(0x2C, 0xA0, 0x2C),
                           QColor(0xFF, 0x7F, 0x0E), QColor(0x94, 0x67, 0xBD), QColor(0x8C, 0x56, 0x4B),
                           QColor(0xE3, 0x77, 0xC2), QColor(0x17, 0xBE, 0xCF), QColor(0x7F, 0x7F, 0x7F),
                           QColor(0xBC, 0xBD, 0x22)};

// How often the page takes new frames and scrolls, and how long one take may last.
constexpr int kPollMs = 50;
constexpr qint64 kFeedBudgetNs = 25'000'000;

} // namespace

TPlotPage::TPlotPage(QWidget* parent) : QWidget(parent), Series(std::make_unique<TPlotFeed>())
{
    auto* fill = new QVBoxLayout(this);
    fill->setContentsMargins(2, 2, 2, 2);
    auto* strip = new QHBoxLayout;
    btPause = new QPushButton("Pause");
    btPause->setObjectName("btPlotPause");
    btPause->setAccessibleName("Pause plot scrolling");
    btPause->setCheckable(true);
    btPause->setToolTip("Stops the scrolling; samples keep coming and are there when it goes on");
    auto* btFit = new QPushButton("Fit");
    btFit->setObjectName("btPlotFit");
    btFit->setAccessibleName("Fit plot");
    btFit->setToolTip("Shows every sample: the whole time range, each value scale to its values");
    lbPlotStatus = new QLabel;
    lbPlotStatus->setObjectName("lbPlotStatus");
    lbPlotStatus->setAccessibleName("Plot status");
    strip->addWidget(btPause);
    strip->addWidget(btFit);
    strip->addSpacing(12);
    strip->addWidget(lbPlotStatus, 1);
    fill->addLayout(strip);
    pvPlot = new TPlotView(*Series);
    pvPlot->setObjectName("pvPlot");
    pvPlot->setAccessibleName("Plot");
    fill->addWidget(pvPlot, 1);

    connect(btPause, &QPushButton::toggled, this, [this](bool paused) { pvPlot->SetFollow(!paused); });
    connect(pvPlot, &TPlotView::FollowChanged, this, [this](bool following) {
        btPause->setChecked(!following);
        btPause->setText(following ? "Pause" : "Resume");
    });
    connect(btFit, &QPushButton::clicked, pvPlot, &TPlotView::Fit);
    connect(pvPlot, &TPlotView::ContextMenuAt, this, &TPlotPage::ShowMenu);
    tmPlot = new QTimer(this);
    connect(tmPlot, &QTimer::timeout, this, &TPlotPage::Poll);
    tmPlot->start(kPollMs);
    UpdateStatus();
}

void TPlotPage::Add(TPlotSource source)
{
    for (size_t i = 0; i < Series->Count(); ++i)
        if (Series->Source(i).Name() == source.Name())
            return;
    Series->Add(std::move(source));
    pvPlot->Looks().push_back({kPalette[Colours++ % std::size(kPalette)], true});
    TraceReset(); // the new series needs the capture from its start
}

void TPlotPage::Remove(size_t index)
{
    if (index >= Series->Count())
        return;
    Series->Remove(index);
    pvPlot->Looks().erase(pvPlot->Looks().begin() + static_cast<std::ptrdiff_t>(index));
    UpdateStatus();
    pvPlot->update();
}

void TPlotPage::TraceReset()
{
    Series->ClearSamples();
    Next = 0;
    HaveOrigin = false;
    FedTrace = nullptr;
    Poll();
    pvPlot->update();
}

void TPlotPage::Poll()
{
    TTarvenixTraceList* trace = CurrentTrace ? CurrentTrace() : nullptr;
    if (trace != FedTrace || (trace && trace->Count() < Next)) {
        Series->ClearSamples();
        Next = 0;
        HaveOrigin = false;
        FedTrace = trace;
    }
    if (!trace || Series->Count() == 0) {
        UpdateStatus();
        return;
    }
    QElapsedTimer timer;
    timer.start();
    int64_t fed = 0;
    while (Next < trace->Count() && timer.nsecsElapsed() < kFeedBudgetNs)
        fed += Series->FeedFrom(*trace, Next, 20000);
    if (!HaveOrigin && trace->Count() > 0) {
        if (const TTarvenixTraceItem* first = trace->Item(0)) {
            OriginUs = trace->WallTimeUs(*first);
            HaveOrigin = true;
            pvPlot->SetRange(OriginUs, OriginUs + 10'000'000);
        }
    }
    if (fed > 0 && Next > 0)
        if (const TTarvenixTraceItem* newest = trace->Item(Next - 1))
            NewestUs = trace->WallTimeUs(*newest);
    pvPlot->SetTimes(OriginUs, NewestUs);
    if (fed > 0 && isVisible()) {
        pvPlot->update();
        UpdateStatus();
    }
}

void TPlotPage::UpdateStatus()
{
    int64_t samples = 0;
    for (size_t i = 0; i < Series->Count(); ++i)
        samples += Series->Samples(i).Count();
    QString text =
        Series->Count() == 0 ? QString() : QString("%1 series, %2 samples").arg(Series->Count()).arg(samples);
    const std::string problem = Series->StorageProblem();
    if (!problem.empty())
        text += "  " + QString::fromStdString(problem);
    if (lbPlotStatus->text() != text)
        lbPlotStatus->setText(text);
}

void TPlotPage::ShowMenu(int lane, QPoint at)
{
    QMenu menu(this);
    menu.setAccessibleName("Plot menu");
    if (lane >= 0 && static_cast<size_t>(lane) < Series->Count()) {
        const size_t index = static_cast<size_t>(lane);
        const QString name = QString::fromStdString(DbcPrintable(Series->Source(index).Name()));
        menu.addAction("Remove " + name, this, [this, index] { Remove(index); });
        menu.addAction("Colour of " + name + "...", this, [this, index] {
            const QColor chosen = QColorDialog::getColor(pvPlot->Looks()[index].Colour, this, "Plot colour");
            if (chosen.isValid()) {
                pvPlot->Looks()[index].Colour = chosen;
                pvPlot->update();
            }
        });
        QAction* legend = menu.addAction("Show in legend", this, [this, index](bool shown) {
            pvPlot->Looks()[index].InLegend = shown;
            pvPlot->update();
        });
        legend->setCheckable(true);
        legend->setChecked(pvPlot->Looks()[index].InLegend);
        menu.addSeparator();
    }
    menu.addAction("Fit", pvPlot, &TPlotView::Fit);
    menu.exec(at);
}
