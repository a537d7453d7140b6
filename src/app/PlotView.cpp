#include "app/PlotView.h"

#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "plot/PlotFeed.h"
#include "signals/DbcDecimal.h"

namespace {

constexpr int kLeftMargin = 70;
constexpr int kBottomMargin = 22;
constexpr int kLaneGap = 6;
constexpr int64_t kMinWidthUs = 100;                        // the deepest zoom: 0.1 ms across
constexpr int64_t kMaxWidthUs = int64_t{400} * 86400000000; // the widest: 400 days

// A step of 1, 2 or 5 times a power of ten giving at most `ticks` ticks over `range`.
double NiceStep(double range, int ticks)
{
    const double raw = range / std::max(ticks, 1);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0})
        if (m * power >= raw)
            return m * power;
    return 10 * power;
}

// Decimals that tell ticks `step` apart.
int Decimals(double step)
{
    return std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 6);
}

const QColor kGrid(0xE4, 0xE7, 0xEB);
const QColor kFrame(0xC8, 0xCD, 0xD3);
const QColor kAxisText(0x55, 0x5B, 0x63);

} // namespace

TPlotView::TPlotView(const TPlotFeed& feed, QWidget* parent) : QWidget(parent), Feed(feed)
{
    setMouseTracking(true);
    setAutoFillBackground(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(320, 160);
    setFocusPolicy(Qt::StrongFocus);
}

void TPlotView::SetTimes(int64_t originUs, int64_t newestUs)
{
    OriginUs = originUs;
    NewestUs = newestUs;
    if (Follow) {
        const int64_t width = ViewToUs - ViewFromUs;
        ViewToUs = newestUs;
        ViewFromUs = newestUs - width;
    }
}

void TPlotView::SetFollow(bool follow)
{
    if (Follow == follow)
        return;
    Follow = follow;
    if (Follow)
        SetTimes(OriginUs, NewestUs);
    emit FollowChanged(Follow);
    update();
}

void TPlotView::SetRange(int64_t fromUs, int64_t toUs)
{
    const int64_t width = std::clamp(toUs - fromUs, kMinWidthUs, kMaxWidthUs);
    ViewFromUs = fromUs;
    ViewToUs = fromUs + width;
    update();
}

void TPlotView::Fit()
{
    int64_t first = INT64_MAX, last = INT64_MIN;
    for (size_t i = 0; i < Feed.Count(); ++i) {
        const TPlotSeries& s = Feed.Samples(i);
        if (s.Count() == 0)
            continue;
        first = std::min(first, s.FirstTimeUs());
        last = std::max(last, s.LastTimeUs());
    }
    if (first > last) {
        first = OriginUs;
        last = std::max(NewestUs, OriginUs);
    }
    if (Follow)
        last = std::max(last, NewestUs);
    // A little room on both sides, so the first and last samples are not on the frame.
    const int64_t room = std::max<int64_t>((last - first) / 50, 500);
    SetRange(first - room, last + room);
    if (Follow)
        SetTimes(OriginUs, NewestUs);
}

QRect TPlotView::PlotArea() const
{
    return QRect(kLeftMargin, 4, std::max(width() - kLeftMargin - 10, 10), std::max(height() - 4 - kBottomMargin, 10));
}

QRect TPlotView::LaneRect(int lane) const
{
    const QRect area = PlotArea();
    const int n = std::max<int>(static_cast<int>(Feed.Count()), 1);
    const int each = (area.height() - kLaneGap * (n - 1)) / n;
    return QRect(area.left(), area.top() + lane * (each + kLaneGap), area.width(), each);
}

int TPlotView::LaneAt(int y) const
{
    for (int i = 0; i < static_cast<int>(Feed.Count()); ++i) {
        const QRect r = LaneRect(i);
        if (y >= r.top() - kLaneGap / 2 && y <= r.bottom() + kLaneGap / 2)
            return i;
    }
    return -1;
}

double TPlotView::XOf(int64_t us) const
{
    const QRect area = PlotArea();
    return area.left() +
           static_cast<double>(us - ViewFromUs) * area.width() / static_cast<double>(ViewToUs - ViewFromUs);
}

int64_t TPlotView::TimeAt(double x) const
{
    const QRect area = PlotArea();
    return ViewFromUs +
           static_cast<int64_t>((x - area.left()) * static_cast<double>(ViewToUs - ViewFromUs) / area.width());
}

int64_t TPlotView::LineGapUs(const TPlotSeries& series)
{
    // A line stands for the values between two samples; across a pause many
    // times the series' usual interval (a multiplexed signal's other pages, a
    // quiet bus) there were none, so the line breaks there.
    const int64_t n = series.Count();
    if (n < 2)
        return INT64_MAX;
    const int64_t mean = (series.LastTimeUs() - series.FirstTimeUs()) / (n - 1);
    return std::max<int64_t>(4 * mean, 1);
}

QString TPlotView::LegendText(size_t index) const
{
    const TPlotSource& source = Feed.Source(index);
    QString name = QString::fromStdString(DbcPrintable(source.Name()));
    if (!source.Signal().Unit.empty())
        name += " [" + QString::fromStdString(DbcPrintable(source.Signal().Unit)) + "]";
    return name;
}

QRect TPlotView::LegendBox(size_t index, const QString& text) const
{
    const QRect r = LaneRect(static_cast<int>(index));
    const QFontMetrics metrics(font());
    return QRect(r.left() + 6, r.top() + 3, metrics.horizontalAdvance(text) + 26, metrics.height() + 4);
}

int TPlotView::LegendBand(size_t index) const
{
    // Lanes tall enough keep their legend above the values, so it hides none of them.
    const int band = QFontMetrics(font()).height() + 8;
    const bool shown = index < LookOf.size() && LookOf[index].InLegend;
    return shown && LaneRect(static_cast<int>(index)).height() >= 3 * band ? band : 0;
}

void TPlotView::SetCursorX(int x)
{
    CursorX = x;
    update();
}

QString TPlotView::ValueText(size_t index, double value) const
{
    const TDbcSignal& signal = Feed.Source(index).Signal();
    QString text = QString::fromStdString(DbcDoubleText(value));
    if (!signal.Unit.empty())
        text += " " + QString::fromStdString(DbcPrintable(signal.Unit));
    if (!signal.Values.empty() && signal.Factor != 0) {
        const auto raw = static_cast<int64_t>(std::llround((value - signal.Offset) / signal.Factor));
        if (const std::string* label = signal.ValueText(raw))
            text += " (" + QString::fromStdString(DbcPrintable(*label)) + ")";
    }
    return text;
}

void TPlotView::paintEvent(QPaintEvent*)
{
    QElapsedTimer timer;
    timer.start();
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    if (Feed.Count() == 0) {
        p.setPen(kAxisText);
        p.drawText(rect().adjusted(20, 0, -20, 0), Qt::AlignCenter | Qt::TextWordWrap,
                   "Nothing is plotted yet. Choose \"Plot\" on signals of the Signals page, or \"Plot bytes...\" "
                   "on the receive table's menu.");
        PaintMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        return;
    }
    while (LookOf.size() < Feed.Count())
        LookOf.push_back({});
    DrawTimeAxis(p);
    for (size_t i = 0; i < Feed.Count(); ++i)
        DrawLane(p, i);
    DrawCursor(p);
    PaintMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

void TPlotView::DrawTimeAxis(QPainter& p) const
{
    const QRect area = PlotArea();
    const double seconds = static_cast<double>(ViewToUs - ViewFromUs) / 1e6;
    const double step = NiceStep(seconds, std::max(area.width() / 90, 2));
    const double from = static_cast<double>(ViewFromUs - OriginUs) / 1e6;
    const int decimals = Decimals(step);
    p.setFont(font());
    for (double t = std::ceil(from / step) * step; t <= from + seconds; t += step) {
        const double x = area.left() + (t - from) / seconds * area.width();
        p.setPen(kGrid);
        p.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
        p.setPen(kAxisText);
        const QString label = QString::number(std::abs(t) < step / 2 ? 0.0 : t, 'f', decimals);
        // Labels at the ends stay inside the plot's width, clear of the axis caption.
        const int half = QFontMetrics(font()).horizontalAdvance(label) / 2 + 2;
        const double centre =
            std::clamp(x, static_cast<double>(area.left() + half), static_cast<double>(area.right() - half));
        p.drawText(QRectF(centre - 60, area.bottom() + 3, 120, kBottomMargin - 3), Qt::AlignHCenter | Qt::AlignTop,
                   label);
    }
    p.setPen(kAxisText);
    p.drawText(QRect(0, area.bottom() + 3, kLeftMargin - 8, kBottomMargin - 3), Qt::AlignRight | Qt::AlignTop,
               "time (s)");
}

void TPlotView::DrawLane(QPainter& p, size_t index)
{
    const QRect r = LaneRect(static_cast<int>(index));
    const TPlotSeries& series = Feed.Samples(index);
    const TPlotSource& source = Feed.Source(index);
    const bool steps = source.Steps();
    const QColor colour = LookOf[index].Colour.isValid() ? LookOf[index].Colour : QColor(Qt::darkBlue);
    p.setPen(kFrame);
    p.drawRect(r.adjusted(0, 0, -1, -1));

    // The samples in view, the one before it (where the line comes from) and the one after it.
    const int64_t first = series.LowerBound(ViewFromUs);
    const int64_t end = series.LowerBound(ViewToUs);
    const int64_t before = first - 1;
    const bool raw = end - first <= 2 * static_cast<int64_t>(r.width());
    double lo = INFINITY, hi = -INFINITY;
    if (raw) {
        for (int64_t i = std::max<int64_t>(before, 0); i < std::min(end + 1, series.Count()); ++i) {
            lo = std::min(lo, series.Sample(i).Value);
            hi = std::max(hi, series.Sample(i).Value);
        }
    } else {
        series.Columns(ViewFromUs, ViewToUs, r.width(), Columns);
        for (const TPlotSpan& c : Columns) {
            if (c.Count > 0) {
                lo = std::min(lo, c.Min);
                hi = std::max(hi, c.Max);
            }
        }
        if (before >= 0) {
            lo = std::min(lo, series.Sample(before).Value);
            hi = std::max(hi, series.Sample(before).Value);
        }
    }
    const bool any = lo <= hi && std::isfinite(lo) && std::isfinite(hi);
    if (!any) {
        lo = 0;
        hi = 1;
    } else if (hi - lo < 1e-12 * std::max(1.0, std::abs(hi))) {
        const double pad = steps ? 1.0 : std::max(std::abs(hi) * 0.05, 0.5);
        lo -= pad;
        hi += pad;
    } else {
        const double pad = (hi - lo) * 0.08;
        lo -= pad;
        hi += pad;
    }
    const int band = LegendBand(index);
    const double top = r.top() + band + 2, height = r.height() - band - 4;
    auto yOf = [&](double v) { return top + (hi - std::clamp(v, lo, hi)) / (hi - lo) * height; };

    // The value scale: a few round numbers at the left, with faint lines across.
    // Whole numbers on the scale of a signal whose values are whole numbers.
    const int ticks = std::max(static_cast<int>(height) / 20, 3);
    double step = std::max(NiceStep(hi - lo, ticks), steps ? 1.0 : 0.0);
    if (std::floor(hi / step) - std::ceil(lo / step) < 1) // one label tells no scale: a finer step
        step = std::max(NiceStep(hi - lo, 2 * ticks), steps ? 1.0 : 0.0);
    const int decimals = Decimals(step);
    for (double v = std::ceil(lo / step) * step; v <= hi; v += step) {
        const double y = yOf(v);
        p.setPen(kGrid);
        p.drawLine(QPointF(r.left() + 1, y), QPointF(r.right() - 1, y));
        p.setPen(kAxisText);
        p.drawText(QRectF(0, y - 8, kLeftMargin - 6, 16), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(std::abs(v) < step / 2 ? 0.0 : v, 'f', decimals));
    }

    p.save();
    p.setClipRect(r.adjusted(1, 1, -1, -1));
    // A thin pen where one column holds many samples: wide pens take the slow stroking path.
    QPen pen(colour, raw ? 1.6 : 1.0);
    p.setPen(pen);
    std::vector<QLineF>& lines = Lines;
    lines.clear();
    if (raw) {
        p.setRenderHint(QPainter::Antialiasing, !steps);
        const int64_t from = std::max<int64_t>(before, 0), to = std::min(end + 1, series.Count());
        const int64_t gap = LineGapUs(series);
        QPointF last;
        int64_t lastUs = 0;
        for (int64_t i = from; i < to; ++i) {
            const TPlotSample s = series.Sample(i);
            const QPointF point(XOf(s.TimeUs), yOf(s.Value));
            if (i > from) {
                if (steps) {
                    lines.emplace_back(last, QPointF(point.x(), last.y()));
                    lines.emplace_back(QPointF(point.x(), last.y()), point);
                } else if (s.TimeUs - lastUs <= gap) {
                    lines.emplace_back(last, point);
                }
            }
            last = point;
            lastUs = s.TimeUs;
        }
        // The last value holds until the newest frame.
        if (to == series.Count() && to > from && steps)
            lines.emplace_back(last, QPointF(std::min(XOf(NewestUs), static_cast<double>(r.right())), last.y()));
        p.drawLines(lines.data(), static_cast<int>(lines.size()));
        // Few enough samples to tell apart: each gets a dot.
        if (to - from < r.width() / 8) {
            p.setBrush(colour);
            p.setPen(Qt::NoPen);
            for (int64_t i = from; i < to; ++i)
                p.drawEllipse(QPointF(XOf(series.Sample(i).TimeUs), yOf(series.Sample(i).Value)), 2.2, 2.2);
        }
    } else {
        // One span per pixel column: a bar from its lowest to its highest value,
        // joined to the column before by a step or a line.
        p.setRenderHint(QPainter::Antialiasing, false);
        bool have = before >= 0;
        double lastX = r.left(), lastY = have ? yOf(series.Sample(before).Value) : 0;
        int64_t lastUs = have ? series.Sample(before).TimeUs : 0;
        const int64_t gap = LineGapUs(series);
        for (size_t c = 0; c < Columns.size(); ++c) {
            const TPlotSpan& span = Columns[c];
            if (span.Count == 0)
                continue;
            const double x = r.left() + static_cast<double>(c) + 0.5;
            if (have) {
                if (steps) {
                    lines.emplace_back(QPointF(lastX, lastY), QPointF(x, lastY));
                    lines.emplace_back(QPointF(x, lastY), QPointF(x, yOf(span.First)));
                } else if (span.FirstUs - lastUs <= gap) {
                    lines.emplace_back(QPointF(lastX, lastY), QPointF(x, yOf(span.First)));
                }
            }
            lines.emplace_back(QPointF(x, yOf(span.Max)), QPointF(x, yOf(span.Min)));
            have = true;
            lastX = x;
            lastY = yOf(span.Last);
            lastUs = span.LastUs;
        }
        if (have && steps)
            lines.emplace_back(QPointF(lastX, lastY),
                               QPointF(std::min(XOf(NewestUs), static_cast<double>(r.right())), lastY));
        p.drawLines(lines.data(), static_cast<int>(lines.size()));
    }
    p.restore();

    // The legend: the series' colour and name, with its unit.
    if (LookOf[index].InLegend) {
        QString name = LegendText(index);
        if (!any)
            name += "   (no samples here)";
        const QRect box = LegendBox(index, name);
        p.fillRect(box, QColor(255, 255, 255, 215));
        p.fillRect(QRect(box.left() + 5, box.center().y() - 2, 12, 4), colour);
        p.setPen(QColor(0x22, 0x26, 0x2B));
        p.drawText(box.adjusted(21, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, name);
    }
}

void TPlotView::DrawCursor(QPainter& p) const
{
    const QRect area = PlotArea();
    if (CursorX < area.left() || CursorX > area.right())
        return;
    const int64_t at = TimeAt(CursorX);
    p.setPen(QPen(QColor(0x33, 0x33, 0x33), 1, Qt::DashLine));
    p.drawLine(CursorX, area.top(), CursorX, area.bottom());
    const QFontMetrics metrics(font());
    const double seconds = static_cast<double>(ViewToUs - ViewFromUs) / 1e6;
    const int decimals = std::clamp(Decimals(seconds / area.width()), 3, 6);
    const QString time = QString::number(static_cast<double>(at - OriginUs) / 1e6, 'f', decimals) + " s";
    const int timeWidth = metrics.horizontalAdvance(time) + 10;
    const QRect timeBox(std::clamp(CursorX - timeWidth / 2, 0, width() - timeWidth), area.bottom() + 2, timeWidth,
                        kBottomMargin - 3);
    p.fillRect(timeBox, QColor(0x33, 0x33, 0x33));
    p.setPen(Qt::white);
    p.drawText(timeBox, Qt::AlignCenter, time);
    for (size_t i = 0; i < Feed.Count(); ++i) {
        const TPlotSeries& series = Feed.Samples(i);
        const int64_t sample = series.AtOrBefore(at);
        QString value = sample < 0 ? QString("no value yet") : ValueText(i, series.Sample(sample).Value);
        if (sample >= 0 && !Feed.Source(i).Steps()) {
            // Where the line breaks (a multiplexed signal's other pages) there is no value.
            if (at - series.Sample(sample).TimeUs > LineGapUs(series))
                value = "no value here";
        }
        const QString text = QString::fromStdString(DbcPrintable(Feed.Source(i).Signal().Name)) + " = " + value;
        const QRect r = LaneRect(static_cast<int>(i));
        const int w = metrics.horizontalAdvance(text) + 12;
        const int x = CursorX + 8 + w <= r.right() ? CursorX + 8 : CursorX - 8 - w;
        // Beside the cursor in the legend's band, or at the lane's foot where
        // the legend (or a lane without a band) leaves no room.
        QRect box(x, r.top() + 3, w, metrics.height() + 4);
        const bool inLegend = LookOf.size() > i && LookOf[i].InLegend;
        if (LegendBand(i) == 0 || (inLegend && box.intersects(LegendBox(i, LegendText(i)).adjusted(-4, 0, 4, 0))))
            box.moveTop(r.bottom() - metrics.height() - 8);
        const QColor colour = LookOf.size() > i && LookOf[i].Colour.isValid() ? LookOf[i].Colour : QColor(Qt::darkBlue);
        p.fillRect(box, QColor(255, 255, 255, 230));
        p.setPen(colour);
        p.drawRect(box.adjusted(0, 0, -1, -1));
        p.setPen(QColor(0x22, 0x26, 0x2B));
        p.drawText(box, Qt::AlignCenter, text);
    }
}

void TPlotView::wheelEvent(QWheelEvent* event)
{
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0)
        return;
    const double factor = std::pow(0.8, notches); // up: closer
    const int64_t width = ViewToUs - ViewFromUs;
    const int64_t newWidth =
        std::clamp(static_cast<int64_t>(static_cast<double>(width) * factor), kMinWidthUs, kMaxWidthUs);
    if (Follow) {
        ViewFromUs = ViewToUs - newWidth; // the right edge stays on the newest frame
    } else {
        const int64_t at = TimeAt(event->position().x());
        const double share = static_cast<double>(at - ViewFromUs) / static_cast<double>(width);
        ViewFromUs = at - static_cast<int64_t>(share * static_cast<double>(newWidth));
        ViewToUs = ViewFromUs + newWidth;
    }
    update();
    event->accept();
}

void TPlotView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    Dragging = true;
    DragX = static_cast<int>(event->position().x());
    DragFromUs = ViewFromUs;
    setCursor(Qt::ClosedHandCursor);
}

void TPlotView::mouseMoveEvent(QMouseEvent* event)
{
    CursorX = static_cast<int>(event->position().x());
    if (Dragging) {
        const int dx = CursorX - DragX;
        if (dx != 0 && Follow)
            SetFollow(false);
        const int64_t width = ViewToUs - ViewFromUs;
        ViewFromUs = DragFromUs -
                     static_cast<int64_t>(static_cast<double>(dx) * static_cast<double>(width) / PlotArea().width());
        ViewToUs = ViewFromUs + width;
    }
    update();
}

void TPlotView::mouseReleaseEvent(QMouseEvent*)
{
    Dragging = false;
    unsetCursor();
}

void TPlotView::leaveEvent(QEvent*)
{
    CursorX = -1;
    update();
}

void TPlotView::contextMenuEvent(QContextMenuEvent* event)
{
    emit ContextMenuAt(LaneAt(event->pos().y()), event->globalPos());
}
