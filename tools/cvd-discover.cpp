// cvd-discover: multicasts an SSDP M-SEARCH through the engine's search
// task and prints one line per answer as it arrives; with --notify it also
// prints the NOTIFY announcements heard meanwhile. It multicasts on every
// interface: run it only where that is wanted (for tests, inside
// scripts/testnet).
//
//   cvd-discover [--target ST] [--mx N] [--timeout SECONDS] [--interface ADDRESS] [--notify]
//
// Lines, tab-separated:
//   answer  UUID  ST  LOCATION  SERVER
//   notify  NTS   UUID  NT  LOCATION  SERVER

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "CvdSsdp.h"
#include "CvdTaskManager.h"
#include "CvdUPnP.h"
#include "hlysystem.h"
#include "beaconrycli.h"

namespace {

const char* const kUsage =
    "usage: cvd-discover [--target ST] [--mx N] [--timeout SECONDS] [--interface ADDRESS] [--notify]\n"
    "  --target ST         search target (default ssdp:all)\n"
    "  --mx N              seconds devices may wait before answering (default 2)\n"
    "  --timeout SECONDS   how long to listen for answers (default 5)\n"
    "  --interface ADDRESS search from this local address only (default: every interface)\n"
    "  --notify            also print the NOTIFY announcements heard meanwhile\n"
    "  --help              show this text; --version shows the version\n"
    "It multicasts SSDP on the network: in tests, run it inside scripts/testnet.\n";

std::string Value(const HLY_HttpMessage& message, const char* name)
{
    const HLY_String* value = message.GetHeaders().GetHeaderValue(name);
    return value ? std::string(value->GetChars()) : std::string("-");
}

// the device UUID of a USN: "uuid:U" or "uuid:U::type"
std::string UuidOf(const std::string& usn)
{
    std::string uuid = usn.compare(0, 5, "uuid:") == 0 ? usn.substr(5) : usn;
    size_t      end  = uuid.find("::");
    return end == std::string::npos ? uuid : uuid.substr(0, end);
}

class Printer : public CVD_SsdpSearchResponseListener, public CVD_SsdpPacketListener, public CVD_UPnPCtrlPointInterface
{
public:
    HLY_Result ProcessSsdpSearchResponse(HLY_Result result, const HLY_HttpRequestContext&,
                                         HLY_HttpResponse* response) override
    {
        if (HLY_FAILED(result) || response == nullptr) return HLY_FAILURE;
        std::string line = UuidOf(Value(*response, "USN")) + "\t" + Value(*response, "ST") + "\t" +
                           Value(*response, "Location") + "\t" + Value(*response, "Server");
        Print("answer", line);
        return HLY_SUCCESS;
    }
    HLY_Result OnSsdpPacket(HLY_HttpRequest& request, const HLY_HttpRequestContext&) override
    {
        if (request.GetMethod() != "NOTIFY") return HLY_SUCCESS;
        std::string line = Value(request, "NTS") + "\t" + UuidOf(Value(request, "USN")) + "\t" + Value(request, "NT") +
                           "\t" + Value(request, "Location") + "\t" + Value(request, "Server");
        Print("notify", line);
        return HLY_SUCCESS;
    }

    // as a participant of the engine: only listens
    HLY_Result Start(CVD_SsdpListenTask* task) override { return task->AddListener(this); }
    HLY_Result Stop(CVD_SsdpListenTask* task) override { return task->RemoveListener(this); }
    HLY_Result IgnoreUUID(const char*) override { return HLY_SUCCESS; }

private:
    // devices answer each of the two datagrams of a search: print a line once
    void Print(const char* kind, const std::string& line)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        if (!m_Seen.insert(std::string(kind) + line).second) return;
        printf("%s\t%s\n", kind, line.c_str());
        fflush(stdout);
    }

    std::mutex            m_Lock;
    std::set<std::string> m_Seen;
};

} // namespace

int main(int argc, char** argv)
{
    const char* target    = CVD_SSDP_ALL;
    long        mx        = 2;
    long        timeout   = 5;
    const char* interface = nullptr;
    bool        notify    = false;
    BeaconryCli cli("cvd-discover", kUsage);
    for (int i = 1; i < argc; ++i) {
        bool more = i + 1 < argc;
        char* end = nullptr;
        if (strcmp(argv[i], "--target") == 0 && more) {
            target = argv[++i];
        } else if (strcmp(argv[i], "--mx") == 0 && more) {
            mx = strtol(argv[++i], &end, 10);
            if (*end || mx < 0 || mx > 120) return cli.Fail("--mx wants 0 to 120");
        } else if (strcmp(argv[i], "--timeout") == 0 && more) {
            timeout = strtol(argv[++i], &end, 10);
            if (*end || timeout < 1 || timeout > 3600) return cli.Fail("--timeout wants 1 to 3600");
        } else if (strcmp(argv[i], "--interface") == 0 && more) {
            interface = argv[++i];
        } else if (strcmp(argv[i], "--notify") == 0) {
            notify = true;
        } else {
            return cli.Unknown(argv[i]);
        }
    }

    HLY_List<HLY_IpAddress> addresses;
    if (interface) {
        HLY_IpAddress address;
        if (HLY_FAILED(address.Parse(interface))) {
            fprintf(stderr, "cvd-discover: not an IPv4 address: %s\n", interface);
            return 2;
        }
        addresses.Add(address);
    } else if (HLY_FAILED(CVD_UPnPMessageHelper::GetIPAddresses(addresses, true))) {
        fprintf(stderr, "cvd-discover: cannot list the network interfaces\n");
        return 1;
    }

    Printer*                   printer = new Printer();
    CVD_UPnPCtrlPointReference participant(printer);
    CVD_UPnP                   engine;
    if (notify) {
        engine.AddCtrlPoint(participant);
        if (HLY_FAILED(engine.Start())) fprintf(stderr, "cvd-discover: cannot listen on port 1900, no NOTIFY shown\n");
    }

    CVD_TaskManager tasks;
    int             searching = 0;
    for (auto it = addresses.GetFirstItem(); it; ++it) {
        CVD_SsdpSearchTask* task = nullptr;
        // frequency 0: one cycle; the tasks are stopped when the time is up
        if (HLY_FAILED(CVD_SsdpSearchTask::Create(printer, *it, target, (HLY_UInt32)mx, HLY_TimeInterval(), task))) {
            fprintf(stderr, "cvd-discover: cannot search from %s\n", it->ToString().GetChars());
            continue;
        }
        if (HLY_SUCCEEDED(tasks.StartTask(task))) ++searching;
    }
    if (searching == 0) {
        fprintf(stderr, "cvd-discover: no interface to search from\n");
        return 1;
    }
    HLY_System::Sleep(HLY_TimeInterval::FromSeconds(timeout));
    tasks.StopAllTasks();
    if (engine.IsStarted()) engine.Stop();
    return 0;
}
