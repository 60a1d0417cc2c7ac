#ifndef BEACONRY_FUZZ_SOAP_COMMON_H
#define BEACONRY_FUZZ_SOAP_COMMON_H

// A renderer's RenderingControl and AVTransport, built once, for the SOAP targets.

#include "CvdAction.h"
#include "CvdDeviceData.h"
#include "CvdService.h"

namespace fuzz {

inline CVD_DeviceData& SoapDevice()
{
    static CVD_DeviceData* device = [] {
        CVD_DeviceData* d = new CVD_DeviceData(HLY_HttpUrl("http://10.0.0.2/d.xml"), "dev");
        const char* scpd =
            "<scpd xmlns=\"urn:schemas-upnp-org:service-1-0\"><actionList>"
            "<action><name>GetVolume</name><argumentList>"
            "<argument><name>InstanceID</name><direction>in</direction><relatedStateVariable>A_ARG_TYPE_InstanceID</relatedStateVariable></argument>"
            "<argument><name>Channel</name><direction>in</direction><relatedStateVariable>A_ARG_TYPE_Channel</relatedStateVariable></argument>"
            "<argument><name>CurrentVolume</name><direction>out</direction><relatedStateVariable>Volume</relatedStateVariable><retval/></argument>"
            "</argumentList></action>"
            "<action><name>Browse</name><argumentList>"
            "<argument><name>ObjectID</name><direction>in</direction><relatedStateVariable>A_ARG_TYPE_InstanceID</relatedStateVariable></argument>"
            "<argument><name>Result</name><direction>out</direction><relatedStateVariable>A_ARG_TYPE_Channel</relatedStateVariable></argument>"
            "</argumentList></action></actionList><serviceStateTable>"
            "<stateVariable sendEvents=\"no\"><name>A_ARG_TYPE_InstanceID</name><dataType>ui4</dataType></stateVariable>"
            "<stateVariable sendEvents=\"no\"><name>A_ARG_TYPE_Channel</name><dataType>string</dataType>"
            "<allowedValueList><allowedValue>Master</allowedValue><allowedValue>LF</allowedValue></allowedValueList></stateVariable>"
            "<stateVariable sendEvents=\"no\"><name>Volume</name><dataType>ui2</dataType></stateVariable>"
            "</serviceStateTable></scpd>";
        CVD_Service* s = new CVD_Service(d, "urn:schemas-upnp-org:service:RenderingControl:1", "rcs", "RCS");
        s->SetSCPDXML(scpd);
        d->AddService(s);
        return d;
    }();
    return *device;
}

} // namespace fuzz

#endif // BEACONRY_FUZZ_SOAP_COMMON_H
