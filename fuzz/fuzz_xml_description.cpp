// Device descriptions as the control point reads them: parsed into a
// device tree, written back, and the written text must parse again into
// the same devices and services.

#include <algorithm>
#include <string>

#include "CvdDeviceData.h"
#include "CvdService.h"
#include "fuzz_common.h"

namespace {

// a URL at the text bound was cut, and written as a request target it may
// come back longer and be cut again: compare what both readings keep
std::string Url(const HLY_String& url)
{
    return std::string(url.GetChars(), std::min<size_t>(url.GetLength(), CVD_XML_MAX_TEXT_SIZE / 2));
}

// each device's UUID, type and services with their URLs, embedded devices
// depth first: what a round trip through the written text must keep
std::string Tree(CVD_DeviceData& device)
{
    std::string text = std::string(device.GetUUID().GetChars()) + " " + device.GetType().GetChars() + "\n";
    for (HLY_Ordinal i = 0; i < device.GetServices().GetItemCount(); i++) {
        CVD_Service* s = device.GetServices()[i];
        text += std::string(s->GetServiceType()) + "|" + s->GetServiceID().GetChars() + "|" + Url(s->GetSCPDURL()) +
                "|" + Url(s->GetControlURL()) + "|" + Url(s->GetEventSubURL()) + "\n";
    }
    for (HLY_Ordinal i = 0; i < device.GetEmbeddedDevices().GetItemCount(); i++) {
        text += "{" + Tree(*device.GetEmbeddedDevices()[i]) + "}";
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::EnableLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > FUZZ_MAX_INPUT) return 0;
    std::string            text((const char*)data, size);
    HLY_SocketAddress      local(HLY_IpAddress(10, 0, 0, 1), 1), remote(HLY_IpAddress(10, 0, 0, 2), 2);
    HLY_HttpRequestContext context(&local, &remote);
    CVD_DeviceDataReference root;
    HLY_Result res = CVD_DeviceData::SetDescription(root, HLY_TimeInterval(1800.0),
                                                    HLY_HttpUrl("http://10.0.0.2:80/d/desc.xml"), text.c_str(), context);
    FUZZ_CHECK(!root.IsNull());
    FUZZ_CHECK(!root->GetUUID().StartsWith("uuid:") || HLY_FAILED(res));
    FUZZ_CHECK(root->GetTreeDepth() <= CVD_DEVICE_MAX_DEPTH);
    if (HLY_FAILED(res)) return 0;

    HLY_String written;
    FUZZ_CHECK(HLY_SUCCEEDED(root->GetDescription(written)));
    CVD_DeviceDataReference again;
    // the writer leaves out a URLBase, so the text is read again where the
    // first reading resolved its URLs
    res = CVD_DeviceData::SetDescription(again, HLY_TimeInterval(1800.0), root->GetURLBase(), written, context);
    FUZZ_CHECK(HLY_SUCCEEDED(res));
    FUZZ_CHECK(Tree(*again) == Tree(*root));
    return 0;
}
