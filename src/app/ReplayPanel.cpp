#include "app/ReplayPanel.h"

#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include "transmit/CanSendList.h"
#include "transmit/Replay.h"

namespace {

constexpr size_t kMaxProblems = 20;

QString Count(int64_t n)
{
    return QLocale().toString(static_cast<qlonglong>(n));
}

} // namespace

TReplayPanel::TReplayPanel(QWidget* dialogParent, QStatusBar* bar, QObject* parent)
    : QObject(parent), DialogParent(dialogParent)
{
    setObjectName("ReplayPanel");
    AskPasses = [this] {
        bool ok = false;
        const int passes =
            QInputDialog::getInt(DialogParent, "Replay recording", "Passes (0: until stopped):", 1, 0, 1000000, 1, &ok);
        return ok ? passes : -1;
    };
    lbReplay = new QLabel;
    lbReplay->setObjectName("lbReplay");
    lbReplay->setAccessibleName("Replay state");
    pbReplay = new QProgressBar;
    pbReplay->setObjectName("pbReplay");
    pbReplay->setAccessibleName("Replay progress");
    pbReplay->setMaximumWidth(160);
    pbReplay->setTextVisible(false);
    btReplayStop = new QPushButton("Stop replay");
    btReplayStop->setObjectName("btReplayStop");
    btReplayStop->setAccessibleName("Stop replay");
    connect(btReplayStop, &QPushButton::clicked, this, [this] { Stop(); });
    for (QWidget* w :
         {static_cast<QWidget*>(lbReplay), static_cast<QWidget*>(pbReplay), static_cast<QWidget*>(btReplayStop)}) {
        w->hide();
        if (bar)
            bar->addPermanentWidget(w);
    }
    tmReplay = new QTimer(this);
    tmReplay->setInterval(100);
    connect(tmReplay, &QTimer::timeout, this, [this] { Refresh(); });
}

TReplayPanel::~TReplayPanel() = default;

bool TReplayPanel::Start(const QString& path, TCanSendList& list, QString& error)
{
    Stop();
    std::string problem;
    if (!TReplay::CanOpen(path.toStdString(), problem)) {
        error = QString::fromStdString(problem);
        return false;
    }
    const int passes = AskPasses ? AskPasses() : 1;
    if (passes < 0)
        return false;
    {
        tcm::TMutexLock guard(ProblemLock);
        Problems.clear();
        ProblemCount = 0;
    }
    Name = QFileInfo(path).fileName();
    Replay = std::make_unique<TReplay>(
        path.toStdString(), passes, [&list](const TCanFrame& frame) { list.SendFrame(frame); },
        [this](const std::string& text) {
            tcm::TMutexLock guard(ProblemLock);
            if (Problems.size() < kMaxProblems)
                Problems.push_back(text);
            ++ProblemCount;
        });
    Replay->CountFirst = true;
    Replay->Start();
    lbReplay->setToolTip(path);
    pbReplay->setRange(0, 0);
    lbReplay->show();
    pbReplay->show();
    btReplayStop->show();
    tmReplay->start();
    Refresh();
    return true;
}

void TReplayPanel::Stop()
{
    if (Replay)
        Finish(true);
}

QString TReplayPanel::StateText() const
{
    return lbReplay->text();
}

void TReplayPanel::Refresh()
{
    if (!Replay)
        return;
    if (Replay->Done()) {
        Finish(false);
        return;
    }
    const int64_t frames = Replay->PassFrames();
    const long loops = Replay->Loops();
    QString pass = loops == 1 ? QString() : QString(", pass %1").arg(Replay->PassesDone() + 1);
    if (loops > 1)
        pass += QString(" of %1").arg(loops);
    if (frames > 0) {
        pbReplay->setRange(0, 1000);
        pbReplay->setValue(static_cast<int>(static_cast<int64_t>(Replay->PassSent()) * 1000 / frames));
        lbReplay->setText(QString("Replaying %1%2: %3 of %4 frames")
                              .arg(Name, pass, Count(static_cast<int64_t>(Replay->PassSent())), Count(frames)));
    } else {
        lbReplay->setText(QString("Replaying %1%2").arg(Name, pass));
    }
}

void TReplayPanel::Finish(bool stopped)
{
    tmReplay->stop();
    Replay->Stop();
    const uint64_t sent = Replay->FramesSent();
    Replay.reset();
    pbReplay->hide();
    btReplayStop->hide();
    lbReplay->setText(QString("Replay of %1 %2: %3 frames sent")
                          .arg(Name, stopped ? "stopped" : "ended", Count(static_cast<int64_t>(sent))));
    std::vector<std::string> problems;
    size_t count = 0;
    {
        tcm::TMutexLock guard(ProblemLock);
        problems.swap(Problems);
        count = ProblemCount;
    }
    if (count > 0 && ShowError) {
        QString text = QString("Replay of %1: damaged parts were passed over:").arg(Name);
        for (const std::string& problem : problems)
            text += "\n" + QString::fromStdString(problem);
        if (count > problems.size())
            text += QString("\n... and %1 more").arg(Count(static_cast<int64_t>(count - problems.size())));
        ShowError(text);
    }
}
