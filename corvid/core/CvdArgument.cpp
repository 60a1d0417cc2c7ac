#include "CvdArgument.h"
#include "CvdDeviceData.h"
#include "CvdService.h"
#include "CvdStateVariable.h"
#include "hlylogging.h"
#include "hlyxml.h"

HLY_SET_LOCAL_LOGGER("corvid.core.argument")

CVD_ArgumentDesc::CVD_ArgumentDesc(const char*        name,
                                   HLY_Ordinal        position,
                                   const char*        direction,
                                   CVD_StateVariable* variable,
                                   bool               has_ret)
    : m_Name(name),
      m_Position((HLY_UInt32)position),
      m_Direction(direction),
      m_RelatedStateVariable(variable),
      m_HasReturnValue(has_ret)
{
}

HLY_Result CVD_ArgumentDesc::GetSCPDXML(HLY_XmlElementNode* node)
{
    HLY_XmlElementNode* argument = new HLY_XmlElementNode("argument");
    HLY_CHECK_SEVERE(node->AddChild(argument));
    HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(argument, "name", m_Name));
    HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(argument, "direction", m_Direction));
    HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(argument, "relatedStateVariable",
                                                 m_RelatedStateVariable ? m_RelatedStateVariable->GetName().GetChars() : ""));
    if (m_HasReturnValue) HLY_CHECK_SEVERE(argument->AddChild(new HLY_XmlElementNode("retval")));
    return HLY_SUCCESS;
}

HLY_Result CVD_Argument::CreateArgument(CVD_ActionDesc& action_desc,
                                        const char*     name,
                                        const char*     value,
                                        CVD_Argument*&  arg)
{
    arg                    = nullptr;
    CVD_ArgumentDesc* desc = action_desc.GetArgumentDesc(name);
    if (desc == nullptr) {
        HLY_LOG_WARNING("Invalid argument %s for action %s", name, action_desc.GetName().GetChars());
        return HLY_ERROR_NO_SUCH_NAME;
    }
    CVD_Argument* argument = new CVD_Argument(*desc);
    HLY_Result    res      = argument->SetValue(value);
    if (HLY_FAILED(res)) {
        delete argument;
        HLY_LOG_WARNING("Invalid value of %s for argument %s of action %s", value, name,
                        action_desc.GetName().GetChars());
        return res;
    }
    arg = argument;
    return HLY_SUCCESS;
}

HLY_Result CVD_Argument::SetValue(const char* value)
{
    CVD_StateVariable* variable = m_ArgDesc.GetRelatedStateVariable();
    if (variable) HLY_CHECK_SEVERE(variable->ValidateValue(value));
    m_Value = value;
    return HLY_SUCCESS;
}
