#include "views/TraceView.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <algorithm>
#include <limits>

#include "core/CanText.h"
#include "views/TarvenixTrace.h"

namespace {

// The widest line a trace entry gives, for the horizontal scroll range.
const char kWidestLine[] = "OUT ts: 4294967295  id: 1FFFFFFF  l: -2147483648  data: 00 11 22 33 44 55 66 77 ";

} // namespace

void TTraceLines::SetTrace(TTarvenixTraceList* trace)
{
    TraceList = trace;
    ClearLines();
    // Lines are counted in int: the trace keeps no more than can be shown.
    if (TraceList)
        TraceList->SetLimit(std::numeric_limits<int>::max());
}

void TTraceLines::Dropped()
{
    ++LinesGeneration;
    ClearFound();
}

void TTraceLines::ClearLines()
{
    ShownEntries = 0;
    Index.Reset();
    Dropped();
}

void TTraceLines::AppendUpTo(int total)
{
    if (!TraceList || total <= ShownEntries)
        return;
    ShownEntries = total;
    if (FilterTerms)
        Index.Extend(*TraceList, *FilterTerms, total);
    if (Query)
        TTraceSearch{FilterTerms.get(), Query.get()}.Run(*TraceList, total, Found);
}

void TTraceLines::SetFilter(std::shared_ptr<const TTraceFilter> filter)
{
    FilterTerms = filter && !filter->Empty() ? std::move(filter) : nullptr;
    Index.Reset();
    Dropped();
    if (FilterTerms && TraceList)
        Index.Extend(*TraceList, *FilterTerms, ShownEntries);
}

bool TTraceLines::SetFound(std::shared_ptr<const TTraceQuery> query, TTraceIndex found, uint64_t generation)
{
    if (generation != LinesGeneration || !TraceList || found.Scanned() > ShownEntries)
        return false;
    Query = std::move(query);
    Found = std::move(found);
    // Lines that came while the search ran.
    TTraceSearch{FilterTerms.get(), Query.get()}.Run(*TraceList, ShownEntries, Found);
    return true;
}

void TTraceLines::ClearFound()
{
    Query.reset();
    Found.Reset();
}

int TTraceLines::NextFound(int row, bool forward) const
{
    const int64_t count = Found.Count();
    if (!Query || count == 0)
        return -1;
    const int64_t entry = row < 0 ? -1 : EntryOf(row);
    int64_t match;
    if (forward) {
        const int64_t before = entry < 0 ? 0 : Found.RowOf(entry + 1); // matches up to `entry`
        match = Found.EntryOf(before < count ? before : 0);
    } else {
        const int64_t before = entry < 0 ? count : Found.RowOf(entry); // matches before `entry`
        match = Found.EntryOf(before > 0 ? before - 1 : count - 1);
    }
    return RowOf(static_cast<int>(match));
}

int TTraceLines::FoundNumber(int row) const
{
    if (!Query || row < 0 || row >= LineCount())
        return 0;
    const int64_t entry = EntryOf(row);
    const int64_t before = Found.RowOf(entry);
    return Found.EntryOf(before) == entry ? static_cast<int>(before + 1) : 0;
}

QString TTraceLines::LineText(int row) const
{
    if (!TraceList || row < 0 || row >= LineCount())
        return {};
    const TTarvenixTraceItem* item = TraceList->Item(EntryOf(row));
    return item ? QString::fromStdString(item->FormatLine()) : QString();
}

QString TTraceLines::GapText(int row) const
{
    if (!TraceList || row < 0 || row >= LineCount())
        return {};
    const int64_t entry = EntryOf(row);
    const TTarvenixTraceItem* item = TraceList->Item(entry);
    if (!item)
        return {};
    const QString id = QString::fromStdString(FormatCanId(item->Id, item->Standard));
    const int64_t previous = PreviousOfSameId(*TraceList, entry);
    const TTarvenixTraceItem* before = previous >= 0 ? TraceList->Item(previous) : nullptr;
    if (!before)
        return QString("The first frame of identifier %1 in the trace").arg(id);
    // Microsecond times where both frames have them, else the millisecond ticks.
    const int64_t gapUs = item->TimeUs != 0 && before->TimeUs != 0
                              ? item->TimeUs - before->TimeUs
                              : static_cast<int64_t>(static_cast<uint32_t>(item->Time - before->Time)) * 1000;
    return QString("Time since the previous frame of identifier %1: %2 ms")
        .arg(id, QString::number(static_cast<double>(gapUs) / 1000.0, 'f', 3));
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
    emit LinesUpdated();
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
    emit CursorMoved();
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

void TTraceView::GoToLine(int line)
{
    MoveCursor(line, false);
}

bool TTraceView::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const int line = LineAt(help->pos().y());
        const QString text = line < Model.LineCount() ? Model.GapText(line) : QString();
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, viewport());
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
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
    emit CursorMoved();
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
