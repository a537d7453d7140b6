#pragma once
#include <QAbstractScrollArea>
#include <QString>
#include <memory>

#include "views/TraceFind.h"
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
    bool IsFiltered() const { return FilterTerms != nullptr; }
    int LineCount() const { return FilterTerms ? static_cast<int>(Index.Count()) : ShownEntries; }
    // Entries looked at: the lines' source, filtered or not.
    int Shown() const { return ShownEntries; }
    // The trace entry of a line, and the first line at or after an entry.
    int EntryOf(int row) const { return FilterTerms ? static_cast<int>(Index.EntryOf(row)) : row; }
    int RowOf(int entry) const { return FilterTerms ? static_cast<int>(Index.RowOf(entry)) : entry; }
    const TTraceIndex* FilterIndex() const { return FilterTerms ? &Index : nullptr; }
    QString LineText(int row) const;
    // "Time since the previous frame of identifier 123: 10.000 ms", or that it is the first.
    QString GapText(int row) const;

    // The find bar's matches: a search that ran elsewhere (TTraceSearch over
    // Trace(), Filter() and Generation()'s lines) is installed with SetFound and
    // kept up with the new lines. Clearing the lines, a new trace or a new
    // filter drops it (and moves Generation on): the search must run again.
    const TTarvenixTraceList* Trace() const { return TraceList; }
    std::shared_ptr<const TTraceFilter> Filter() const { return FilterTerms; }
    uint64_t Generation() const { return LinesGeneration; }
    // False when `generation` is no longer that of the lines.
    bool SetFound(std::shared_ptr<const TTraceQuery> query, TTraceIndex found, uint64_t generation);
    void ClearFound();
    bool HasFound() const { return Query != nullptr; }
    int FoundCount() const { return Query ? static_cast<int>(Found.Count()) : 0; }
    // The line of the first match after line `row` (before it when `forward`
    // is false), going round at the end; -1 when nothing matches. A `row` of
    // -1 starts before the first line (or after the last, backwards).
    int NextFound(int row, bool forward) const;
    // Which match line `row` is, counting from 1; 0 when it is none.
    int FoundNumber(int row) const;

private:
    void Dropped();

    TTarvenixTraceList* TraceList = nullptr;
    int ShownEntries = 0;
    std::shared_ptr<const TTraceFilter> FilterTerms;
    TTraceIndex Index;
    std::shared_ptr<const TTraceQuery> Query;
    TTraceIndex Found;
    uint64_t LinesGeneration = 0;
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
    // The line the keyboard is on (the last one clicked or moved to); -1 when none.
    int CursorLine() const { return Cursor; }
    // Selects line `line` alone and scrolls it into sight.
    void GoToLine(int line);

    // Selected lines: from SelectionStart() to SelectionEnd(), both included; none when -1.
    void SelectLines(int from, int to);
    int SelectionStart() const;
    int SelectionEnd() const;
    QString SelectedText() const;
    void CopySelection() const;

signals:
    // After LinesChanged(): lines came, went or were filtered.
    void LinesUpdated();
    // The keyboard's line moved or the selection changed.
    void CursorMoved();

protected:
    // A line's tool tip: the time since the previous frame of its identifier.
    bool viewportEvent(QEvent* event) override;
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
