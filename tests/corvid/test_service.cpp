#include <gtest/gtest.h>

#include <string>

#include "CvdDeviceData.h"
#include "CvdService.h"
#include "CvdStateVariable.h"
#include "CvdTaskManager.h"
#include "hlysystem.h"
#include "upnp_samples.h"

using namespace upnpsamples;

namespace {

const char* const kScpds[][2] = {{"minidlna", "scpd-ConnectionManager.xml"},
                                 {"minidlna", "scpd-ContentDirectory.xml"},
                                 {"minidlna", "scpd-X_MS_MediaReceiverRegistrar.xml"},
                                 {"gmediarender", "scpd-AVTransport.xml"},
                                 {"gmediarender", "scpd-ConnectionManager.xml"},
                                 {"gmediarender", "scpd-RenderingControl.xml"}};

size_t Count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
    return n;
}

std::string Scpd(const std::string& variables, const std::string& actions = "")
{
    return "<scpd xmlns=\"urn:schemas-upnp-org:service-1-0\">" + actions + "<serviceStateTable>" + variables +
           "</serviceStateTable></scpd>";
}

std::string Var(const char* name, const char* type, const char* events = "no", const std::string& inner = "")
{
    return std::string("<stateVariable sendEvents=\"") + events + "\"><name>" + name + "</name><dataType>" + type +
           "</dataType>" + inner + "</stateVariable>";
}

} // namespace

TEST(ServiceDescription, SampleScpdsParseAndSurviveARoundTrip)
{
    CVD_DeviceData device(HLY_HttpUrl("http://192.168.1.20/d.xml"), "u");
    for (const auto& sample : kScpds) {
        SCOPED_TRACE(sample[1]);
        std::string xml = ReadSample(sample[0], sample[1]);
        CVD_Service service(&device, "urn:x:service:S:1", "id");
        ASSERT_EQ(HLY_SUCCESS, service.SetSCPDXML(xml.c_str()));
        EXPECT_EQ(xml, std::string(service.GetRawSCPD()));
        // a refused document leaves the raw text of none behind it
        EXPECT_NE(HLY_SUCCESS, service.SetSCPDXML("<scpd"));
        EXPECT_EQ("", std::string(service.GetRawSCPD()));
        ASSERT_EQ(HLY_SUCCESS, service.SetSCPDXML(xml.c_str()));
        EXPECT_EQ(Count(xml, "<action>"), service.GetActionDescs().GetItemCount());
        EXPECT_EQ(Count(xml, "<stateVariable"), service.GetStateVariables().GetItemCount());
        EXPECT_TRUE(service.IsSubscribable());

        HLY_String written;
        ASSERT_EQ(HLY_SUCCESS, service.GetSCPDXML(written));
        CVD_Service again(&device, "urn:x:service:S:1", "id");
        ASSERT_EQ(HLY_SUCCESS, again.SetSCPDXML(written));
        EXPECT_EQ(DumpScpd(service), DumpScpd(again));
    }

    // what the records hold, in particular a bound beyond 32 bits
    CVD_Service avt(&device, "urn:x:service:S:1", "id");
    ASSERT_EQ(HLY_SUCCESS, avt.SetSCPDXML(ReadSample("gmediarender", "scpd-AVTransport.xml").c_str()));
    const CVD_AllowedValueRange* range = avt.FindStateVariable("currenttrack")->GetAllowedValueRange();
    ASSERT_NE(nullptr, range);
    EXPECT_EQ(4294967295LL, range->max_value);
    EXPECT_EQ(1, range->step);
    EXPECT_EQ(-1, avt.FindStateVariable("NumberOfTracks")->GetAllowedValueRange()->step);
    HLY_String written;
    avt.GetSCPDXML(written);
    EXPECT_NE(std::string::npos, std::string(written).find("<maximum>4294967295</maximum>"));
    CVD_ActionDesc* play = avt.FindActionDesc("PLAY");
    ASSERT_NE(nullptr, play);
    EXPECT_EQ(2u, play->GetArgumentDescs().GetItemCount());
    EXPECT_EQ("Speed", S(play->GetArgumentDescs()[1]->GetName()));
    EXPECT_EQ(1u, play->GetArgumentDescs()[1]->GetPosition());
    EXPECT_TRUE(avt.FindStateVariable("LastChange")->IsSendingEvents());
}

TEST(ServiceDescription, ScpdRules)
{
    const std::string arg_a =
        "<actionList><action><name>A</name><argumentList><argument><name>x</name><direction>in</direction>"
        "<relatedStateVariable>V</relatedStateVariable>";
    struct Case {
        const char* what;
        std::string xml;
        HLY_Result  result;
    } cases[] = {
        {"minimal", Scpd(Var("V", "string")), HLY_SUCCESS},
        {"wrong top", "<scpdx><serviceStateTable>" + Var("V", "string") + "</serviceStateTable></scpdx>", HLY_FAILURE},
        {"no variables", Scpd(""), HLY_FAILURE},
        {"blank space for variables", Scpd("\n  "), HLY_FAILURE},
        {"text for variables", Scpd("stateVariable"), HLY_FAILURE},
        {"empty type", Scpd(Var("V", "")), HLY_FAILURE},
        {"string range without minimum",
         Scpd(Var("V", "string", "no", "<allowedValueRange><maximum>3</maximum></allowedValueRange>")), HLY_FAILURE},
        {"action without name", Scpd(Var("V", "string"), "<actionList><action/></actionList>"), HLY_FAILURE},
        {"unknown related variable",
         Scpd(Var("W", "string"), arg_a + "</argument></argumentList></action></actionList>"), HLY_FAILURE},
        {"two return values",
         Scpd(Var("V", "string"), arg_a + "<retval/></argument><argument><name>y</name><direction>out</direction>"
                                          "<relatedStateVariable>V</relatedStateVariable><retval/></argument>"
                                          "</argumentList></action></actionList>"),
         HLY_FAILURE},
        {"argumentless action", Scpd(Var("V", "string"), "<actionList><action><name>A</name></action></actionList>"),
         HLY_SUCCESS},
    };
    CVD_DeviceData device(HLY_HttpUrl("http://h/d.xml"), "u");
    for (const Case& c : cases) {
        CVD_Service service(&device, "urn:x:service:S:1", "id");
        EXPECT_EQ(c.result, service.SetSCPDXML(c.xml.c_str())) << c.what;
    }

    CVD_Service service(&device, "urn:x:service:S:1", "id");
    ASSERT_EQ(HLY_SUCCESS,
              service.SetSCPDXML(
                  Scpd("<stateVariable><sendEvents>yes</sendEvents><name>E</name><dataType>ui4</dataType></stateVariable>" +
                       Var("U", "ui2", "YES", "<allowedValueRange><maximum>100</maximum></allowedValueRange>") +
                       Var("B", "i4", "1", "<allowedValueRange><minimum>-5000000000</minimum><maximum>"
                                           "99999999999</maximum><step>7</step></allowedValueRange>"))
                      .c_str()));
    EXPECT_FALSE(service.FindStateVariable("E")->IsSendingEvents());
    EXPECT_TRUE(service.FindStateVariable("U")->IsSendingEvents());
    EXPECT_EQ(0, service.FindStateVariable("U")->GetAllowedValueRange()->min_value);
    EXPECT_EQ(-5000000000LL, service.FindStateVariable("B")->GetAllowedValueRange()->min_value);
    HLY_String written;
    service.GetSCPDXML(written);
    EXPECT_NE(std::string::npos, std::string(written).find("<minimum>-5000000000</minimum>"));
    EXPECT_NE(std::string::npos, std::string(written).find("<maximum>99999999999</maximum>"));
    EXPECT_EQ(HLY_ERROR_INVALID_PARAMETERS, service.SetSCPDXML(nullptr));
}

TEST(ServiceDescription, ValuesAreValidatedAgainstTheAllowedList)
{
    CVD_DeviceData device(HLY_HttpUrl("http://h/d.xml"), "u");
    CVD_Service    service(&device, "urn:x:service:S:1", "id");
    ASSERT_EQ(HLY_SUCCESS, service.SetSCPDXML(Scpd(Var("Mode", "string", "no",
                                                       "<allowedValueList><allowedValue>PLAY</allowedValue>"
                                                       "<allowedValue>STOP</allowedValue></allowedValueList>") +
                                                   Var("N", "ui4") + Var("Free", "string"))
                                                  .c_str()));
    const struct {
        const char* variable;
        const char* value;
        HLY_Result  result;
    } cases[] = {{"Mode", "PLAY", HLY_SUCCESS},
                 {"Mode", "PLAY, STOP", HLY_SUCCESS},
                 {"Mode", "play", HLY_ERROR_INVALID_PARAMETERS},
                 {"Mode", "PLAY,PAUSE", HLY_ERROR_INVALID_PARAMETERS},
                 {"N", "not checked", HLY_SUCCESS},
                 {"Free", "anything", HLY_SUCCESS},
                 {"Missing", "x", HLY_FAILURE}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.result, service.SetStateVariable(c.variable, c.value)) << c.variable << "=" << c.value;
    }
    HLY_String value;
    service.GetStateVariableValue("mode", value);
    EXPECT_EQ("PLAY, STOP", S(value));
    EXPECT_EQ(HLY_ERROR_INVALID_PARAMETERS, service.GetStateVariableValue("none", value));

    service.SetStateVariable("N", "41");
    EXPECT_EQ(HLY_SUCCESS, service.IncStateVariable("N"));
    service.GetStateVariableValue("N", value);
    EXPECT_EQ("42", S(value));
    EXPECT_EQ(HLY_FAILURE, service.IncStateVariable("Free"));
    EXPECT_EQ(HLY_FAILURE, service.SetStateVariableRate("N", HLY_TimeInterval(1.0))); // not evented
    EXPECT_EQ(HLY_SUCCESS, service.ForceVersion(3));
    EXPECT_EQ("urn:x:service:S:3", S(service.GetServiceType()));
    EXPECT_EQ(HLY_FAILURE, service.ForceVersion(0));
}

TEST(ServiceDescription, HostedUrlsAndDescriptionEntry)
{
    CVD_DeviceData device(HLY_HttpUrl("http://10.0.0.1:80/d.xml"), "dev-1");
    CVD_Service*   service = new CVD_Service(&device, "urn:x:service:AVTransport:1", "urn:x:serviceId:AVT", "AVTransport");
    ASSERT_EQ(HLY_SUCCESS, device.AddService(service));
    EXPECT_EQ("/AVTransport/dev-1/scpd.xml", S(service->GetSCPDURL()));
    EXPECT_EQ("http://10.0.0.1/AVTransport/dev-1/control.xml", S(service->GetControlURL(true)));
    CVD_Service* found = nullptr;
    EXPECT_EQ(HLY_SUCCESS, device.FindServiceByName("avtransport", found));
    HLY_String text;
    ASSERT_EQ(HLY_SUCCESS, device.GetDescription(text));
    EXPECT_NE(std::string::npos, std::string(text).find("<eventSubURL>/AVTransport/dev-1/event.xml</eventSubURL>"));
    EXPECT_EQ(HLY_SUCCESS, device.RemoveService(service));
    EXPECT_EQ(HLY_ERROR_NO_SUCH_ITEM, device.RemoveService(service));
    delete service;
}

TEST(ServiceDescription, HostileScpdsStayBounded)
{
    CVD_DeviceData device(HLY_HttpUrl("http://h/d.xml"), "u");
    std::string    vars, big(10 * 1024 * 1024, 'y');
    for (int i = 0; i < 20000; i++) vars += Var(("V" + std::to_string(i)).c_str(), "string");
    const struct {
        const char* what;
        std::string xml;
        HLY_Result  result;
    } cases[] = {{"20,000 variables", Scpd(vars), HLY_SUCCESS},
                 {"10 MB default value", Scpd(Var("V", "string", "no", "<defaultValue>" + big + "</defaultValue>")),
                  HLY_SUCCESS}};
    for (const auto& c : cases) {
        long long   before = HeapInUse();
        CVD_Service service(&device, "urn:x:service:S:1", "id");
        EXPECT_EQ(c.result, service.SetSCPDXML(c.xml.c_str())) << c.what;
        long long held = HeapInUse() - before;
        std::printf("[ memory ] SCPD with %s: input %zu bytes, record %lld bytes\n", c.what, c.xml.size(), held);
        EXPECT_LT(held, (long long)c.xml.size() * 4);
    }
}

TEST(ServiceEventing, ChangesAreCollectedModeratedAndCarriedInLastChange)
{
    CVD_DeviceData device(HLY_HttpUrl("http://h/d.xml"), "u");
    CVD_Service    service(&device, "urn:x:service:RenderingControl:1", "id", nullptr,
                           "urn:schemas-upnp-org:metadata-1-0/RCS/");
    ASSERT_EQ(HLY_SUCCESS, service.SetSCPDXML(Scpd(Var("LastChange", "string", "yes") + Var("Volume", "ui2") +
                                                   Var("Mute", "boolean") + Var("A_ARG_TYPE_Channel", "string") +
                                                   Var("Direct", "ui4", "yes"))
                                                  .c_str()));
    service.SetStateVariableExtraAttribute("Volume", "channel", "Master");
    service.SetStateVariable("Volume", "10");
    service.SetStateVariable("A_ARG_TYPE_Channel", "Master");

    HLY_List<CVD_StateVariable*> all(service.GetStateVariables());
    ASSERT_EQ(HLY_SUCCESS, service.UpdateLastChange(all));
    HLY_String last_change;
    service.GetStateVariableValue("LastChange", last_change);
    EXPECT_EQ("<Event xmlns=\"urn:schemas-upnp-org:metadata-1-0/RCS/\"><InstanceID val=\"0\">"
              "<Volume channel=\"Master\" val=\"10\"/><Mute val=\"\"/></InstanceID></Event>",
              S(last_change));

    HLY_Array<CVD_LastChangeEntry> entries;
    ASSERT_EQ(HLY_SUCCESS, CVD_Service::DecomposeLastChange(last_change, entries));
    ASSERT_EQ(2u, entries.GetItemCount());
    EXPECT_EQ("Volume", S(entries[0].m_Name));
    EXPECT_EQ("10", S(entries[0].m_Value));
    EXPECT_EQ("0", S(entries[0].m_InstanceID));

    CVD_Service plain(&device, "urn:x:service:S:1", "id2");
    ASSERT_EQ(HLY_SUCCESS, plain.SetSCPDXML(Scpd(Var("Volume", "ui2")).c_str()));
    HLY_List<CVD_StateVariable*> plain_vars(plain.GetStateVariables());
    EXPECT_EQ(HLY_FAILURE, plain.UpdateLastChange(plain_vars));

    // moderation: with a rate of 1 s, the second of two quick publications waits
    CVD_StateVariable* direct = service.FindStateVariable("Direct");
    ASSERT_EQ(HLY_SUCCESS, direct->SetRate(HLY_TimeInterval(1.0)));
    EXPECT_TRUE(direct->IsReadyToPublish());
    EXPECT_FALSE(direct->IsReadyToPublish());
    HLY_System::Sleep(HLY_TimeInterval(1.05));
    EXPECT_TRUE(direct->IsReadyToPublish());
}
