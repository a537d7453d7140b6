#include <gtest/gtest.h>

#include <vector>

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "../adapter/GuiTestSupport.h"
#include "Version.h"
#include "app/About.h"
#include "platform/ProgramDir.h"

TEST(AboutVersion, MajorDotMinor)
{
    EXPECT_EQ(FormatVersionText(1, 2, true), "1.2");
    EXPECT_EQ(FormatVersionText(10, 0, true), "10.0");
    EXPECT_EQ(FormatVersionText(0, 98, true), "0.98");
    EXPECT_EQ(FormatVersionText(1, 2, false), "???");
    EXPECT_EQ(FormatVersionText(-1, 2, true), "???");
    // The build's own version, from the project version.
    EXPECT_EQ(GetVersionText(), FormatVersionText(TCM_VERSION_MAJOR, TCM_VERSION_MINOR, true));
}

TEST(AboutBox, LayoutAndTexts)
{
    TfmAbout about;
    EXPECT_EQ(about.objectName(), QStringLiteral("fmAbout"));
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About"));
    EXPECT_EQ(about.minimumSize(), QSize(256, 258));
    EXPECT_EQ(about.maximumSize(), QSize(256, 258));

    for (const char* name : {"Panel1", "lbSubversion", "Panel2", "lbVersion", "Label1", "Label2", "lbSiteLink", "btOK"})
        EXPECT_NE(about.findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;

    EXPECT_EQ(about.Panel1->text(), QStringLiteral("TarvenixCanMonitor"));
    EXPECT_EQ(about.Panel1->geometry(), QRect(0, 0, 256, 63));
    EXPECT_EQ(about.lbSubversion->text(), QStringLiteral("for Seeed adapter"));
    EXPECT_EQ(about.lbSubversion->geometry(), QRect(0, 43, 256, 20));
    EXPECT_EQ(about.lbVersion->text(), QStringLiteral("Version: ") + QString::fromStdString(GetVersionText()));
    EXPECT_EQ(about.Panel2->geometry(), QRect(8, 72, 240, 180));
    EXPECT_EQ(about.Label1->pos(), QPoint(8, 32));
    EXPECT_EQ(about.Label2->pos(), QPoint(8, 56));
    EXPECT_EQ(about.lbSiteLink->pos(), QPoint(8, 80));
    EXPECT_EQ(about.btOK->geometry(), QRect(56, 152, 121, 25));
    EXPECT_EQ(about.btOK->text(), QStringLiteral("OK"));
    EXPECT_TRUE(about.lbSiteLink->font().underline());
    EXPECT_EQ(about.lbSiteLink->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(QString::fromLatin1(TfmAbout::kSiteUrl).endsWith(about.lbSiteLink->text()));

    // No text is cut off by its label.
    for (QLabel* label :
         {about.Panel1, about.lbSubversion, about.lbVersion, about.Label1, about.Label2, about.lbSiteLink})
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width())
            << label->objectName().toStdString();
    // The folder of the settings file and the transmit list, in full in the tool tip.
    EXPECT_EQ(about.lbFilesDir->toolTip().toStdString(), tcm::FilesDir());
    EXPECT_TRUE(about.lbFilesDir->text().startsWith(QStringLiteral("Files: ")));
    EXPECT_LE(about.lbFilesDir->geometry().bottom(), about.btOK->geometry().top());
    about.show();
    tcmtest::SaveScreenshot(about, "about");
}

TEST(AboutBox, EveryLinkClickOpensTheAddressAndOkCloses)
{
    TfmAbout about;
    std::vector<QUrl> opened;
    about.OpenUrl = [&](const QUrl& url) { opened.push_back(url); };
    about.open();
    ASSERT_TRUE(about.isVisible());

    QTest::mouseClick(about.lbSiteLink, Qt::LeftButton);
    QTest::mouseClick(about.lbSiteLink, Qt::LeftButton);
    QTest::mouseClick(about.lbSiteLink, Qt::RightButton);
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], QUrl(QString::fromLatin1(TfmAbout::kSiteUrl)));
    EXPECT_EQ(opened[1], opened[0]);
    EXPECT_EQ(opened[0].scheme(), QStringLiteral("https"));
    EXPECT_TRUE(about.isVisible());

    QTest::mouseClick(about.btOK, Qt::LeftButton);
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);
}
