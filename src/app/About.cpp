#include "app/About.h"

#include <QDesktopServices>
#include <QFont>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

#include "platform/ProgramDir.h"

#if __has_include("Version.h")
#include "Version.h"
#endif

namespace {

QFont DialogFont(int pixels, bool bold = false)
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

} // namespace

std::string FormatVersionText(int major, int minor, bool known)
{
    if (!known || major < 0 || minor < 0)
        return "???";
    return std::to_string(major) + "." + std::to_string(minor);
}

std::string GetVersionText()
{
#if defined(TCM_VERSION_MAJOR) && defined(TCM_VERSION_MINOR)
    return FormatVersionText(TCM_VERSION_MAJOR + 0, TCM_VERSION_MINOR + 0, true);
#else
    return FormatVersionText(0, 0, false);
#endif
}

TfmAbout::TfmAbout(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("fmAbout"));
    setWindowTitle(QStringLiteral("About"));
    setFont(DialogFont(13));
    setFixedSize(256, 258);
    setSizeGripEnabled(false);

    OpenUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };

    Panel1 = new QLabel(QStringLiteral("TarvenixCanMonitor"), this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, 0, 256, 63);
    Panel1->setFont(DialogFont(19, true));
    Panel1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Panel1->setContentsMargins(0, 12, 0, 0);

    lbSubversion = new QLabel(Panel1);
    lbSubversion->setObjectName(QStringLiteral("lbSubversion"));
    lbSubversion->setGeometry(0, 63 - 20, 256, 20);
    lbSubversion->setFont(DialogFont(16, true));
    lbSubversion->setAlignment(Qt::AlignCenter);

    Panel2 = new QWidget(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setGeometry(8, 72, 240, 180);

    lbVersion = new QLabel(Panel2);
    lbVersion->setObjectName(QStringLiteral("lbVersion"));
    lbVersion->setGeometry(0, 0, 240, 20);
    lbVersion->setFont(DialogFont(16));
    lbVersion->setAlignment(Qt::AlignCenter);

    Label1 = new QLabel(QStringLiteral("Author: TarvenixCanMonitor team"), Panel2);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(8, 32);
    Label1->resize(232, Label1->sizeHint().height());

    Label2 = new QLabel(QStringLiteral("Contact: see the documentation"), Panel2);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->move(8, 56);
    Label2->resize(232, Label2->sizeHint().height());

    // Shown without the scheme, so that the address fits the dialog's width.
    lbSiteLink = new QLabel(QUrl(QString::fromLatin1(kSiteUrl)).toDisplayString(QUrl::RemoveScheme).mid(2), Panel2);
    lbSiteLink->setObjectName(QStringLiteral("lbSiteLink"));
    QFont linkFont = DialogFont(13);
    linkFont.setUnderline(true);
    lbSiteLink->setFont(linkFont);
    QPalette linkPalette = lbSiteLink->palette();
    linkPalette.setColor(QPalette::WindowText, Qt::blue);
    lbSiteLink->setPalette(linkPalette);
    lbSiteLink->setCursor(Qt::PointingHandCursor);
    lbSiteLink->setToolTip(QString::fromLatin1(kSiteUrl));
    lbSiteLink->move(8, 80);
    lbSiteLink->resize(232, lbSiteLink->sizeHint().height());
    lbSiteLink->installEventFilter(this);

    // Where the settings file and the transmit list are kept: beside the program
    // or in the user's configuration folder (full path in the tool tip).
    const QString filesDir = QString::fromStdString(tcm::FilesDir());
    lbFilesDir = new QLabel(Panel2);
    lbFilesDir->setObjectName(QStringLiteral("lbFilesDir"));
    lbFilesDir->setGeometry(8, 104, 232, 20);
    lbFilesDir->setText(
        lbFilesDir->fontMetrics().elidedText(QStringLiteral("Files: ") + filesDir, Qt::ElideMiddle, 232));
    lbFilesDir->setToolTip(filesDir);

    btOK = new QPushButton(QStringLiteral("OK"), Panel2);
    btOK->setObjectName(QStringLiteral("btOK"));
    btOK->setGeometry(56, 152, 121, 25);
    btOK->setDefault(true);
    connect(btOK, &QPushButton::clicked, this, &QDialog::accept);

    // FormCreate
    lbVersion->setText(QStringLiteral("Version: ") + QString::fromStdString(GetVersionText()));
    lbSubversion->setText(QStringLiteral("for Seeed adapter"));
}

void TfmAbout::lbSiteLinkClick()
{
    if (OpenUrl)
        OpenUrl(QUrl(QString::fromLatin1(kSiteUrl)));
}

bool TfmAbout::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lbSiteLink && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && lbSiteLink->rect().contains(mouse->position().toPoint())) {
            lbSiteLinkClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
