#pragma once
#include <QString>
#include <functional>

#include "app/TraceFiles.h"

class QWidget;

// Runs a long file job on a thread of its own while the window thread keeps
// serving its timers and painting, so frames keep arriving in the views.
// User input to the window waits during the first `DelayMs`; a job still
// running then gets a window-modal progress dialog with a Cancel button, which
// sets the job's cancel flag. Returns when the job has ended.
class TProgressJob {
public:
    static constexpr int kDefaultDelayMs = 500;

    // `total` <= 0 shows a busy bar; `text` makes the dialog's label from the count done.
    TProgressJob(QWidget* parent, int64_t total, std::function<QString(int64_t done)> text)
        : Parent(parent), Total(total), Text(std::move(text))
    {
    }

    // Runs `work` and waits for it; true unless the user cancelled.
    bool Run(const std::function<void(TFileJobControl&)>& work);

    int DelayMs = kDefaultDelayMs;

private:
    QWidget* Parent;
    int64_t Total;
    std::function<QString(int64_t)> Text;
};
