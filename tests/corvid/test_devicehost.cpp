// The device host's request routing without its server or SSDP (those are
// exercised inside the test network, tests/net/test_devicehost.cpp).

#include <gtest/gtest.h>

#include <string>

#include "CvdDeviceHost.h"
#include "CvdHttp.h"
#include "CvdService.h"
#include "upnp_samples.h"

using upnpsamples::S;

namespace {

class Plain : public CVD_DeviceHost
{
public:
    Plain() : CVD_DeviceHost("/dev/description.xml", "33ef0000-0000-4000-8000-000000000001", "urn:x:device:Plain:1", "plain") {}
    HLY_Result Setup() { return SetupDevice(); }

protected:
    HLY_Result SetupServices() override
    {
        CVD_Service* service = new CVD_Service(this, "urn:x:service:Knob:1", "urn:x:serviceId:Knob", "Knob");
        service->SetSCPDXML("<scpd xmlns=\"urn:schemas-upnp-org:service-1-0\"><actionList><action><name>Turn</name>"
                            "</action></actionList><serviceStateTable><stateVariable sendEvents=\"yes\"><name>Angle"
                            "</name><dataType>ui4</dataType></stateVariable></serviceStateTable></scpd>");
        return AddService(service);
    }
};

} // namespace

TEST(DeviceHost, RoutesEveryMethodOfItsRequests)
{
    Plain host;
    ASSERT_EQ(HLY_SUCCESS, host.Setup());
    const std::string soap = "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\">"
                             "<s:Body><u:Turn xmlns:u=\"urn:x:service:Knob:1\"/></s:Body></s:Envelope>";
    const struct {
        const char* method;
        const char* path;
        const char* header;
        HLY_Result  result;
        int         status;
        const char* reason;
        const char* body; // a part of it
    } cases[] = {
        {"GET", "/dev/description.xml", nullptr, HLY_SUCCESS, 200, "OK", "<deviceType>urn:x:device:Plain:1</deviceType>"},
        {"HEAD", "/dev/description.xml", nullptr, HLY_SUCCESS, 200, "OK", "<UDN>uuid:33ef0000"},
        {"GET", "/dev/Knob/33ef0000-0000-4000-8000-000000000001/scpd.xml", nullptr, HLY_SUCCESS, 200, "OK",
         "<name>Angle</name>"},
        {"GET", "/dev/other.xml", nullptr, HLY_ERROR_NO_SUCH_ITEM, 200, "OK", ""},
        {"DELETE", "/dev/description.xml", nullptr, HLY_SUCCESS, 405, "Bad Request", ""},
        {"get", "/dev/description.xml", nullptr, HLY_SUCCESS, 405, "Bad Request", ""},
        // a known action that the device does not handle
        {"POST", "/dev/Knob/33ef0000-0000-4000-8000-000000000001/control.xml", "\"urn:x:service:Knob:1#Turn\"",
         HLY_SUCCESS, 500, "Internal Server Error", "<errorCode>401</errorCode>"},
        {"SUBSCRIBE", "/dev/nowhere.xml", nullptr, HLY_SUCCESS, 400, "Bad Request", ""},
        // received on the loopback: a callback on another network is refused
        {"SUBSCRIBE", "/dev/Knob/33ef0000-0000-4000-8000-000000000001/event.xml", "<http://192.0.2.1/>", HLY_SUCCESS,
         412, "Precondition Failed", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.path);
        HLY_HttpRequest request((std::string("http://127.0.0.1:4000") + c.path).c_str(), c.method,
                                HLY_HTTP_PROTOCOL_1_1);
        if (std::string(c.method) == "POST") {
            request.GetHeaders().SetHeader("SOAPAction", c.header);
            HLY_HttpEntity* entity = new HLY_HttpEntity();
            entity->SetInputStream(soap.c_str());
            request.SetEntity(entity);
        } else if (c.header) {
            request.GetHeaders().SetHeader("NT", "upnp:event");
            request.GetHeaders().SetHeader("CALLBACK", c.header);
        }
        HLY_SocketAddress      local(HLY_IpAddress::Loopback, 4000), remote(HLY_IpAddress::Loopback, 50000);
        HLY_HttpRequestContext context(&local, &remote);
        HLY_HttpResponse       response(200, "OK", HLY_HTTP_PROTOCOL_1_1);
        EXPECT_EQ(c.result, host.SetupResponse(request, context, response));
        EXPECT_EQ(c.status, response.GetStatusCode());
        EXPECT_EQ(c.reason, S(response.GetReasonPhrase()));
        HLY_String body;
        if (response.GetEntity()) CVD_HttpHelper::GetBody(response, body);
        EXPECT_NE(std::string::npos, S(body).find(c.body)) << S(body);
    }

    // icons need the running server, and their path below the given root
    CVD_DeviceIcon icon("image/png", 48, 48, 24, "/icons/light.png");
    EXPECT_EQ(HLY_ERROR_INVALID_PARAMETERS, host.AddIcon(icon, "/tmp", "/images/"));
    EXPECT_EQ(HLY_ERROR_INVALID_STATE, host.AddIcon(icon, "/tmp", "/icons/"));
    EXPECT_EQ(HLY_ERROR_INVALID_STATE, host.AddIcon(icon, "png", 3));
}
