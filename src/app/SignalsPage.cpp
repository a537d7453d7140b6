#include "app/SignalsPage.h"

#include <QHeaderView>
#include <algorithm>
#include <QMenu>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/CanText.h"
#include "views/ListViewFrameTable.h"

namespace {

void SetTextIfChanged(QTreeWidgetItem* item, int column, const QString& text)
{
    if (item->text(column) != text)
        item->setText(column, text);
}

// A line that sorts its number columns by value, the others by text.
class TSignalLine : public QTreeWidgetItem {
public:
    bool operator<(const QTreeWidgetItem& other) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        const QVariant a = data(column, Qt::UserRole);
        const QVariant b = other.data(column, Qt::UserRole);
        if (a.isValid() && b.isValid())
            return QVariant::compare(a, b) == QPartialOrdering::Less;
        return text(column).localeAwareCompare(other.text(column)) < 0;
    }
};

void SetNumber(QTreeWidgetItem* item, int column, const QString& text, const QVariant& value)
{
    if (item->data(column, Qt::UserRole) != value)
        item->setData(column, Qt::UserRole, value);
    SetTextIfChanged(item, column, text);
}

} // namespace

QString DbcText(const std::string& text)
{
    return QString::fromStdString(DbcPrintable(text));
}

TSignalsPage::TSignalsPage(TListViewFrameTable* table, QWidget* parent) : QWidget(parent), Table(table)
{
    auto* fill = new QVBoxLayout(this);
    fill->setContentsMargins(2, 2, 2, 2);
    lvSignals = new QTreeWidget;
    lvSignals->setObjectName("lvSignals");
    lvSignals->setRootIsDecorated(false);
    lvSignals->setUniformRowHeights(true);
    lvSignals->setAllColumnsShowFocus(true);
    lvSignals->setAccessibleName("Signals");
    lvSignals->setHeaderLabels({"Message", "Signal", "Value", "Unit", "Text", "ID", "Raw", "Order"});
    lvSignals->setFont(table->font());
    const int widths[kColumnCount] = {150, 170, 130, 60, 140, 80, 110, 0};
    for (int c = 0; c < kColumnCount; ++c)
        lvSignals->setColumnWidth(c, widths[c]);
    lvSignals->setColumnHidden(kColOrder, true);
    lvSignals->header()->setStretchLastSection(false);
    // Names, units and texts are never cut short: their columns grow to what they hold.
    for (int c : {kColMessage, kColSignal, kColUnit, kColText})
        lvSignals->header()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    for (int c : {kColValue, kColId, kColRaw})
        lvSignals->headerItem()->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    lvSignals->setSortingEnabled(true);
    lvSignals->sortByColumn(kColOrder, Qt::AscendingOrder);
    lvSignals->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvSignals->setContextMenuPolicy(Qt::CustomContextMenu);
    auto* menu = new QMenu(lvSignals);
    menu->setAccessibleName("Signals menu");
    QAction* plot = menu->addAction("Plot", this, [this] {
        if (OnPlot)
            OnPlot(SelectedSources());
    });
    plot->setObjectName("actPlot");
    connect(lvSignals, &QWidget::customContextMenuRequested, this, [this, menu, plot](const QPoint& at) {
        plot->setEnabled(!lvSignals->selectedItems().isEmpty());
        menu->popup(lvSignals->viewport()->mapToGlobal(at));
    });
    fill->addWidget(lvSignals);
}

std::vector<TPlotSource> TSignalsPage::SelectedSources() const
{
    std::vector<TPlotSource> out;
    if (!Database)
        return out;
    // In the list's order, top to bottom.
    std::vector<std::pair<int, const TDbcSignal*>> rows;
    for (auto line = Lines.cbegin(); line != Lines.cend(); ++line)
        if (line.value()->isSelected())
            rows.emplace_back(lvSignals->indexOfTopLevelItem(line.value()), line.key());
    std::sort(rows.begin(), rows.end());
    for (const auto& [row, signal] : rows) {
        const QVariant stored = Lines.value(signal)->data(kColMessage, Qt::UserRole + 1);
        if (const auto* message = reinterpret_cast<const TDbcMessage*>(stored.value<quintptr>()))
            out.emplace_back(*message, static_cast<size_t>(signal - message->Signals.data()));
    }
    return out;
}

void TSignalsPage::SetDatabase(std::shared_ptr<const TDbcDatabase> database)
{
    Database = std::move(database);
    Lines.clear();
    lvSignals->clear();
    Refresh();
}

const TDbcMessage* TSignalsPage::DecodeLine(const TDbcDatabase& database, const TListItemFrameTable& line,
                                            std::vector<TDbcDecoded>& out)
{
    out.clear();
    if (line.Row.Request)
        return nullptr;
    const TDbcMessage* message = database.Find(line.Row.Id, !line.Row.Standard);
    if (message)
        DecodeDbcFrame(*message, line.Row.Data, line.Row.Length, out);
    return message;
}

void TSignalsPage::Refresh()
{
    if (!Database) {
        Lines.clear();
        lvSignals->clear();
        return;
    }
    // Each signal keeps its line: a steady bus changes values only, and only
    // the cells whose text changed are touched.
    QHash<const TDbcSignal*, QTreeWidgetItem*> seen;
    qlonglong order = 0;
    for (int32_t i = 0; i < Table->LineCount(); ++i) {
        const TListItemFrameTable* line = Table->Line(i);
        const TDbcMessage* message = line ? DecodeLine(*Database, *line, Decoded) : nullptr;
        if (!message)
            continue;
        const QString messageName = DbcText(message->Name);
        const QString id = QString::fromStdString(FormatCanId(line->Row.Id, line->Row.Standard));
        for (const TDbcDecoded& d : Decoded) {
            QTreeWidgetItem* item = Lines.take(d.Signal);
            if (!item) {
                item = new TSignalLine;
                for (int c : {kColValue, kColId, kColRaw})
                    item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
                lvSignals->addTopLevelItem(item);
            }
            seen.insert(d.Signal, item);
            SetNumber(item, kColOrder, QString::number(order), order);
            ++order;
            SetTextIfChanged(item, kColMessage, messageName);
            item->setData(kColMessage, Qt::UserRole + 1, QVariant::fromValue(reinterpret_cast<quintptr>(message)));
            SetTextIfChanged(item, kColSignal, DbcText(d.Signal->Name));
            SetNumber(item, kColValue, QString::fromStdString(FormatDbcValue(d)), d.Value);
            SetTextIfChanged(item, kColUnit, DbcText(d.Signal->Unit));
            SetTextIfChanged(item, kColText, d.Text ? DbcText(*d.Text) : QString());
            SetNumber(item, kColId, id, static_cast<qulonglong>(line->Row.Id));
            SetNumber(item, kColRaw, QString::number(d.Raw), static_cast<qlonglong>(d.Raw));
        }
    }
    // Signals no longer in the table (or no longer selected by their multiplexor) go.
    qDeleteAll(Lines);
    Lines = std::move(seen);
}
