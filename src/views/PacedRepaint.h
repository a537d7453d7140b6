#pragma once
#include <QElapsedTimer>
#include <QRegion>
#include <QTimer>

class QWidget;

// Repaints of cells whose values changed, at most one per refresh of the
// display: a screen shows one picture per refresh, so cells changed several
// times within one refresh need only be painted once, with their newest
// values. The first change after a quiet refresh interval is painted at once;
// later ones wait at most until one interval after the previous repaint.
//
// The collected region is in the widget's coordinates of the moment it was
// added: whoever moves the content (scrolling, inserting or removing lines,
// resizing) calls Flush() before, so that nothing is painted at a stale place.
class TPacedRepaint {
public:
    explicit TPacedRepaint(QWidget* widget);

    void Add(const QRect& cell) { Pending += cell; }
    // Repaints what was added, now or at the next refresh.
    void Schedule();
    // Repaints what was added now.
    void Flush();

private:
    QWidget* const Widget;
    QRegion Pending;
    QTimer Later; // single shot: the rest of the refresh interval
    QElapsedTimer SinceRepaint;
    int Interval;
};
