#include "transmit/SendFrameSignals.h"

#include <algorithm>

#include <QComboBox>
#include <QCompleter>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QVBoxLayout>

#include "signals/DbcDecoder.h"
#include "signals/DbcEncoder.h"

namespace {

const char kShown[] = "shownText"; // an editor's text as last filled from the bytes

QString Text(const std::string& text)
{
    return QString::fromStdString(DbcPrintable(text));
}

QString RangeText(const TDbcSignal& s)
{
    if (s.Minimum == 0 && s.Maximum == 0)
        return QString();
    return QString::fromStdString(DbcDoubleText(s.Minimum) + " .. " + DbcDoubleText(s.Maximum));
}

QTableWidgetItem* ReadOnlyItem(const QString& text)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

} // namespace

TSendFrameSignals::TSendFrameSignals(std::shared_ptr<const TDbcDatabase> database, QWidget* parent)
    : QGroupBox(QStringLiteral("Signals"), parent), Database(std::move(database))
{
    setObjectName(QStringLiteral("gbSignals"));
    setAccessibleName(QStringLiteral("Signals"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(8, 6, 8, 8);

    auto* row = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("Message"), this);
    cbMessage = new QComboBox(this);
    cbMessage->setObjectName(QStringLiteral("cbMessage"));
    cbMessage->setAccessibleName(QStringLiteral("Message"));
    label->setBuddy(cbMessage);
    cbMessage->setEditable(true);
    cbMessage->setInsertPolicy(QComboBox::NoInsert);
    cbMessage->setMaxVisibleItems(20);
    cbMessage->addItem(QStringLiteral("(none)"), -1);
    for (size_t i = 0; i < Database->Messages.size(); ++i)
        cbMessage->addItem(Text(Database->Messages[i].Name), static_cast<int>(i));
    // Hundreds of messages: typing any part of a name finds it.
    cbMessage->completer()->setFilterMode(Qt::MatchContains);
    cbMessage->completer()->setCaseSensitivity(Qt::CaseInsensitive);
    cbMessage->completer()->setCompletionMode(QCompleter::PopupCompletion);
    row->addWidget(label);
    row->addWidget(cbMessage, 1);
    column->addLayout(row);

    lbMessageInfo = new QLabel(this);
    lbMessageInfo->setObjectName(QStringLiteral("lbMessageInfo"));
    lbMessageInfo->setAccessibleName(QStringLiteral("Message details"));
    column->addWidget(lbMessageInfo);

    tvSignals = new QTableWidget(0, kColumnCount, this);
    tvSignals->setObjectName(QStringLiteral("tvSignals"));
    tvSignals->setAccessibleName(QStringLiteral("Signals of the message"));
    tvSignals->setHorizontalHeaderLabels({"Signal", "Value", "Unit", "Range"});
    tvSignals->verticalHeader()->hide();
    tvSignals->verticalHeader()->setDefaultSectionSize(24);
    tvSignals->setSelectionMode(QAbstractItemView::NoSelection);
    tvSignals->setColumnWidth(kColSignal, 135);
    tvSignals->setColumnWidth(kColValue, 115);
    tvSignals->setColumnWidth(kColUnit, 45);
    tvSignals->horizontalHeader()->setStretchLastSection(true);
    column->addWidget(tvSignals, 1);

    lbSignalStatus = new QLabel(this);
    lbSignalStatus->setObjectName(QStringLiteral("lbSignalStatus"));
    lbSignalStatus->setAccessibleName(QStringLiteral("Signal message"));
    lbSignalStatus->setWordWrap(true);
    column->addWidget(lbSignalStatus);

    connect(cbMessage, &QComboBox::activated, this,
            [this](int index) { ChooseMessage(cbMessage->itemData(index).toInt()); });
}

const TDbcMessage* TSendFrameSignals::Message() const
{
    return Current < 0 ? nullptr : &Database->Messages[static_cast<size_t>(Current)];
}

void TSendFrameSignals::FollowId(uint32_t id, bool extended)
{
    // A message of the channel's kind first, else one of the other kind.
    const TDbcMessage* m = Database->Find(id, extended);
    if (!m)
        m = Database->Find(id, !extended);
    const int index = m ? static_cast<int>(m - Database->Messages.data()) : -1;
    if (index == Current)
        return;
    Current = index;
    cbMessage->setCurrentIndex(index + 1);
    FillSignals();
    FollowData();
}

void TSendFrameSignals::ChooseMessage(int index)
{
    Current = index >= 0 && static_cast<size_t>(index) < Database->Messages.size() ? index : -1;
    cbMessage->setCurrentIndex(Current + 1);
    FillSignals();
    if (const TDbcMessage* m = Message(); m && MessageChosen)
        MessageChosen(*m);
    FollowData();
}

void TSendFrameSignals::FillSignals()
{
    Filling = true;
    tvSignals->setRowCount(0);
    ShowStatus(QString(), false);
    const TDbcMessage* m = Message();
    lbMessageInfo->clear();
    if (!m) {
        Filling = false;
        return;
    }
    lbMessageInfo->setText(QStringLiteral("ID %1 hex, %2, %3 bytes%4")
                               .arg(QString::number(m->Id, 16).toUpper())
                               .arg(m->Extended ? QStringLiteral("extended") : QStringLiteral("standard"))
                               .arg(m->Size)
                               .arg(m->Transmitter.empty() ? QString() : ", sent by " + Text(m->Transmitter)));
    tvSignals->setRowCount(static_cast<int>(m->Signals.size()));
    for (size_t i = 0; i < m->Signals.size(); ++i) {
        const TDbcSignal& s = m->Signals[i];
        const int row = static_cast<int>(i);
        auto* name = ReadOnlyItem(Text(s.Name));
        if (!s.Comment.empty())
            name->setToolTip(Text(s.Comment));
        tvSignals->setItem(row, kColSignal, name);
        tvSignals->setItem(row, kColUnit, ReadOnlyItem(Text(s.Unit)));
        tvSignals->setItem(row, kColRange, ReadOnlyItem(RangeText(s)));
        QWidget* editor = nullptr;
        if (!s.Values.empty()) {
            auto* box = new QComboBox;
            box->setEditable(true);
            box->setInsertPolicy(QComboBox::NoInsert);
            for (const auto& v : s.Values)
                box->addItem(Text(v.Text));
            connect(box, &QComboBox::activated, this, [this, row] { Commit(row); });
            connect(box->lineEdit(), &QLineEdit::editingFinished, this, [this, row] { Commit(row); });
            editor = box;
        } else {
            auto* edit = new QLineEdit;
            connect(edit, &QLineEdit::editingFinished, this, [this, row] { Commit(row); });
            editor = edit;
        }
        editor->setObjectName(QStringLiteral("edSignal_") + QString::fromStdString(s.Name));
        editor->setAccessibleName(QStringLiteral("Value of ") + Text(s.Name));
        tvSignals->setCellWidget(row, kColValue, editor);
    }
    Filling = false;
}

QString TSendFrameSignals::EditorText(int row) const
{
    QWidget* w = tvSignals->cellWidget(row, kColValue);
    if (auto* box = qobject_cast<QComboBox*>(w))
        return box->currentText();
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text();
    return QString();
}

QWidget* TSendFrameSignals::Editor(const QString& name) const
{
    const TDbcMessage* m = Message();
    const int index = m ? m->SignalIndex(name.toStdString()) : -1;
    return index < 0 ? nullptr : tvSignals->cellWidget(index, kColValue);
}

void TSendFrameSignals::FollowData()
{
    const TDbcMessage* m = Message();
    uint8_t bytes[8] = {};
    int length = 0;
    if (!m || !ReadData || !ReadData(bytes, length))
        return;
    const TDbcFrameBits bits(bytes, length);
    const TDbcPresence presence(*m, bits);
    Filling = true;
    for (size_t i = 0; i < m->Signals.size(); ++i) {
        const TDbcSignal& s = m->Signals[i];
        QWidget* editor = tvSignals->cellWidget(static_cast<int>(i), kColValue);
        const bool carried = presence.Carries(s);
        QString text;
        if (carried) {
            TDbcDecoded d;
            d.Signal = &s;
            d.Raw = DbcRawValue(s, bits.Le, bits.Be);
            const std::string* valueText = s.Values.empty() ? nullptr : s.ValueText(d.Raw);
            text = valueText ? Text(*valueText) : QString::fromStdString(FormatDbcValue(d));
        }
        editor->setEnabled(carried);
        editor->setToolTip(carried ? QString()
                           : s.BytesNeeded > bits.Bytes
                               ? QStringLiteral("Beyond the frame's length")
                               : QStringLiteral("Not in this frame: its multiplexor selects another page"));
        if (auto* box = qobject_cast<QComboBox*>(editor))
            box->setEditText(text);
        else if (auto* edit = qobject_cast<QLineEdit*>(editor))
            edit->setText(text);
        editor->setProperty(kShown, text);
    }
    Filling = false;
}

void TSendFrameSignals::Commit(int row)
{
    const TDbcMessage* m = Message();
    if (Filling || !m || row < 0 || static_cast<size_t>(row) >= m->Signals.size())
        return;
    QWidget* editor = tvSignals->cellWidget(row, kColValue);
    const QString text = EditorText(row).trimmed();
    // Leaving an editor untouched changes nothing, even where the shown
    // value is rounded to 15 digits.
    if (text.isEmpty() || text == editor->property(kShown).toString())
        return;
    uint8_t bytes[8] = {};
    int length = 0;
    if (!ReadData || !ReadData(bytes, length)) {
        ShowStatus(QStringLiteral("The data bytes must be hexadecimal before signals can be set."), true);
        return;
    }
    std::string error;
    const TDbcSignal& s = m->Signals[static_cast<size_t>(row)];
    if (!EncodeDbcFrame(*m, {{s.Name, text.toStdString()}}, bytes, length, error)) {
        ShowStatus(QString::fromStdString(DbcPrintable(error)), true);
        return;
    }
    ShowStatus(QString(), false);
    if (WriteData)
        WriteData(bytes);
    FollowData();
}

bool TSendFrameSignals::SetSignal(const QString& name, const QString& value)
{
    const TDbcMessage* m = Message();
    const int row = m ? m->SignalIndex(name.toStdString()) : -1;
    if (row < 0)
        return false;
    QWidget* editor = tvSignals->cellWidget(row, kColValue);
    if (auto* box = qobject_cast<QComboBox*>(editor))
        box->setEditText(value);
    else if (auto* edit = qobject_cast<QLineEdit*>(editor))
        edit->setText(value);
    Commit(row);
    return lbSignalStatus->text().isEmpty();
}

void TSendFrameSignals::ShowStatus(const QString& text, bool error)
{
    lbSignalStatus->setText(text);
    lbSignalStatus->setStyleSheet(error ? QStringLiteral("color: #B00020;") : QString());
}
