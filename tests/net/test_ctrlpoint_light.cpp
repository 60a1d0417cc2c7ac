// Our control point against our own device host: cvd-light in the peer
// namespace is found, described, acted on, subscribed to (both services,
// every change heard in order), renewed and unsubscribed, and removed on
// its byebye.

#include <gtest/gtest.h>

#include "ctrlpoint_support.h"
#include "devicehost_support.h"

using namespace cptest;
using testsupport::Eventually;

namespace {

const char* kLightUuid   = "11ab0000-0000-4000-8000-00000000f0c1";
const char* kSwitchPower = "urn:schemas-upnp-org:service:SwitchPower:1";
const char* kDimming     = "urn:schemas-upnp-org:service:Dimming:1";

// the values one variable took, in the order the listener heard them
std::vector<std::string> Heard(Recorder& recorder, const std::string& service, const std::string& name)
{
    std::vector<std::string> values;
    for (auto& n : recorder.Notifications()) {
        auto v = n.second.find(name);
        if (n.first.find(service) != std::string::npos && v != n.second.end()) values.push_back(v->second);
    }
    return values;
}

TEST(CtrlPointLight, DiscoversActsSubscribesAndHearsByebye)
{
    TESTNET_REQUIRED();
    Recorder                   recorder;
    CVD_CtrlPoint*             ctrlpoint = new CVD_CtrlPoint();
    CVD_UPnPCtrlPointReference reference(ctrlpoint);
    CVD_UPnP                   engine;
    ctrlpoint->AddListener(&recorder);
    engine.AddCtrlPoint(reference);

    ASSERT_EQ(engine.Start(), HLY_SUCCESS);
    auto light = hosttest::StartLight(kLightUuid, 4103);
    ASSERT_NE(light, nullptr) << "cvd-light did not start";

    // found by its announcement, with both services described
    ASSERT_TRUE(Eventually([&]() { return recorder.Has(std::string("+") + kLightUuid); }, 8000)) << light->Log();
    EXPECT_TRUE(recorder.Described(kLightUuid));
    CVD_DeviceDataReference device = recorder.Device(kLightUuid);
    EXPECT_EQ("urn:schemas-upnp-org:device:DimmableLight:1", Text(device->GetType()));
    ASSERT_EQ(2u, device->GetServices().GetItemCount());
    CVD_Service *power = nullptr, *dimming = nullptr;
    ASSERT_EQ(HLY_SUCCESS, device->FindServiceByType(kSwitchPower, power));
    ASSERT_EQ(HLY_SUCCESS, device->FindServiceByType(kDimming, dimming));

    // one action through the control point, answered; its out value, if named
    std::intptr_t tag = 0;
    auto invoke = [&](const char* service, const char* name, const char* in, const char* value, const char* out) {
        CVD_ActionReference action;
        EXPECT_EQ(HLY_SUCCESS, ctrlpoint->CreateAction(device, service, name, action)) << name;
        if (action.IsNull()) return std::string("<no action>");
        if (in) action->SetArgumentValue(in, value);
        void*        userdata = reinterpret_cast<void*>(++tag);
        ActionAnswer answer;
        EXPECT_EQ(HLY_SUCCESS, ctrlpoint->InvokeAction(action, userdata));
        EXPECT_TRUE(Eventually([&]() { return recorder.Answer(userdata, answer); }, 3000)) << name;
        EXPECT_EQ(HLY_SUCCESS, answer.result) << name << " " << answer.error;
        HLY_String result;
        if (out && HLY_SUCCEEDED(action->GetArgumentValue(out, result))) return Text(result);
        return std::string();
    };
    invoke(kSwitchPower, "SetTarget", "newTargetValue", "1", nullptr);
    EXPECT_EQ("1", invoke(kSwitchPower, "GetStatus", nullptr, nullptr, "ResultStatus"));

    // subscribed to both: the initial events carry the current values
    ASSERT_EQ(HLY_SUCCESS, ctrlpoint->Subscribe(power));
    ASSERT_EQ(HLY_SUCCESS, ctrlpoint->Subscribe(dimming));
    EXPECT_TRUE(Eventually([&]() { return recorder.Notified("SwitchPower", "Status", "1"); }, 3000));
    EXPECT_TRUE(Eventually([&]() { return recorder.Notified("Dimming", "LoadLevelStatus", "0"); }, 3000));
    EXPECT_EQ(2u, ctrlpoint->GetSubscriberCount());

    // several changes, each heard as its own event (changes within one
    // publishing period of the host would share one), in the order made
    const struct {
        const char* service;
        const char* action;
        const char* argument;
        const char* value;
    } changes[] = {
        {kSwitchPower, "SetTarget", "newTargetValue", "0"},    {kDimming, "SetLoadLevelTarget", "newLoadlevelTarget", "20"},
        {kSwitchPower, "SetTarget", "newTargetValue", "1"},    {kDimming, "SetLoadLevelTarget", "newLoadlevelTarget", "55"},
        {kDimming, "SetLoadLevelTarget", "newLoadlevelTarget", "90"}, {kSwitchPower, "SetTarget", "newTargetValue", "0"},
    };
    std::map<std::string, std::vector<std::string>> expected = {{"Status", {"1"}}, {"LoadLevelStatus", {"0"}}};
    for (const auto& change : changes) {
        bool        power    = change.service == kSwitchPower;
        std::string variable = power ? "Status" : "LoadLevelStatus";
        expected[variable].push_back(change.value);
        invoke(change.service, change.action, change.argument, change.value, nullptr);
        EXPECT_TRUE(Eventually([&]() {
            return Heard(recorder, power ? "SwitchPower" : "Dimming", variable).size() >= expected[variable].size();
        }, 2000)) << change.action << " " << change.value;
    }
    EXPECT_EQ(expected["Status"], Heard(recorder, "SwitchPower", "Status"));
    EXPECT_EQ(expected["LoadLevelStatus"], Heard(recorder, "Dimming", "LoadLevelStatus"));

    // renewed with its SID (the light answers), then both cancelled
    HLY_Cardinal answers = ctrlpoint->GetSubscriptionAnswerCount();
    EXPECT_EQ(HLY_SUCCESS, ctrlpoint->Subscribe(power));
    EXPECT_TRUE(Eventually([&]() { return ctrlpoint->GetSubscriptionAnswerCount() > answers; }, 3000));
    EXPECT_EQ(2u, ctrlpoint->GetSubscriberCount());
    EXPECT_EQ(HLY_SUCCESS, ctrlpoint->Subscribe(power, true));
    EXPECT_EQ(HLY_SUCCESS, ctrlpoint->Subscribe(dimming, true));
    EXPECT_TRUE(Eventually([&]() { return ctrlpoint->GetCancelledSubscriptionCount() == 2; }, 3000));
    EXPECT_EQ(0u, ctrlpoint->GetSubscriberCount());

    // no more events once unsubscribed
    size_t heard = recorder.Notifications().size();
    invoke(kDimming, "SetLoadLevelTarget", "newLoadlevelTarget", "10", nullptr);

    // the light stops: its byebye removes it
    EXPECT_TRUE(hosttest::StopsCleanly(*light)) << light->Log();
    EXPECT_TRUE(Eventually([&]() { return recorder.Has(std::string("-") + kLightUuid); }, 3000));
    EXPECT_EQ(0u, ctrlpoint->GetRootDevices().GetItemCount());
    EXPECT_EQ(heard, recorder.Notifications().size());
    engine.Stop();
}

} // namespace
