#include "app/TraceFindBar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTimer>
#include <memory>

#include "app/ProgressJob.h"
#include "views/TraceFind.h"
#include "views/TraceView.h"

namespace {

constexpr int kTypingPauseMs = 250;

QString Count(int64_t n)
{
    return QLocale().toString(static_cast<qlonglong>(n));
}

} // namespace

TTraceFindBar::TTraceFindBar(TTraceView& view, QWidget* parent)
    : QWidget(parent), ProgressDelayMs(TProgressJob::kDefaultDelayMs), View(view)
{
    setObjectName("TraceFindBar");
    setAccessibleName("Find in the trace");
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    edFind = new QLineEdit;
    edFind->setObjectName("edTraceFind");
    edFind->setAccessibleName("Find");
    edFind->setPlaceholderText("Find: text of a line, or data bytes");
    HelpText = "Enter or F3: next match; Shift+Enter or Shift+F3: previous; Esc closes";
    edFind->setToolTip(HelpText);
    edFind->setClearButtonEnabled(true);
    edFind->setMinimumWidth(edFind->fontMetrics().horizontalAdvance("DE AD BE EF") + 30);
    row->addWidget(edFind, 1);
    cbHex = new QCheckBox("Hex bytes");
    cbHex->setObjectName("cbTraceFindHex");
    cbHex->setAccessibleName("Find hexadecimal data bytes");
    cbHex->setToolTip("Looks for data bytes that follow each other in a frame, e.g. DE AD BE EF");
    row->addWidget(cbHex);
    btPrevious = new QPushButton("Previous");
    btPrevious->setObjectName("btTraceFindPrevious");
    btPrevious->setAccessibleName("Previous match");
    btPrevious->setToolTip("Previous match (Shift+F3)");
    row->addWidget(btPrevious);
    btNext = new QPushButton("Next");
    btNext->setObjectName("btTraceFindNext");
    btNext->setAccessibleName("Next match");
    btNext->setToolTip("Next match (F3)");
    row->addWidget(btNext);
    lbCount = new QLabel;
    lbCount->setObjectName("lbTraceFindCount");
    lbCount->setAccessibleName("Matches");
    lbCount->setMinimumWidth(lbCount->fontMetrics().horizontalAdvance("9,999 of 9,999"));
    row->addWidget(lbCount);
    btClose = new QPushButton("Close");
    btClose->setObjectName("btTraceFindClose");
    btClose->setAccessibleName("Close the find bar");
    btClose->setToolTip("Close the find bar (Esc)");
    row->addWidget(btClose);
    SearchSoon = new QTimer(this);
    SearchSoon->setSingleShot(true);
    SearchSoon->setInterval(kTypingPauseMs);

    connect(edFind, &QLineEdit::textChanged, this, [this] { QueryEdited(); });
    connect(cbHex, &QCheckBox::toggled, this, [this] { QueryEdited(); });
    connect(edFind, &QLineEdit::returnPressed, this, [this] { FindNext(true); });
    connect(btNext, &QPushButton::clicked, this, [this] { FindNext(true); });
    connect(btPrevious, &QPushButton::clicked, this, [this] { FindNext(false); });
    connect(btClose, &QPushButton::clicked, this, [this] { Close(); });
    connect(SearchSoon, &QTimer::timeout, this, [this] {
        if (Search())
            UpdateCount();
    });
    connect(&View, &TTraceView::LinesUpdated, this, [this] { LinesUpdated(); });
    connect(&View, &TTraceView::CursorMoved, this, [this] { UpdateCount(); });
    setVisible(false);
}

void TTraceFindBar::Open()
{
    setVisible(true);
    edFind->setFocus();
    edFind->selectAll();
    if (!View.Lines().HasFound() && !edFind->text().isEmpty())
        SearchSoon->start();
}

void TTraceFindBar::Close()
{
    SearchSoon->stop();
    View.Lines().ClearFound();
    setVisible(false);
    View.setFocus();
}

void TTraceFindBar::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        Close();
    } else if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
               (event->modifiers() & Qt::ShiftModifier)) {
        FindNext(false);
    } else {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void TTraceFindBar::QueryEdited()
{
    View.Lines().ClearFound();
    edFind->setStyleSheet(QString());
    edFind->setToolTip(HelpText);
    SearchSoon->start();
    UpdateCount();
}

void TTraceFindBar::LinesUpdated()
{
    // Cleared, another trace or a new filter: the matches are looked for again.
    if (isVisible() && !View.Lines().HasFound() && !edFind->text().isEmpty() && !Searching && !SearchSoon->isActive())
        SearchSoon->start(0);
    UpdateCount();
}

bool TTraceFindBar::Search()
{
    if (Searching)
        return false;
    SearchSoon->stop();
    TTraceLines& lines = View.Lines();
    auto query = std::make_shared<TTraceQuery>();
    std::string bad;
    if (!TTraceQuery::Parse(edFind->text().toStdString(), cbHex->isChecked(), *query, bad)) {
        edFind->setStyleSheet("QLineEdit { background: #ffd8d8; }");
        edFind->setToolTip(QString("Not data bytes: %1\n%2").arg(QString::fromStdString(bad), HelpText));
        return false;
    }
    if (query->Empty() || !lines.Trace())
        return false;

    // The job reads entries the trace never changes; the filter is shared, not
    // copied, and the lines' generation tells whether they changed meanwhile.
    const TTarvenixTraceList& trace = *lines.Trace();
    const std::shared_ptr<const TTraceFilter> filter = lines.Filter();
    const uint64_t generation = lines.Generation();
    const int64_t total = lines.Shown();
    TTraceIndex found;
    TProgressJob job(window(), total, [total](int64_t done) {
        return QString("Looking through %1 of %2 entries...").arg(Count(done), Count(total));
    });
    job.DelayMs = ProgressDelayMs;
    Searching = true;
    const bool completed = job.Run([&](TFileJobControl& control) {
        TTraceSearch{filter.get(), query.get()}.Run(trace, total, found, &control.Done, &control.Cancel);
    });
    Searching = false;
    if (!completed)
        return false;
    if (!lines.SetFound(query, std::move(found), generation)) {
        SearchSoon->start(0); // the lines changed while it ran
        return false;
    }
    return true;
}

void TTraceFindBar::FindNext(bool forward)
{
    if (!View.Lines().HasFound() && !Search()) {
        UpdateCount();
        return;
    }
    const int line = View.Lines().NextFound(View.CursorLine(), forward);
    if (line >= 0) {
        if (OnJump)
            OnJump();
        View.GoToLine(line);
    }
    UpdateCount();
}

QString TTraceFindBar::CountText() const
{
    return lbCount->text();
}

void TTraceFindBar::UpdateCount()
{
    if (!isVisible())
        return;
    const TTraceLines& lines = View.Lines();
    QString text;
    if (lines.HasFound()) {
        const int count = lines.FoundCount();
        const int number = lines.FoundNumber(View.CursorLine());
        if (count == 0)
            text = "No match";
        else if (number > 0)
            text = QString("%1 of %2").arg(Count(number), Count(count));
        else
            text = QString("%1 found").arg(Count(count));
    }
    lbCount->setText(text);
}
