#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include <QDialog>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;
class TCanSendItem;
class TCanSendList;
class TDbcDatabase;
class TSendFrameSignals;

// The modal dialog in which the operator creates a transmit item or changes
// one: caption, sending type, period, identifier, remote flag, length and the
// eight data bytes. Nothing reaches the item before every entry has passed its
// check; the first wrong entry is reported and the dialog stays open.
//
// Use: create, set EditMode, StandardId, Item (edit) and List, then exec().
// In add mode a successful save creates the item; TakeNewItem() hands it over.
// In edit mode the change is written into Item while holding List->Lock(), so
// that the periodic and receive scans never see a half-written item.
class TfmSendFrame : public QDialog {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 362;
    static constexpr int kClientHeight = 267;
    // With a CAN database the "Signals" part stands to the right of the fields.
    static constexpr int kSignalsClientWidth = 800;
    static constexpr int kSignalsClientHeight = 440;

    explicit TfmSendFrame(QWidget* parent = nullptr);
    ~TfmSendFrame() override;

    int32_t EditMode = 0;         // 0: add a new item; 1: edit Item
    bool StandardId = true;       // 11-bit identifiers (the channel is not Extended)
    TCanSendItem* Item = nullptr; // edit: the item to change (lent); add: the new item after a save
    TCanSendList* List = nullptr; // the list that holds Item, for its lock; may be null
    // The loaded CAN database, set before showing; null keeps the dialog as it is without one.
    std::shared_ptr<const TDbcDatabase> Database;
    TSendFrameSignals* Signals = nullptr; // the "Signals" part, made when shown with a database
    std::array<QLineEdit*, 8> DataEdits{};

    // Shows the message of a failed check. Replaceable so that tests can see
    // the messages; by default a plain message box with an OK button.
    std::function<void(const QString& text)> ShowMessage;

    // The data length proposed for a new item: 8 at program start, then the
    // length of the last successful save.
    static int32_t GetLastLength();

    // Title and save button for the mode, then FillControls and UpdateControls.
    // Runs when the dialog is shown.
    void FormShow();
    // Puts the item's values (edit) or the defaults for a new item (add) into the controls.
    void FillControls();
    // Period row shown only for "Periodic"; data box i enabled only below the length.
    void UpdateControls();
    // Checks the entries in order (period, identifier, data) and reports the
    // first failure; when all pass, writes the item and closes with OK.
    bool StoreItem();

    // Add mode: the item created by a successful save, handed to the caller
    // (null before a save, after a cancel, in edit mode, or when already taken).
    std::unique_ptr<TCanSendItem> TakeNewItem();

    QLabel* Label6;
    QLabel* Label7;
    QLineEdit* edCaption;
    QLabel* Label1;
    QComboBox* cbSendType;
    QWidget* pPeriod;
    QLabel* Label2;
    QLineEdit* edPeriod;
    QGroupBox* GroupBox1;
    QLabel* Label3;
    QLineEdit* edId;
    QCheckBox* cbRequest;
    QFrame* Panel2;
    QLabel* Label4;
    QLabel* Label5;
    QComboBox* cbLength;
    QWidget* pData;
    QFrame* Panel1;
    QPushButton* btSave;
    QPushButton* btCancel;

protected:
    void showEvent(QShowEvent* event) override;
    // The key filters of edPeriod, edId, the data boxes and cbLength.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateDataEdits();
    void CreateSignals();
    bool IsHexEdit(const QObject* watched) const;

    std::unique_ptr<TCanSendItem> NewItem;
};
