// Protocol info texts as renderers and servers send them. A text that is
// valid writes out to one that parses to the same protocol info; matching
// is symmetric; the MIME and DLNA tables answer any name without harm.

#include <string>

#include "CvdProtocolInfo.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::EnableLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 64 * 1024) return 0;
    std::string input((const char*)data, size);
    // a second protocol info after the first new line, to match against
    size_t      line  = input.find('\n');
    std::string first = input.substr(0, line);
    std::string other = line == std::string::npos ? first : input.substr(line + 1);

    CVD_ProtocolInfo info;
    HLY_Result       result = info.Parse(first.c_str());
    FUZZ_CHECK(HLY_SUCCEEDED(result) == info.IsValid());
    HLY_String written = info.ToString();
    if (info.IsValid()) {
        CVD_ProtocolInfo again(written);
        FUZZ_CHECK(again.IsValid());
        FUZZ_CHECK(again.ToString() == written);
        FUZZ_CHECK(again.GetContentType() == info.GetContentType());
        FUZZ_CHECK(again.GetDlnaPN() == info.GetDlnaPN());
    }

    CVD_ProtocolInfo second(other.c_str());
    FUZZ_CHECK(info.Match(second) == second.Match(info));

    // the same text as a fourth field of its own
    CVD_ProtocolInfo four("http-get", "*", "audio/mpeg", first.c_str());
    if (four.IsValid()) FUZZ_CHECK(CVD_ProtocolInfo(four.ToString()).IsValid());

    for (int signature = CVD_DEVICE_UNKNOWN; signature <= CVD_DEVICE_VLC; ++signature) {
        HLY_String  type  = CVD_ProtocolInfo::GetMimeType(first.c_str(), (CVD_DeviceSignature)signature);
        const char* field = CVD_ProtocolInfo::GetDlnaExtension(first.c_str(), (CVD_DeviceSignature)signature);
        FUZZ_CHECK(!type.IsEmpty() && field != nullptr);
    }
    return 0;
}
