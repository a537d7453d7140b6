#include "app/SignalsPage.h"

#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "views/ListViewFrameTable.h"

namespace {

void SetTextIfChanged(QTreeWidgetItem* item, int column, const QString& text)
{
    if (item->text(column) != text)
        item->setText(column, text);
}

} // namespace

QString DbcText(const std::string& text)
{
    const QString utf8 = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (!utf8.contains(QChar::ReplacementCharacter))
        return utf8;
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
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
    lvSignals->setHeaderLabels({"Message", "Signal", "Value", "Unit", "Text"});
    lvSignals->setFont(table->font());
    const int widths[kColumnCount] = {150, 170, 130, 60, 140};
    for (int c = 0; c < kColumnCount; ++c)
        lvSignals->setColumnWidth(c, widths[c]);
    lvSignals->header()->setStretchLastSection(true);
    lvSignals->headerItem()->setTextAlignment(kColValue, Qt::AlignRight | Qt::AlignVCenter);
    fill->addWidget(lvSignals);
}

void TSignalsPage::SetDatabase(std::shared_ptr<const TDbcDatabase> database)
{
    Database = std::move(database);
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
        lvSignals->clear();
        return;
    }
    // Lines are reused in order: a steady bus changes values only, and only
    // the cells whose text changed are touched.
    int row = 0;
    for (int32_t i = 0; i < Table->LineCount(); ++i) {
        const TListItemFrameTable* line = Table->Line(i);
        const TDbcMessage* message = line ? DecodeLine(*Database, *line, Decoded) : nullptr;
        if (!message)
            continue;
        const QString messageName = DbcText(message->Name);
        for (const TDbcDecoded& d : Decoded) {
            QTreeWidgetItem* item = lvSignals->topLevelItem(row);
            if (!item) {
                item = new QTreeWidgetItem;
                item->setTextAlignment(kColValue, Qt::AlignRight | Qt::AlignVCenter);
                lvSignals->addTopLevelItem(item);
            }
            SetTextIfChanged(item, kColMessage, messageName);
            SetTextIfChanged(item, kColSignal, DbcText(d.Signal->Name));
            SetTextIfChanged(item, kColValue, QString::fromStdString(FormatDbcValue(d)));
            SetTextIfChanged(item, kColUnit, DbcText(d.Signal->Unit));
            SetTextIfChanged(item, kColText, d.Text ? DbcText(*d.Text) : QString());
            ++row;
        }
    }
    while (lvSignals->topLevelItemCount() > row)
        delete lvSignals->takeTopLevelItem(lvSignals->topLevelItemCount() - 1);
}
