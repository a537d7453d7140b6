#pragma once
#include <QString>
#include <QWidget>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class TTraceView;

// The trace's find bar: a text (or hexadecimal data bytes) looked for in the
// lines the trace view shows, filtered ones only when a filter is set. The
// search runs on a thread of its own; one that lasts longer than half a
// second shows its progress and can be cancelled, while the window keeps
// taking frames. Its matches are then kept up with new lines, so "N of M"
// stays true while the channel runs. Next and previous go round at the ends.
class TTraceFindBar : public QWidget {
    Q_OBJECT
public:
    explicit TTraceFindBar(TTraceView& view, QWidget* parent = nullptr);

    // Shows the bar with its text selected, ready to type.
    void Open();
    void Close();
    // Selects the next (or previous) match after the view's line; searches first when needed.
    void FindNext(bool forward);
    // What the count label says, e.g. "3 of 120".
    QString CountText() const;

    // Told before the view jumps to a match, so the window can stop following the newest line.
    std::function<void()> OnJump;
    // How long a search runs before its progress is shown (tests set 0).
    int ProgressDelayMs;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Runs the search for the current text over every line shown; false when
    // the text is not a query or the search was cancelled.
    bool Search();
    void QueryEdited();
    void LinesUpdated();
    void UpdateCount();

    TTraceView& View;
    QLineEdit* edFind = nullptr;
    QCheckBox* cbHex = nullptr;
    QPushButton* btPrevious = nullptr;
    QPushButton* btNext = nullptr;
    QLabel* lbCount = nullptr;
    QPushButton* btClose = nullptr;
    QTimer* SearchSoon = nullptr; // runs the search a moment after typing stops
    bool Searching = false;
    QString HelpText;
};
