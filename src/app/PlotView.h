#pragma once
#include <QColor>
#include <QLineF>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "plot/PlotSeries.h"

class TPlotFeed;

// Stacked lanes of plotted series over one shared time axis in seconds, each
// lane with its own value scale fitted to what it shows. Drawn with QPainter
// from the series' min/max summary, one span per pixel column, so a view of
// hours costs what a view of a second costs. Steps for integer and enumerated
// series, lines for the rest. The wheel zooms the time axis around the mouse,
// a drag pans it, and the cursor line shows every value and the time under
// the mouse. While following, the view's right edge is the newest frame.
class TPlotView : public QWidget {
    Q_OBJECT
public:
    explicit TPlotView(const TPlotFeed& feed, QWidget* parent = nullptr);

    // Times of the first frame (the axis' zero) and of the newest one fed.
    void SetTimes(int64_t originUs, int64_t newestUs);
    // Follows the newest frame, keeping the view's width.
    void SetFollow(bool follow);
    bool Following() const { return Follow; }
    // The whole time range of the samples, and the value scales to it.
    void Fit();
    // The time range shown, in UTC microseconds.
    int64_t FromUs() const { return ViewFromUs; }
    int64_t ToUs() const { return ViewToUs; }
    void SetRange(int64_t fromUs, int64_t toUs);

    // Per series: its colour and whether the legend names it.
    struct TLook {
        QColor Colour;
        bool InLegend = true;
    };
    std::vector<TLook>& Looks() { return LookOf; }
    // The series whose lane holds `y`, -1 for none.
    int LaneAt(int y) const;
    // The cursor's time (mouse position); for tests and screenshots.
    void SetCursorX(int x);

    // How long the last paint took, for measuring.
    double LastPaintMs() const { return PaintMs; }

signals:
    void FollowChanged(bool following);
    void ContextMenuAt(int lane, QPoint globalPos);

protected:
    void paintEvent(QPaintEvent*) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent*) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QRect PlotArea() const;
    QRect LaneRect(int lane) const;
    double XOf(int64_t us) const;
    int64_t TimeAt(double x) const;
    void DrawTimeAxis(QPainter& p) const;
    void DrawLane(QPainter& p, size_t index);
    void DrawCursor(QPainter& p) const;
    QString ValueText(size_t index, double value) const;
    // The legend's text and box of a series, and the band its lane keeps
    // above the values for it (0: the legend lies over the values).
    QString LegendText(size_t index) const;
    // The longest pause between two samples of `series` that a line joins
    // (a longer one breaks a line, never a step).
    static int64_t LineGapUs(const TPlotSeries& series);
    QRect LegendBox(size_t index, const QString& text) const;
    int LegendBand(size_t index) const;

    const TPlotFeed& Feed;
    std::vector<TLook> LookOf;
    int64_t OriginUs = 0;
    int64_t NewestUs = 0;
    int64_t ViewFromUs = 0;
    int64_t ViewToUs = 10'000'000;
    bool Follow = true;
    bool Dragging = false;
    int DragX = 0;
    int64_t DragFromUs = 0;
    int CursorX = -1;
    double PaintMs = 0;
    std::vector<TPlotSpan> Columns; // reused between paints
    std::vector<QLineF> Lines;      // reused between lanes and paints: no allocation per paint
};
