// The control point's decisions that need no network: which SSDP messages
// lead to an inspection, LastChange decomposition, and what a stopped
// control point refuses. The scenarios with devices are in tests/net.

#include <gtest/gtest.h>

#include <string>

#include "CvdCtrlPoint.h"
#include "CvdSsdp.h"
#include "upnp_samples.h"

using namespace upnpsamples;

namespace {

HLY_HttpResponse* SearchAnswer(const std::string& st, const std::string& usn, bool ext = true)
{
    std::string bytes = "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\nLOCATION: http://10.0.0.9:80/d.xml\r\n"
                        "ST: " + st + "\r\nUSN: " + usn + "\r\n" + (ext ? "EXT:\r\n" : "") + "\r\n";
    HLY_HttpResponse* response = nullptr;
    EXPECT_EQ(CVD_UPnPMessageHelper::ParseResponse(bytes.data(), bytes.size(), response), HLY_SUCCESS);
    return response;
}

TEST(CtrlPoint, SearchAnswersReachTheInspectionOnlyWhenWellFormed)
{
    // a stopped control point refuses the inspection itself: reaching it
    // shows in HLY_ERROR_INVALID_STATE
    struct Case
    {
        const char* st;
        const char* usn;
        bool        ext;
        HLY_Result  result;
    } cases[] = {
        {"upnp:rootdevice", "uuid:abc::upnp:rootdevice", true, HLY_ERROR_INVALID_STATE},
        {"UPNP:ROOTDEVICE", "uuid:abc::upnp:rootdevice", true, HLY_ERROR_INVALID_STATE},
        {"uuid:abc", "uuid:abc", true, HLY_ERROR_INVALID_STATE},
        {"upnp:rootdevice", "uuid:abc::upnp:rootdevice::x", true, HLY_FAILURE},
        {"upnp:rootdevice", "uuid:abc::urn:other", true, HLY_FAILURE},
        {"upnp:rootdevice", "uuid:", true, HLY_FAILURE},
        {"upnp:rootdevice", "uuid:abc::upnp:rootdevice", false, HLY_ERROR_INVALID_PARAMETERS},
        // ignored below
        {"upnp:rootdevice", "uuid:me::upnp:rootdevice", true, HLY_SUCCESS},
    };
    CVD_CtrlPoint ctrl_point("");
    ctrl_point.IgnoreUUID("me");
    HLY_HttpRequestContext context;
    for (const Case& c : cases) {
        HLY_HttpResponse* response = SearchAnswer(c.st, c.usn, c.ext);
        ASSERT_NE(response, nullptr);
        EXPECT_EQ(ctrl_point.ProcessSsdpSearchResponse(HLY_SUCCESS, context, response), c.result) << c.usn;
        delete response;
    }
    EXPECT_EQ(ctrl_point.GetPendingInspectionCount(), 0u);
}

TEST(CtrlPoint, StoppedRefusesWhatNeedsItStarted)
{
    CVD_CtrlPoint       ctrl_point;
    HLY_UInt16          port = 0;
    CVD_ActionReference action;
    EXPECT_EQ(ctrl_point.GetPort(port), HLY_ERROR_INVALID_STATE);
    EXPECT_EQ(ctrl_point.Search(HLY_HttpUrl("239.255.255.250", 1900, "*"), "upnp:rootdevice", 5,
                                HLY_TimeInterval(), HLY_TimeInterval()),
              HLY_ERROR_INVALID_STATE);
    EXPECT_EQ(ctrl_point.InvokeAction(action), HLY_ERROR_INVALID_STATE);
    EXPECT_EQ(ctrl_point.Subscribe(nullptr), HLY_ERROR_INVALID_STATE);
    EXPECT_EQ(ctrl_point.Stop(nullptr), HLY_ERROR_INVALID_STATE);
}

TEST(CtrlPoint, LastChangeIsDecomposedForInstanceZero)
{
    CVD_DeviceData device(HLY_HttpUrl("http://10.0.0.9/d.xml"), "dev");
    CVD_Service    rcs(&device, "urn:schemas-upnp-org:service:RenderingControl:1", "urn:upnp-org:serviceId:RCS");
    ASSERT_EQ(rcs.SetSCPDXML(ReadSample("gmediarender", "scpd-RenderingControl.xml").c_str()), HLY_SUCCESS);
    CVD_StateVariable* last_change = rcs.FindStateVariable("LastChange");
    ASSERT_NE(last_change, nullptr);
    ASSERT_EQ(last_change->SetValue("<Event xmlns=\"urn:schemas-upnp-org:metadata-1-0/RCS/\">"
                                    "<InstanceID val=\"1\"><Volume channel=\"Master\" val=\"99\"/></InstanceID>"
                                    "<InstanceID val=\"0\"><Volume channel=\"Master\" val=\"42\"/>"
                                    "<Mute channel=\"Master\" val=\"1\"/><Unknown val=\"x\"/></InstanceID></Event>"),
              HLY_SUCCESS);

    CVD_CtrlPoint                ctrl_point;
    HLY_List<CVD_StateVariable*> vars;
    vars.Add(last_change);
    EXPECT_EQ(ctrl_point.DecomposeLastChangeVar(vars), HLY_SUCCESS);
    std::string names;
    for (HLY_List<CVD_StateVariable*>::Iterator it = vars.GetFirstItem(); it; ++it) {
        names += std::string((*it)->GetName()) + "=" + std::string((*it)->GetValue()) + ";";
    }
    EXPECT_EQ(names, "Volume=42;Mute=1;");

    last_change->SetValue("<Event><not closed");
    vars.Clear();
    vars.Add(last_change);
    EXPECT_EQ(ctrl_point.DecomposeLastChangeVar(vars), HLY_ERROR_INVALID_FORMAT);
    EXPECT_EQ(vars.GetItemCount(), 0u);
}

} // namespace
