// URLs from descriptions, Location headers and request lines: HLY_Url and
// HLY_HttpUrl parsing, the text forms, the setters the engine uses to
// resolve relative URLs, and percent-encoding, with what must hold of each.

#include <cstring>
#include <string>

#include "fuzz_common.h"
#include "hlysockets.h"
#include "hlyurls.h"

namespace {

std::string Str(const HLY_String& text) { return std::string(text.GetChars(), text.GetLength()); }

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

void CheckNoControls(const HLY_String& text)
{
    for (HLY_Size i = 0; i < text.GetLength(); ++i) {
        unsigned char c = (unsigned char)text[i];
        FUZZ_CHECK(c >= 0x20 && c != 0x7F);
    }
}

// what parsing guarantees of the parts of a URL that parsed
void CheckParts(const HLY_Url& url)
{
    FUZZ_CHECK(strpbrk(url.GetHost(), ":/?#") == nullptr);
    FUZZ_CHECK(strpbrk(url.GetPath(), "?#") == nullptr);
    FUZZ_CHECK(strchr(url.GetQuery(), '#') == nullptr);
    if (!url.HasQuery()) FUZZ_CHECK(url.GetQuery().IsEmpty());
    if (!url.HasFragment()) FUZZ_CHECK(url.GetFragment().IsEmpty());
    CheckNoControls(url.GetHost());
    CheckNoControls(url.GetPath());
    CheckNoControls(url.GetQuery());
    CheckNoControls(url.GetFragment());
    HLY_String scheme = url.GetScheme();
    scheme.MakeLowercase();
    FUZZ_CHECK(scheme == url.GetScheme());
}

// printing a URL and parsing the text again gives the same text
template <typename URL>
void CheckReprint(const URL& url)
{
    if (!url.IsValid()) return;
    HLY_String text = url.ToString();
    URL        again(text);
    FUZZ_CHECK(again.IsValid());
    FUZZ_CHECK(Str(again.ToString()) == Str(text));
    FUZZ_CHECK(again.GetHost() == url.GetHost());
    FUZZ_CHECK(again.GetPort() == url.GetPort());
    FUZZ_CHECK(again.HasQuery() == url.HasQuery());
    FUZZ_CHECK(again.HasFragment() == url.HasFragment());

    // the request target alone reads back the same way
    HLY_Url    target;
    HLY_String line = url.FormatRequestTarget(true);
    FUZZ_CHECK(target.SetRequestTarget(line) == HLY_SUCCESS);
    FUZZ_CHECK(Str(target.FormatRequestTarget(true)) == Str(line));
}

void CheckPercentEncoding(const char* text)
{
    static const char* const sets[] = {HLY_Uri::PathCharsToEncode, HLY_Uri::QueryCharsToEncode,
                                       HLY_Uri::FragmentCharsToEncode, HLY_Uri::UnsafeCharsToEncode, ""};
    for (const char* set : sets) {
        HLY_String encoded = HLY_Uri::PercentEncode(text, set, true);
        // nothing that needs escaping is left raw, and every '%' starts an escape
        for (HLY_Size i = 0; i < encoded.GetLength(); ++i) {
            char c = encoded[i];
            FUZZ_CHECK((unsigned char)c >= 0x20 && (unsigned char)c < 0x7F);
            FUZZ_CHECK(strchr(set, c) == nullptr);
            if (c == '%') FUZZ_CHECK(i + 2 < encoded.GetLength() && IsHex(encoded[i + 1]) && IsHex(encoded[i + 2]));
        }
        FUZZ_CHECK(Str(HLY_Uri::PercentDecode(encoded)) == text);

        // without escaping '%', an existing escape passes through unchanged
        HLY_String partial = HLY_Uri::PercentEncode(text, set, false);
        FUZZ_CHECK(partial.GetLength() >= strlen(text));
    }
    HLY_String decoded = HLY_Uri::PercentDecode(text);
    FUZZ_CHECK(decoded.GetLength() <= strlen(text));
    // an escaped NUL must not cut the text short
    FUZZ_CHECK(strlen(decoded) == decoded.GetLength());
}

// the numbers of headers (Content-Length, MX, max-age, SEQ) and the
// dotted addresses of hosts: what parses prints and parses back the same
void CheckNumbersAndAddresses(const char* text)
{
    for (bool relaxed : {false, true}) {
        HLY_Int64 value = 0;
        if (HLY_SUCCEEDED(HLY_ParseInteger64(text, value, relaxed))) {
            HLY_Int64 again = 0;
            FUZZ_CHECK(HLY_ParseInteger64(HLY_String::FromInteger(value), again, false) == HLY_SUCCESS);
            FUZZ_CHECK(again == value);
        }
        HLY_UInt64 unsigned_value = 0;
        if (HLY_SUCCEEDED(HLY_ParseInteger64U(text, unsigned_value, relaxed))) {
            HLY_UInt64 again = 0;
            FUZZ_CHECK(HLY_ParseInteger64U(HLY_String::FromIntegerU(unsigned_value), again, false) == HLY_SUCCESS);
            FUZZ_CHECK(again == unsigned_value);
        }
        HLY_Int32  small          = 0;
        HLY_UInt32 small_unsigned = 0;
        if (HLY_SUCCEEDED(HLY_ParseInteger32(text, small, relaxed))) FUZZ_CHECK(HLY_SUCCEEDED(HLY_ParseInteger64(text, value, relaxed)) && value == small);
        if (HLY_SUCCEEDED(HLY_ParseInteger32U(text, small_unsigned, relaxed))) {
            FUZZ_CHECK(HLY_SUCCEEDED(HLY_ParseInteger64U(text, unsigned_value, relaxed)) && unsigned_value == small_unsigned);
        }
    }
    HLY_IpAddress address;
    if (HLY_SUCCEEDED(address.Parse(text))) {
        HLY_IpAddress again;
        FUZZ_CHECK(again.Parse(address.ToString()) == HLY_SUCCESS);
        FUZZ_CHECK(again == address);
    }
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
    // URLs arrive as C text: cut at the first NUL
    std::string text((const char*)data, size);
    text = text.c_str();
    const char* input = text.c_str();

    HLY_Url    url;
    HLY_Result result = url.Parse(input);
    if (HLY_SUCCEEDED(result)) {
        CheckParts(url);
        CheckReprint(url);
    }
    HLY_Url constructed(input, 8080);
    // a text that did not parse leaves nothing that looks usable
    if (HLY_FAILED(result)) FUZZ_CHECK(!constructed.IsValid());

    HLY_HttpUrl http(input);
    if (http.IsValid()) {
        FUZZ_CHECK(http.GetSchemeId() == HLY_Uri::SCHEME_ID_HTTP || http.GetSchemeId() == HLY_Uri::SCHEME_ID_HTTPS);
        CheckParts(http);
        CheckReprint(http);
    }
    HLY_HttpUrl any_scheme(input, true);
    any_scheme.ToString(false);
    any_scheme.FormatOmittingPort(80, false);

    // the setters used to resolve a relative URL from a description
    HLY_HttpUrl base("http://192.168.1.2:49152/description.xml");
    HLY_Result  target_result = base.SetRequestTarget(input);
    if (HLY_SUCCEEDED(target_result)) {
        CheckParts(base);
        FUZZ_CHECK(base.IsValid());
    }
    HLY_HttpUrl with_host("http://192.168.1.2:49152/");
    HLY_UInt16  port_before = with_host.GetPort();
    if (HLY_FAILED(with_host.SetHost(input))) FUZZ_CHECK(with_host.GetPort() == port_before);
    with_host.SetPath(input);
    FUZZ_CHECK(strpbrk(with_host.GetPath(), "?# ") == nullptr);
    FUZZ_CHECK(Str(HLY_Uri::PercentDecode(with_host.GetPath())) == text);
    with_host.ToString();

    CheckPercentEncoding(input);
    CheckNumbersAndAddresses(input);
    return 0;
}
