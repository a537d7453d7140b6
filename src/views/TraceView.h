#pragma once
#include <QAbstractListModel>
#include <QListView>

class TTarvenixTraceList;

// Lines of the trace view: one row per trace entry already shown. Texts are
// formatted only when a row is painted or copied, so a million shown lines
// cost no more than the entries themselves.
class TTraceLineModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    void SetTrace(TTarvenixTraceList* trace);
    // Shows entries up to `total` - 1 as new lines in one insertion.
    void AppendUpTo(int total);
    void ClearLines();
    int LineCount() const { return Shown; }
    QString LineText(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    TTarvenixTraceList* Trace = nullptr;
    int Shown = 0;
};

// The read-only trace view: selectable lines, Ctrl+C copies the selected lines.
class TTraceView : public QListView {
    Q_OBJECT
public:
    explicit TTraceView(QWidget* parent = nullptr);

    TTraceLineModel& Lines() { return Model; }
    // The selected lines, in order, one per line.
    QString SelectedText() const;
    void CopySelection() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    TTraceLineModel Model;
};
