#pragma once
#include <QColor>
#include <QWidget>
#include <functional>
#include <memory>

#include "plot/PlotFeed.h"

class QLabel;
class QPushButton;
class QTimer;
class TPlotView;
class TTarvenixTraceList;

// The "Plot" page: the plotted series of the channel shown (its trace, live
// while it is open, or a recording opened into it), a pause that stops the
// scrolling while samples keep coming, and "Fit". Samples come from the trace
// on the page's own clock, whichever page is shown, so a series added later
// gets the whole capture too.
class TPlotPage : public QWidget {
    Q_OBJECT
public:
    explicit TPlotPage(QWidget* parent = nullptr);

    // The trace the samples come from (may change, may be null).
    std::function<TTarvenixTraceList*()> CurrentTrace;

    // Adds a series unless one of the same name is plotted; its samples come
    // from the whole trace.
    void Add(TPlotSource source);
    void Remove(size_t index);
    // The trace was cleared or replaced: every series starts again.
    void TraceReset();
    // Takes the frames that arrived since the last call (a budget of time per call).
    void Poll();

    // The plot as shown, as a PNG picture; the samples of the time range shown
    // as CSV (time, then one column per series). False with `error`.
    bool SavePicture(const QString& path, QString& error) const;
    bool SaveVisibleCsv(const QString& path, QString& error) const;
    // Asks for the name of a file to save (a file dialog unless replaced); empty cancels.
    std::function<QString(const QString& title, const QString& filter)> AskSaveName;
    std::function<void(const QString& text)> ShowError;
    // Called when a series is added or removed, or its colour or legend changes.
    std::function<void()> OnChanged;

    // What is plotted, for the settings file: per series its key, colour and legend.
    struct TSaved {
        std::string Key;
        QColor Colour;
        bool InLegend = true;
    };
    std::vector<TSaved> Saved() const;
    // Plots the saved series whose keys `db` resolves (raw fields always).
    void Restore(const std::vector<TSaved>& saved, const TDbcDatabase* db);

    const TPlotFeed& Feed() const { return *Series; }
    TPlotView* View() const { return pvPlot; }

private:
    void ShowMenu(int lane, QPoint at);
    void UpdateStatus();

    std::unique_ptr<TPlotFeed> Series;
    TPlotView* pvPlot = nullptr;
    QPushButton* btPause = nullptr;
    QLabel* lbPlotStatus = nullptr;
    QTimer* tmPlot = nullptr;
    TTarvenixTraceList* FedTrace = nullptr;
    int64_t Next = 0;        // the next trace entry to feed
    bool HaveOrigin = false; // the first entry's time is the axis' zero
    int64_t OriginUs = 0;
    int64_t NewestUs = 0;
    int Colours = 0; // colours handed out so far
};
