// The transmit item dialog: defaults, control states, the checks of a save
// and their order, the key filters, the carried length, cancelling, and the
// edit of an item that a scan is sending at the same time.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "transmit/CanSendList.h"
#include "transmit/SendFrameForm.h"

namespace {

// A dialog whose messages are recorded instead of shown.
struct TDialog {
    TfmSendFrame Form;
    std::vector<QString> Messages;

    explicit TDialog(bool standard, int32_t editMode = 0, TCanSendItem* item = nullptr)
    {
        Form.EditMode = editMode;
        Form.StandardId = standard;
        Form.Item = item;
        Form.ShowMessage = [this](const QString& text) { Messages.push_back(text); };
        Form.FormShow();
    }

    void SetType(int type) { Form.cbSendType->setCurrentIndex(type); }
    void SetLength(int length) { Form.cbLength->setCurrentIndex(length); }
    bool Save() { return Form.StoreItem(); }
    QString LastMessage() const { return Messages.empty() ? QString() : Messages.back(); }
};

void TypeInto(QWidget* widget, const char* keys)
{
    QTest::keyClicks(widget, QString::fromLatin1(keys));
}

} // namespace

// Must stay the first test of this program: it sees the length of a fresh start.
TEST(SendFrameDialog, LastLengthStartsAtEight)
{
    EXPECT_EQ(TfmSendFrame::GetLastLength(), 8);
    TDialog dialog(true);
    EXPECT_EQ(dialog.Form.cbLength->currentText(), QStringLiteral("8"));
}

TEST(SendFrameDialog, ControlsAsDesigned)
{
    TfmSendFrame form;
    EXPECT_EQ(form.objectName(), QStringLiteral("fmSendFrame"));
    EXPECT_EQ(form.minimumSize(), QSize(362, 267));
    EXPECT_EQ(form.maximumSize(), QSize(362, 267));

    struct TExpected {
        const char* Name;
        QRect Geometry;
    };
    const TExpected expected[] = {
        {"edCaption", {122, 3, 227, 21}},   {"cbSendType", {111, 40, 145, 21}}, {"pPeriod", {16, 68, 241, 25}},
        {"edPeriod", {96, 0, 73, 21}},      {"GroupBox1", {8, 100, 345, 122}},  {"edId", {71, 21, 82, 21}},
        {"Panel2", {8, 48, 329, 65}},       {"cbLength", {8, 32, 49, 21}},      {"pData", {64, 32, 257, 23}},
        {"Panel1", {0, 226, 362, 41}},      {"btSave", {143, 8, 91, 25}},       {"btCancel", {255, 8, 91, 25}},
    };
    for (const TExpected& e : expected) {
        auto* widget = form.findChild<QWidget*>(QString::fromLatin1(e.Name));
        ASSERT_NE(widget, nullptr) << e.Name;
        EXPECT_EQ(widget->geometry(), e.Geometry) << e.Name;
    }
    struct TLabel {
        const char* Name;
        const char* Text;
        QPoint Position;
    };
    const TLabel labels[] = {
        {"Label6", "Mnemonic caption:", {5, 4}}, {"Label7", "(not mandatory)", {19, 19}},
        {"Label1", "Sending type", {16, 44}},    {"Label2", "Period (msec)", {0, 5}},
        {"Label3", "ID (hex)", {16, 24}},        {"Label4", "DLC", {16, 8}},
        {"Label5", "Data", {160, 8}},
    };
    for (const TLabel& l : labels) {
        auto* label = form.findChild<QLabel*>(QString::fromLatin1(l.Name));
        ASSERT_NE(label, nullptr) << l.Name;
        EXPECT_EQ(label->text(), QString::fromLatin1(l.Text));
        EXPECT_EQ(label->pos(), l.Position) << l.Name;
    }
    EXPECT_EQ(form.Label7->font().pixelSize(), 11);
    EXPECT_EQ(form.cbRequest->text(), QStringLiteral("Request"));
    EXPECT_EQ(form.cbRequest->pos(), QPoint(176, 24));
    EXPECT_EQ(form.btCancel->text(), QStringLiteral("Cancel"));
    EXPECT_EQ(form.GroupBox1->title(), QStringLiteral("Frame"));
    EXPECT_EQ(form.edPeriod->parentWidget(), form.pPeriod);
    EXPECT_EQ(form.cbLength->parentWidget(), form.Panel2);

    ASSERT_EQ(form.cbSendType->count(), 3);
    EXPECT_EQ(form.cbSendType->itemText(0), QStringLiteral("Single"));
    EXPECT_EQ(form.cbSendType->itemText(1), QStringLiteral("Periodic"));
    EXPECT_EQ(form.cbSendType->itemText(2), QStringLiteral("On request"));
    ASSERT_EQ(form.cbLength->count(), 9);
    for (int i = 0; i <= 8; ++i)
        EXPECT_EQ(form.cbLength->itemText(i), QString::number(i));
    for (int i = 0; i < 8; ++i) {
        QLineEdit* edit = form.DataEdits[static_cast<size_t>(i)];
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->parentWidget(), form.pData);
        EXPECT_EQ(edit->x(), 2 + 32 * i);
        EXPECT_EQ(edit->width(), 28);
        EXPECT_EQ(edit->maxLength(), 2);
    }
}

TEST(SendFrameDialog, AddModeDefaults)
{
    for (const bool standard : {true, false}) {
        TDialog dialog(standard);
        TfmSendFrame& f = dialog.Form;
        EXPECT_EQ(f.windowTitle(), QStringLiteral("Add new transmit item"));
        EXPECT_EQ(f.btSave->text(), QStringLiteral("Add"));
        EXPECT_EQ(f.edId->text(), standard ? QStringLiteral("000") : QStringLiteral("00000000"));
        EXPECT_EQ(f.edId->maxLength(), standard ? 3 : 8);
        EXPECT_EQ(f.edPeriod->text(), QStringLiteral("1000"));
        EXPECT_EQ(f.cbSendType->currentText(), QStringLiteral("Single"));
        EXPECT_TRUE(f.pPeriod->isHidden());
        EXPECT_FALSE(f.cbRequest->isChecked());
        EXPECT_TRUE(f.edCaption->text().isEmpty());
        for (QLineEdit* edit : f.DataEdits)
            EXPECT_EQ(edit->text(), QStringLiteral("00"));
        EXPECT_EQ(f.TakeNewItem(), nullptr);
    }
}

TEST(SendFrameDialog, SavesANewItemWithTheEntries)
{
    TDialog dialog(false);
    dialog.SetType(cstPeriodic);
    dialog.Form.edPeriod->setText(QStringLiteral("250"));
    dialog.Form.edId->setText(QStringLiteral("1ABCDEF0"));
    dialog.Form.cbRequest->setChecked(true);
    dialog.SetLength(4);
    for (size_t i = 0; i < 8; ++i)
        dialog.Form.DataEdits[i]->setText(QString::number(0x10 + i, 16));
    dialog.Form.edCaption->setText(QStringLiteral("  Engine; speed "));

    ASSERT_TRUE(dialog.Save());
    EXPECT_TRUE(dialog.Messages.empty());
    EXPECT_EQ(dialog.Form.result(), QDialog::Accepted);
    std::unique_ptr<TCanSendItem> item = dialog.Form.TakeNewItem();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(dialog.Form.TakeNewItem(), nullptr);
    EXPECT_EQ(item->SendType, cstPeriodic);
    EXPECT_EQ(item->Period, 250);
    EXPECT_EQ(item->Frame.Id, 0x1ABCDEF0u);
    EXPECT_TRUE(item->Frame.Request);
    EXPECT_FALSE(item->Frame.Standard);
    EXPECT_EQ(item->Frame.Length, 4);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(item->Frame.Data[i], 0x10 + i);
    EXPECT_EQ(item->Caption, "  Engine; speed ");
    EXPECT_FALSE(item->Active);
    EXPECT_EQ(item->Count, 0);
}

TEST(SendFrameDialog, PeriodRowFollowsTheTypeAndKeepsItsText)
{
    TDialog dialog(true);
    dialog.SetType(cstPeriodic);
    EXPECT_FALSE(dialog.Form.pPeriod->isHidden());
    dialog.Form.edPeriod->setText(QStringLiteral("250"));
    dialog.SetType(cstOnRequest);
    EXPECT_TRUE(dialog.Form.pPeriod->isHidden());
    dialog.SetType(cstSingle);
    EXPECT_TRUE(dialog.Form.pPeriod->isHidden());
    EXPECT_EQ(dialog.Form.edPeriod->text(), QStringLiteral("250"));
    dialog.SetType(cstPeriodic);
    EXPECT_FALSE(dialog.Form.pPeriod->isHidden());
}

TEST(SendFrameDialog, LengthEnablesTheFirstBoxesAndKeepsTheOthers)
{
    TDialog dialog(true);
    for (size_t i = 0; i < 8; ++i)
        dialog.Form.DataEdits[i]->setText(QStringLiteral("A%1").arg(i));
    dialog.SetLength(3);
    for (size_t i = 0; i < 8; ++i)
        EXPECT_EQ(dialog.Form.DataEdits[i]->isEnabled(), i < 3) << i;
    dialog.SetLength(0);
    for (QLineEdit* edit : dialog.Form.DataEdits)
        EXPECT_FALSE(edit->isEnabled());
    dialog.SetLength(8);
    for (QLineEdit* edit : dialog.Form.DataEdits)
        EXPECT_TRUE(edit->isEnabled());

    dialog.SetLength(3);
    ASSERT_TRUE(dialog.Save());
    auto item = dialog.Form.TakeNewItem();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->Frame.Length, 3);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(item->Frame.Data[i], 0xA0 + i) << "disabled boxes are stored too";
}

TEST(SendFrameDialog, IdentifierRangeFollowsTheMode)
{
    struct TCase {
        bool Standard;
        const char* Text;
        bool Accepted;
    };
    const TCase cases[] = {
        {true, "7FF", true},       {true, "800", false},       {true, "", false},  {true, "0", true},
        {false, "1FFFFFFF", true}, {false, "20000000", false}, {false, "", false}, {false, "7FF", true},
    };
    for (const TCase& c : cases) {
        TDialog dialog(c.Standard);
        // setText bypasses the typing limit, as a paste of a long text would.
        dialog.Form.edId->setMaxLength(32767);
        dialog.Form.edId->setText(QString::fromLatin1(c.Text));
        EXPECT_EQ(dialog.Save(), c.Accepted) << c.Text;
        if (c.Accepted) {
            EXPECT_TRUE(dialog.Messages.empty());
            auto item = dialog.Form.TakeNewItem();
            ASSERT_NE(item, nullptr);
            EXPECT_EQ(item->Frame.Id, QString::fromLatin1(c.Text).toUInt(nullptr, 16));
            EXPECT_EQ(item->Frame.Standard, c.Standard);
        } else {
            EXPECT_EQ(dialog.Messages, std::vector<QString>{QStringLiteral("Incorrect frame ID")}) << c.Text;
            EXPECT_EQ(dialog.Form.TakeNewItem(), nullptr);
            EXPECT_NE(dialog.Form.result(), QDialog::Accepted);
        }
    }
    // A value beyond 32 bits is malformed, not wrapped into range.
    TDialog wide(false);
    wide.Form.edId->setMaxLength(32767);
    wide.Form.edId->setText(QStringLiteral("100000005"));
    EXPECT_FALSE(wide.Save());
}

TEST(SendFrameDialog, PeriodCheckedOnlyForPeriodicAndFirst)
{
    {
        TDialog dialog(true);
        dialog.SetType(cstPeriodic);
        for (const char* text : {"0", "", "2147483648"}) {
            dialog.Form.edPeriod->setText(QString::fromLatin1(text));
            dialog.Form.edId->setText(QStringLiteral("FFF")); // also wrong, but checked later
            EXPECT_FALSE(dialog.Save());
            EXPECT_EQ(dialog.LastMessage(), QStringLiteral("Incorrect period")) << text;
        }
        EXPECT_EQ(dialog.Messages.size(), 3u) << "one message per save";
        dialog.Form.edPeriod->setText(QStringLiteral("2147483647"));
        dialog.Form.edId->setText(QStringLiteral("123"));
        ASSERT_TRUE(dialog.Save());
        EXPECT_EQ(dialog.Form.TakeNewItem()->Period, 2147483647);
    }
    {
        TDialog dialog(true);
        dialog.SetType(cstSingle);
        dialog.Form.edPeriod->setText(QStringLiteral("0"));
        ASSERT_TRUE(dialog.Save());
        auto item = dialog.Form.TakeNewItem();
        EXPECT_EQ(item->SendType, cstSingle);
        EXPECT_EQ(item->Period, 0) << "a non-Periodic item keeps period 0";
    }
    {
        // The identifier is checked before the data.
        TDialog dialog(true);
        dialog.Form.edId->setText(QString());
        dialog.Form.DataEdits[0]->setText(QString());
        EXPECT_FALSE(dialog.Save());
        EXPECT_EQ(dialog.Messages, std::vector<QString>{QStringLiteral("Incorrect frame ID")});
    }
}

TEST(SendFrameDialog, EmptiedDisabledDataBoxStillRefused)
{
    TDialog dialog(true);
    dialog.Form.DataEdits[5]->clear();
    dialog.SetLength(2);
    EXPECT_FALSE(dialog.Form.DataEdits[5]->isEnabled());
    EXPECT_FALSE(dialog.Save());
    EXPECT_EQ(dialog.Messages, std::vector<QString>{QStringLiteral("Incorrect data")});
    EXPECT_EQ(dialog.Form.TakeNewItem(), nullptr);

    dialog.Form.DataEdits[5]->setText(QStringLiteral("G1")); // pasted, not typed
    EXPECT_FALSE(dialog.Save());
    EXPECT_EQ(dialog.LastMessage(), QStringLiteral("Incorrect data"));
    dialog.Form.DataEdits[5]->setText(QStringLiteral("5"));
    EXPECT_TRUE(dialog.Save());
    EXPECT_EQ(dialog.Form.TakeNewItem()->Frame.Data[5], 5);
}

TEST(SendFrameDialog, KeyFilters)
{
    TDialog dialog(false);
    TfmSendFrame& f = dialog.Form;

    f.edId->clear();
    TypeInto(f.edId, "f");
    EXPECT_EQ(f.edId->text(), QStringLiteral("F"));
    TypeInto(f.edId, "G -x!9aB");
    EXPECT_EQ(f.edId->text(), QStringLiteral("F9AB"));
    QTest::keyClick(f.edId, Qt::Key_Backspace);
    EXPECT_EQ(f.edId->text(), QStringLiteral("F9A"));
    TypeInto(f.edId, "cdef0123");
    EXPECT_EQ(f.edId->text(), QStringLiteral("F9ACDEF0")) << "at most 8 typed digits on Extended";

    TDialog standard(true);
    standard.Form.edId->clear();
    TypeInto(standard.Form.edId, "7ffff");
    EXPECT_EQ(standard.Form.edId->text(), QStringLiteral("7FF"));

    dialog.SetLength(8);
    QLineEdit* box = f.DataEdits[7];
    box->clear();
    TypeInto(box, "zabc");
    EXPECT_EQ(box->text(), QStringLiteral("AB"));

    dialog.SetType(cstPeriodic);
    f.edPeriod->clear();
    TypeInto(f.edPeriod, "1a2 -3.F4");
    EXPECT_EQ(f.edPeriod->text(), QStringLiteral("1234"));
    QTest::keyClick(f.edPeriod, Qt::Key_Backspace);
    EXPECT_EQ(f.edPeriod->text(), QStringLiteral("123"));

    dialog.SetLength(4);
    TypeInto(f.cbLength, "7");
    EXPECT_EQ(f.cbLength->currentIndex(), 4) << "the length is picked, not typed";
}

TEST(SendFrameDialog, LastLengthCarriedToTheNextAdd)
{
    {
        TDialog dialog(true);
        dialog.SetLength(2);
        ASSERT_TRUE(dialog.Save());
    }
    EXPECT_EQ(TfmSendFrame::GetLastLength(), 2);
    TDialog next(true);
    EXPECT_EQ(next.Form.cbLength->currentIndex(), 2);

    // A refused save does not carry its length.
    next.SetLength(6);
    next.Form.edId->setText(QStringLiteral("800"));
    EXPECT_FALSE(next.Save());
    EXPECT_EQ(TfmSendFrame::GetLastLength(), 2);

    // An edit carries its length as well.
    TCanSendItem item;
    item.Frame.Length = 1;
    TDialog edit(true, 1, &item);
    edit.SetLength(5);
    ASSERT_TRUE(edit.Save());
    EXPECT_EQ(TfmSendFrame::GetLastLength(), 5);
    TfmSendFrame::SetLastLength(8);
}

TEST(SendFrameDialog, EditShowsTheItemAndChangesOnlyItsEntries)
{
    TCanSendList list;
    list.SetPersistent(false);
    auto owned = std::make_unique<TCanSendItem>();
    TCanSendItem* item = owned.get();
    item->Caption = "Brake";
    item->SendType = cstPeriodic;
    item->Period = 40;
    item->Active = true;
    item->Count = 17;
    item->LastSendTime = 1234;
    item->Tag = 0x10002;
    item->Frame.Id = 0x5;
    item->Frame.Length = 3;
    for (int i = 0; i < 8; ++i)
        item->Frame.Data[i] = static_cast<uint8_t>(0xF0 + i);
    list.Add(std::move(owned));

    TDialog dialog(true, 1, item);
    dialog.Form.List = &list;
    TfmSendFrame& f = dialog.Form;
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Edit transmit item"));
    EXPECT_EQ(f.btSave->text(), QStringLiteral("Save"));
    EXPECT_EQ(f.cbSendType->currentIndex(), cstPeriodic);
    EXPECT_FALSE(f.pPeriod->isHidden());
    EXPECT_EQ(f.edPeriod->text(), QStringLiteral("40"));
    EXPECT_EQ(f.edId->text(), QStringLiteral("005"));
    EXPECT_EQ(f.cbLength->currentIndex(), 3);
    EXPECT_EQ(f.edCaption->text(), QStringLiteral("Brake"));
    for (size_t i = 0; i < 8; ++i)
        EXPECT_EQ(f.DataEdits[i]->text(), QStringLiteral("F%1").arg(i));
    EXPECT_TRUE(f.DataEdits[2]->isEnabled());
    EXPECT_FALSE(f.DataEdits[3]->isEnabled());

    // Periodic into Single keeps the period; the counters and the flag stay.
    dialog.SetType(cstSingle);
    f.edPeriod->setText(QStringLiteral("9999"));
    f.edId->setText(QStringLiteral("7A5"));
    f.edCaption->clear();
    ASSERT_TRUE(dialog.Save());
    EXPECT_EQ(f.TakeNewItem(), nullptr);
    EXPECT_EQ(list.GetItem(0), item);
    EXPECT_EQ(item->SendType, cstSingle);
    EXPECT_EQ(item->Period, 40);
    EXPECT_EQ(item->Frame.Id, 0x7A5u);
    EXPECT_TRUE(item->Frame.Standard);
    EXPECT_TRUE(item->Caption.empty());
    EXPECT_TRUE(item->Active);
    EXPECT_EQ(item->Count, 17);
    EXPECT_EQ(item->LastSendTime, 1234u);
    EXPECT_EQ(item->Tag, 0x10002u);

    // An identifier wider than the mode is shown whole, never cut to fit.
    item->Frame.Id = 0x12345;
    TDialog wide(true, 1, item);
    EXPECT_EQ(wide.Form.edId->text(), QStringLiteral("12345"));
    EXPECT_FALSE(wide.Save());
    EXPECT_EQ(wide.LastMessage(), QStringLiteral("Incorrect frame ID"));
    EXPECT_EQ(item->Frame.Id, 0x12345u);
}

TEST(SendFrameDialog, CancelChangesNothing)
{
    {
        const int32_t lastLength = TfmSendFrame::GetLastLength();
        TDialog dialog(true);
        dialog.Form.show();
        dialog.SetLength(lastLength == 1 ? 2 : 1);
        dialog.Form.edId->setText(QStringLiteral("123"));
        QTest::mouseClick(dialog.Form.btCancel, Qt::LeftButton);
        EXPECT_EQ(dialog.Form.result(), QDialog::Rejected);
        EXPECT_FALSE(dialog.Form.isVisible());
        EXPECT_EQ(dialog.Form.TakeNewItem(), nullptr);
        EXPECT_EQ(dialog.Form.Item, nullptr);
        EXPECT_EQ(TfmSendFrame::GetLastLength(), lastLength);
    }
    TCanSendItem item;
    item.Caption = "Keep";
    item.Frame.Id = 0x100;
    item.Frame.Length = 2;
    const std::string before = item.SaveToString();
    TDialog dialog(true, 1, &item);
    dialog.Form.show();
    dialog.SetType(cstPeriodic);
    dialog.Form.edCaption->setText(QStringLiteral("Changed"));
    dialog.Form.edId->setText(QStringLiteral("200"));
    dialog.SetLength(8);
    QTest::mouseClick(dialog.Form.btCancel, Qt::LeftButton);
    EXPECT_EQ(dialog.Form.result(), QDialog::Rejected);
    EXPECT_EQ(item.SaveToString(), before);
}

TEST(SendFrameDialog, SaveButtonStores)
{
    TDialog dialog(true);
    dialog.Form.show();
    dialog.Form.edId->setText(QStringLiteral("321"));
    QTest::mouseClick(dialog.Form.btSave, Qt::LeftButton);
    EXPECT_EQ(dialog.Form.result(), QDialog::Accepted);
    auto item = dialog.Form.TakeNewItem();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->Frame.Id, 0x321u);
}

// The periodic thread sends the item while the operator saves edits to it:
// every frame it hands over must be one of the two saved versions, whole.
TEST(SendFrameDialog, EditWhileAScanSendsNeverTearsTheFrame)
{
    TCanSendList list;
    list.SetPersistent(false);
    std::atomic<long> torn{0};
    std::atomic<long> sent{0};
    list.SetOnSend([&](const TCanFrame& frame) {
        const uint8_t fill = frame.Id == 0x111 ? 0x11 : 0x22;
        const int32_t length = frame.Id == 0x111 ? 8 : 4;
        bool whole = (frame.Id == 0x111 || frame.Id == 0x222) && frame.Length == length;
        for (int i = 0; i < 8; ++i)
            whole = whole && frame.Data[i] == fill;
        if (!whole)
            ++torn;
        ++sent;
    });
    auto owned = std::make_unique<TCanSendItem>();
    TCanSendItem* item = owned.get();
    item->SendType = cstPeriodic;
    item->Period = 0;
    item->Active = true;
    item->Frame.Id = 0x111;
    item->Frame.Length = 8;
    std::fill(std::begin(item->Frame.Data), std::end(item->Frame.Data), uint8_t{0x11});
    list.Add(std::move(owned));

    std::atomic<bool> stop{false};
    std::thread scanner([&] {
        uint32_t now = 1;
        while (!stop)
            list.SendPeriodic(now++);
    });
    for (int round = 0; round < 400; ++round) {
        const bool first = round % 2 == 1;
        TDialog dialog(true, 1, item);
        dialog.Form.List = &list;
        dialog.SetType(cstPeriodic);
        dialog.Form.edPeriod->setText(QStringLiteral("1"));
        dialog.Form.edId->setText(first ? QStringLiteral("111") : QStringLiteral("222"));
        dialog.SetLength(first ? 8 : 4);
        for (QLineEdit* edit : dialog.Form.DataEdits)
            edit->setText(first ? QStringLiteral("11") : QStringLiteral("22"));
        ASSERT_TRUE(dialog.Save());
    }
    stop = true;
    scanner.join();
    EXPECT_GT(sent.load(), 0);
    EXPECT_EQ(torn.load(), 0);
}
