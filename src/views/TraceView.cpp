#include "views/TraceView.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <limits>

#include "views/TarvenixTrace.h"

namespace {

// The widest line a trace entry gives, for the horizontal scroll range.
const char kWidestLine[] = "OUT ts: 4294967295  id: 1FFFFFFF  l: -2147483648  data: 00 11 22 33 44 55 66 77 ";

} // namespace

void TTraceLines::SetTrace(TTarvenixTraceList* trace)
{
    Trace = trace;
    ClearLines();
    // Lines are counted in int: the trace keeps no more than can be shown.
    if (Trace)
        Trace->SetLimit(std::numeric_limits<int>::max());
}

void TTraceLines::ClearLines()
{
    ShownEntries = 0;
    Index.Reset();
}

void TTraceLines::AppendUpTo(int total)
{
    if (!Trace || total <= ShownEntries)
        return;
    ShownEntries = total;
    if (Filter)
        Index.Extend(*Trace, *Filter, total);
}

void TTraceLines::SetFilter(std::shared_ptr<const TTraceFilter> filter)
{
    Filter = filter && !filter->Empty() ? std::move(filter) : nullptr;
    Index.Reset();
    if (Filter && Trace)
        Index.Extend(*Trace, *Filter, ShownEntries);
}

QString TTraceLines::LineText(int row) const
{
    if (!Trace || row < 0 || row >= LineCount())
        return {};
    const TTarvenixTraceItem* item = Trace->Item(EntryOf(row));
    return item ? QString::fromStdString(item->FormatLine()) : QString();
}

TTraceView::TTraceView(QWidget* parent) : QAbstractScrollArea(parent)
{
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setAutoFillBackground(true);
    viewport()->setBackgroundRole(QPalette::Base);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, viewport(), qOverload<>(&QWidget::update));
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, viewport(), qOverload<>(&QWidget::update));
    UpdateScrollBars();
}

int TTraceView::LineHeight() const
{
    return std::max(1, fontMetrics().height());
}

int TTraceView::VisibleLines() const
{
    return std::max(1, viewport()->height() / LineHeight());
}

int TTraceView::FirstVisibleLine() const
{
    return verticalScrollBar()->value();
}

int TTraceView::LineAt(int y) const
{
    return FirstVisibleLine() + std::max(0, y) / LineHeight();
}

void TTraceView::UpdateScrollBars()
{
    // The vertical range counts lines, so it never depends on pixel sizes.
    QScrollBar* v = verticalScrollBar();
    v->setPageStep(VisibleLines());
    v->setSingleStep(1);
    v->setRange(0, std::max(0, Model.LineCount() - VisibleLines()));
    QScrollBar* h = horizontalScrollBar();
    const int width = fontMetrics().horizontalAdvance(QString::fromLatin1(kWidestLine)) + 8;
    h->setPageStep(viewport()->width());
    h->setRange(0, std::max(0, width - viewport()->width()));
}

void TTraceView::LinesChanged()
{
    const int count = Model.LineCount();
    if (Cursor >= count || Anchor >= count)
        Anchor = Cursor = -1;
    UpdateScrollBars();
    viewport()->update();
}

void TTraceView::ScrollToBottom()
{
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TTraceView::ScrollToTop()
{
    verticalScrollBar()->setValue(0);
}

bool TTraceView::IsAtBottom() const
{
    return verticalScrollBar()->value() == verticalScrollBar()->maximum();
}

void TTraceView::SelectLines(int from, int to)
{
    const int last = Model.LineCount() - 1;
    if (last < 0 || from < 0) {
        Anchor = Cursor = -1;
    } else {
        Anchor = std::min(from, last);
        Cursor = std::clamp(to, 0, last);
    }
    viewport()->update();
}

int TTraceView::SelectionStart() const
{
    return Anchor < 0 ? -1 : std::min(Anchor, Cursor);
}

int TTraceView::SelectionEnd() const
{
    return Anchor < 0 ? -1 : std::max(Anchor, Cursor);
}

QString TTraceView::SelectedText() const
{
    if (Anchor < 0)
        return {};
    QStringList lines;
    for (int row = SelectionStart(); row <= SelectionEnd(); ++row)
        lines.append(Model.LineText(row));
    return lines.join('\n');
}

void TTraceView::CopySelection() const
{
    QApplication::clipboard()->setText(SelectedText());
}

void TTraceView::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    const int height = LineHeight();
    const int first = FirstVisibleLine();
    const int last = std::min(Model.LineCount() - 1, first + viewport()->height() / height);
    const int x = 4 - horizontalScrollBar()->value();
    const int selFirst = SelectionStart();
    const int selLast = SelectionEnd();
    const QPalette& pal = palette();
    for (int row = first; row <= last; ++row) {
        const QRect line(0, (row - first) * height, viewport()->width(), height);
        const bool selected = row >= selFirst && row <= selLast && selFirst >= 0;
        if (selected)
            painter.fillRect(line, pal.brush(QPalette::Highlight));
        painter.setPen(pal.color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter.drawText(QRect(x, line.top(), line.width() - x + 4096, height), Qt::AlignLeft | Qt::AlignVCenter,
                         Model.LineText(row));
    }
}

void TTraceView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    const bool bottom = IsAtBottom();
    UpdateScrollBars();
    if (bottom)
        ScrollToBottom();
}

void TTraceView::MoveCursor(int line, bool extend)
{
    const int count = Model.LineCount();
    if (count == 0)
        return;
    line = std::clamp(line, 0, count - 1);
    if (!extend || Anchor < 0)
        Anchor = line;
    Cursor = line;
    // Keep the cursor line in sight.
    QScrollBar* v = verticalScrollBar();
    if (line < v->value())
        v->setValue(line);
    else if (line >= v->value() + VisibleLines())
        v->setValue(line - VisibleLines() + 1);
    viewport()->update();
}

void TTraceView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        const int line = LineAt(static_cast<int>(event->position().y()));
        if (line < Model.LineCount())
            MoveCursor(line, (event->modifiers() & Qt::ShiftModifier) != 0);
    }
    QAbstractScrollArea::mousePressEvent(event);
}

void TTraceView::mouseMoveEvent(QMouseEvent* event)
{
    if ((event->buttons() & Qt::LeftButton) && Anchor >= 0)
        MoveCursor(LineAt(static_cast<int>(event->position().y())), true);
}

void TTraceView::keyPressEvent(QKeyEvent* event)
{
    const bool shift = (event->modifiers() & Qt::ShiftModifier) != 0;
    const int cursor = Cursor < 0 ? FirstVisibleLine() : Cursor;
    if (event->matches(QKeySequence::Copy)) {
        CopySelection();
    } else if (event->matches(QKeySequence::SelectAll)) {
        SelectLines(0, Model.LineCount() - 1);
    } else if (event->key() == Qt::Key_Up) {
        MoveCursor(cursor - 1, shift);
    } else if (event->key() == Qt::Key_Down) {
        MoveCursor(cursor + 1, shift);
    } else if (event->key() == Qt::Key_PageUp) {
        MoveCursor(cursor - VisibleLines(), shift);
    } else if (event->key() == Qt::Key_PageDown) {
        MoveCursor(cursor + VisibleLines(), shift);
    } else if (event->key() == Qt::Key_Home && (event->modifiers() & Qt::ControlModifier)) {
        MoveCursor(0, shift);
    } else if (event->key() == Qt::Key_End && (event->modifiers() & Qt::ControlModifier)) {
        MoveCursor(Model.LineCount() - 1, shift);
    } else {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}
