// The transmit item dialog: defaults, control states, the checks of a save
// and their order, the key filters, the carried length, cancelling, and an
// edit of an item that a scan is sending at the same time.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "transmit/CanSendList.h"
#include "transmit/SendFrameForm.h"

namespace {

// A shown dialog whose messages are recorded instead of shown.
struct TDialog {
    TfmSendFrame F;
    std::vector<QString> Messages;

    explicit TDialog(bool standard, TCanSendItem* edit = nullptr, TCanSendList* list = nullptr)
    {
        F.EditMode = edit != nullptr ? 1 : 0;
        F.StandardId = standard;
        F.Item = edit;
        F.List = list;
        F.ShowMessage = [this](const QString& text) { Messages.push_back(text); };
        F.show();
    }
    bool Save() { return F.StoreItem(); }
    std::vector<QString> Only(const char* text) const { return {QString::fromLatin1(text)}; }
};

} // namespace

// First test of the program: it sees the length proposed at program start.
TEST(SendFrameDialog, AddModeDefaultsAndCarriedLength)
{
    for (const bool standard : {true, false}) {
        TDialog d(standard);
        EXPECT_EQ(d.F.windowTitle(), QStringLiteral("Add new transmit item"));
        EXPECT_EQ(d.F.btSave->text(), QStringLiteral("Add"));
        EXPECT_EQ(d.F.edId->text(), standard ? QStringLiteral("000") : QStringLiteral("00000000"));
        EXPECT_EQ(d.F.edPeriod->text(), QStringLiteral("1000"));
        EXPECT_EQ(d.F.cbSendType->currentText(), QStringLiteral("Single"));
        EXPECT_EQ(d.F.cbLength->currentText(), QStringLiteral("8"));
        EXPECT_TRUE(d.F.pPeriod->isHidden());
        for (QLineEdit* box : d.F.DataEdits)
            EXPECT_EQ(box->text(), QStringLiteral("00"));
    }
    {
        TDialog d(true);
        d.F.cbLength->setCurrentIndex(2);
        ASSERT_TRUE(d.Save());
    }
    TDialog next(true);
    EXPECT_EQ(next.F.cbLength->currentIndex(), 2);
    next.F.cbLength->setCurrentIndex(6);
    next.F.edId->setText(QStringLiteral("800"));
    EXPECT_FALSE(next.Save());
    EXPECT_EQ(TfmSendFrame::GetLastLength(), 2) << "a refused save carries nothing";
}

TEST(SendFrameDialog, TypeAndLengthDriveTheControls)
{
    TDialog d(true);
    d.F.cbSendType->setCurrentIndex(cstPeriodic);
    EXPECT_FALSE(d.F.pPeriod->isHidden());
    d.F.edPeriod->setText(QStringLiteral("250"));
    d.F.cbSendType->setCurrentIndex(cstOnRequest);
    EXPECT_TRUE(d.F.pPeriod->isHidden());
    EXPECT_EQ(d.F.edPeriod->text(), QStringLiteral("250")) << "hidden, not cleared";

    for (size_t i = 0; i < 8; ++i)
        d.F.DataEdits[i]->setText(QStringLiteral("A%1").arg(i));
    d.F.cbLength->setCurrentIndex(3);
    for (size_t i = 0; i < 8; ++i)
        EXPECT_EQ(d.F.DataEdits[i]->isEnabled(), i < 3) << i;
    d.F.edCaption->setText(QStringLiteral(" a;b "));
    d.F.cbRequest->setChecked(true);
    ASSERT_TRUE(d.Save());
    EXPECT_EQ(d.F.result(), QDialog::Accepted);
    const std::unique_ptr<TCanSendItem> item = d.F.TakeNewItem();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(d.F.TakeNewItem(), nullptr);
    EXPECT_EQ(item->SendType, cstOnRequest);
    EXPECT_EQ(item->Period, 0) << "only a Periodic save sets the period";
    EXPECT_EQ(item->Frame.Length, 3);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(item->Frame.Data[i], 0xA0 + i) << "disabled boxes are stored too";
    EXPECT_TRUE(item->Frame.Request);
    EXPECT_TRUE(item->Frame.Standard);
    EXPECT_EQ(item->Caption, " a;b ");
    EXPECT_FALSE(item->Active);
}

TEST(SendFrameDialog, ChecksInOrderWithOneMessage)
{
    struct TCase {
        bool Standard;
        const char* Id;
        bool Accepted;
    };
    for (const TCase& c :
         {TCase{true, "7FF", true}, TCase{true, "800", false}, TCase{true, "", false}, TCase{false, "1FFFFFFF", true},
          TCase{false, "20000000", false}, TCase{false, "100000005", false}}) {
        TDialog d(c.Standard);
        d.F.edId->setMaxLength(32767); // as a pasted text could be
        d.F.edId->setText(QString::fromLatin1(c.Id));
        EXPECT_EQ(d.Save(), c.Accepted) << c.Id;
        if (c.Accepted)
            EXPECT_EQ(d.F.TakeNewItem()->Frame.Id, QString::fromLatin1(c.Id).toUInt(nullptr, 16));
        else
            EXPECT_EQ(d.Messages, d.Only("Incorrect frame ID")) << c.Id;
    }

    TDialog d(true);
    d.F.cbSendType->setCurrentIndex(cstPeriodic);
    d.F.edId->setText(QStringLiteral("FFF"));
    d.F.DataEdits[0]->clear();
    for (const char* period : {"0", "", "2147483648"}) {
        d.F.edPeriod->setText(QString::fromLatin1(period));
        EXPECT_FALSE(d.Save());
    }
    EXPECT_EQ(d.Messages, std::vector<QString>(3, QStringLiteral("Incorrect period")));
    d.F.edPeriod->setText(QStringLiteral("40"));
    d.Messages.clear();
    EXPECT_FALSE(d.Save());
    EXPECT_EQ(d.Messages, d.Only("Incorrect frame ID"));

    // An emptied box that is then disabled still counts.
    d.F.edId->setText(QStringLiteral("123"));
    d.F.cbLength->setCurrentIndex(0);
    d.Messages.clear();
    EXPECT_FALSE(d.Save());
    EXPECT_EQ(d.Messages, d.Only("Incorrect data"));
    EXPECT_EQ(d.F.TakeNewItem(), nullptr);
    d.F.DataEdits[0]->setText(QStringLiteral("7"));
    ASSERT_TRUE(d.Save());
    EXPECT_EQ(d.F.TakeNewItem()->Period, 40);

    // Period 0 is refused only for a Periodic item.
    TDialog single(true);
    single.F.edPeriod->setText(QStringLiteral("0"));
    EXPECT_TRUE(single.Save());
}

TEST(SendFrameDialog, KeyFilters)
{
    TDialog d(false);
    d.F.edId->clear();
    QTest::keyClicks(d.F.edId, QStringLiteral("fG -x!9aB"));
    EXPECT_EQ(d.F.edId->text(), QStringLiteral("F9AB"));
    QTest::keyClick(d.F.edId, Qt::Key_Backspace);
    QTest::keyClicks(d.F.edId, QStringLiteral("cdef0123"));
    EXPECT_EQ(d.F.edId->text(), QStringLiteral("F9ACDEF0")) << "8 digits at most on Extended";

    d.F.cbLength->setCurrentIndex(8);
    d.F.DataEdits[7]->clear();
    QTest::keyClicks(d.F.DataEdits[7], QStringLiteral("zabc"));
    EXPECT_EQ(d.F.DataEdits[7]->text(), QStringLiteral("AB"));

    d.F.edPeriod->clear();
    QTest::keyClicks(d.F.edPeriod, QStringLiteral("1a2 -3.F4"));
    QTest::keyClick(d.F.edPeriod, Qt::Key_Backspace);
    EXPECT_EQ(d.F.edPeriod->text(), QStringLiteral("123"));

    d.F.cbLength->setCurrentIndex(4);
    QTest::keyClicks(d.F.cbLength, QStringLiteral("7"));
    EXPECT_EQ(d.F.cbLength->currentIndex(), 4);

    TDialog standard(true);
    standard.F.edId->clear();
    QTest::keyClicks(standard.F.edId, QStringLiteral("7ffff"));
    EXPECT_EQ(standard.F.edId->text(), QStringLiteral("7FF"));
}

TEST(SendFrameDialog, EditChangesOnlyTheEntriesAndCancelNothing)
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
    item->Tag = 0x10002;
    item->Frame.Id = 0x5;
    item->Frame.Length = 3;
    std::fill(std::begin(item->Frame.Data), std::end(item->Frame.Data), uint8_t{0xF1});
    list.Add(std::move(owned));
    const std::string before = item->SaveToString();

    {
        TDialog cancel(true, item, &list);
        cancel.F.edCaption->setText(QStringLiteral("Changed"));
        cancel.F.cbLength->setCurrentIndex(8);
        QTest::mouseClick(cancel.F.btCancel, Qt::LeftButton);
        EXPECT_EQ(cancel.F.result(), QDialog::Rejected);
        EXPECT_EQ(item->SaveToString(), before);
    }

    TDialog d(true, item, &list);
    EXPECT_EQ(d.F.windowTitle(), QStringLiteral("Edit transmit item"));
    EXPECT_EQ(d.F.btSave->text(), QStringLiteral("Save"));
    EXPECT_EQ(d.F.edPeriod->text(), QStringLiteral("40"));
    EXPECT_EQ(d.F.edId->text(), QStringLiteral("005"));
    EXPECT_EQ(d.F.cbLength->currentIndex(), 3);
    EXPECT_EQ(d.F.DataEdits[7]->text(), QStringLiteral("F1"));
    EXPECT_EQ(d.F.edCaption->text(), QStringLiteral("Brake"));

    d.F.cbSendType->setCurrentIndex(cstSingle);
    d.F.edPeriod->setText(QStringLiteral("9999"));
    d.F.edId->setText(QStringLiteral("7A5"));
    d.F.cbLength->setCurrentIndex(5);
    QTest::mouseClick(d.F.btSave, Qt::LeftButton);
    EXPECT_EQ(d.F.result(), QDialog::Accepted);
    EXPECT_EQ(d.F.TakeNewItem(), nullptr);
    EXPECT_EQ(item->SendType, cstSingle);
    EXPECT_EQ(item->Period, 40) << "Periodic into Single keeps the period";
    EXPECT_EQ(item->Frame.Id, 0x7A5u);
    EXPECT_TRUE(item->Frame.Standard);
    EXPECT_TRUE(item->Active);
    EXPECT_EQ(item->Count, 17);
    EXPECT_EQ(item->Tag, 0x10002u);
    EXPECT_EQ(TfmSendFrame::GetLastLength(), 5);

    // A stored identifier wider than the mode is shown whole, not cut to fit.
    item->Frame.Id = 0x12345;
    TDialog wide(true, item, &list);
    EXPECT_EQ(wide.F.edId->text(), QStringLiteral("12345"));
    EXPECT_FALSE(wide.Save());
    EXPECT_EQ(item->Frame.Id, 0x12345u);
}

// The periodic scan sends the item while the operator saves edits to it:
// every frame handed over must be one of the two saved versions, whole.
TEST(SendFrameDialog, EditWhileAScanSendsNeverTearsTheFrame)
{
    TCanSendList list;
    list.SetPersistent(false);
    std::atomic<long> torn{0};
    std::atomic<long> sent{0};
    list.SetOnSend([&](const TCanFrame& frame) {
        const bool first = frame.Id == 0x111;
        bool whole = (first || frame.Id == 0x222) && frame.Length == (first ? 8 : 4);
        for (const uint8_t byte : frame.Data)
            whole = whole && byte == (first ? 0x11 : 0x22);
        torn += whole ? 0 : 1;
        ++sent;
        return true;
    });
    auto owned = std::make_unique<TCanSendItem>();
    TCanSendItem* item = owned.get();
    item->SendType = cstPeriodic;
    item->Period = 1;
    item->Active = true;
    item->Frame.Id = 0x111;
    item->Frame.Length = 8;
    std::fill(std::begin(item->Frame.Data), std::end(item->Frame.Data), uint8_t{0x11});
    list.Add(std::move(owned));

    std::atomic<bool> stop{false};
    std::thread scanner([&] {
        for (uint32_t now = 1; !stop; ++now)
            list.SendPeriodic(now);
    });
    for (int round = 0; round < 400; ++round) {
        const bool first = round % 2 == 1;
        TDialog d(true, item, &list);
        d.F.edId->setText(first ? QStringLiteral("111") : QStringLiteral("222"));
        d.F.cbLength->setCurrentIndex(first ? 8 : 4);
        for (QLineEdit* box : d.F.DataEdits)
            box->setText(first ? QStringLiteral("11") : QStringLiteral("22"));
        ASSERT_TRUE(d.Save());
    }
    stop = true;
    scanner.join();
    EXPECT_GT(sent.load(), 0);
    EXPECT_EQ(torn.load(), 0);
}
