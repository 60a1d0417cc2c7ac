#ifndef CVD_ACTION_H
#define CVD_ACTION_H

#include "CvdArgument.h"
#include "CvdDeviceData.h"
#include "CvdService.h"
#include "hlyarray.h"
#include "hlyhttp.h"
#include "hlyreferences.h"
#include "hlystreams.h"

#define CVD_SOAP_ENVELOPE_NAMESPACE "http://schemas.xmlsoap.org/soap/envelope/"
#define CVD_SOAP_ENCODING_NAMESPACE "http://schemas.xmlsoap.org/soap/encoding/"
#define CVD_CONTROL_NAMESPACE       "urn:schemas-upnp-org:control-1-0"
#define CVD_SOAP_CONTENT_TYPE       "text/xml; charset=\"utf-8\""

// UPnP errors the engine answers with itself
#define CVD_UPNP_ERROR_INVALID_ACTION 401
#define CVD_UPNP_ERROR_INVALID_ARGS   402
#define CVD_UPNP_ERROR_ACTION_FAILED  501
#define CVD_UPNP_ERROR_INVALID_NAME   701

class CVD_Action;
typedef HLY_Reference<CVD_Action> CVD_ActionReference;

/*----------------------------------------------------------------------
|   CVD_ActionHandler: what a hosted device does with an action whose
|   inputs were read; it sets the outputs or an error
+---------------------------------------------------------------------*/
class CVD_ActionHandler
{
public:
    virtual ~CVD_ActionHandler() {}
    virtual HLY_Result OnAction(CVD_ActionReference& action, const HLY_HttpRequestContext& context) = 0;
};

/*----------------------------------------------------------------------
|   CVD_Action: one invocation of an action
+---------------------------------------------------------------------*/
class CVD_Action
{
public:
    explicit CVD_Action(CVD_ActionDesc& action_desc);
    CVD_Action(CVD_ActionDesc& action_desc, CVD_DeviceDataReference& root_device);
    ~CVD_Action();

    CVD_ActionDesc& GetActionDesc() { return m_ActionDesc; }
    CVD_DeviceDataReference& GetRootDevice() { return m_RootDevice; }
    CVD_Argument* GetArgument(const char* name);
    const HLY_Array<CVD_Argument*>& GetArguments() const { return m_Arguments; }

    HLY_Result SetArgumentValue(const char* name, const char* value);
    HLY_Result GetArgumentValue(const char* name, HLY_String& value);
    HLY_Result GetArgumentValue(const char* name, HLY_UInt32& value);
    HLY_Result GetArgumentValue(const char* name, HLY_Int32& value);
    HLY_Result GetArgumentValue(const char* name, bool& value);
    HLY_Result VerifyArgumentValue(const char* name, const char* value);
    HLY_Result VerifyArguments(bool input);
    HLY_Result SetArgumentOutFromStateVariable(CVD_ArgumentDesc* arg_desc);
    HLY_Result SetArgumentOutFromStateVariable(const char* name);
    HLY_Result SetArgumentsOutFromStateVariable();

    HLY_Result SetError(HLY_UInt32 code, const char* description);
    const char* GetError(HLY_UInt32* code = nullptr);
    HLY_UInt32 GetErrorCode() const { return m_ErrorCode; }

    // the three SOAP documents
    HLY_Result FormatSoapRequest(HLY_OutputStream& stream);
    HLY_Result FormatSoapResponse(HLY_OutputStream& stream);
    HLY_Result FormatSoapError(HLY_UInt32 code, const char* desc, HLY_OutputStream& stream);

    // control point side: the POST to the control URL, and its answer
    HLY_Result CreateSoapRequest(HLY_HttpRequest*& request);
    HLY_Result ProcessSoapResponse(const char* body, HLY_Size size);
    HLY_Result ProcessSoapResponse(HLY_XmlElementNode* envelope);
    // a Fault element's UPnP error (501 when its code does not read)
    static HLY_Result ReadFault(HLY_XmlElementNode* fault, HLY_UInt32& code, HLY_String& description);

    // device side: answers a control request to any service of the tree
    static HLY_Result ProcessSoapRequest(CVD_DeviceData&               root,
                                         HLY_HttpRequest&              request,
                                         const HLY_HttpRequestContext& context,
                                         HLY_HttpResponse&             response,
                                         CVD_ActionHandler*            handler);

private:
    CVD_Action(const CVD_Action&)            = delete;
    CVD_Action& operator=(const CVD_Action&) = delete;

    HLY_Result FormatEnvelope(HLY_XmlElementNode*& envelope, HLY_XmlElementNode*& body);
    HLY_Result WriteDocument(HLY_XmlElementNode* envelope, HLY_OutputStream& stream);
    HLY_Result FormatArguments(const char* tag, const char* direction, HLY_OutputStream& stream);

    CVD_ActionDesc&           m_ActionDesc;
    HLY_Array<CVD_Argument*>  m_Arguments;
    HLY_UInt32                m_ErrorCode;
    HLY_String                m_ErrorDescription;
    CVD_DeviceDataReference   m_RootDevice;
};

#endif // CVD_ACTION_H
