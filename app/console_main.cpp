// beaconry-console: the media controller's console on standard input and
// output. It starts the engine with one control point, so it multicasts
// SSDP on every interface: in tests, run it inside scripts/testnet.

#include <cstdio>

#include "CvdUPnP.h"
#include "hlysystem.h"
#include "myupnpcontroller.h"

#include "beaconrycli.h"

namespace {
// devices answer a search within its MX; the first ones are in by then
const HLY_Int64 DISCOVERY_WAIT_MS = 2000;

const char* const kUsage =
    "usage: beaconry-console [--help] [--version]\n"
    "Finds the UPnP media servers and renderers of the network and reads commands\n"
    "from standard input (\"help\" lists them) until \"quit\", \"exit\" or its end.\n";
} // namespace

int main(int argc, char** argv)
{
    // answered before the engine starts: nothing is sent for --help or --version
    BeaconryCli cli("beaconry-console", kUsage);
    for (int i = 1; i < argc; ++i) return cli.Unknown(argv[i]);

    CVD_UPnP*               upnp       = new CVD_UPnP();
    CVD_CtrlPointReference* ctrl_point = new CVD_CtrlPointReference(new CVD_CtrlPoint("upnp:rootdevice"));
    MyUPnPController*       controller = new MyUPnPController(*ctrl_point, nullptr);
    CVD_UPnPCtrlPointReference engine_ref(*ctrl_point);
    upnp->AddCtrlPoint(engine_ref);
    if (HLY_FAILED(upnp->Start())) fprintf(stderr, "beaconry-console: the engine did not start\n");

    HLY_System::Sleep(HLY_TimeStamp::FromMillis(DISCOVERY_WAIT_MS));
    controller->RunCommandLoop();

    // the engine goes first, so that no callback reaches a controller being deleted
    upnp->Stop();
    delete controller;
    delete ctrl_point;
    delete upnp;
    return 0;
}
