#include "app/sendgrid/SendGridDraw.h"

#include <QPainter>
#include <QPainterPath>

#include "app/sendgrid/SendGridPanel.h"
#include "transmit/CanSend.h"
#include "transmit/CanSendList.h"

namespace {

const QColor kSilver(192, 192, 192);
const QColor kSelected(0, 255, 255);
const QColor kOutline(0, 0, 255);
const QColor kPressed(255, 255, 0);

void DrawCellText(QPainter* painter, const QRect& cell, const QString& text, int centreX, int top)
{
    if (text.isEmpty())
        return;
    const QFontMetrics metrics(painter->font());
    const int x = centreX - metrics.horizontalAdvance(text) / 2;
    painter->setClipRect(cell, Qt::IntersectClip);
    painter->setPen(Qt::black);
    painter->drawText(QPoint(x, top + metrics.ascent()), text);
}

void DrawSendButton(QPainter* painter, const QRect& cell, bool pressed)
{
    const int left = cell.left();
    const int top = cell.top();
    const int right = left + cell.width();
    const int bottom = top + cell.height();
    // The part of the cell outside the button shows the grid's own
    // background, whatever the row's selection.
    painter->fillRect(cell, Qt::white);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(QPen(kOutline, 1));
    painter->setBrush(pressed ? kPressed : kSilver);
    // From (L + 6, T + 2) to (R - 6, B - 2), the far corner excluded, with
    // 10 x 10 corner ellipses; half-pixel offsets keep the 1-pixel outline sharp.
    const QRectF button(left + 6 + 0.5, top + 2 + 0.5, (right - 6) - (left + 6) - 1, (bottom - 2) - (top + 2) - 1);
    painter->drawRoundedRect(button, 5, 5);
    painter->restore();
    painter->save();
    DrawCellText(painter, cell, QStringLiteral("Send"), ((left + 6) + (right - 6)) / 2, top + 4);
    painter->restore();
}

} // namespace

QColor SendGridLineColor(const QWidget* widget)
{
    QStyleOptionViewItem option;
    option.initFrom(widget);
    return QColor::fromRgba(
        static_cast<QRgb>(widget->style()->styleHint(QStyle::SH_Table_GridLineColor, &option, widget)));
}

void TSendGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    Panel->sgSendDrawCell(painter, option.rect, index.column(), GridRowOfIndex(index.row()),
                          (option.state & QStyle::State_Selected) != 0);
}

void TSendGridPanel::sgSendDrawCell(QPainter* painter, const QRect& rect, int column, int row, bool selected)
{
    const int left = rect.left();
    const int top = rect.top();
    const int right = left + rect.width();
    const int bottom = top + rect.height();
    painter->save();
    painter->setFont(sgSend->font());

    QColor background = Qt::white;
    QString text;
    if (row == 0) {
        background = kSilver;
        text = CellText(0, column);
    } else {
        const TCanSendList* list = CurrentList();
        if (list == nullptr) {
            painter->restore();
            return;
        }
        // What the scans may change is read under the list's lock.
        bool any = false;
        bool single = false;
        bool active = false;
        {
            TSendListLock guard(*list);
            any = list->Count() > 0;
            if (const TCanSendItem* item = list->GetItem(ListIndexOfRow(row))) {
                single = item->SendType == cstSingle;
                active = item->Active;
            }
        }
        if (any) {
            if (selected)
                background = kSelected;
            if (column == kSendGridActiveColumn) {
                if (single) {
                    DrawSendButton(painter, rect, row == Pressed);
                } else {
                    painter->fillRect(rect, background);
                    // The check shows the item's own state, not the text of the cell.
                    const QPixmap& bitmap = active ? CheckOn : CheckOff;
                    painter->drawPixmap((left + right - BitmapWidth) / 2, (top + bottom - BitmapHeight) / 2, bitmap);
                }
                painter->restore();
                return;
            }
            text = CellText(row, column);
        }
    }
    painter->fillRect(rect, background);
    DrawCellText(painter, rect, text, (left + right) / 2, top + 1);
    painter->restore();
}
