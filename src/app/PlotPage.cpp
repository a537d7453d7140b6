#include "app/PlotPage.h"

#include <QColorDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app/PlotView.h"
#include "platform/OutputFile.h"
#include "plot/PlotCsv.h"
#include "record/RecordIo.h"
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
    AskSaveName = [this](const QString& title, const QString& filter) {
        return QFileDialog::getSaveFileName(this, title, QString(), filter);
    };
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
    if (OnChanged)
        OnChanged();
}

std::vector<TPlotPage::TSaved> TPlotPage::Saved() const
{
    std::vector<TSaved> out;
    for (size_t i = 0; i < Series->Count(); ++i)
        out.push_back({Series->Source(i).Key(), pvPlot->Looks()[i].Colour, pvPlot->Looks()[i].InLegend});
    return out;
}

void TPlotPage::Restore(const std::vector<TSaved>& saved, const TDbcDatabase* db)
{
    const std::function<void()> changed = std::move(OnChanged);
    OnChanged = nullptr; // nothing new to save while the saved list comes back
    for (const TSaved& s : saved) {
        std::optional<TPlotSource> source = TPlotSource::FromKey(s.Key, db);
        if (!source)
            continue;
        const size_t before = Series->Count();
        Add(std::move(*source));
        if (Series->Count() > before) {
            if (s.Colour.isValid())
                pvPlot->Looks().back().Colour = s.Colour;
            pvPlot->Looks().back().InLegend = s.InLegend;
        }
    }
    OnChanged = changed;
}

void TPlotPage::Remove(size_t index)
{
    if (index >= Series->Count())
        return;
    Series->Remove(index);
    pvPlot->Looks().erase(pvPlot->Looks().begin() + static_cast<std::ptrdiff_t>(index));
    UpdateStatus();
    pvPlot->update();
    if (OnChanged)
        OnChanged();
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
    if (isVisible()) {
        if (fed > 0)
            pvPlot->update();
        UpdateStatus(); // also after samples that came while the page was hidden
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
                if (OnChanged)
                    OnChanged();
            }
        });
        QAction* legend = menu.addAction("Show in legend", this, [this, index](bool shown) {
            pvPlot->Looks()[index].InLegend = shown;
            pvPlot->update();
            if (OnChanged)
                OnChanged();
        });
        legend->setCheckable(true);
        legend->setChecked(pvPlot->Looks()[index].InLegend);
        menu.addSeparator();
    }
    menu.addAction("Fit", pvPlot, &TPlotView::Fit);
    menu.addSeparator();
    // Saving works on what is shown: a name typed without an extension gets the type's.
    auto save = [this](const QString& title, const QString& filter, const QString& extension, auto write) {
        QString path = AskSaveName ? AskSaveName(title, filter) : QString();
        if (path.isEmpty())
            return;
        if (QFileInfo(path).suffix().isEmpty())
            path += extension;
        QString error;
        if (!(this->*write)(path, error) && ShowError)
            ShowError(error);
    };
    menu.addAction("Save picture as PNG...", this,
                   [save] { save("Save plot picture", "PNG picture (*.png)", ".png", &TPlotPage::SavePicture); });
    menu.addAction("Save visible samples as CSV...", this,
                   [save] { save("Save plotted samples", "CSV file (*.csv)", ".csv", &TPlotPage::SaveVisibleCsv); });
    menu.exec(at);
}

bool TPlotPage::SavePicture(const QString& path, QString& error) const
{
    if (pvPlot->grab().save(path, "PNG"))
        return true;
    error = "The picture could not be written to " + path;
    return false;
}

bool TPlotPage::SaveVisibleCsv(const QString& path, QString& error) const
{
    tcm::TOutputFile file;
    std::string problem;
    if (!file.OpenReplacing(path.toStdString(), problem)) {
        error = QString::fromStdString(problem);
        return false;
    }
    try {
        tcm::recording::TFdOutput out(file.Fd(), path.toStdString());
        WritePlotCsv(*Series, pvPlot->FromUs(), pvPlot->ToUs(), OriginUs, out);
    } catch (const std::exception& e) {
        file.Discard();
        error = QString::fromStdString(e.what());
        return false;
    }
    if (!file.Close(problem)) {
        error = QString::fromStdString(problem);
        return false;
    }
    return true;
}
