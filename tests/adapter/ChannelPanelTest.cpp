#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <QAbstractItemView>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "GuiTestSupport.h"
#include "adapter/QtComPortSource.h"
#include "adapter/frmChannelMan.h"
#include "core/CanRateList.h"

namespace {

void FillRates(QComboBox* box)
{
    std::vector<std::string> labels;
    TCanRateList().FillStrings(labels);
    for (const std::string& label : labels)
        box->addItem(QString::fromStdString(label));
}

} // namespace

TEST(ChannelPanel, HasTheDesignedControls)
{
    TfrChannelMan panel;
    EXPECT_EQ(panel.size(), QSize(169, 124));

    auto* gbMain = panel.findChild<QGroupBox*>(QStringLiteral("gbMain"));
    auto* gbCanSettings = panel.findChild<QGroupBox*>(QStringLiteral("gbCanSettings"));
    auto* cbCanRate = panel.findChild<QComboBox*>(QStringLiteral("cbCanRate"));
    auto* cbCanMode = panel.findChild<QComboBox*>(QStringLiteral("cbCanMode"));
    auto* btPort = panel.findChild<QPushButton*>(QStringLiteral("btPort"));
    auto* label3 = panel.findChild<QLabel*>(QStringLiteral("Label3"));
    auto* label2 = panel.findChild<QLabel*>(QStringLiteral("Label2"));
    ASSERT_TRUE(gbMain && gbCanSettings && cbCanRate && cbCanMode && btPort && label3 && label2);
    EXPECT_EQ(cbCanRate, panel.cbCanRate);

    EXPECT_EQ(gbCanSettings->parentWidget(), gbMain);
    EXPECT_EQ(cbCanRate->parentWidget(), gbCanSettings);
    EXPECT_EQ(btPort->parentWidget(), gbMain);
    EXPECT_EQ(gbMain->title(), QStringLiteral("Channel #1"));
    EXPECT_EQ(gbCanSettings->title(), QStringLiteral("CAN-Settings"));
    EXPECT_EQ(label3->text(), QStringLiteral("Rate"));
    EXPECT_EQ(label2->text(), QStringLiteral("Mode"));
    EXPECT_EQ(btPort->text(), QStringLiteral("OPEN"));
    EXPECT_EQ(cbCanRate->count(), 0);
    ASSERT_EQ(cbCanMode->count(), 2);
    EXPECT_EQ(cbCanMode->itemText(0), QStringLiteral("Standard"));
    EXPECT_EQ(cbCanMode->itemText(1), QStringLiteral("Extended"));
    EXPECT_EQ(cbCanMode->currentIndex(), 0);
    EXPECT_FALSE(cbCanRate->isEditable());
    EXPECT_FALSE(cbCanMode->isEditable());
}

TEST(ChannelPanel, SizesInTheMainWindowColumn)
{
    TfrChannelMan panel;
    panel.show(); // a hidden widget gets its resize events only when shown
    panel.resize(144, 124);
    EXPECT_EQ(panel.gbMain->geometry(), QRect(0, 0, 144, 124));
    EXPECT_EQ(panel.gbCanSettings->height(), 75);
    EXPECT_EQ(panel.cbCanRate->geometry(), QRect(43, 17, 91, 21));
    EXPECT_EQ(panel.cbCanMode->geometry(), QRect(43, 45, 91, 21));
    EXPECT_EQ(panel.btPort->geometry(), QRect(20, 94, 102, 25));
    // The group of settings ends above the button.
    const QRect settings = panel.gbCanSettings->geometry();
    EXPECT_LE(settings.bottom(), panel.btPort->geometry().top());

    // A wider panel stretches the boxes and the button with it: left edges, tops,
    // heights and the margins on the right all stay.
    const QRect rate = panel.cbCanRate->geometry();
    const QRect mode = panel.cbCanMode->geometry();
    const QRect button = panel.btPort->geometry();
    panel.resize(244, 124);
    EXPECT_EQ(panel.cbCanRate->geometry(), rate.adjusted(0, 0, 100, 0));
    EXPECT_EQ(panel.cbCanMode->geometry(), mode.adjusted(0, 0, 100, 0));
    EXPECT_EQ(panel.btPort->geometry(), button.adjusted(0, 0, 100, 0));
}

TEST(ChannelPanel, ChannelIndexTravelsWithTheControls)
{
    TfrChannelMan panel;
    panel.SetChannelIndex(2);
    EXPECT_EQ(panel.ChannelIndex(), 2);
    for (const QObject* control : {static_cast<QObject*>(&panel), static_cast<QObject*>(panel.cbCanRate),
                                   static_cast<QObject*>(panel.cbCanMode), static_cast<QObject*>(panel.btPort)})
        EXPECT_EQ(TfrChannelMan::ChannelIndexOf(control), 2) << control->objectName().toStdString();
    EXPECT_EQ(TfrChannelMan::ChannelIndexOf(panel.Label3), -1);
    EXPECT_EQ(TfrChannelMan::ChannelIndexOf(nullptr), -1);

    panel.SetCompact(false);
    EXPECT_EQ(panel.gbMain->title(), QStringLiteral("Channel #3"));
    panel.SetCaption(QStringLiteral("Anything"));
    EXPECT_EQ(panel.gbMain->title(), QStringLiteral("Anything"));
}

TEST(ChannelPanel, FourPresentations)
{
    struct TCase {
        bool Compact;
        bool Opened;
        const char* Caption;
        const char* Button;
    };
    const TCase cases[] = {
        {true, false, "", "OPEN"},
        {true, true, "", "CLOSE"},
        {false, false, "Channel #2", "Open channel"},
        {false, true, "Channel #2", "Close channel"},
    };
    TfrChannelMan panel;
    panel.SetChannelIndex(1);
    for (const TCase& c : cases) {
        // Reach each state from the opposite one, as the window does.
        panel.SetCompact(!c.Compact);
        panel.SetOpened(!c.Opened);
        panel.SetCompact(c.Compact);
        panel.SetOpened(c.Opened);
        SCOPED_TRACE(c.Button);
        EXPECT_EQ(panel.Compact(), c.Compact);
        EXPECT_EQ(panel.Opened(), c.Opened);
        EXPECT_EQ(panel.gbMain->title(), QString::fromLatin1(c.Caption));
        EXPECT_EQ(panel.btPort->text(), QString::fromLatin1(c.Button));
        EXPECT_EQ(panel.cbCanRate->isEnabled(), !c.Opened);
        EXPECT_TRUE(panel.cbCanMode->isEnabled());
    }
    // SetCompact leaves the button caption to the next SetOpened.
    panel.SetCompact(true);
    EXPECT_EQ(panel.btPort->text(), QStringLiteral("Close channel"));
    panel.SetOpened(true);
    EXPECT_EQ(panel.btPort->text(), QStringLiteral("CLOSE"));
}

TEST(ChannelPanel, TypingIntoTheBoxesChangesNothing)
{
    TfrChannelMan panel;
    FillRates(panel.cbCanRate);
    panel.cbCanRate->setCurrentIndex(9); // 250 Kbit/sec
    panel.show();

    // The same keys do select entries in a plain box with these entries.
    QComboBox plain;
    FillRates(&plain);
    plain.setCurrentIndex(9);
    QTest::keyClicks(&plain, QStringLiteral("5"));
    ASSERT_NE(plain.currentIndex(), 9);

    QSignalSpy rateChanged(panel.cbCanRate, &QComboBox::currentIndexChanged);
    QSignalSpy rateActivated(panel.cbCanRate, &QComboBox::activated);
    QSignalSpy modeChanged(panel.cbCanMode, &QComboBox::currentIndexChanged);
    QTest::keyClicks(panel.cbCanRate, QStringLiteral("5 K1"));
    QTest::keyClicks(panel.cbCanMode, QStringLiteral("Ext"));
    QTest::keyClicks(panel.cbCanMode, QStringLiteral("e"));
    QTest::keyClicks(panel.cbCanRate->view(), QStringLiteral("8"));
    QTest::keyClicks(panel.cbCanMode->view(), QStringLiteral("E"));
    EXPECT_EQ(panel.cbCanRate->currentIndex(), 9);
    EXPECT_EQ(panel.cbCanMode->currentIndex(), 0);
    EXPECT_EQ(rateChanged.count(), 0);
    EXPECT_EQ(rateActivated.count(), 0);
    EXPECT_EQ(modeChanged.count(), 0);

    // Picking an entry with the arrow keys still works, as picking with the mouse does.
    QTest::keyClick(panel.cbCanMode, Qt::Key_Down);
    EXPECT_EQ(panel.cbCanMode->currentIndex(), 1);
    tcmtest::SaveScreenshot(panel, "panel_default");
}

TEST(ChannelPanel, Screenshots)
{
    // The panel in the main window's column, in the window's font.
    QWidget column;
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    column.setFont(font);
    column.resize(144, 2 * 124);
    TfrChannelMan compact(&column);
    TfrChannelMan multi(&column);
    compact.setGeometry(0, 0, 144, 124);
    multi.setGeometry(0, 124, 144, 124);
    FillRates(compact.cbCanRate);
    FillRates(multi.cbCanRate);
    compact.cbCanRate->setCurrentIndex(9);
    multi.cbCanRate->setCurrentIndex(14);
    multi.cbCanMode->setCurrentIndex(1);
    compact.SetCompact(true);
    compact.SetOpened(true);
    multi.SetChannelIndex(3);
    multi.SetCompact(false);
    multi.SetOpened(false);
    column.show();
    // Every text fits its control.
    for (TfrChannelMan* p : {&compact, &multi}) {
        EXPECT_LE(p->btPort->sizeHint().width(), p->btPort->width()) << p->btPort->text().toStdString();
        EXPECT_LE(p->Label3->sizeHint().width(), p->cbCanRate->x() - p->Label3->x());
        EXPECT_LE(p->Label2->sizeHint().width(), p->cbCanMode->x() - p->Label2->x());
        // The longest entry fits the box (a box sizes its hint to its longest entry).
        EXPECT_LE(p->cbCanRate->sizeHint().width(), p->cbCanRate->width());
        EXPECT_LE(p->cbCanMode->sizeHint().width(), p->cbCanMode->width());
    }
    tcmtest::SaveScreenshot(column, "panel_column");
}

TEST(QtComPortSource, ListsNamedPorts)
{
    // Whatever the machine has: every listed device carries a port name and a
    // friendly name (its description, or the port name).
    TQtComPortSource source;
    for (const TComPortSource::TDevice& device : source.PresentDevices()) {
        EXPECT_TRUE(device.FriendlyNameOk);
        EXPECT_TRUE(device.PortNameOk);
        EXPECT_FALSE(device.PortName.empty());
        EXPECT_FALSE(device.FriendlyName.empty());
    }
}
