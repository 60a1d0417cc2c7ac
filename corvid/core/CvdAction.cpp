#include "CvdAction.h"
#include "CvdHttp.h"
#include "CvdStateVariable.h"
#include "hlylogging.h"
#include "hlyxml.h"

HLY_SET_LOCAL_LOGGER("corvid.core.action")

// a SOAP answer carrying more output elements than this is refused: no
// real action has more than a handful of arguments
#define CVD_ACTION_MAX_RESPONSE_ARGUMENTS 256

CVD_Action::CVD_Action(CVD_ActionDesc& action_desc) : m_ActionDesc(action_desc), m_ErrorCode(0) {}

CVD_Action::CVD_Action(CVD_ActionDesc& action_desc, CVD_DeviceDataReference& root_device)
    : m_ActionDesc(action_desc), m_ErrorCode(0), m_RootDevice(root_device)
{
}

CVD_Action::~CVD_Action()
{
    for (HLY_Ordinal i = 0; i < m_Arguments.GetItemCount(); i++) delete m_Arguments[i];
}

CVD_Argument* CVD_Action::GetArgument(const char* name)
{
    CVD_Argument* argument = nullptr;
    m_Arguments.Find(CVD_ArgumentNameFinder(name), argument);
    return argument;
}

HLY_Result CVD_Action::SetArgumentValue(const char* name, const char* value)
{
    CVD_Argument* argument = GetArgument(name);
    if (argument) {
        HLY_Result res = argument->SetValue(value);
        if (HLY_FAILED(res)) {
            m_Arguments.Remove(argument);
            delete argument;
        }
        return res;
    }
    HLY_CHECK_SEVERE(CVD_Argument::CreateArgument(m_ActionDesc, name, value, argument));

    // kept in the order of the description
    for (HLY_Ordinal i = 0; i < m_Arguments.GetItemCount(); i++) {
        if (m_Arguments[i]->GetDesc().GetPosition() > argument->GetDesc().GetPosition()) {
            return m_Arguments.Insert(i, argument);
        }
    }
    return m_Arguments.Add(argument);
}

HLY_Result CVD_Action::GetArgumentValue(const char* name, HLY_String& value)
{
    CVD_Argument* argument = GetArgument(name);
    if (argument == nullptr) return HLY_FAILURE;
    value = argument->GetValue();
    return HLY_SUCCESS;
}

HLY_Result CVD_Action::GetArgumentValue(const char* name, HLY_UInt32& value)
{
    HLY_String text;
    HLY_CHECK_WARNING(GetArgumentValue(name, text));
    return text.ToInteger(value);
}

HLY_Result CVD_Action::GetArgumentValue(const char* name, HLY_Int32& value)
{
    HLY_String text;
    HLY_CHECK_WARNING(GetArgumentValue(name, text));
    return text.ToInteger(value);
}

HLY_Result CVD_Action::GetArgumentValue(const char* name, bool& value)
{
    HLY_String text;
    HLY_CHECK_WARNING(GetArgumentValue(name, text));
    if (text == "1" || text.Compare("TRUE", true) == 0 || text.Compare("YES", true) == 0) {
        value = true;
    } else if (text == "0" || text.Compare("FALSE", true) == 0 || text.Compare("NO", true) == 0) {
        value = false;
    } else {
        return HLY_FAILURE;
    }
    return HLY_SUCCESS;
}

HLY_Result CVD_Action::VerifyArgumentValue(const char* name, const char* value)
{
    HLY_String text;
    HLY_CHECK_SEVERE(GetArgumentValue(name, text));
    return text.Compare(value, true) == 0 ? HLY_SUCCESS : HLY_FAILURE;
}

HLY_Result CVD_Action::VerifyArguments(bool input)
{
    HLY_Array<CVD_ArgumentDesc*>& descs = m_ActionDesc.GetArgumentDescs();
    for (HLY_Ordinal i = 0; i < descs.GetItemCount(); i++) {
        if (descs[i]->GetDirection().Compare(input ? "in" : "out", true) != 0) continue;
        if (GetArgument(descs[i]->GetName()) == nullptr) {
            HLY_LOG_WARNING("Argument %s for action %s not found", descs[i]->GetName().GetChars(),
                            m_ActionDesc.GetName().GetChars());
            return HLY_FAILURE;
        }
    }
    SetError(0, "");
    return HLY_SUCCESS;
}

HLY_Result CVD_Action::SetArgumentOutFromStateVariable(CVD_ArgumentDesc* arg_desc)
{
    if (arg_desc == nullptr || arg_desc->GetDirection().Compare("out", true) != 0 ||
        arg_desc->GetRelatedStateVariable() == nullptr) {
        return HLY_FAILURE;
    }
    return SetArgumentValue(arg_desc->GetName(), arg_desc->GetRelatedStateVariable()->GetValue());
}

HLY_Result CVD_Action::SetArgumentOutFromStateVariable(const char* name)
{
    CVD_ArgumentDesc* desc = nullptr;
    HLY_CHECK(m_ActionDesc.GetArgumentDescs().Find(CVD_ArgumentDescNameFinder(name), desc));
    return SetArgumentOutFromStateVariable(desc);
}

HLY_Result CVD_Action::SetArgumentsOutFromStateVariable()
{
    HLY_Array<CVD_ArgumentDesc*>& descs = m_ActionDesc.GetArgumentDescs();
    for (HLY_Ordinal i = 0; i < descs.GetItemCount(); i++) {
        if (descs[i]->GetDirection().Compare("out", true) != 0) continue;
        HLY_CHECK(SetArgumentOutFromStateVariable(descs[i]));
    }
    return HLY_SUCCESS;
}

HLY_Result CVD_Action::SetError(HLY_UInt32 code, const char* description)
{
    m_ErrorCode        = code;
    m_ErrorDescription = description;
    return HLY_SUCCESS;
}

const char* CVD_Action::GetError(HLY_UInt32* code)
{
    if (code) *code = m_ErrorCode;
    return m_ErrorDescription;
}

/*----------------------------------------------------------------------
|   the documents
+---------------------------------------------------------------------*/
HLY_Result CVD_Action::FormatEnvelope(HLY_XmlElementNode*& envelope, HLY_XmlElementNode*& body)
{
    envelope = new HLY_XmlElementNode("s", "Envelope");
    body     = nullptr;
    HLY_CHECK_SEVERE(envelope->SetNamespaceUri("s", CVD_SOAP_ENVELOPE_NAMESPACE));
    HLY_CHECK_SEVERE(envelope->SetAttribute("s", "encodingStyle", CVD_SOAP_ENCODING_NAMESPACE));
    body = new HLY_XmlElementNode("s", "Body");
    return envelope->AddChild(body);
}

HLY_Result CVD_Action::WriteDocument(HLY_XmlElementNode* envelope, HLY_OutputStream& stream)
{
    HLY_String xml;
    HLY_Result res = CVD_XmlHelper::Serialize(*envelope, xml, true, 0);
    delete envelope;
    HLY_CHECK_SEVERE(res);
    HLY_CHECK_SEVERE(stream.WriteFully(xml.GetChars(), xml.GetLength()));
    return HLY_SUCCESS;
}

HLY_Result CVD_Action::FormatArguments(const char* tag, const char* direction, HLY_OutputStream& stream)
{
    HLY_XmlElementNode* envelope = nullptr;
    HLY_XmlElementNode* body     = nullptr;
    HLY_Result          res      = FormatEnvelope(envelope, body);
    HLY_XmlElementNode* action   = nullptr;
    if (HLY_SUCCEEDED(res)) {
        action = new HLY_XmlElementNode("u", tag);
        res    = body->AddChild(action);
    }
    if (HLY_SUCCEEDED(res)) res = action->SetNamespaceUri("u", m_ActionDesc.GetService()->GetServiceType());
    for (HLY_Ordinal i = 0; i < m_Arguments.GetItemCount() && HLY_SUCCEEDED(res); i++) {
        CVD_Argument* argument = m_Arguments[i];
        if (argument->GetDesc().GetDirection().Compare(direction, true) != 0) continue;
        res = CVD_XmlHelper::AddChildText(action, argument->GetDesc().GetName(), argument->GetValue());
    }
    if (HLY_FAILED(res)) {
        delete envelope;
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, "(FormatArguments)", res);
        return res;
    }
    return WriteDocument(envelope, stream);
}

HLY_Result CVD_Action::FormatSoapRequest(HLY_OutputStream& stream)
{
    return FormatArguments(m_ActionDesc.GetName(), "in", stream);
}

HLY_Result CVD_Action::FormatSoapResponse(HLY_OutputStream& stream)
{
    if (m_ErrorCode) return FormatSoapError(m_ErrorCode, m_ErrorDescription, stream);
    return FormatArguments(m_ActionDesc.GetName() + "Response", "out", stream);
}

HLY_Result CVD_Action::FormatSoapError(HLY_UInt32 code, const char* desc, HLY_OutputStream& stream)
{
    HLY_XmlElementNode* envelope = nullptr;
    HLY_XmlElementNode* body     = nullptr;
    HLY_Result          res      = FormatEnvelope(envelope, body);
    if (HLY_SUCCEEDED(res)) {
        HLY_XmlElementNode* fault  = new HLY_XmlElementNode("s", "Fault");
        HLY_XmlElementNode* detail = new HLY_XmlElementNode("detail");
        HLY_XmlElementNode* error  = new HLY_XmlElementNode("UPnPError");
        body->AddChild(fault);
        CVD_XmlHelper::AddChildText(fault, "faultcode", "s:Client");
        CVD_XmlHelper::AddChildText(fault, "faultstring", "UPnPError");
        fault->AddChild(detail);
        detail->AddChild(error);
        error->SetNamespaceUri("", CVD_CONTROL_NAMESPACE);
        CVD_XmlHelper::AddChildText(error, "errorCode", HLY_String::FromIntegerU(code));
        res = CVD_XmlHelper::AddChildText(error, "errorDescription", desc);
    }
    if (HLY_FAILED(res)) {
        delete envelope;
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, "(FormatSoapError)", res);
        return res;
    }
    return WriteDocument(envelope, stream);
}

/*----------------------------------------------------------------------
|   control point side
+---------------------------------------------------------------------*/
HLY_Result CVD_Action::CreateSoapRequest(HLY_HttpRequest*& request)
{
    request              = nullptr;
    CVD_Service* service = m_ActionDesc.GetService();
    HLY_String   body;
    HLY_StringOutputStream stream(&body);
    HLY_CHECK_SEVERE(FormatSoapRequest(stream));

    HLY_HttpRequest* post = new HLY_HttpRequest(service->GetControlURL(true), "POST", HLY_HTTP_PROTOCOL_1_1);
    HLY_HttpEntity*  entity = new HLY_HttpEntity();
    entity->SetInputStream(body);
    entity->SetContentType(CVD_SOAP_CONTENT_TYPE);
    post->SetEntity(entity);
    post->GetHeaders().SetHeader("SOAPAction", "\"" + service->GetServiceType() + "#" + m_ActionDesc.GetName() + "\"");
    request = post;
    return HLY_SUCCESS;
}

HLY_Result CVD_Action::ProcessSoapResponse(const char* body, HLY_Size size)
{
    SetError(0, "");
    HLY_XmlElementNode* tree = nullptr;
    HLY_Result          res  = CVD_XmlHelper::Parse(body, size, tree);
    if (HLY_FAILED(res)) return HLY_FAILURE;
    res = ProcessSoapResponse(tree);
    delete tree;
    return res;
}

HLY_Result CVD_Action::ReadFault(HLY_XmlElementNode* fault, HLY_UInt32& code, HLY_String& description)
{
    code = CVD_UPNP_ERROR_ACTION_FAILED;
    description.SetLength(0);
    HLY_XmlElementNode* detail = fault ? fault->GetChild("detail", "") : nullptr;
    if (detail == nullptr) return HLY_FAILURE;
    HLY_XmlElementNode* error = detail->GetChild("upnp_error", "");
    if (error == nullptr) error = detail->GetChild("UPnPError", HLY_XML_ANY_NAMESPACE);
    if (error == nullptr) return HLY_FAILURE;

    HLY_String text;
    if (HLY_FAILED(CVD_XmlHelper::GetChildText(error, "errorCode", text, nullptr)) ||
        HLY_FAILED(text.ToInteger(code))) {
        code = CVD_UPNP_ERROR_ACTION_FAILED;
    }
    CVD_XmlHelper::GetChildText(error, "errorDescription", description, nullptr);
    return HLY_SUCCESS;
}

HLY_Result CVD_Action::ProcessSoapResponse(HLY_XmlElementNode* envelope)
{
    SetError(0, "");
    if (envelope == nullptr || envelope->GetTag().Compare("Envelope", true) != 0) return HLY_FAILURE;
    const HLY_String* ns = envelope->GetNamespace();
    if (ns == nullptr || *ns != CVD_SOAP_ENVELOPE_NAMESPACE) return HLY_FAILURE;
    const HLY_String* encoding = envelope->GetAttribute("encodingStyle", CVD_SOAP_ENVELOPE_NAMESPACE);
    if (encoding == nullptr || *encoding != CVD_SOAP_ENCODING_NAMESPACE) return HLY_FAILURE;

    HLY_XmlElementNode* body = CVD_XmlHelper::GetChild(envelope, "Body");
    if (body == nullptr) return HLY_FAILURE;

    HLY_XmlElementNode* fault = CVD_XmlHelper::GetChild(body, "Fault");
    if (fault) {
        HLY_UInt32 code;
        HLY_String description;
        if (HLY_SUCCEEDED(ReadFault(fault, code, description))) SetError(code, description);
        return HLY_FAILURE;
    }

    HLY_XmlElementNode* response = nullptr;
    for (HLY_List<HLY_XmlNode*>::Iterator it = body->GetChildren().GetFirstItem(); it && !response; ++it) {
        response = (*it)->AsElementNode();
    }
    if (response == nullptr || response->GetTag().Compare(m_ActionDesc.GetName() + "Response", true) != 0) {
        return HLY_FAILURE;
    }
    const HLY_String* response_ns = response->GetNamespace();
    if (response_ns == nullptr || *response_ns != m_ActionDesc.GetService()->GetServiceType()) return HLY_FAILURE;

    HLY_Cardinal count = 0;
    for (HLY_List<HLY_XmlNode*>::Iterator it = response->GetChildren().GetFirstItem(); it; ++it) {
        HLY_XmlElementNode* child = (*it)->AsElementNode();
        if (child == nullptr) continue;
        if (++count > CVD_ACTION_MAX_RESPONSE_ARGUMENTS) return HLY_FAILURE;
        // output texts such as a Browse result are carried whole
        HLY_String value;
        CVD_XmlHelper::GetText(child, value);
        if (HLY_FAILED(SetArgumentValue(child->GetTag(), value))) return HLY_FAILURE;
    }
    return VerifyArguments(false);
}

/*----------------------------------------------------------------------
|   device side
+---------------------------------------------------------------------*/
HLY_Result CVD_Action::ProcessSoapRequest(CVD_DeviceData&               root,
                                          HLY_HttpRequest&              request,
                                          const HLY_HttpRequestContext& context,
                                          HLY_HttpResponse&             response,
                                          CVD_ActionHandler*            handler)
{
    CVD_Service*        service = nullptr;
    HLY_XmlElementNode* tree    = nullptr;
    HLY_XmlElementNode* element = nullptr;
    HLY_String          service_type, action_name;

    bool ok = HLY_SUCCEEDED(root.FindServiceByControlURL(request.GetUrl().GetPath(), service, true));
    const HLY_String* soap_action = request.GetHeaders().GetHeaderValue("SOAPAction");
    if (ok && soap_action) {
        HLY_String value = *soap_action;
        value.Trim('"');
        HLY_List<HLY_String> parts = value.Split("#");
        ok = parts.GetItemCount() == 2;
        if (ok) {
            parts.Get(0, service_type);
            parts.Get(1, action_name);
        }
    } else {
        ok = false;
    }
    if (ok) ok = HLY_SUCCEEDED(CVD_HttpHelper::ParseBody(request, tree)) && tree->GetTag().Compare("Envelope", true) == 0;
    if (ok) {
        const HLY_String*   ns   = tree->GetNamespace();
        HLY_XmlElementNode* body = tree->GetChild("Body", ns ? ns->GetChars() : "");
        for (HLY_List<HLY_XmlNode*>::Iterator it = body ? body->GetChildren().GetFirstItem()
                                                         : HLY_List<HLY_XmlNode*>::Iterator();
             it && !element; ++it) {
            element = (*it)->AsElementNode();
        }
        const HLY_String* element_ns = element ? element->GetNamespace() : nullptr;
        ok = element && element->GetTag().Compare(action_name, true) == 0 && element_ns && *element_ns == service_type;
    }
    if (!ok) {
        delete tree;
        response.SetStatus(500, "Bad Request");
        return HLY_SUCCESS;
    }

    CVD_ActionReference action;
    HLY_Result          res  = HLY_SUCCESS;
    CVD_ActionDesc*     desc = service->FindActionDesc(action_name);
    if (desc == nullptr) {
        // only the fault can be written without a description: borrow none
        HLY_String             fault;
        HLY_StringOutputStream stream(&fault);
        CVD_ActionDesc         unknown(action_name, service);
        CVD_Action             failed(unknown);
        failed.FormatSoapError(CVD_UPNP_ERROR_INVALID_ACTION, "Invalid Action", stream);
        HLY_LOG_WARNING("Error while processing action %s: %d %s", action_name.GetChars(),
                        CVD_UPNP_ERROR_INVALID_ACTION, "Invalid Action");
        delete tree;
        HLY_HttpEntity* entity = new HLY_HttpEntity();
        entity->SetInputStream(fault);
        entity->SetContentType(CVD_SOAP_CONTENT_TYPE);
        response.SetEntity(entity);
        response.GetHeaders().SetHeader("Ext", "");
        response.SetStatus(500, "Internal Server Error");
        return HLY_SUCCESS;
    }

    action = new CVD_Action(*desc);
    bool is_browse = action_name.Compare("Browse", true) == 0;
    for (HLY_List<HLY_XmlNode*>::Iterator it = element->GetChildren().GetFirstItem(); it; ++it) {
        HLY_XmlElementNode* child = (*it)->AsElementNode();
        if (child == nullptr) continue;
        HLY_String name = child->GetTag();
        if (is_browse && name.Compare("ContainerID", true) == 0) name = "ObjectID";
        HLY_String value;
        CVD_XmlHelper::GetText(child, value);
        res = action->SetArgumentValue(name, value);
        if (res == HLY_ERROR_INVALID_PARAMETERS) {
            action->SetError(CVD_UPNP_ERROR_INVALID_NAME, "Invalid Name");
            break;
        }
    }
    delete tree;

    if (action->GetErrorCode() == 0 && HLY_FAILED(action->VerifyArguments(true))) {
        action->SetError(CVD_UPNP_ERROR_INVALID_ARGS, "Invalid or Missing Args");
    }
    if (action->GetErrorCode() == 0) {
        res = handler ? handler->OnAction(action, context) : HLY_FAILURE;
        if (HLY_FAILED(res) && action->GetErrorCode() == 0) {
            action->SetError(CVD_UPNP_ERROR_ACTION_FAILED, "Action Failed");
        }
    }
    if (action->GetErrorCode()) {
        HLY_LOG_WARNING("Error while processing action %s: %d %s", action_name.GetChars(), action->GetErrorCode(),
                        action->m_ErrorDescription.GetChars());
    }

    HLY_String             answer;
    HLY_StringOutputStream stream(&answer);
    HLY_CHECK_SEVERE(action->FormatSoapResponse(stream));
    HLY_HttpEntity* entity = new HLY_HttpEntity();
    entity->SetInputStream(answer);
    entity->SetContentType(CVD_SOAP_CONTENT_TYPE);
    response.SetEntity(entity);
    response.GetHeaders().SetHeader("Ext", "");
    if (action->GetErrorCode()) response.SetStatus(500, "Internal Server Error");
    return HLY_SUCCESS;
}
