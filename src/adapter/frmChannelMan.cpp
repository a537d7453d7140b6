#include "adapter/frmChannelMan.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QFont>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

namespace {

// Geometry, in pixels, for the panel as the main window shows it (144 wide);
// the boxes and the button keep their right margins when the panel is wider
// or narrower.
constexpr int kMainWidth = 144;
constexpr int kSettingsTop = 15; // gbCanSettings under gbMain's caption
constexpr int kSettingsHeight = 75;
constexpr int kBorder = 2; // gbMain frame
constexpr int kBoxLeft = 43;
constexpr int kBoxWidth = 91; // at kMainWidth
constexpr int kBoxHeight = 21;
constexpr int kButtonLeft = 20;
constexpr int kButtonTop = 94;
constexpr int kButtonWidth = 102; // at kMainWidth
constexpr int kButtonHeight = 25;

// Keys that produce text: the boxes would jump to a matching entry.
bool IsTypingKey(const QKeyEvent* key)
{
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const QString text = key->text();
    return !text.isEmpty() && text.at(0).isPrint();
}

} // namespace

TfrChannelMan::TfrChannelMan(QWidget* parent) : QWidget(parent)
{
    gbMain = new QGroupBox(QStringLiteral("Channel #1"), this);
    gbMain->setObjectName(QStringLiteral("gbMain"));

    gbCanSettings = new QGroupBox(QStringLiteral("CAN-Settings"), gbMain);
    gbCanSettings->setObjectName(QStringLiteral("gbCanSettings"));

    Label3 = new QLabel(QStringLiteral("Rate"), gbCanSettings);
    Label3->setObjectName(QStringLiteral("Label3"));
    cbCanRate = new QComboBox(gbCanSettings);
    cbCanRate->setObjectName(QStringLiteral("cbCanRate"));
    cbCanRate->setEditable(false);

    Label2 = new QLabel(QStringLiteral("Mode"), gbCanSettings);
    Label2->setObjectName(QStringLiteral("Label2"));
    cbCanMode = new QComboBox(gbCanSettings);
    cbCanMode->setObjectName(QStringLiteral("cbCanMode"));
    cbCanMode->setEditable(false);
    cbCanMode->addItem(QStringLiteral("Standard"));
    cbCanMode->addItem(QStringLiteral("Extended"));
    cbCanMode->setCurrentIndex(0);

    btPort = new QPushButton(QStringLiteral("OPEN"), gbMain);
    btPort->setObjectName(QStringLiteral("btPort"));

    // Slightly condensed, so that the longest rate label fits the 91 pixels
    // the box has in the main window's column; family and size still come
    // from the window's font.
    QFont condensed;
    condensed.setStretch(QFont::SemiCondensed);
    for (QComboBox* box : {cbCanRate, cbCanMode}) {
        box->setFont(condensed);
        box->installEventFilter(this);
        box->view()->installEventFilter(this);
    }

    // Stacked in a column, a panel keeps its height and takes the column's width.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    resize(kDesignWidth, kDesignHeight);
    SetChannelIndex(0);
    PlaceControls();
}

void TfrChannelMan::SetChannelIndex(int32_t index)
{
    Index = index;
    const QVariant tag(static_cast<int>(index));
    setProperty(kTagProperty, tag);
    cbCanMode->setProperty(kTagProperty, tag);
    cbCanRate->setProperty(kTagProperty, tag);
    btPort->setProperty(kTagProperty, tag);
}

void TfrChannelMan::SetCaption(const QString& text)
{
    gbMain->setTitle(text);
}

void TfrChannelMan::SetCompact(bool value)
{
    IsCompact = value;
    SetCaption(value ? QString() : QStringLiteral("Channel #%1").arg(static_cast<qint64>(Index) + 1));
}

void TfrChannelMan::SetOpened(bool value)
{
    IsOpened = value;
    if (IsCompact)
        btPort->setText(value ? QStringLiteral("CLOSE") : QStringLiteral("OPEN"));
    else
        btPort->setText(value ? QStringLiteral("Close channel") : QStringLiteral("Open channel"));
    cbCanRate->setEnabled(!value);
}

int32_t TfrChannelMan::ChannelIndexOf(const QObject* control)
{
    if (!control)
        return -1;
    const QVariant tag = control->property(kTagProperty);
    bool ok = false;
    const int value = tag.toInt(&ok);
    return tag.isValid() && ok ? value : -1;
}

void TfrChannelMan::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    PlaceControls();
}

void TfrChannelMan::PlaceControls()
{
    const int w = width();
    gbMain->setGeometry(0, 0, w, height());
    const int settingsWidth = std::max(0, w - 2 * kBorder);
    gbCanSettings->setGeometry(kBorder, kSettingsTop, settingsWidth, kSettingsHeight);

    // The boxes keep the right margin they have at the main window's width.
    const int boxRightMargin = (kMainWidth - 2 * kBorder) - (kBoxLeft + kBoxWidth);
    const int boxWidth = std::max(0, settingsWidth - kBoxLeft - boxRightMargin);
    Label3->setGeometry(7, 21, kBoxLeft - 7, Label3->sizeHint().height());
    cbCanRate->setGeometry(kBoxLeft, 17, boxWidth, kBoxHeight);
    Label2->setGeometry(6, 48, kBoxLeft - 6, Label2->sizeHint().height());
    cbCanMode->setGeometry(kBoxLeft, 45, boxWidth, kBoxHeight);

    const int buttonRightMargin = kMainWidth - (kButtonLeft + kButtonWidth);
    btPort->setGeometry(kButtonLeft, kButtonTop, std::max(0, w - kButtonLeft - buttonRightMargin), kButtonHeight);
}

bool TfrChannelMan::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        const bool ours = watched == cbCanRate || watched == cbCanMode || watched == cbCanRate->view() ||
                          watched == cbCanMode->view();
        if (ours && IsTypingKey(static_cast<QKeyEvent*>(event)))
            return true; // discarded: the boxes change only by picking an entry
    }
    return QWidget::eventFilter(watched, event);
}
