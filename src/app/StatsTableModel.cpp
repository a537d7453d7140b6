#include "app/StatsTableModel.h"

#include <algorithm>

namespace {

const char* const kHeaders[TStatsTableModel::kColumnCount] = {
    "ID",     "Format", "Dir",       "Count", "Rate/s", "Run rate/s", "Period ms",
    "Min ms", "Max ms", "Jitter ms", "DLC",   "Bits",   "Share %"};

const char* const kHeaderTips[TStatsTableModel::kColumnCount] = {
    "Identifier",
    "Standard (11-bit) or extended (29-bit) identifier; data or remote frame",
    "IN: received, OUT: sent by this channel",
    "Frames of this identifier and kind in the run",
    "Frames in the last second",
    "Frames per second over the whole run",
    "Mean time between two frames",
    "Shortest time between two frames",
    "Longest time between two frames",
    "Standard deviation of the time between two frames",
    "Length of the latest frame",
    "Bits of the latest frame on the wire, stuff bits and interframe space included",
    "Share of all bits on the bus in the run"};

// The value a column sorts by; texts sort by their identifier order.
double SortValue(const TIdFigures& f, int column)
{
    switch (column) {
    case TStatsTableModel::kColCount:
        return static_cast<double>(f.Count);
    case TStatsTableModel::kColRate:
        return f.RateLastSecond;
    case TStatsTableModel::kColRunRate:
        return f.RateRun;
    case TStatsTableModel::kColPeriod:
        return f.HasPeriod ? f.PeriodMeanMs : -1.0;
    case TStatsTableModel::kColMin:
        return f.HasPeriod ? f.PeriodMinMs : -1.0;
    case TStatsTableModel::kColMax:
        return f.HasPeriod ? f.PeriodMaxMs : -1.0;
    case TStatsTableModel::kColJitter:
        return f.HasPeriod ? f.JitterMs : -1.0;
    case TStatsTableModel::kColLength:
        return f.LastLength;
    case TStatsTableModel::kColBits:
        return f.LastBits;
    case TStatsTableModel::kColShare:
        return f.SharePercent;
    case TStatsTableModel::kColKind:
        return (f.Kind & kStatsStandard) ? 0 : 1;
    case TStatsTableModel::kColDirection:
        return (f.Kind & kStatsOutgoing) ? 1 : 0;
    default:
        return 0;
    }
}

QString Fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

} // namespace

void TStatsTableModel::SetFigures(std::vector<TIdFigures> figures)
{
    const auto before = static_cast<int>(Rows.size());
    const auto after = static_cast<int>(figures.size());
    if (after < before) {
        beginRemoveRows(QModelIndex(), after, before - 1);
        Rows.resize(figures.size());
        endRemoveRows();
    } else if (after > before) {
        beginInsertRows(QModelIndex(), before, after - 1);
        Rows.resize(figures.size());
        endInsertRows();
    }
    Rows = std::move(figures);
    SortRows();
    if (after > 0)
        emit dataChanged(index(0, 0), index(after - 1, kColumnCount - 1), {Qt::DisplayRole});
}

int TStatsTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(Rows.size());
}

int TStatsTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant TStatsTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= static_cast<int>(Rows.size()))
        return {};
    const TIdFigures& f = Rows[static_cast<size_t>(index.row())];
    if (role == Qt::TextAlignmentRole)
        return index.column() <= kColDirection ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                                               : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case kColId:
        return QString::fromStdString(IdText(f));
    case kColKind:
        return QString((f.Kind & kStatsStandard) ? "std" : "ext") + ((f.Kind & kStatsRemote) ? " remote" : " data");
    case kColDirection:
        return (f.Kind & kStatsOutgoing) ? "OUT" : "IN";
    case kColCount:
        return QString::number(f.Count);
    case kColRate:
        return Fixed(f.RateLastSecond, 0);
    case kColRunRate:
        return Fixed(f.RateRun, 2);
    case kColPeriod:
        return f.HasPeriod ? Fixed(f.PeriodMeanMs, 3) : QString("-");
    case kColMin:
        return f.HasPeriod ? Fixed(f.PeriodMinMs, 3) : QString("-");
    case kColMax:
        return f.HasPeriod ? Fixed(f.PeriodMaxMs, 3) : QString("-");
    case kColJitter:
        return f.HasPeriod ? Fixed(f.JitterMs, 3) : QString("-");
    case kColLength:
        return f.LastLength;
    case kColBits:
        return f.LastBits;
    case kColShare:
        return Fixed(f.SharePercent, 2);
    default:
        return {};
    }
}

QVariant TStatsTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return kHeaders[section];
    if (role == Qt::ToolTipRole)
        return kHeaderTips[section];
    if (role == Qt::TextAlignmentRole)
        return section <= kColDirection ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                                        : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

void TStatsTableModel::sort(int column, Qt::SortOrder order)
{
    SortColumn = column;
    Order = order;
    emit layoutAboutToBeChanged();
    SortRows();
    emit layoutChanged();
}

void TStatsTableModel::SortRows()
{
    // Equal values keep the identifier order, so rows do not jump between refreshes.
    std::stable_sort(Rows.begin(), Rows.end(), [this](const TIdFigures& a, const TIdFigures& b) {
        if (SortColumn != kColId) {
            const double x = SortValue(a, SortColumn);
            const double y = SortValue(b, SortColumn);
            if (x != y)
                return Order == Qt::AscendingOrder ? x < y : x > y;
            return IdFiguresBefore(a, b);
        }
        return Order == Qt::AscendingOrder ? IdFiguresBefore(a, b) : IdFiguresBefore(b, a);
    });
}
