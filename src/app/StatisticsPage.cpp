#include "app/StatisticsPage.h"

#include <algorithm>

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTableView>
#include <QVBoxLayout>

#include "app/LoadStrip.h"
#include "app/StatsTableModel.h"
#include "stats/StatsFigures.h"
#include "views/UiFonts.h"

namespace {

QString Percent(double value)
{
    return QString::number(value, 'f', 1) + " %";
}

// 1234567 -> "1,234,567"
QString Grouped(double value)
{
    QString digits = QString::number(static_cast<qint64>(value + 0.5));
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(at, ',');
    return digits;
}

QString Duration(double seconds)
{
    const auto whole = static_cast<qint64>(seconds);
    if (whole < 60)
        return QString::number(seconds, 'f', 1) + " s";
    return QString("%1:%2:%3")
        .arg(whole / 3600)
        .arg(whole / 60 % 60, 2, 10, QChar('0'))
        .arg(whole % 60, 2, 10, QChar('0'));
}

} // namespace

QString BusLoadText(const TChannelFigures& f)
{
    return QString("Bus load %1 % (peak %2 %)").arg(f.LoadPercent, 0, 'f', 1).arg(f.PeakPercent, 0, 'f', 1);
}

TStatisticsPage::TStatisticsPage(QWidget* parent) : QWidget(parent)
{
    setAccessibleName("Statistics");
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(4, 4, 4, 4);
    rows->setSpacing(4);

    // Where the figures come from, and on the same line whether anything was lost.
    auto* heading = new QHBoxLayout;
    lbSource = new QLabel("No run yet: open the channel or a recording.");
    lbSource->setObjectName("lbStatsSource");
    lbSource->setAccessibleName("Statistics of");
    heading->addWidget(lbSource, 1);
    lbProblems = new QLabel;
    lbProblems->setObjectName("lbStatsProblems");
    lbProblems->setAccessibleName("Frames lost");
    lbProblems->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    heading->addWidget(lbProblems);
    rows->addLayout(heading);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(18);
    grid->setVerticalSpacing(0);
    lbLoadNow = AddFigure(grid, 0, "Load now", "lbStatsLoadNow", "Bits on the bus in the last second / bit rate");
    lbPeak = AddFigure(grid, 1, "Peak (1 s)", "lbStatsPeak", "The busiest one-second window of the run");
    lbRunLoad = AddFigure(grid, 2, "Run load", "lbStatsRunLoad", "All bits of the run / (bit rate x run time)");
    lbFramesIn = AddFigure(grid, 3, "IN frames/s", "lbStatsFramesIn", "Frames received in the last second");
    lbFramesOut = AddFigure(grid, 4, "OUT frames/s", "lbStatsFramesOut", "Frames sent in the last second");
    grid->setColumnStretch(5, 1);
    rows->addLayout(grid);

    lbTotals = new QLabel;
    lbTotals->setObjectName("lbStatsTotals");
    lbTotals->setAccessibleName("Run totals");
    rows->addWidget(lbTotals);

    LoadStrip = new TLoadStrip;
    LoadStrip->setObjectName("LoadStrip");
    LoadStrip->setAccessibleName("Bus load over time");
    LoadStrip->setToolTip("Bus load per second");
    rows->addWidget(LoadStrip);

    Rows = new TStatsTableModel(this);
    tvStats = new QTableView;
    tvStats->setObjectName("tvStats");
    tvStats->setAccessibleName("Statistics per identifier");
    tvStats->setModel(Rows);
    tvStats->setFont(FixedPixelFont("Lucida Console", 11));
    tvStats->setSortingEnabled(true);
    tvStats->sortByColumn(TStatsTableModel::kColId, Qt::AscendingOrder);
    tvStats->setSelectionBehavior(QAbstractItemView::SelectRows);
    tvStats->setAlternatingRowColors(true);
    tvStats->setWordWrap(false);
    tvStats->verticalHeader()->setVisible(false);
    tvStats->verticalHeader()->setDefaultSectionSize(QFontMetrics(tvStats->font()).height() + 2);
    tvStats->horizontalHeader()->setStretchLastSection(true);
    tvStats->horizontalHeader()->setHighlightSections(false);
    // Each column as wide as its heading or its widest usual value, whichever is wider.
    const char* const widest[TStatsTableModel::kColumnCount] = {
        "1FFFFFFF", "ext remote", "OUT",      "9,999,999", "10000", "10000.00", "1000.000",
        "1000.000", "1000.000",   "1000.000", "15",        "160",   "100.00"};
    const QFontMetrics cells(tvStats->font());
    const QFontMetrics headings(tvStats->horizontalHeader()->font());
    for (int c = 0; c < TStatsTableModel::kColumnCount; ++c) {
        const QString title = Rows->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
        tvStats->setColumnWidth(c, std::max(cells.horizontalAdvance(widest[c]), headings.horizontalAdvance(title)) + 8);
    }
    rows->addWidget(tvStats, 1);
}

QLabel* TStatisticsPage::AddFigure(QGridLayout* grid, int column, const QString& caption, const QString& name,
                                   const QString& tip)
{
    auto* title = new QLabel(caption);
    QPalette muted = title->palette();
    muted.setColor(QPalette::WindowText, muted.color(QPalette::PlaceholderText));
    title->setPalette(muted);
    auto* value = new QLabel("-");
    value->setObjectName(name);
    value->setAccessibleName(caption);
    value->setToolTip(tip);
    title->setToolTip(tip);
    QFont big = value->font();
    big.setPixelSize(20);
    big.setBold(true);
    value->setFont(big);
    value->setMinimumWidth(QFontMetrics(big).horizontalAdvance("100,000") + 4);
    grid->addWidget(title, 0, column);
    grid->addWidget(value, 1, column);
    return value;
}

void TStatisticsPage::Show(const TStatsSnapshot& snapshot, const QString& what, int64_t startWallUs)
{
    const TChannelFigures f = ChannelFigures(snapshot);
    const TChannelCounters& c = snapshot.Channel;
    lbSource->setText(what);
    lbLoadNow->setText(Percent(f.LoadPercent));
    lbPeak->setText(Percent(f.PeakPercent));
    lbRunLoad->setText(Percent(f.RunLoadPercent));
    lbFramesIn->setText(Grouped(f.InFramesPerSecond));
    lbFramesOut->setText(Grouped(f.OutFramesPerSecond));
    lbTotals->setText(QString("%1 frames, %2 bits in %3; IN %4 bit/s, OUT %5 bit/s in the last second; %6 identifiers")
                          .arg(Grouped(static_cast<double>(f.Frames)), Grouped(static_cast<double>(f.Bits)),
                               Duration(f.Seconds), Grouped(f.InBitsPerSecond), Grouped(f.OutBitsPerSecond),
                               Grouped(static_cast<double>(snapshot.Ids.size()))));
    QString problems =
        QString("Dropped by the parser: %1 damaged packets, %2 bytes skipped; not taken by the adapter: %3")
            .arg(Grouped(static_cast<double>(c.ParserDamaged)), Grouped(static_cast<double>(c.ParserSkipped)),
                 Grouped(static_cast<double>(c.NotTaken)));
    if (c.Untracked > 0)
        problems += QString("; %1 frames of identifiers past the first %2 (in the totals only)")
                        .arg(Grouped(static_cast<double>(c.Untracked)))
                        .arg(TStatsAccumulator::kMaxIdentifiers);
    // Nothing lost is said in two words; a loss is said in full, in red.
    const bool lost = c.ParserDamaged + c.ParserSkipped + c.NotTaken + c.Untracked > 0;
    lbProblems->setText(lost ? problems : "Nothing dropped");
    lbProblems->setToolTip(problems);
    lbProblems->setStyleSheet(lost ? "color: #b00020;" : "");
    lbProblems->setWordWrap(lost);
    LoadStrip->SetProfile(snapshot.ProfileBits, snapshot.ProfileSlotUs, c.Rate, startWallUs, c.StopUs < 0);
    Rows->SetFigures(IdFigures(snapshot));
}
