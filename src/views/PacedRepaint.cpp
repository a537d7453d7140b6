#include "views/PacedRepaint.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace {

// One refresh of the display the widget is on; 60 Hz when the display does
// not tell a plausible rate.
int RefreshIntervalMs(const QWidget* widget)
{
    const QScreen* screen = widget->screen() ? widget->screen() : QGuiApplication::primaryScreen();
    const qreal rate = screen ? screen->refreshRate() : 0;
    return rate >= 24 && rate <= 500 ? static_cast<int>(1000 / rate) : 16;
}

} // namespace

TPacedRepaint::TPacedRepaint(QWidget* widget) : Widget(widget), Interval(RefreshIntervalMs(widget))
{
    Later.setSingleShot(true);
    Later.setTimerType(Qt::PreciseTimer);
    QObject::connect(&Later, &QTimer::timeout, Widget, [this] { Flush(); });
}

void TPacedRepaint::Schedule()
{
    if (Pending.isEmpty() || Later.isActive())
        return;
    const qint64 since = SinceRepaint.isValid() ? SinceRepaint.elapsed() : Interval;
    if (since >= Interval)
        Flush();
    else
        Later.start(static_cast<int>(Interval - since));
}

void TPacedRepaint::Flush()
{
    Later.stop();
    if (Pending.isEmpty())
        return;
    Widget->update(Pending);
    Pending = QRegion();
    SinceRepaint.restart();
}
