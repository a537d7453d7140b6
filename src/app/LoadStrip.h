#pragma once
#include <cstdint>
#include <vector>

#include <QWidget>

// The bus load over a run as a strip of bars, one per second (or per the
// profile's slot), scaled to the busiest one or 100 %, whichever is higher;
// a long run is drawn with the busiest slot of each pixel column. The mouse
// shows the load of the second under it.
class TLoadStrip : public QWidget {
    Q_OBJECT
public:
    explicit TLoadStrip(QWidget* parent = nullptr);

    // `bits` per slot of `slotUs` from the run's start; `startWallUs` is the
    // start's wall-clock time for a recording (0: show seconds from the start);
    // `lastPartial`: the last slot is still filling and is not drawn.
    void SetProfile(const std::vector<uint64_t>& bits, int64_t slotUs, int32_t rate, int64_t startWallUs,
                    bool lastPartial);
    // Load in percent of each slot drawn.
    const std::vector<double>& Loads() const { return Percents; }
    // The tool tip text for a point of the strip.
    QString TextAt(int x) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    int SlotAt(int x) const;

    std::vector<double> Percents;
    int64_t SlotUs = 1000000;
    int64_t StartWallUs = 0;
};
