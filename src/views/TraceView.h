#pragma once
#include <QAbstractScrollArea>
#include <QString>
#include <memory>

#include "views/TraceIndex.h"

class TTarvenixTraceList;

// The lines of the trace view: the entries up to Shown() - 1 of a trace, all
// of them or those that pass a filter (walked through a TTraceIndex, so the
// entries themselves are never copied). A line's text is made only when it is
// painted or copied.
class TTraceLines {
public:
    void SetTrace(TTarvenixTraceList* trace);
    // Shows the entries up to `total` - 1 (those that pass the filter) as new lines.
    void AppendUpTo(int total);
    void ClearLines();
    // Only entries that pass `filter` become lines; none (or an empty filter) shows all.
    void SetFilter(std::shared_ptr<const TTraceFilter> filter);
    bool IsFiltered() const { return Filter != nullptr; }
    int LineCount() const { return Filter ? static_cast<int>(Index.Count()) : ShownEntries; }
    // Entries looked at: the lines' source, filtered or not.
    int Shown() const { return ShownEntries; }
    // The trace entry of a line, and the first line at or after an entry.
    int EntryOf(int row) const { return Filter ? static_cast<int>(Index.EntryOf(row)) : row; }
    int RowOf(int entry) const { return Filter ? static_cast<int>(Index.RowOf(entry)) : entry; }
    const TTraceIndex* FilterIndex() const { return Filter ? &Index : nullptr; }
    QString LineText(int row) const;

private:
    TTarvenixTraceList* Trace = nullptr;
    int ShownEntries = 0;
    std::shared_ptr<const TTraceFilter> Filter;
    TTraceIndex Index;
};

// The read-only trace view: one text line per entry shown. It paints only the
// lines in sight, so a million lines cost no more than their entries. Lines
// are selected with the mouse or the keyboard (Shift extends, Ctrl+A takes
// all) and Ctrl+C copies the selected lines.
class TTraceView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TTraceView(QWidget* parent = nullptr);

    TTraceLines& Lines() { return Model; }
    // Call after the lines changed: updates the scroll range and repaints.
    void LinesChanged();
    void ScrollToBottom();
    void ScrollToTop();
    bool IsAtBottom() const;
    int FirstVisibleLine() const;

    // Selected lines: from SelectionStart() to SelectionEnd(), both included; none when -1.
    void SelectLines(int from, int to);
    int SelectionStart() const;
    int SelectionEnd() const;
    QString SelectedText() const;
    void CopySelection() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int LineHeight() const;
    int VisibleLines() const;
    int LineAt(int y) const;
    void UpdateScrollBars();
    void MoveCursor(int line, bool extend);

    TTraceLines Model;
    int Anchor = -1;
    int Cursor = -1;
};
