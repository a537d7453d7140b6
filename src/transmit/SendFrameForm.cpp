#include "transmit/SendFrameForm.h"

#include <tuple>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <mutex>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "core/CanText.h"
#include "transmit/CanSend.h"
#include "transmit/CanSendList.h"
#include "transmit/SendFrameSignals.h"
#include "views/UiFonts.h"

namespace {

// The data length proposed for the next new item; shared by every dialog.
int32_t LastLength = 8;

QFont DialogFont(int pixels)
{
    return SansSerifPixelFont(pixels);
}

QLabel* NewLabel(const QString& text, QWidget* parent, const char* name, int left, int top)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->move(left, top);
    label->resize(label->sizeHint());
    return label;
}

QLineEdit* NewEdit(QWidget* parent, const char* name, int left, int top, int width)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(left, top, width, 21);
    return edit;
}

// A whole decimal number that fits a signed 32-bit value; -1 for an empty,
// malformed or too large text.
int64_t ReadDecimal(const QString& text)
{
    if (text.isEmpty())
        return -1;
    int64_t value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        value = value * 10 + (c.unicode() - '0');
        if (value > INT32_MAX)
            return -1;
    }
    return value;
}

// A hexadecimal number of at most 32 bits, either case; -1 for an empty,
// malformed or too large text.
int64_t ReadHex(const QString& text)
{
    uint32_t value = 0;
    return ParseHexValue(text.toStdString(), value) ? int64_t{value} : -1;
}

// Upper-case hex, zero-padded to `digits`.
QString HexText(uint32_t value, int digits)
{
    std::string text;
    AppendHex(text, value, digits);
    return QString::fromStdString(text);
}

} // namespace

int32_t TfmSendFrame::GetLastLength()
{
    return LastLength;
}

TfmSendFrame::TfmSendFrame(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("fmSendFrame"));
    setFont(DialogFont(13));
    setFixedSize(kClientWidth, kClientHeight);
    setSizeGripEnabled(false);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    ShowMessage = [this](const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("TarvenixCanMonitor"), text, QMessageBox::Ok, this);
        box.exec();
    };

    Label6 = NewLabel(QStringLiteral("Mnemonic caption:"), this, "Label6", 5, 4);
    Label7 = NewLabel(QStringLiteral("(not mandatory)"), this, "Label7", 19, 19);
    Label7->setFont(DialogFont(11));
    Label7->resize(Label7->sizeHint());
    edCaption = NewEdit(this, "edCaption", 122, 3, 227);

    Label1 = NewLabel(QStringLiteral("Sending type"), this, "Label1", 16, 44);
    cbSendType = new QComboBox(this);
    cbSendType->setObjectName(QStringLiteral("cbSendType"));
    cbSendType->setGeometry(111, 40, 145, 21);
    cbSendType->addItems({QStringLiteral("Single"), QStringLiteral("Periodic"), QStringLiteral("On request")});

    pPeriod = new QWidget(this);
    pPeriod->setObjectName(QStringLiteral("pPeriod"));
    pPeriod->setGeometry(16, 68, 241, 25);
    Label2 = NewLabel(QStringLiteral("Period (msec)"), pPeriod, "Label2", 0, 5);
    edPeriod = NewEdit(pPeriod, "edPeriod", 96, 0, 73);

    GroupBox1 = new QGroupBox(QStringLiteral("Frame"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 100, 345, 122);
    Label3 = NewLabel(QStringLiteral("ID (hex)"), GroupBox1, "Label3", 16, 24);
    edId = NewEdit(GroupBox1, "edId", 71, 21, 82);
    cbRequest = new QCheckBox(QStringLiteral("Request"), GroupBox1);
    cbRequest->setObjectName(QStringLiteral("cbRequest"));
    cbRequest->setGeometry(176, 24, 97, 17);

    Panel2 = new QFrame(GroupBox1);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel2->setGeometry(8, 48, 329, 65);
    Label4 = NewLabel(QStringLiteral("DLC"), Panel2, "Label4", 16, 8);
    Label5 = NewLabel(QStringLiteral("Data"), Panel2, "Label5", 160, 8);
    cbLength = new QComboBox(Panel2);
    cbLength->setObjectName(QStringLiteral("cbLength"));
    cbLength->setGeometry(8, 32, 49, 21);
    for (int i = 0; i <= 8; ++i)
        cbLength->addItem(QString::number(i));
    pData = new QWidget(Panel2);
    pData->setObjectName(QStringLiteral("pData"));
    pData->setGeometry(64, 32, 257, 23);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setGeometry(0, kClientHeight - 41, kClientWidth, 41);
    btSave = new QPushButton(QStringLiteral("Add"), Panel1);
    btSave->setObjectName(QStringLiteral("btSave"));
    btSave->setGeometry(143, 8, 91, 25);
    btSave->setDefault(true);
    btCancel = new QPushButton(QStringLiteral("Cancel"), Panel1);
    btCancel->setObjectName(QStringLiteral("btCancel"));
    btCancel->setGeometry(255, 8, 91, 25);

    CreateDataEdits();

    edPeriod->installEventFilter(this);
    edId->installEventFilter(this);
    cbLength->installEventFilter(this);

    connect(cbSendType, &QComboBox::currentIndexChanged, this, [this] { UpdateControls(); });
    connect(cbLength, &QComboBox::currentIndexChanged, this, [this] { UpdateControls(); });
    connect(btSave, &QPushButton::clicked, this, [this] { StoreItem(); });
    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TfmSendFrame::~TfmSendFrame() = default;

void TfmSendFrame::CreateDataEdits()
{
    for (int i = 0; i < 8; ++i) {
        auto* edit = NewEdit(pData, "", 2 + 32 * i, 1, 28);
        edit->setObjectName(QStringLiteral("DataEdit%1").arg(i));
        edit->setMaxLength(2);
        edit->installEventFilter(this);
        DataEdits[static_cast<size_t>(i)] = edit;
    }
}

void TfmSendFrame::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfmSendFrame::FormShow()
{
    if (EditMode == 1) {
        setWindowTitle(QStringLiteral("Edit transmit item"));
        btSave->setText(QStringLiteral("Save"));
    } else {
        setWindowTitle(QStringLiteral("Add new transmit item"));
        btSave->setText(QStringLiteral("Add"));
    }
    FillControls();
    UpdateControls();
    if (Database && !Signals)
        CreateSignals();
    if (Signals) {
        const int64_t id = ReadHex(edId->text());
        Signals->FollowId(id < 0 ? 0 : static_cast<uint32_t>(id), !StandardId);
    }
}

void TfmSendFrame::CreateSignals()
{
    Signals = new TSendFrameSignals(Database, this);
    setFixedSize(kSignalsClientWidth, kSignalsClientHeight);
    Signals->setGeometry(kClientWidth, 3, kSignalsClientWidth - kClientWidth - 8, kSignalsClientHeight - 41 - 8);
    Panel1->setGeometry(0, kSignalsClientHeight - 41, kSignalsClientWidth, 41);
    btSave->move(kSignalsClientWidth - 219, 8); // right-aligned, as in the narrow dialog
    btCancel->move(kSignalsClientWidth - 107, 8);
    Signals->ReadData = [this](uint8_t* bytes, int& length) {
        for (size_t i = 0; i < DataEdits.size(); ++i) {
            const int64_t value = ReadHex(DataEdits[i]->text());
            if (value < 0 || value > 0xFF)
                return false;
            bytes[i] = static_cast<uint8_t>(value);
        }
        length = cbLength->currentIndex();
        return true;
    };
    Signals->WriteData = [this](const uint8_t* bytes) {
        for (size_t i = 0; i < DataEdits.size(); ++i)
            DataEdits[i]->setText(HexText(bytes[i], 2));
    };
    Signals->MessageChosen = [this](const TDbcMessage& message) {
        const QString id = HexText(message.Id, StandardId ? 3 : 8);
        edId->setMaxLength(std::max(StandardId ? 3 : 8, static_cast<int>(id.size())));
        edId->setText(id);
        cbRequest->setChecked(false);
        cbLength->setCurrentIndex(static_cast<int>(std::min<uint32_t>(message.Size, 8)));
    };
    for (QLineEdit* edit : DataEdits)
        connect(edit, &QLineEdit::textEdited, Signals, [this] { Signals->FollowData(); });
    connect(cbLength, &QComboBox::currentIndexChanged, Signals, [this] { Signals->FollowData(); });
    connect(edId, &QLineEdit::textEdited, Signals, [this] {
        const int64_t id = ReadHex(edId->text());
        if (id >= 0)
            Signals->FollowId(static_cast<uint32_t>(id), !StandardId);
    });
    Signals->show();
}

void TfmSendFrame::FillControls()
{
    const int digits = StandardId ? 3 : 8;
    if (EditMode == 1 && Item != nullptr) {
        // Read under the list's lock: the scans of other threads use the item too.
        const auto read = [this]() TCM_REQUIRES(SendListRole) {
            return std::tuple(Item->SendType, Item->Period, Item->Frame, Item->Caption);
        };
        std::tuple<int32_t, int32_t, TCanFrame, std::string> shown;
        if (List) {
            TSendListLock guard(*List);
            shown = read();
        } else {
            TUnlistedItem unlisted;
            shown = read();
        }
        const auto& [sendType, period, frame, caption] = shown;
        cbSendType->setCurrentIndex(sendType >= 0 && sendType <= 2 ? sendType : 0);
        edPeriod->setText(QString::number(period));
        const QString id = HexText(frame.Id, digits);
        // A stored identifier wider than the mode allows is shown whole (the
        // save then refuses it) rather than cut to the typing limit.
        edId->setMaxLength(std::max(digits, static_cast<int>(id.size())));
        edId->setText(id);
        cbRequest->setChecked(frame.Request);
        cbLength->setCurrentIndex(CanDataBytes(frame.Length));
        for (size_t i = 0; i < DataEdits.size(); ++i)
            DataEdits[i]->setText(HexText(frame.Data[i], 2));
        edCaption->setText(QString::fromStdString(caption));
    } else {
        cbSendType->setCurrentIndex(cstSingle);
        edPeriod->setText(QStringLiteral("1000"));
        edId->setMaxLength(digits);
        edId->setText(HexText(0, digits));
        cbRequest->setChecked(false);
        cbLength->setCurrentIndex(CanDataBytes(LastLength));
        for (QLineEdit* edit : DataEdits)
            edit->setText(QStringLiteral("00"));
        edCaption->clear();
    }
}

void TfmSendFrame::UpdateControls()
{
    pPeriod->setVisible(cbSendType->currentIndex() == cstPeriodic);
    const int length = cbLength->currentIndex();
    for (size_t i = 0; i < DataEdits.size(); ++i)
        DataEdits[i]->setEnabled(static_cast<int>(i) < length);
}

bool TfmSendFrame::StoreItem()
{
    const auto fail = [this](const char* text) {
        if (ShowMessage)
            ShowMessage(QString::fromLatin1(text));
        return false;
    };

    if (EditMode == 1 && Item == nullptr)
        return false;

    const int32_t sendType = cbSendType->currentIndex();
    int32_t period = 0;
    if (sendType == cstPeriodic) {
        const int64_t value = ReadDecimal(edPeriod->text());
        if (value < 1)
            return fail("Incorrect period");
        period = static_cast<int32_t>(value);
    }

    // An empty or malformed identifier reads as all bits set, above both limits.
    const int64_t idValue = ReadHex(edId->text());
    const uint32_t id = idValue < 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(idValue);
    if (id > (StandardId ? 0x7FFu : 0x1FFFFFFFu))
        return fail("Incorrect frame ID");

    const int32_t length = cbLength->currentIndex();

    uint8_t bytes[8] = {};
    for (size_t i = 0; i < DataEdits.size(); ++i) {
        const int64_t value = ReadHex(DataEdits[i]->text());
        if (value < 0 || value > 0xFF)
            return fail("Incorrect data");
        bytes[i] = static_cast<uint8_t>(value);
    }

    if (EditMode != 1) {
        NewItem = std::make_unique<TCanSendItem>();
        Item = NewItem.get();
    }

    const auto apply = [&]() TCM_REQUIRES(SendListRole) {
        Item->SendType = sendType;
        if (sendType == cstPeriodic)
            Item->SetPeriod(period);
        Item->Frame.Id = id;
        Item->Frame.Request = cbRequest->isChecked();
        Item->Frame.Standard = StandardId;
        Item->Frame.Length = length;
        for (size_t i = 0; i < 8; ++i)
            Item->Frame.Data[i] = bytes[i];
        Item->Caption = edCaption->text().toStdString();
    };
    // A new item is in no list yet; an edited one may be in use by a scan.
    if (EditMode == 1 && List != nullptr) {
        {
            TSendListLock guard(*List);
            apply();
        }
        List->NotifyChanged();
    } else {
        TUnlistedItem unlisted;
        apply();
    }

    LastLength = length;
    accept();
    return true;
}

std::unique_ptr<TCanSendItem> TfmSendFrame::TakeNewItem()
{
    return std::move(NewItem);
}

bool TfmSendFrame::IsHexEdit(const QObject* watched) const
{
    if (watched == edId)
        return true;
    for (const QLineEdit* edit : DataEdits)
        if (watched == edit)
            return true;
    return false;
}

bool TfmSendFrame::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    const QString text = key->text();
    // Only typed characters are filtered. Editing and navigation keys
    // (backspace, delete, arrows, tab, enter, escape, control shortcuts)
    // carry no printable text and keep their usual meaning.
    if (key->key() == Qt::Key_Backspace || text.size() != 1 || !text.at(0).isPrint())
        return QDialog::eventFilter(watched, event);
    const char16_t c = text.at(0).unicode();
    const bool digit = c >= '0' && c <= '9';

    if (watched == cbLength)
        return true; // the length is chosen from the list only
    if (watched == edPeriod)
        return !digit;
    if (IsHexEdit(watched)) {
        if (digit || (c >= 'A' && c <= 'F'))
            return false;
        if (c >= 'a' && c <= 'f') {
            QKeyEvent upper(QEvent::KeyPress, key->key(), key->modifiers(), text.toUpper(), key->isAutoRepeat(),
                            static_cast<quint16>(key->count()));
            QCoreApplication::sendEvent(watched, &upper);
        }
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
