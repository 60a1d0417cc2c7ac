// cvd-light: a dimmable light hosted by the engine, the smallest real
// device to try a control point against. It serves its description,
// answers SOAP control and GENA subscriptions, announces itself and
// answers searches, and prints each change it receives, until SIGINT or
// SIGTERM make it say goodbye. It multicasts on every interface: run it
// only where that is wanted (for tests, inside scripts/testnet).
//
//   cvd-light [--name NAME] [--port N] [--uuid UUID]
//
// Lines on standard output:
//   ready  UUID  PORT
//   Status  0|1           (SwitchPower)
//   LoadLevelStatus  N    (Dimming, 0 to 100)

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CvdAction.h"
#include "CvdDeviceHost.h"
#include "CvdService.h"
#include "CvdUPnP.h"
#include "beaconrycli.h"

namespace {

const char* const kSwitchPowerScpd =
    "<scpd xmlns=\"urn:schemas-upnp-org:service-1-0\"><specVersion><major>1</major><minor>0</minor></specVersion>"
    "<actionList>"
    "<action><name>SetTarget</name><argumentList><argument><name>newTargetValue</name><direction>in</direction>"
    "<relatedStateVariable>Target</relatedStateVariable></argument></argumentList></action>"
    "<action><name>GetTarget</name><argumentList><argument><name>RetTargetValue</name><direction>out</direction>"
    "<relatedStateVariable>Target</relatedStateVariable></argument></argumentList></action>"
    "<action><name>GetStatus</name><argumentList><argument><name>ResultStatus</name><direction>out</direction>"
    "<relatedStateVariable>Status</relatedStateVariable></argument></argumentList></action>"
    "</actionList><serviceStateTable>"
    "<stateVariable sendEvents=\"no\"><name>Target</name><dataType>boolean</dataType>"
    "<defaultValue>0</defaultValue></stateVariable>"
    "<stateVariable sendEvents=\"yes\"><name>Status</name><dataType>boolean</dataType>"
    "<defaultValue>0</defaultValue></stateVariable>"
    "</serviceStateTable></scpd>";

const char* const kDimmingScpd =
    "<scpd xmlns=\"urn:schemas-upnp-org:service-1-0\"><specVersion><major>1</major><minor>0</minor></specVersion>"
    "<actionList>"
    "<action><name>SetLoadLevelTarget</name><argumentList><argument><name>newLoadlevelTarget</name>"
    "<direction>in</direction><relatedStateVariable>LoadLevelTarget</relatedStateVariable></argument>"
    "</argumentList></action>"
    "<action><name>GetLoadLevelTarget</name><argumentList><argument><name>GetLoadlevelTarget</name>"
    "<direction>out</direction><relatedStateVariable>LoadLevelTarget</relatedStateVariable></argument>"
    "</argumentList></action>"
    "<action><name>GetLoadLevelStatus</name><argumentList><argument><name>retLoadlevelStatus</name>"
    "<direction>out</direction><relatedStateVariable>LoadLevelStatus</relatedStateVariable></argument>"
    "</argumentList></action>"
    "</actionList><serviceStateTable>"
    "<stateVariable sendEvents=\"no\"><name>LoadLevelTarget</name><dataType>ui1</dataType><defaultValue>0</defaultValue>"
    "<allowedValueRange><minimum>0</minimum><maximum>100</maximum></allowedValueRange></stateVariable>"
    "<stateVariable sendEvents=\"yes\"><name>LoadLevelStatus</name><dataType>ui1</dataType><defaultValue>0</defaultValue>"
    "<allowedValueRange><minimum>0</minimum><maximum>100</maximum></allowedValueRange></stateVariable>"
    "</serviceStateTable></scpd>";

class Light : public CVD_DeviceHost
{
public:
    Light(const char* name, HLY_UInt16 port, const char* uuid)
        : CVD_DeviceHost("/description.xml", uuid, "urn:schemas-upnp-org:device:DimmableLight:1", name, false, port,
                         port == 0)
    {
        m_ModelName        = "cvd-light";
        m_ModelDescription = "A dimmable light that prints what it is told";
        m_ModelNumber      = "1";
    }

protected:
    HLY_Result SetupServices() override
    {
        HLY_Result result = AddLightService("urn:schemas-upnp-org:service:SwitchPower:1",
                                            "urn:upnp-org:serviceId:SwitchPower:1", "SwitchPower", kSwitchPowerScpd,
                                            {"Target", "Status"});
        if (HLY_SUCCEEDED(result)) {
            result = AddLightService("urn:schemas-upnp-org:service:Dimming:1", "urn:upnp-org:serviceId:Dimming:1",
                                     "Dimming", kDimmingScpd, {"LoadLevelTarget", "LoadLevelStatus"});
        }
        return result;
    }

    HLY_Result OnAction(CVD_ActionReference& action, const HLY_HttpRequestContext&) override
    {
        CVD_Service*      service = action->GetActionDesc().GetService();
        const HLY_String& name    = action->GetActionDesc().GetName();
        if (name == "SetTarget") {
            bool on = false;
            if (HLY_FAILED(action->GetArgumentValue("newTargetValue", on))) {
                action->SetError(600, "Argument Value Invalid");
                return HLY_FAILURE;
            }
            // the light follows its target at once
            service->SetStateVariable("Target", on ? "1" : "0");
            Change(service, "Status", on ? "1" : "0");
            return HLY_SUCCESS;
        }
        if (name == "SetLoadLevelTarget") {
            HLY_UInt32 level = 0;
            if (HLY_FAILED(action->GetArgumentValue("newLoadlevelTarget", level)) || level > 100) {
                action->SetError(601, "Argument Value Out of Range");
                return HLY_FAILURE;
            }
            HLY_String text = HLY_String::FromIntegerU(level);
            service->SetStateVariable("LoadLevelTarget", text);
            Change(service, "LoadLevelStatus", text);
            return HLY_SUCCESS;
        }
        static const struct {
            const char* action;
            const char* argument;
            const char* variable;
        } getters[] = {{"GetTarget", "RetTargetValue", "Target"},
                       {"GetStatus", "ResultStatus", "Status"},
                       {"GetLoadLevelTarget", "GetLoadlevelTarget", "LoadLevelTarget"},
                       {"GetLoadLevelStatus", "retLoadlevelStatus", "LoadLevelStatus"}};
        for (const auto& getter : getters) {
            if (name != getter.action) continue;
            HLY_String value;
            service->GetStateVariableValue(getter.variable, value);
            return action->SetArgumentValue(getter.argument, value);
        }
        return CVD_DeviceHost::OnAction(action, HLY_HttpRequestContext());
    }

private:
    HLY_Result AddLightService(const char*                        type,
                               const char*                        id,
                               const char*                        name,
                               const char*                        scpd,
                               std::initializer_list<const char*> variables)
    {
        CVD_Service* service = new CVD_Service(this, type, id, name);
        HLY_Result   result  = service->SetSCPDXML(scpd);
        for (const char* variable : variables) {
            if (HLY_SUCCEEDED(result)) result = service->SetStateVariable(variable, "0");
        }
        if (HLY_SUCCEEDED(result)) result = AddService(service);
        if (HLY_FAILED(result)) delete service;
        return result;
    }

    static void Change(CVD_Service* service, const char* variable, const char* value)
    {
        HLY_String before;
        service->GetStateVariableValue(variable, before);
        service->SetStateVariable(variable, value);
        if (before != value) {
            printf("%s\t%s\n", variable, value);
            fflush(stdout);
        }
    }
};

const char* const kUsage =
    "usage: cvd-light [--name NAME] [--port N] [--uuid UUID]\n"
    "  --name NAME   friendly name (default \"cvd-light\")\n"
    "  --port N      HTTP port (default: a free one from 1024 to 2047)\n"
    "  --uuid UUID   device UUID (default: a fresh one)\n"
    "  --help        show this text; --version shows the version\n"
    "It multicasts SSDP on the network: in tests, run it inside scripts/testnet.\n";

} // namespace

int main(int argc, char** argv)
{
    const char* name = "cvd-light";
    const char* uuid = nullptr;
    long        port = 0;
    BeaconryCli cli("cvd-light", kUsage);
    for (int i = 1; i < argc; ++i) {
        bool has_value = i + 1 < argc;
        if (!strcmp(argv[i], "--name") && has_value) {
            name = argv[++i];
        } else if (!strcmp(argv[i], "--uuid") && has_value) {
            uuid = argv[++i];
        } else if (!strcmp(argv[i], "--port") && has_value) {
            char* end = nullptr;
            port      = strtol(argv[++i], &end, 10);
            if (*end || port < 1 || port > 65535) return cli.Fail("--port wants 1 to 65535");
        } else {
            return cli.Unknown(argv[i]);
        }
    }

    // the signals are taken by sigwait below; every thread started from here on inherits the mask
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    Light*                  light = new Light(name, (HLY_UInt16)port, uuid);
    CVD_UPnPDeviceReference device(light);
    CVD_UPnP                engine;
    engine.AddDevice(device);
    HLY_Result result = engine.Start();
    if (HLY_FAILED(result) || !light->IsStarted()) {
        fprintf(stderr, "cvd-light: cannot start (%d)\n", (int)result);
        return 1;
    }
    printf("ready\t%s\t%u\n", light->GetUUID().GetChars(), (unsigned)light->GetPort());
    fflush(stdout);

    int signal_number = 0;
    sigwait(&signals, &signal_number);
    engine.Stop();
    printf("stopped\n");
    return 0;
}
