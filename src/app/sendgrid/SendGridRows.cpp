#include "app/sendgrid/SendGridRows.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include <QTableWidget>

#include "app/sendgrid/SendGridPanel.h"
#include "core/CanGeneral.h"
#include "core/CanText.h"
#include "transmit/CanSend.h"
#include "transmit/CanSendList.h"

const std::array<TSendGridColumn, kSendGridColumnCount> kSendGridColumns{{
    {"Mnemonic caption", 116},
    {"Active", 64},
    {"Type", 64},
    {"Period", 48},
    {"ID", 64},
    {"DLC", 30},
    {"Data", 136},
    {"Count", 48},
}};

TSendGridRowTexts SendGridRowTexts(const TCanSendItem& item, bool standardIds)
{
    TSendGridRowTexts row;
    row[0] = QString::fromStdString(item.Caption);
    row[1] = item.Active ? QStringLiteral("1") : QStringLiteral("0");
    row[2] = QString::fromStdString(item.GetTypeName());
    if (item.SendType == cstPeriodic)
        row[3] = QString::number(item.Period);
    row[4] = QString::fromStdString(FormatCanId(item.Frame.Id, standardIds));
    row[5] = QString::number(item.Frame.Length);
    if (item.Frame.Request) {
        row[6] = QStringLiteral("Request");
    } else {
        // Each byte followed by a space, the last one too.
        std::string data;
        AppendDataBytes(data, item.Frame.Data, CanDataBytes(item.Frame.Length), ' ');
        if (!data.empty())
            data += ' ';
        row[6] = QString::fromStdString(data);
    }
    row[7] = QString::number(item.Count);
    return row;
}

void TSendGridPanel::RefreshSendGrid()
{
    TCanSendList* list = CurrentList();
    if (list == nullptr)
        return;
    const bool standardIds = !CurrentExtended();
    const int channel = CurrentChannel();
    const auto handler = [counts = Counts](int32_t count, uint32_t tag) {
        counts->Push(TCountQueue::kCurrent, TCountQueue::TRule::Merge, {count, tag}, tag);
    };

    std::vector<TSendGridRowTexts> rows;
    {
        // The scans read Tag and OnCountChanged and write Count: bind and read
        // under the list's lock. Counts queued before this point are dropped,
        // as every count is read afresh here.
        TSendListLock guard(*list);
        Counts->NewGeneration();
        const int32_t count = list->Count();
        rows.reserve(static_cast<size_t>(count));
        for (int32_t p = 0; p < count; ++p) {
            TCanSendItem* item = list->GetItem(p);
            rows.push_back(SendGridRowTexts(*item, standardIds));
            item->Tag = TSendGridTag::Make(channel, p);
            item->OnCountChanged = handler;
        }
    }

    sgSend->setRowCount(std::max(static_cast<int>(rows.size()), 1));
    if (rows.empty()) {
        for (int c = 0; c < kColumnCount; ++c)
            SetCell(GridRowOfIndex(0), c, QString());
    }
    for (size_t r = 0; r < rows.size(); ++r)
        for (int c = 0; c < kColumnCount; ++c)
            SetCell(GridRowOfIndex(static_cast<int>(r)), c, rows[r][static_cast<size_t>(c)]);

    const int selected = SelectedRow();
    if (selected < 1 || selected >= RowCount())
        SelectRow(std::clamp(selected, 1, RowCount() - 1));
    sgSend->viewport()->update();
}

void TSendGridPanel::SendCountChanged(int32_t count, uint32_t tag)
{
    Counts->Push(TCountQueue::kCurrent, TCountQueue::TRule::Merge, {count, tag}, tag);
}

void TSendGridPanel::ApplyCountChanges(const std::vector<TCountChange>& batch)
{
    const int channel = CurrentChannel();
    for (const TCountChange& change : batch) {
        if (TSendGridTag::Channel(change.Tag) != channel)
            continue;
        const int row = GridRowOfIndex(TSendGridTag::Index(change.Tag));
        if (row < RowCount())
            SetCell(row, kCountColumn, QString::number(change.Count));
    }
}

int TSendGridPanel::RowCount() const
{
    return GridRowOfIndex(sgSend->rowCount());
}

QString TSendGridPanel::CellText(int row, int column) const
{
    if (row == 0) {
        const QTableWidgetItem* title = sgSend->horizontalHeaderItem(column);
        return title != nullptr ? title->text() : QString();
    }
    const QTableWidgetItem* cell = sgSend->item(ListIndexOfRow(row), column);
    return cell != nullptr ? cell->text() : QString();
}

void TSendGridPanel::SetCell(int row, int column, const QString& text)
{
    QTableWidgetItem* cell = sgSend->item(ListIndexOfRow(row), column);
    if (cell == nullptr) {
        cell = new QTableWidgetItem(text);
        cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        sgSend->setItem(ListIndexOfRow(row), column, cell);
    } else if (cell->text() != text) {
        cell->setText(text);
    }
}

int TSendGridPanel::SelectedRow() const
{
    const int row = sgSend->currentRow();
    return row < 0 ? 0 : GridRowOfIndex(row);
}

void TSendGridPanel::SelectRow(int row)
{
    if (row < 1 || row >= RowCount())
        return;
    const QModelIndex index = sgSend->model()->index(ListIndexOfRow(row), std::max(sgSend->currentColumn(), 0));
    sgSend->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

int TSendGridPanel::SelectedIndex() const
{
    return ListIndexOfRow(SelectedRow());
}

TCanSendList* TSendGridPanel::ListOfSelectedItem(int& index) const
{
    TCanSendList* list = CurrentList();
    index = SelectedIndex();
    if (list == nullptr || index < 0)
        return nullptr;
    TSendListLock guard(*list);
    return index < list->Count() ? list : nullptr;
}
