// cvd-describe: fetches a UPnP device description and every service
// description it names, and prints the device tree as the engine reads it.
// It reads over HTTP only (never multicasts), so it is safe to point at a
// device that does not behave.
//
//   cvd-describe URL [--xml]
//
//   --xml  write the description and the SCPDs back as the engine would
//          write them, instead of the tree
//
// Exit status: 0 on success, 1 when the description could not be fetched
// or read, 2 for a usage error, 3 when some service description failed
// (the tree is still printed).

#include <cstdio>
#include <cstring>
#include <vector>

#include "CvdArgument.h"
#include "CvdDeviceData.h"
#include "CvdService.h"
#include "CvdStateVariable.h"
#include "hlyhttpclient.h"
#include "hlystreams.h"
#include "beaconrycli.h"

// a document larger than this is not a UPnP description
#define CVD_DESCRIBE_MAX_DOCUMENT (8 * 1024 * 1024)

namespace {

const char* const kUsage =
    "usage: cvd-describe [--xml] URL\n"
    "  fetches a device description and its service descriptions over HTTP\n"
    "  and prints the device tree as the engine reads it\n"
    "  --xml       write the documents back as the engine would write them\n"
    "  --help      show this text; --version shows the version\n";

HLY_Result Fetch(const char* url, HLY_String& body, HLY_HttpRequestContext& context)
{
    HLY_HttpRequest request(url, HLY_HTTP_METHOD_GET, HLY_HTTP_PROTOCOL_1_1);
    if (!request.GetUrl().IsValid()) return HLY_ERROR_INVALID_PARAMETERS;
    HLY_HttpClient    client;
    HLY_HttpResponse* response = nullptr;
    HLY_Result        result   = client.SendRequest(request, response, &context);
    if (HLY_FAILED(result)) return result;
    HLY_InputStreamReference stream;
    if (response->GetStatusCode() >= 400) {
        result = HLY_ERROR_HTTP_INVALID_RESPONSE_LINE;
    } else if (response->GetEntity() && HLY_SUCCEEDED(response->GetEntity()->GetInputStream(stream))) {
        char buffer[4096];
        for (;;) {
            HLY_Size read = 0;
            result        = stream->Read(buffer, sizeof(buffer), &read);
            if (result == HLY_ERROR_EOS) {
                result = HLY_SUCCESS;
                break;
            }
            if (HLY_FAILED(result)) break;
            if (read == 0) break;
            if (body.GetLength() + read > CVD_DESCRIBE_MAX_DOCUMENT) {
                result = HLY_ERROR_OUT_OF_RANGE;
                break;
            }
            body.Append(buffer, read);
        }
    }
    delete response;
    return result;
}

void Line(int indent, const char* format, const char* a = "", const char* b = "", const char* c = "")
{
    printf("%*s", indent * 2, "");
    printf(format, a, b, c);
    printf("\n");
}

HLY_String RangeText(const CVD_StateVariable& variable)
{
    HLY_String text;
    if (variable.GetAllowedValues().GetItemCount()) {
        text = "values:";
        for (HLY_Ordinal i = 0; i < variable.GetAllowedValues().GetItemCount(); i++) {
            text += " " + *variable.GetAllowedValues()[i];
        }
    } else if (const CVD_AllowedValueRange* range = variable.GetAllowedValueRange()) {
        text = "range " + HLY_String::FromInteger(range->min_value) + ".." + HLY_String::FromInteger(range->max_value);
        if (range->step != -1) text += " step " + HLY_String::FromInteger(range->step);
    }
    return text;
}

void PrintService(CVD_Service& service, int indent, bool described)
{
    Line(indent, "service %s (%s)", service.GetServiceType(), service.GetServiceID());
    Line(indent + 1, "SCPD %s", service.GetSCPDURL(true));
    Line(indent + 1, "control %s", service.GetControlURL(true));
    Line(indent + 1, "events %s", service.GetEventSubURL(true));
    if (!described) {
        Line(indent + 1, "(service description unavailable)");
        return;
    }
    for (HLY_Ordinal i = 0; i < service.GetActionDescs().GetItemCount(); i++) {
        CVD_ActionDesc* action = service.GetActionDescs()[i];
        Line(indent + 1, "action %s", action->GetName());
        for (HLY_Ordinal j = 0; j < action->GetArgumentDescs().GetItemCount(); j++) {
            CVD_ArgumentDesc*  argument = action->GetArgumentDescs()[j];
            CVD_StateVariable* variable = argument->GetRelatedStateVariable();
            HLY_String         detail   = variable->GetDataType();
            HLY_String         range    = RangeText(*variable);
            if (!range.IsEmpty()) detail += ", " + range;
            if (argument->HasReturnValue()) detail += ", return value";
            printf("%*s%-3s %s -> %s (%s)\n", (indent + 2) * 2, "", argument->GetDirection().GetChars(),
                   argument->GetName().GetChars(), variable->GetName().GetChars(), detail.GetChars());
        }
    }
    for (HLY_List<CVD_StateVariable*>::Iterator it = service.GetStateVariables().GetFirstItem(); it; ++it) {
        CVD_StateVariable& variable = **it;
        HLY_String         detail   = variable.GetDataType();
        detail += variable.IsSendingEvents() ? ", evented" : ", not evented";
        if (!variable.GetDefaultValue().IsEmpty()) detail += ", default " + variable.GetDefaultValue();
        HLY_String range = RangeText(variable);
        if (!range.IsEmpty()) detail += ", " + range;
        Line(indent + 1, "variable %s (%s)", variable.GetName(), detail);
    }
}

struct Described {
    CVD_Service* service;
    bool         ok;
};

bool IsDescribed(const std::vector<Described>& described, CVD_Service* service)
{
    for (const Described& d : described) {
        if (d.service == service) return d.ok;
    }
    return false;
}

void PrintDevice(CVD_DeviceData& device, int indent, const std::vector<Described>& described)
{
    Line(indent, "device %s", device.GetFriendlyName());
    Line(indent + 1, "type %s", device.GetType());
    Line(indent + 1, "UDN uuid:%s", device.GetUUID());
    Line(indent + 1, "manufacturer %s (%s)", device.GetManufacturer(), device.GetManufacturerURL());
    Line(indent + 1, "model %s %s", device.GetModelName(), device.GetModelNumber());
    if (!device.GetModelDescription().IsEmpty()) Line(indent + 1, "model description %s", device.GetModelDescription());
    if (!device.GetModelURL().IsEmpty()) Line(indent + 1, "model URL %s", device.GetModelURL());
    if (!device.GetSerialNumber().IsEmpty()) Line(indent + 1, "serial number %s", device.GetSerialNumber());
    for (HLY_Ordinal i = 0; i < device.GetIcons().GetItemCount(); i++) {
        const CVD_DeviceIcon& icon = device.GetIcons()[i];
        printf("%*sicon %s %dx%dx%d %s\n", (indent + 1) * 2, "", icon.m_MimeType.GetChars(), icon.m_Width,
               icon.m_Height, icon.m_Depth, device.NormalizeURL(icon.m_UrlPath).ToString().GetChars());
    }
    for (HLY_Ordinal i = 0; i < device.GetServices().GetItemCount(); i++) {
        PrintService(*device.GetServices()[i], indent + 1, IsDescribed(described, device.GetServices()[i]));
    }
    for (HLY_Ordinal i = 0; i < device.GetEmbeddedDevices().GetItemCount(); i++) {
        PrintDevice(*device.GetEmbeddedDevices()[i], indent + 1, described);
    }
}

void CollectServices(CVD_DeviceData& device, std::vector<CVD_Service*>& services)
{
    for (HLY_Ordinal i = 0; i < device.GetServices().GetItemCount(); i++) services.push_back(device.GetServices()[i]);
    for (HLY_Ordinal i = 0; i < device.GetEmbeddedDevices().GetItemCount(); i++) {
        CollectServices(*device.GetEmbeddedDevices()[i], services);
    }
}

} // namespace

int main(int argc, char** argv)
{
    BeaconryCli cli("cvd-describe", kUsage);
    const char* url = nullptr;
    bool        xml = false;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--xml") == 0) {
            xml = true;
        } else if (argv[i][0] == '-' || url) {
            return cli.Unknown(argv[i]);
        } else {
            url = argv[i];
        }
    }
    if (url == nullptr) return cli.Fail("no URL given");

    HLY_String             description;
    HLY_HttpRequestContext context;
    HLY_Result             result = Fetch(url, description, context);
    if (HLY_FAILED(result)) {
        fprintf(stderr, "cvd-describe: cannot fetch %s (%s)\n", url, HLY_ResultText(result));
        return 1;
    }
    CVD_DeviceDataReference root;
    result = CVD_DeviceData::SetDescription(root, HLY_TimeInterval(0.0), HLY_HttpUrl(url), description, context);
    if (HLY_FAILED(result)) {
        fprintf(stderr, "cvd-describe: %s is not a device description the engine accepts (%s)\n", url,
                HLY_ResultText(result));
        return 1;
    }

    // the tree's depth is bounded by the parser, so the walks here are too
    std::vector<CVD_Service*> services;
    CollectServices(*root, services);
    std::vector<Described> described;
    int                    status = 0;
    for (CVD_Service* service : services) {
        HLY_String             scpd;
        HLY_HttpRequestContext scpd_context;
        HLY_String             scpd_url = service->GetSCPDURL(true);
        result = Fetch(scpd_url, scpd, scpd_context);
        if (HLY_SUCCEEDED(result)) result = service->SetSCPDXML(scpd);
        if (HLY_FAILED(result)) {
            fprintf(stderr, "cvd-describe: service description %s failed (%s)\n", scpd_url.GetChars(),
                    HLY_ResultText(result));
            status = 3;
        }
        described.push_back(Described{service, HLY_SUCCEEDED(result)});
    }

    if (xml) {
        HLY_String text;
        root->GetDescription(text);
        printf("<!-- %s -->\n%s\n", url, text.GetChars());
        for (const Described& d : described) {
            if (!d.ok) continue;
            text.SetLength(0);
            d.service->GetSCPDXML(text);
            printf("<!-- %s -->\n%s\n", d.service->GetSCPDURL(true).GetChars(), text.GetChars());
        }
    } else {
        printf("description %s (base %s)\n", url, root->GetURLBase().ToString().GetChars());
        PrintDevice(*root, 0, described);
    }
    return status;
}
