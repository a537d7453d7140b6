#include "app/DatabaseMenu.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QHelpEvent>
#include <QMenu>
#include <QTabWidget>
#include <QTimer>
#include <QToolTip>

#include "app/SignalsPage.h"
#include "core/CanText.h"
#include "signals/DbcReader.h"
#include "platform/IniFile.h"
#include "views/ListViewFrameTable.h"

TDatabaseMenu::TDatabaseMenu(TListViewFrameTable* table, TSignalsPage* page, QTabWidget* pages, std::string iniFile,
                             QObject* parent)
    : QObject(parent), Table(table), Page(page), Pages(pages), IniFile(std::move(iniFile))
{
    setObjectName("DatabaseMenu");
    ChooseFile = [this] {
        return QFileDialog::getOpenFileName(Table->window(), "Load CAN database", QFileInfo(Path).absolutePath(),
                                            "CAN database (*.dbc *.DBC);;All files (*)");
    };
    Menu = new QMenu(Table);
    Menu->setObjectName("pmDatabase");
    Menu->setAccessibleName("Receive table menu");
    // The selected lines (or the one clicked) as can-utils' cansend/candump text.
    QAction* copyCandump = Menu->addAction("Copy as candump", this, [this] { CopyAsCandump(); });
    copyCandump->setObjectName("miCopyCandump");
    QAction* plotBytes = Menu->addAction("Plot bytes...", this, [this] {
        if (PlotBytes && ClickedLine)
            PlotBytes(ClickedLine->Row.Id, !ClickedLine->Row.Standard);
    });
    plotBytes->setObjectName("miPlotBytes");
    connect(Menu, &QMenu::aboutToShow, this, [this, plotBytes] { plotBytes->setEnabled(ClickedLine != nullptr); });
    Menu->addSeparator();
    LoadAction = Menu->addAction("Load database...");
    LoadAction->setObjectName("miLoadDatabase");
    UnloadAction = Menu->addAction("Unload database");
    UnloadAction->setObjectName("miUnloadDatabase");
    UnloadAction->setEnabled(false);
    connect(LoadAction, &QAction::triggered, this, [this] {
        const QString path = ChooseFile ? ChooseFile() : QString();
        if (!path.isEmpty())
            Load(path);
    });
    connect(UnloadAction, &QAction::triggered, this, [this] { Unload(); });

    Table->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Table, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        ClickedLine = dynamic_cast<const TListItemFrameTable*>(Table->itemAt(pos));
        Menu->popup(Table->viewport()->mapToGlobal(pos));
    });
    Table->viewport()->installEventFilter(this);
    Pages->setTabVisible(Pages->indexOf(Page), false);
}

void TDatabaseMenu::LoadFromSettings()
{
    const QString path = QString::fromStdString(TIniFile(IniFile).ReadString(kSection, kKey, ""));
    if (path.isEmpty())
        return;
    auto database = std::make_shared<TDbcDatabase>();
    std::string error;
    if (!QFileInfo(path).isFile() || !LoadDbcFile(path.toStdString(), *database, error)) {
        // The name stays in the settings: a share or a stick not mounted this
        // time is there again at the next start. Said once the window runs, where message boxes can be answered.
        QTimer::singleShot(0, this, [this, path] {
            Report(ShowError, "The CAN database " + path + " was not found; the monitor starts without it.");
        });
        return;
    }
    Use(std::move(database), path);
}

bool TDatabaseMenu::Load(const QString& path)
{
    auto database = std::make_shared<TDbcDatabase>();
    std::string error;
    if (!QFileInfo(path).isFile() || !LoadDbcFile(path.toStdString(), *database, error)) {
        Report(ShowError, "The CAN database cannot be read: " + (error.empty() ? path : QString::fromStdString(error)));
        return false;
    }
    const QString name = QFileInfo(path).fileName();
    if (database->Messages.empty()) {
        Report(ShowError, "No message was found in " + name + ": it is not loaded.\n" +
                              DbcText(DbcProblemReport(*database, name.toStdString())));
        return false;
    }
    if (!database->Problems.empty())
        Report(ShowInfo, "Some lines of " + name + " could not be read and are left out:\n" +
                             DbcText(DbcProblemReport(*database, name.toStdString())));
    Use(std::move(database), path);
    Remember(path);
    return true;
}

void TDatabaseMenu::CopyAsCandump()
{
    QList<QTreeWidgetItem*> lines = Table->selectedItems();
    if (lines.isEmpty() && ClickedLine &&
        Table->indexOfTopLevelItem(const_cast<TListItemFrameTable*>(ClickedLine)) >= 0)
        lines.append(const_cast<TListItemFrameTable*>(ClickedLine));
    QStringList texts;
    for (QTreeWidgetItem* item : lines) {
        const auto* line = dynamic_cast<const TListItemFrameTable*>(item);
        if (!line)
            continue;
        TCanFrame frame;
        frame.Id = line->Row.Id;
        frame.Standard = line->Row.Standard;
        frame.Request = line->Row.Request;
        frame.Length = line->Row.Length;
        std::copy(std::begin(line->Row.Data), std::end(line->Row.Data), frame.Data);
        texts << QString::fromStdString(FormatCompactFrame(frame));
    }
    if (!texts.isEmpty())
        QApplication::clipboard()->setText(texts.join('\n'));
}

void TDatabaseMenu::Unload()
{
    Use(nullptr, QString());
    Remember(QString());
}

void TDatabaseMenu::Use(std::shared_ptr<const TDbcDatabase> database, const QString& path)
{
    Current = std::move(database);
    Path = path;
    Page->SetDatabase(Current);
    const int index = Pages->indexOf(Page);
    if (!Current && Pages->currentIndex() == index)
        Pages->setCurrentIndex(0);
    Pages->setTabVisible(index, Current != nullptr);
    UnloadAction->setEnabled(Current != nullptr);
}

void TDatabaseMenu::Remember(const QString& path)
{
    try {
        TIniFile::CreateEmptyIfMissing(IniFile);
        TIniFile(IniFile).WriteString(kSection, kKey, path.toStdString());
    } catch (const std::exception& e) {
        Report(ShowError, QString::fromUtf8(e.what()));
    }
}

void TDatabaseMenu::Report(const std::function<void(const QString&)>& box, const QString& text) const
{
    if (box)
        box(text);
}

QString TDatabaseMenu::ToolTipAt(const QPoint& viewportPos) const
{
    if (!Current)
        return QString();
    const auto* line = dynamic_cast<const TListItemFrameTable*>(Table->itemAt(viewportPos));
    if (!line)
        return QString();
    std::vector<TDbcDecoded> decoded;
    const TDbcMessage* message = TSignalsPage::DecodeLine(*Current, *line, decoded);
    if (!message)
        return QString();
    QString text = DbcText(message->Name);
    for (const auto& d : decoded)
        text += "\n" + DbcText(FormatDbcSignal(d));
    return text;
}

bool TDatabaseMenu::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ToolTip && watched == Table->viewport()) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QString text = ToolTipAt(help->pos());
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, Table->viewport());
        return true;
    }
    return QObject::eventFilter(watched, event);
}
