#pragma once
#include <functional>
#include <memory>
#include <string>

#include <QObject>
#include <QString>

#include "signals/DbcDatabase.h"

class QAction;
class QMenu;
class QPoint;
class QTabWidget;
class TListItemFrameTable;
class TListViewFrameTable;
class TSignalsPage;

// The CAN database of the window: the receive table's context menu ("Copy as
// candump", "Load database...", "Unload database"), the "Signals" page's tab, tool tips with
// a table row's signals, and the file name kept in the settings file
// ([Database] File=...) so that the database comes back at the next start.
class TDatabaseMenu : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kSection = "Database";
    static constexpr const char* kKey = "File";

    TDatabaseMenu(TListViewFrameTable* table, TSignalsPage* page, QTabWidget* pages, std::string iniFile,
                  QObject* parent = nullptr);

    // Asks for a file to load; an empty text cancels. A file dialog unless replaced.
    std::function<QString()> ChooseFile;
    std::function<void(const QString& text)> ShowError;
    std::function<void(const QString& text)> ShowInfo;
    // "Plot bytes...": a raw field of the identifier of the line the menu was opened on.
    std::function<void(uint32_t id, bool extended)> PlotBytes;

    // Loads the database of the settings file, if one is named. A file that
    // is gone is reported once (after the window has started) and stays named
    // in the settings for the next start.
    void LoadFromSettings();
    // Loads `path` and remembers it; false (with a message) when it cannot
    // be read. Lines it cannot read are shown, and the rest is used.
    bool Load(const QString& path);
    void Unload();
    // The selected table lines, or the one the menu was opened on, as "123#DEADBEEF" lines.
    void CopyAsCandump();

    const TDbcDatabase* Database() const { return Current.get(); }
    std::shared_ptr<const TDbcDatabase> Shared() const { return Current; }
    const QString& FileName() const { return Path; }
    QMenu* ContextMenu() const { return Menu; }
    // The tool tip of a table line: its message and signals, or empty.
    QString ToolTipAt(const QPoint& viewportPos) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Use(std::shared_ptr<const TDbcDatabase> database, const QString& path);
    void Remember(const QString& path);
    void Report(const std::function<void(const QString&)>& box, const QString& text) const;

    TListViewFrameTable* Table;
    TSignalsPage* Page;
    QTabWidget* Pages;
    std::string IniFile;
    std::shared_ptr<const TDbcDatabase> Current;
    QString Path;
    QMenu* Menu = nullptr;
    QAction* LoadAction = nullptr;
    QAction* UnloadAction = nullptr;
    const TListItemFrameTable* ClickedLine = nullptr;
};
