#pragma once
#include <QString>
#include <QWidget>

#include "stats/StatsFigures.h"

class QLabel;
class QTableView;
class TLoadStrip;
class TStatsTableModel;

// The "Statistics" page: the channel's load now and its peak, frames and bits
// per second in and out, a load-over-time strip, and a sortable table of every
// identifier and kind with its rate, period, jitter and share of the bus.
class TStatisticsPage : public QWidget {
    Q_OBJECT
public:
    explicit TStatisticsPage(QWidget* parent = nullptr);

    // Shows `snapshot`. `what` says whose figures they are ("Channel #1 at
    // 500 kbit/s"); `startWallUs` is a recording's first time (0 for a live run).
    void Show(const TStatsSnapshot& snapshot, const QString& what, int64_t startWallUs);

    TStatsTableModel* Model() const { return Rows; }
    QTableView* Table() const { return tvStats; }
    TLoadStrip* Strip() const { return LoadStrip; }

private:
    QLabel* AddFigure(class QGridLayout* grid, int column, const QString& caption, const QString& name,
                      const QString& tip);

    QLabel* lbSource = nullptr;
    QLabel* lbLoadNow = nullptr;
    QLabel* lbPeak = nullptr;
    QLabel* lbRunLoad = nullptr;
    QLabel* lbFramesIn = nullptr;
    QLabel* lbFramesOut = nullptr;
    QLabel* lbTotals = nullptr;
    QLabel* lbProblems = nullptr;
    TLoadStrip* LoadStrip = nullptr;
    TStatsTableModel* Rows = nullptr;
    QTableView* tvStats = nullptr;
};

// "Bus load 37.2 % (peak 51.3 %)": the one-line figure beside the pages.
QString BusLoadText(const TChannelFigures& figures);
