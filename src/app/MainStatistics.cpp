#include "app/Main.h"

// The Statistics page and the bus load line of the status bar: the figures of
// the channel shown, from its running (or last) run, or from the recording
// opened into it while it is closed.

#include <QFileInfo>
#include <QLabel>
#include <QTabWidget>

#include "adapter/AdapterCustom.h"
#include "app/StatisticsPage.h"
#include "core/CanSettings.h"
#include "stats/ChannelStats.h"
#include "stats/StatsFigures.h"

namespace {

QString RateText(int32_t rate)
{
    return rate >= 1000000 && rate % 1000000 == 0 ? QString("%1 Mbit/s").arg(rate / 1000000)
                                                  : QString("%1 kbit/s").arg(rate / 1000.0);
}

} // namespace

bool TfmMain::CurrentStatistics(TStatsSnapshot& out, bool ids, QString& what, int64_t& startWallUs) const
{
    if (!CurrentAdapter)
        return false;
    const TCanSettings* settings = CurrentAdapter->GetSettings(CurrentChannel);
    const QString channel = QString("Channel #%1").arg(CurrentChannel + 1);
    if (RecordingStats && RecordingChannel == CurrentChannel && !IsCurrentChannelOpen()) {
        if (ids) {
            out = *RecordingStats;
        } else {
            out.Channel = RecordingStats->Channel;
            out.NowUs = RecordingStats->NowUs;
        }
        // A recording does not say its bus's rate: the load is worked out at the channel's.
        out.Channel.Rate = settings ? settings->Rate : 0;
        what = QString("Recording %1, load at %2 (the rate of %3)")
                   .arg(QFileInfo(RecordingPath).fileName(), RateText(out.Channel.Rate), channel);
        startWallUs = out.Channel.StartUs;
        return true;
    }
    const TChannelStats* stats = CurrentAdapter->GetStats(CurrentChannel);
    if (!stats)
        return false;
    out = stats->Snapshot(ids);
    if (out.Channel.Rate == 0)
        return false; // never opened
    what = QString("%1 at %2, %3")
               .arg(channel, RateText(out.Channel.Rate), IsCurrentChannelOpen() ? "open" : "closed: its last run");
    startWallUs = 0;
    return true;
}

void TfmMain::RefreshStatistics()
{
    TStatsSnapshot snapshot;
    QString what;
    int64_t startWallUs = 0;
    if (!CurrentStatistics(snapshot, true, what, startWallUs)) {
        snapshot = TStatsSnapshot{};
        what = "No figures yet: open the channel, or open a recording while it is closed.";
    }
    StatisticsPage->Show(snapshot, what, startWallUs);
}

void TfmMain::UpdateBusLoad()
{
    TStatsSnapshot snapshot;
    QString what;
    int64_t startWallUs = 0;
    const QString text =
        CurrentStatistics(snapshot, false, what, startWallUs) ? BusLoadText(ChannelFigures(snapshot)) : QString();
    if (lbBusLoad->text() != text)
        lbBusLoad->setText(text);
}

void TfmMain::SetRecordingStats(const QString& path, const TStatsSnapshot& stats)
{
    RecordingStats = std::make_unique<TStatsSnapshot>(stats);
    RecordingPath = path;
    RecordingChannel = CurrentChannel;
    StatisticsChanged();
}

void TfmMain::StatisticsChanged()
{
    UpdateBusLoad();
    if (pcData->currentWidget() == StatisticsPage)
        RefreshStatistics();
}
