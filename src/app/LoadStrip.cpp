#include "app/LoadStrip.h"

#include <algorithm>

#include <QDateTime>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace {

constexpr double kBusyPercent = 50.0;
constexpr double kFullPercent = 80.0;

QColor LoadColor(double percent)
{
    if (percent >= kFullPercent)
        return QColor(0xD0, 0x3B, 0x2E);
    if (percent >= kBusyPercent)
        return QColor(0xE0, 0x9A, 0x1F);
    return QColor(0x3A, 0x8F, 0x4B);
}

} // namespace

TLoadStrip::TLoadStrip(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setMinimumHeight(34);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TLoadStrip::SetProfile(const std::vector<uint64_t>& bits, int64_t slotUs, int32_t rate, int64_t startWallUs,
                            bool lastPartial)
{
    size_t count = bits.size();
    if (lastPartial && count > 0)
        --count;
    std::vector<double> percents(count);
    const double capacity = static_cast<double>(rate) * static_cast<double>(slotUs) / 1e6;
    for (size_t i = 0; i < count; ++i)
        percents[i] = capacity > 0 ? static_cast<double>(bits[i]) * 100.0 / capacity : 0.0;
    if (percents == Percents && slotUs == SlotUs && startWallUs == StartWallUs)
        return;
    Percents = std::move(percents);
    SlotUs = slotUs;
    StartWallUs = startWallUs;
    update();
}

int TLoadStrip::SlotAt(int x) const
{
    if (Percents.empty() || width() <= 0)
        return -1;
    const auto n = static_cast<int64_t>(Percents.size());
    const int64_t slot = n <= width() ? x : static_cast<int64_t>(x) * n / width();
    return slot >= 0 && slot < n ? static_cast<int>(slot) : -1;
}

QString TLoadStrip::TextAt(int x) const
{
    const int slot = SlotAt(x);
    if (slot < 0)
        return {};
    const int64_t fromUs = static_cast<int64_t>(slot) * SlotUs;
    const QString load = QString::number(Percents[static_cast<size_t>(slot)], 'f', 1) + " %";
    const QString span = SlotUs == 1000000 ? QString() : QString(" (%1 s)").arg(SlotUs / 1000000);
    if (StartWallUs != 0) {
        const QDateTime at = QDateTime::fromMSecsSinceEpoch((StartWallUs + fromUs) / 1000);
        return at.toString("yyyy-MM-dd hh:mm:ss") + span + ": " + load;
    }
    return QString("%1 s").arg(fromUs / 1000000) + span + ": " + load;
}

void TLoadStrip::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRect area = rect().adjusted(0, 0, -1, -1);
    p.fillRect(area, palette().base());
    p.setPen(palette().mid().color());
    p.drawRect(area);
    if (Percents.empty()) {
        p.setPen(palette().placeholderText().color());
        p.drawText(area, Qt::AlignCenter, "Load over time: after the first second");
        return;
    }
    const double top = std::max(100.0, *std::max_element(Percents.begin(), Percents.end()));
    const int h = area.height() - 2;
    const auto n = static_cast<int64_t>(Percents.size());
    const int w = area.width() - 1;
    // One bar per slot while they fit (at most 6 px wide), else the busiest slot per pixel column.
    const int columns = static_cast<int>(std::min<int64_t>(n, w));
    const double barWidth = n <= w ? std::min(6.0, static_cast<double>(w) / static_cast<double>(n)) : 1.0;
    for (int c = 0; c < columns; ++c) {
        const int64_t from = n <= w ? c : static_cast<int64_t>(c) * n / w;
        const int64_t to = n <= w ? c + 1 : std::max(from + 1, static_cast<int64_t>(c + 1) * n / w);
        double peak = 0;
        for (int64_t i = from; i < to && i < n; ++i)
            peak = std::max(peak, Percents[static_cast<size_t>(i)]);
        const int barHeight = std::max(peak > 0 ? 1 : 0, static_cast<int>(peak / top * h + 0.5));
        const QRectF bar(1 + c * barWidth, area.bottom() - barHeight, std::max(1.0, barWidth - (barWidth > 2 ? 1 : 0)),
                         barHeight);
        p.fillRect(bar, LoadColor(peak));
    }
    // The 100 % line when something went past it.
    if (top > 100.0) {
        const int y = area.bottom() - static_cast<int>(100.0 / top * h + 0.5);
        p.setPen(QPen(palette().text().color(), 1, Qt::DashLine));
        p.drawLine(1, y, area.right() - 1, y);
    }
}

void TLoadStrip::mouseMoveEvent(QMouseEvent* event)
{
    const QString text = TextAt(static_cast<int>(event->position().x()));
    if (text.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(event->globalPosition().toPoint(), text, this);
}
