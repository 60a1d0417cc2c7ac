#ifndef BEACONRY_UPNP_SAMPLES_H
#define BEACONRY_UPNP_SAMPLES_H

// Shared by the tests of the UPnP documents: the captured samples, a text
// dump of device and service records, and the heap in use.

#include <malloc.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "CvdArgument.h"
#include "CvdDeviceData.h"
#include "CvdService.h"
#include "CvdStateVariable.h"

namespace upnpsamples {

inline std::string ReadSample(const std::string& peer, const std::string& file)
{
    std::ifstream in(std::string(CVD_SAMPLES_DIR) + "/" + peer + "/" + file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// bytes of heap in use, to measure what a document costs
inline long long HeapInUse()
{
    struct mallinfo2 info = mallinfo2();
    return (long long)info.uordblks + (long long)info.hblkhd;
}

inline std::string S(const HLY_String& s) { return s.GetChars(); }

// the lines services.tsv has for a tree: devices (depth, UDN, type, name) and services
inline void DumpTsv(CVD_DeviceData& device, std::vector<std::string>& lines, int depth = 0)
{
    lines.push_back("D\t" + std::to_string(depth) + "\tuuid:" + S(device.GetUUID()) + "\t" + S(device.GetType()) +
                    "\t" + S(device.GetFriendlyName()));
    for (HLY_Ordinal i = 0; i < device.GetServices().GetItemCount(); i++) {
        CVD_Service* s = device.GetServices()[i];
        lines.push_back("S\tuuid:" + S(device.GetUUID()) + "\t" + S(s->GetServiceType()) + "\t" + S(s->GetServiceID()) +
                        "\t" + S(s->GetSCPDURL(true)) + "\t" + S(s->GetControlURL(true)) + "\t" +
                        S(s->GetEventSubURL(true)));
    }
    for (HLY_Ordinal i = 0; i < device.GetEmbeddedDevices().GetItemCount(); i++) {
        DumpTsv(*device.GetEmbeddedDevices()[i], lines, depth + 1);
    }
}

// everything a record holds that a description carries, for equality
inline std::string DumpDevice(CVD_DeviceData& d)
{
    std::vector<std::string> lines;
    DumpTsv(d, lines);
    std::string text;
    for (auto& l : lines) text += l + "\n";
    text += S(d.m_Manufacturer) + "|" + S(d.m_ManufacturerURL) + "|" + S(d.m_ModelDescription) + "|" +
            S(d.m_ModelName) + "|" + S(d.m_ModelNumber) + "|" + S(d.m_ModelURL) + "|" + S(d.m_SerialNumber) + "|" +
            S(d.m_PresentationURL) + "|" + S(d.GetURLBase().ToString()) + "\n";
    for (HLY_Ordinal i = 0; i < d.GetIcons().GetItemCount(); i++) {
        const CVD_DeviceIcon& icon = d.GetIcons()[i];
        text += "icon " + S(icon.m_MimeType) + " " + std::to_string(icon.m_Width) + "x" + std::to_string(icon.m_Height) +
                "x" + std::to_string(icon.m_Depth) + " " + S(icon.m_UrlPath) + "\n";
    }
    return text;
}

inline std::string DumpScpd(CVD_Service& service)
{
    std::string text;
    for (HLY_Ordinal i = 0; i < service.GetActionDescs().GetItemCount(); i++) {
        CVD_ActionDesc* a = service.GetActionDescs()[i];
        text += "action " + S(a->GetName()) + "\n";
        for (HLY_Ordinal j = 0; j < a->GetArgumentDescs().GetItemCount(); j++) {
            CVD_ArgumentDesc* g = a->GetArgumentDescs()[j];
            text += "  arg " + std::to_string(g->GetPosition()) + " " + S(g->GetName()) + " " + S(g->GetDirection()) +
                    " " + S(g->GetRelatedStateVariable()->GetName()) + (g->HasReturnValue() ? " retval" : "") + "\n";
        }
    }
    for (auto it = service.GetStateVariables().GetFirstItem(); it; ++it) {
        CVD_StateVariable* v = *it;
        text += "var " + S(v->GetName()) + " " + S(v->GetDataType()) + (v->IsSendingEvents() ? " evented" : "") +
                " default=" + S(v->GetDefaultValue());
        for (HLY_Ordinal k = 0; k < v->GetAllowedValues().GetItemCount(); k++) text += " |" + S(*v->GetAllowedValues()[k]);
        if (const CVD_AllowedValueRange* r = v->GetAllowedValueRange()) {
            text += " range " + std::to_string(r->min_value) + ".." + std::to_string(r->max_value) + " step " +
                    std::to_string(r->step);
        }
        text += "\n";
    }
    return text;
}

} // namespace upnpsamples

#endif // BEACONRY_UPNP_SAMPLES_H
