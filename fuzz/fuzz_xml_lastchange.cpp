// LastChange documents as a control point decomposes them into values.

#include <string>

#include "CvdService.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::EnableLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > FUZZ_MAX_INPUT) return 0;
    std::string                    text((const char*)data, size);
    HLY_Array<CVD_LastChangeEntry> entries;
    HLY_Result                     res = CVD_Service::DecomposeLastChange(text.c_str(), entries);
    FUZZ_CHECK(entries.GetItemCount() <= CVD_LASTCHANGE_MAX_ENTRIES);
    FUZZ_CHECK(HLY_SUCCEEDED(res) || res == HLY_ERROR_OUT_OF_RANGE || entries.GetItemCount() == 0);
    return 0;
}
