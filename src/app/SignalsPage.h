#pragma once
#include <QHash>
#include <functional>
#include <memory>
#include <vector>

#include <QString>
#include <QWidget>

#include "plot/PlotSource.h"
#include "signals/DbcDecoder.h"

class QTreeWidget;
class QTreeWidgetItem;
class TListItemFrameTable;
class TListViewFrameTable;

// The "Signals" page: every signal of the messages in the receive table that
// the loaded CAN database knows, as the latest frame of each carries it, with
// its message's identifier and its raw value. In the table's order until a
// column's header is clicked; then sorted by that column (numbers as numbers).
class TSignalsPage : public QWidget {
    Q_OBJECT
public:
    // kColOrder is hidden: the table's order, the list's order until a header is clicked.
    enum TColumn { kColMessage, kColSignal, kColValue, kColUnit, kColText, kColId, kColRaw, kColOrder, kColumnCount };

    explicit TSignalsPage(TListViewFrameTable* table, QWidget* parent = nullptr);

    void SetDatabase(std::shared_ptr<const TDbcDatabase> database);
    // Brings the list in line with the receive table view's lines.
    void Refresh();
    QTreeWidget* List() const { return lvSignals; }

    // "Plot" on the list's menu: the selected signals go to the Plot page.
    std::function<void(std::vector<TPlotSource> sources)> OnPlot;
    // The selected signals as plot sources.
    std::vector<TPlotSource> SelectedSources() const;

    // Decodes one line of the receive table view: its message, or none for a
    // remote frame or an identifier the database does not know.
    static const TDbcMessage* DecodeLine(const TDbcDatabase& database, const TListItemFrameTable& line,
                                         std::vector<TDbcDecoded>& out);

private:
    TListViewFrameTable* Table;
    std::shared_ptr<const TDbcDatabase> Database;
    QTreeWidget* lvSignals = nullptr;
    std::vector<TDbcDecoded> Decoded;
    // The line of each signal shown, by message and signal; lines move when sorted.
    QHash<const TDbcSignal*, QTreeWidgetItem*> Lines;
};

// Text of a DBC database as the window shows it: the database holds UTF-8,
// and control characters are shown escaped.
QString DbcText(const std::string& text);
