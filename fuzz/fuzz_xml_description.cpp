// Device descriptions as the control point reads them: parsed into a
// device tree, written back, and the written text must parse again into
// the same services.

#include <string>

#include "CvdDeviceData.h"
#include "CvdService.h"
#include "fuzz_common.h"

namespace {

std::string Services(CVD_DeviceData& device)
{
    std::string text;
    for (HLY_Ordinal i = 0; i < device.GetServices().GetItemCount(); i++) {
        CVD_Service* s = device.GetServices()[i];
        text += std::string(s->GetServiceType()) + "|" + s->GetServiceID().GetChars() + "|" +
                s->GetControlURL(true).GetChars() + "\n";
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
    res = CVD_DeviceData::SetDescription(again, HLY_TimeInterval(1800.0), HLY_HttpUrl("http://10.0.0.2:80/d/desc.xml"),
                                         written, context);
    FUZZ_CHECK(HLY_SUCCEEDED(res));
    FUZZ_CHECK(again->GetUUID() == root->GetUUID());
    FUZZ_CHECK(again->GetServices().GetItemCount() == root->GetServices().GetItemCount());
    return 0;
}
