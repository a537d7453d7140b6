#include "app/Main.h"

// The window's message boxes. Every box goes through a hook (ErrorBox,
// ErrorHintBox, InfoBox, QuestionBox) that tests and the signal handler
// replace; these are the real boxes. Boxes asked for while the window is being
// created wait for the event loop: they come over the shown window, in the
// order they were asked for, through the hooks set by then.

#include <QMessageBox>
#include <QTimer>

void TfmMain::InstallMessageBoxes()
{
    ErrorBox = [this](const QString& text) {
        QMessageBox box(QMessageBox::Critical, kErrorCaption, text, QMessageBox::Ok, this);
        box.exec();
    };
    ErrorHintBox = [this](const QString& text, const QString& informative) {
        QMessageBox box(QMessageBox::Critical, kErrorCaption, text, QMessageBox::Ok, this);
        box.setInformativeText(informative);
        box.exec();
    };
    InfoBox = [this](const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, kAppTitle, text, QMessageBox::Ok, this);
        box.exec();
    };
    QuestionBox = [this](const QString& text) {
        QMessageBox box(QMessageBox::Question, kAppTitle, text, QMessageBox::Yes | QMessageBox::No, this);
        box.setDefaultButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    };
}

namespace {

constexpr int kMaxBoxLines = 20;
constexpr int kMaxBoxLineLength = 500;

} // namespace

// A box shows printable text only (a binary file's bytes become U+FFFD), at
// most 20 lines of at most 500 characters, then "... and N more" lines.
QString TfmMain::BoxText(const QString& text)
{
    QStringList lines = text.split('\n');
    const qsizetype more = lines.size() - kMaxBoxLines;
    if (more > 0)
        lines.resize(kMaxBoxLines);
    for (QString& line : lines) {
        for (QChar& c : line) {
            if (c == '\t')
                c = ' ';
            else if (!c.isPrint() && c != '\r') // some described texts break their line with CR
                c = QChar::ReplacementCharacter;
        }
        if (line.size() > kMaxBoxLineLength)
            line = line.left(kMaxBoxLineLength) + "...";
    }
    if (more > 0)
        lines.append(QString("... and %1 more").arg(more));
    return lines.join('\n');
}

void TfmMain::ShowError(const QString& text, const QString& informative)
{
    if (!informative.isEmpty() && ErrorHintBox)
        ErrorHintBox(BoxText(text), BoxText(informative));
    else if (ErrorBox)
        ErrorBox(BoxText(text));
}

void TfmMain::ShowInfo(const QString& text)
{
    if (InfoBox)
        InfoBox(BoxText(text));
}

// One posted call shows everything queued by the time it runs, in order.
void TfmMain::TellWhenRunning(std::function<void()> tell)
{
    StartupMessages.push_back(std::move(tell));
    if (StartupMessages.size() > 1)
        return;
    QTimer::singleShot(0, this, [this] {
        const auto messages = std::exchange(StartupMessages, {});
        for (const auto& message : messages)
            message();
    });
}
