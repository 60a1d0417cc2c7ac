// UPnP faults: the input is read as a Fault element (the detail, its
// UPnPError or upnp_error, the code and the description).

#include <string>

#include "CvdAction.h"
#include "fuzz_common.h"
#include "hlyxml.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::EnableLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > FUZZ_MAX_INPUT) return 0;
    HLY_XmlElementNode* tree = nullptr;
    if (HLY_FAILED(CVD_XmlHelper::Parse((const char*)data, size, tree))) return 0;
    HLY_UInt32 code = 0;
    HLY_String description;
    HLY_Result res = CVD_Action::ReadFault(tree, code, description);
    FUZZ_CHECK(HLY_SUCCEEDED(res) || description.IsEmpty());
    FUZZ_CHECK(description.GetLength() <= CVD_XML_MAX_TEXT_SIZE);
    delete tree;
    return 0;
}
