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

void TfmMain::ShowError(const QString& text, const QString& informative)
{
    if (!informative.isEmpty() && ErrorHintBox)
        ErrorHintBox(text, informative);
    else if (ErrorBox)
        ErrorBox(text);
}

void TfmMain::ShowInfo(const QString& text)
{
    if (InfoBox)
        InfoBox(text);
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
