// Timing of a Periodic transmit item: the periodic sender drives the channel's
// transmit list through a running manager to the simulated adapter.
//
//   bench_periodic [--seconds S] [--period MS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "SeeedSimulator.h"
#include "platform/Mutex.h"
#include "seeed/SeeedManager.h"
#include "transmit/CanSendList.h"
#include "transmit/PeriodicSendThread.h"

int main(int argc, char** argv)
{
    double seconds = 10;
    int period = 100;
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds")
            seconds = std::atof(argv[i + 1]);
        else if (a == "--period")
            period = std::atoi(argv[i + 1]);
    }
    TSeeedSimulator sim;
    if (!sim.Start())
        return 1;
    TSeeedManager manager(TSeeedManagerOptions{std::string()});
    manager.GetSettings()->Rate = 500000;
    if (!manager.OpenPort(sim.PortPath()) || !manager.Start())
        return 1;

    using TClock = std::chrono::steady_clock;
    tcm::TMutex lock;
    std::vector<TClock::time_point> sends;
    auto* item = new TCanSendItem;
    item->SendType = cstPeriodic;
    item->Active = true;
    item->SetPeriod(period);
    item->Frame.Id = 0x100;
    item->Frame.Standard = true;
    item->OnCountChanged = [&](int32_t, uint32_t) {
        tcm::TMutexLock guard(lock);
        sends.push_back(TClock::now());
    };
    manager.GetSendList()->Add(item);

    TPeriodicSendThread thread(manager.GetSendList());
    thread.Resume();
    const auto t0 = TClock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    thread.Pause();
    const double elapsed = std::chrono::duration<double>(TClock::now() - t0).count();
    const uint64_t passes = thread.Passes();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    manager.Stop();
    manager.ClosePort();

    std::vector<double> intervals;
    for (size_t i = 1; i < sends.size(); ++i)
        intervals.push_back(std::chrono::duration<double, std::milli>(sends[i] - sends[i - 1]).count());
    if (intervals.empty())
        return 1;
    double sum = 0;
    int missed = 0;
    for (double d : intervals) {
        sum += d;
        missed += d > 1.5 * period ? 1 : 0;
    }
    std::sort(intervals.begin(), intervals.end());
    const double passMs = 1000.0 * elapsed / static_cast<double>(passes);
    const auto atSim = sim.ReceivedFrames();
    size_t received = 0;
    for (const auto& f : atSim)
        received += f.Id == 0x100 ? 1 : 0;
    std::printf("Periodic item of %d ms for %.1f s, the sender woke every %.3f ms on average (it sleeps until an item "
                "is due)\n",
                period, elapsed, passMs);
    std::printf("sends %zu (%.2f per second), received by the adapter %zu; interval mean %.3f ms, min %.3f, "
                "median %.3f, max %.3f; missed %d\n",
                sends.size(), static_cast<double>(sends.size()) / elapsed, received,
                sum / static_cast<double>(intervals.size()), intervals.front(), intervals[intervals.size() / 2],
                intervals.back(), missed);
    std::printf("mean lateness per interval: %.3f ms\n", sum / static_cast<double>(intervals.size()) - period);
    std::printf("limit: no interval above 1.5 periods: %s\n", missed == 0 ? "met" : "NOT met");
    return 0;
}
