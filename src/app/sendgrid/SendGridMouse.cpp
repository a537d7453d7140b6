#include <mutex>

#include <QTimer>

#include "app/sendgrid/SendGridPanel.h"
#include "transmit/CanSend.h"
#include "transmit/CanSendList.h"

// The mouse rules of the grid: a press on the "Active" cell toggles a Periodic
// or OnRequest item and sends a Single one (its button then shows pressed for
// a moment); a double click on an item's row edits it.

void TSendGridPanel::sgSendMouseDown(int column, int row)
{
    Clicked = -1;
    TCanSendList* list = CurrentList();
    if (list == nullptr)
        return;
    const bool send = column == kSendGridActiveColumn && IsCurrentChannelOpen();
    bool single = false;
    bool active = false;
    {
        TSendListLock guard(*list);
        if (list->Count() == 0)
            return;
        if (row <= 0 || column != kSendGridActiveColumn) {
            Clicked = row;
            return;
        }
        TCanSendItem* item = list->GetItem(ListIndexOfRow(row));
        if (item == nullptr)
            return;
        single = item->SendType == cstSingle;
        if (!single) {
            item->Active = !item->Active;
            active = item->Active;
        } else if (send) {
            item->Send(); // writes Count and LastSendTime, which the scans read
        }
    }
    if (!single) {
        list->NotifyChanged(); // the periodic sender looks again now
        SetCell(row, kSendGridActiveColumn, active ? QStringLiteral("1") : QStringLiteral("0"));
        return;
    }
    Pressed = row;
    sgSend->viewport()->repaint();
    if (!tmSendUpdate->isActive())
        tmSendUpdate->start();
}

void TSendGridPanel::sgSendDblClick()
{
    if (Clicked > 0)
        btEditClick();
}

void TSendGridPanel::tmSendUpdateTimer()
{
    tmSendUpdate->stop();
    Pressed = 0;
    sgSend->viewport()->repaint();
    if (IsCurrentChannelOpen())
        return;
    if (!Host.ShowInfo)
        return;
    if (IsMultiChannel())
        Host.ShowInfo(QStringLiteral("The channel #%1 is not opened").arg(CurrentChannel() + 1));
    else
        Host.ShowInfo(QStringLiteral("No connection with CanBus adapter"));
}
