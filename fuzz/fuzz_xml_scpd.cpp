// Service descriptions (SCPDs): read, written back, and the written text
// read again into the same actions, arguments and variables.

#include <string>

#include "CvdArgument.h"
#include "CvdDeviceData.h"
#include "CvdService.h"
#include "CvdStateVariable.h"
#include "fuzz_common.h"

namespace {

// what a round trip through the written text must keep
std::string Summary(CVD_Service& service)
{
    std::string text;
    for (HLY_Ordinal i = 0; i < service.GetActionDescs().GetItemCount(); i++) {
        CVD_ActionDesc* action = service.GetActionDescs()[i];
        text += std::string("action ") + action->GetName().GetChars() + "\n";
        for (HLY_Ordinal j = 0; j < action->GetArgumentDescs().GetItemCount(); j++) {
            CVD_ArgumentDesc* arg = action->GetArgumentDescs()[j];
            text += std::string(" ") + arg->GetName().GetChars() + " " + arg->GetDirection().GetChars() + " " +
                    arg->GetRelatedStateVariable()->GetName().GetChars() + (arg->HasReturnValue() ? " retval" : "") +
                    "\n";
        }
    }
    for (HLY_List<CVD_StateVariable*>::Iterator it = service.GetStateVariables().GetFirstItem(); it; ++it) {
        CVD_StateVariable* var = *it;
        text += std::string("var ") + var->GetName().GetChars() + " " + var->GetDataType().GetChars() + " [" +
                var->GetDefaultValue().GetChars() + "]" + (var->IsSendingEvents() ? " evented" : "");
        for (HLY_Ordinal j = 0; j < var->GetAllowedValues().GetItemCount(); j++) {
            text += std::string(" |") + var->GetAllowedValues()[j]->GetChars();
        }
        if (const CVD_AllowedValueRange* range = var->GetAllowedValueRange()) {
            text += " " + std::to_string(range->min_value) + ".." + std::to_string(range->max_value) + "/" +
                    std::to_string(range->step);
        }
        text += "\n";
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
    std::string    text((const char*)data, size);
    CVD_DeviceData device(HLY_HttpUrl("http://10.0.0.2/d.xml"), "u");
    CVD_Service    service(&device, "urn:x:service:S:1", "id");
    if (HLY_FAILED(service.SetSCPDXML(text.c_str()))) return 0;

    // every argument refers to a variable of the same service
    for (HLY_Ordinal i = 0; i < service.GetActionDescs().GetItemCount(); i++) {
        CVD_ActionDesc* action = service.GetActionDescs()[i];
        for (HLY_Ordinal j = 0; j < action->GetArgumentDescs().GetItemCount(); j++) {
            FUZZ_CHECK(action->GetArgumentDescs()[j]->GetRelatedStateVariable()->GetService() == &service);
        }
    }
    HLY_String written;
    FUZZ_CHECK(HLY_SUCCEEDED(service.GetSCPDXML(written)));
    CVD_Service again(&device, "urn:x:service:S:1", "id");
    FUZZ_CHECK(HLY_SUCCEEDED(again.SetSCPDXML(written)));
    FUZZ_CHECK(Summary(again) == Summary(service));
    return 0;
}
