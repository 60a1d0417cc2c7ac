// discovery-bench N: a fleet of N simulated devices (media servers,
// renderers and basic devices) in the peer namespace of scripts/testnet,
// our control point in the local one. The fleet runs in a child process
// that moved itself into the peer namespace, so the figures (threads, RSS)
// are those of the control point's process alone. It prints the time from
// Start until every device was added, until every subscription was
// accepted and every initial event received, the peak thread count and
// the peak RSS. Runs only inside scripts/testnet (bench/discovery-bench).

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "CvdCtrlPoint.h"
#include "CvdUPnP.h"
#include "fleet.h"
#include "wire_support.h"

using wire::RssKiB;
using wire::ThreadCount;

namespace {

using fleet::Env;
using fleet::RunFleet;

/*----------------------------------------------------------------------
|   the control point side
+---------------------------------------------------------------------*/
// subscribes to every service of every device it hears of
class Subscriber : public CVD_CtrlPointListener
{
public:
    explicit Subscriber(CVD_CtrlPoint* ctrl_point) : m_CtrlPoint(ctrl_point) {}
    HLY_Result OnDeviceAdded(CVD_DeviceDataReference& device) override
    {
        ++m_Added;
        for (HLY_Cardinal i = 0; i < device->GetServices().GetItemCount(); ++i) {
            if (HLY_SUCCEEDED(m_CtrlPoint->Subscribe(device->GetServices()[i]))) ++m_Subscriptions;
        }
        return HLY_SUCCESS;
    }
    HLY_Result OnDeviceRemoved(CVD_DeviceDataReference&) override { return HLY_SUCCESS; }
    HLY_Result OnActionResponse(HLY_Result, CVD_ActionReference&, void*) override { return HLY_SUCCESS; }
    HLY_Result OnEventNotify(CVD_Service*, HLY_List<CVD_StateVariable*>*) override
    {
        ++m_Events;
        return HLY_SUCCESS;
    }

    CVD_CtrlPoint*   m_CtrlPoint;
    std::atomic<int> m_Added{0}, m_Subscriptions{0}, m_Events{0};
};

int ServicesOf(int count)
{
    int total = 0;
    for (int n = 0; n < count; ++n) total += n % 3 == 0 ? 2 : n % 3 == 1 ? 3 : 1;
    return total;
}

} // namespace

int main(int argc, char** argv)
{
    int count         = argc > 1 ? atoi(argv[1]) : 100;
    int inspections   = argc > 2 ? atoi(argv[2]) : 0;
    if (count <= 0 || Env("TESTNET_PEER_NS")[0] == '\0') {
        fprintf(stderr, "usage: scripts/testnet discovery-bench N [MAX_INSPECTIONS] (see bench/discovery-bench)\n");
        return 2;
    }
    pid_t fleet = fork();
    if (fleet == 0) {
        std::string path = std::string("/var/run/netns/") + Env("TESTNET_PEER_NS");
        int         fd   = open(path.c_str(), O_RDONLY);
        if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) _exit(5);
        RunFleet(count);
        _exit(0);
    }
    // the fleet's sockets are up well before the first search goes out
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    CVD_CtrlPoint* ctrl_point = new CVD_CtrlPoint();
    if (inspections > 0) {
        CVD_CtrlPointLimits limits;
        limits.m_MaxInspections = inspections;
        ctrl_point->SetLimits(limits);
    }
    CVD_UPnPCtrlPointReference reference(ctrl_point);
    Subscriber                 subscriber(ctrl_point);
    ctrl_point->AddListener(&subscriber);
    CVD_UPnP engine;
    engine.AddCtrlPoint(reference);

    int  services     = ServicesOf(count);
    int  peak_threads = ThreadCount();
    long peak_rss     = RssKiB();
    auto start        = std::chrono::steady_clock::now();
    engine.Start();
    double added_at = -1, subscribed_at = -1;
    for (;;) {
        double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        peak_threads   = std::max(peak_threads, ThreadCount());
        peak_rss       = std::max(peak_rss, RssKiB());
        if (added_at < 0 && subscriber.m_Added >= count) added_at = elapsed;
        if (subscribed_at < 0 && (int)ctrl_point->GetSubscriptionAnswerCount() >= services &&
            subscriber.m_Events >= services) {
            subscribed_at = elapsed;
        }
        if ((added_at >= 0 && subscribed_at >= 0) || elapsed > 60) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    printf("discovery-bench N=%d (max inspections %u): %d/%d devices added in %.2f s; %u/%d subscriptions accepted, "
           "%d/%d initial events in %.2f s; peak threads %d, peak RSS %.1f MB; %u inspections dropped\n",
           count, (unsigned)ctrl_point->GetLimits().m_MaxInspections, subscriber.m_Added.load(), count, added_at,
           (unsigned)ctrl_point->GetSubscriptionAnswerCount(), services, subscriber.m_Events.load(), services,
           subscribed_at, peak_threads, peak_rss / 1024.0, (unsigned)ctrl_point->GetDroppedInspectionCount());
    engine.Stop();
    kill(fleet, SIGKILL);
    waitpid(fleet, nullptr, 0);
    return added_at >= 0 && subscribed_at >= 0 ? 0 : 1;
}
