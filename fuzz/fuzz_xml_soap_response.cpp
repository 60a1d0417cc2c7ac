// SOAP answers as the control point reads them into an action's outputs
// (or its error, from a fault). The first byte picks the action.

#include <string>

#include "fuzz_common.h"
#include "fuzz_soap_common.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::EnableLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > FUZZ_MAX_INPUT) return 0;
    CVD_Service*    service = fuzz::SoapDevice().GetServices()[0];
    CVD_ActionDesc* desc    = service->GetActionDescs()[data[0] % service->GetActionDescs().GetItemCount()];
    CVD_Action      action(*desc);
    HLY_Result      res = action.ProcessSoapResponse((const char*)data + 1, size - 1);
    if (HLY_SUCCEEDED(res)) {
        FUZZ_CHECK(action.GetErrorCode() == 0);
        FUZZ_CHECK(HLY_SUCCEEDED(action.VerifyArguments(false)));
    }
    return 0;
}
