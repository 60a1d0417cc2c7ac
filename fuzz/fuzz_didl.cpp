// DIDL-Lite reading. Whatever a document holds, reading it must not fail
// badly; every object it gives carries a complete DIDL-Lite text of its own.
// The objects written back form a document that reads again to as many
// objects, and from then on writing and reading are a fixed point: the
// first round may only normalise (cut texts, line ends, defaults).

#include <string>

#include "CvdDidl.h"
#include "fuzz_common.h"

namespace {

std::string WriteBack(CVD_MediaObjectList& objects)
{
    HLY_String didl = CVD_DIDL_HEADER;
    for (auto it = objects.GetFirstItem(); it; ++it) {
        FUZZ_CHECK((*it)->ToDidl(CVD_FILTER_MASK_ALL, didl) == HLY_SUCCESS);
    }
    didl += CVD_DIDL_FOOTER;
    return didl.GetChars();
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
    std::string input((const char*)data, size);

    CVD_MediaObjectListReference objects;
    HLY_Result                   result = CVD_Didl::FromDidl(input.c_str(), objects);
    if (HLY_FAILED(result)) {
        FUZZ_CHECK(objects.IsNull());
        return 0;
    }
    FUZZ_CHECK(!objects.IsNull());
    for (auto it = objects->GetFirstItem(); it; ++it) {
        CVD_MediaObject& object = **it;
        FUZZ_CHECK(object.m_Didl.StartsWith(CVD_DIDL_HEADER) && object.m_Didl.EndsWith(CVD_DIDL_FOOTER));
        FUZZ_CHECK(object.m_Title.GetLength() <= 1024 && object.m_Creator.GetLength() <= 256);
        if (!object.IsContainer()) FUZZ_CHECK(object.m_Resources.GetItemCount() > 0);
        // writing with a filter works on any object that was read
        HLY_String filtered;
        FUZZ_CHECK(CVD_Didl::ToDidl(object, "dc:title,res@size,upnp:class", filtered) == HLY_SUCCESS);
    }

    std::string                  first = WriteBack(*objects);
    CVD_MediaObjectListReference again;
    FUZZ_CHECK(CVD_Didl::FromDidl(first.c_str(), again) == HLY_SUCCESS);
    FUZZ_CHECK(again->GetItemCount() == objects->GetItemCount());
    std::string                  second = WriteBack(*again);
    CVD_MediaObjectListReference third;
    FUZZ_CHECK(CVD_Didl::FromDidl(second.c_str(), third) == HLY_SUCCESS);
    FUZZ_CHECK(WriteBack(*third) == second);
    return 0;
}
