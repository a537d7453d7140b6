#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include <QGroupBox>

#include "signals/DbcDatabase.h"

class QComboBox;
class QLabel;
class QTableWidget;
class QWidget;

// The "Signals" part of the transmit item dialog, shown while a CAN database
// is loaded: a message is picked by name (its identifier, kind and length go
// into the frame fields) and each of its signals is edited by name, with its
// unit, range and the texts of its value table. The data bytes follow the
// signals and the signals follow the data bytes; the item itself only ever
// stores bytes.
class TSendFrameSignals : public QGroupBox {
    Q_OBJECT
public:
    enum TColumn { kColSignal, kColValue, kColUnit, kColRange, kColumnCount };

    TSendFrameSignals(std::shared_ptr<const TDbcDatabase> database, QWidget* parent);

    // The frame fields of the dialog, read and written through these.
    std::function<bool(uint8_t* data, int& length)> ReadData; // false when a data box is not hex
    std::function<void(const uint8_t* data)> WriteData;       // all eight bytes
    std::function<void(const TDbcMessage& message)> MessageChosen;

    // The message of an identifier typed into the frame fields, if any.
    void FollowId(uint32_t id, bool extended);
    // Shows the signals as the current data bytes carry them.
    void FollowData();
    // Picks a message by its position in the database (-1: none).
    void ChooseMessage(int index);
    // Sets one signal from a typed value or value-table text, as if edited.
    bool SetSignal(const QString& name, const QString& value);

    const TDbcMessage* Message() const;
    QComboBox* MessageBox() const { return cbMessage; }
    QTableWidget* Table() const { return tvSignals; }
    QLabel* Status() const { return lbSignalStatus; }
    // The editor of a signal's value (a QLineEdit, or an editable QComboBox
    // for a signal with a value table), or none.
    QWidget* Editor(const QString& name) const;

private:
    void FillSignals();
    void Commit(int row);
    QString EditorText(int row) const;
    void ShowStatus(const QString& text, bool error);

    std::shared_ptr<const TDbcDatabase> Database;
    int Current = -1;     // index into Database->Messages
    bool Filling = false; // editors being filled from the bytes: no commits
    QComboBox* cbMessage = nullptr;
    QLabel* lbMessageInfo = nullptr;
    QTableWidget* tvSignals = nullptr;
    QLabel* lbSignalStatus = nullptr;
};
