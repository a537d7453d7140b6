#pragma once
#include <vector>

#include <QAbstractTableModel>

#include "stats/StatsFigures.h"

// The Statistics page's table: one row per identifier and kind with its
// figures, sorted by the column the user clicked. Each refresh replaces the
// figures and repaints the rows in view; the sort order is kept.
class TStatsTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum TColumn {
        kColId,
        kColKind,
        kColDirection,
        kColCount,
        kColRate,
        kColRunRate,
        kColPeriod,
        kColMin,
        kColMax,
        kColJitter,
        kColLength,
        kColBits,
        kColShare,
        kColumnCount
    };

    using QAbstractTableModel::QAbstractTableModel;

    void SetFigures(std::vector<TIdFigures> figures);
    const std::vector<TIdFigures>& Figures() const { return Rows; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

private:
    void SortRows();

    std::vector<TIdFigures> Rows;
    int SortColumn = kColId;
    Qt::SortOrder Order = Qt::AscendingOrder;
};
