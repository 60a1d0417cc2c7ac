#include "CvdStateVariable.h"
#include "CvdDeviceData.h"
#include "CvdService.h"
#include "hlylogging.h"
#include "hlysystem.h"
#include "hlyxml.h"

HLY_SET_LOCAL_LOGGER("corvid.core.statevariable")

CVD_StateVariable::CVD_StateVariable(CVD_Service* service)
    : m_Service(service),
      m_AllowedValueRange(nullptr),
      m_IsSendingEvents(false),
      m_IsSendingEventsIndirectly(true)
{
}

CVD_StateVariable::~CVD_StateVariable()
{
    for (HLY_Ordinal i = 0; i < m_AllowedValues.GetItemCount(); i++) delete m_AllowedValues[i];
    delete m_AllowedValueRange;
}

HLY_Result CVD_StateVariable::GetSCPDXML(HLY_XmlElementNode* node)
{
    HLY_XmlElementNode* variable = new HLY_XmlElementNode("stateVariable");
    HLY_CHECK_SEVERE(node->AddChild(variable));
    HLY_CHECK_SEVERE(variable->SetAttribute("sendEvents", m_IsSendingEvents ? "yes" : "no"));
    HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(variable, "name", m_Name));
    HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(variable, "dataType", m_DataType));
    if (!m_DefaultValue.IsEmpty()) {
        HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(variable, "defaultValue", m_DefaultValue));
    }
    if (m_AllowedValues.GetItemCount()) {
        HLY_XmlElementNode* list = new HLY_XmlElementNode("allowedValueList");
        HLY_CHECK_SEVERE(variable->AddChild(list));
        for (HLY_Ordinal i = 0; i < m_AllowedValues.GetItemCount(); i++) {
            HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(list, "allowedValue", *m_AllowedValues[i]));
        }
    } else if (m_AllowedValueRange) {
        HLY_XmlElementNode* range = new HLY_XmlElementNode("allowedValueRange");
        HLY_CHECK_SEVERE(variable->AddChild(range));
        HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(range, "minimum", HLY_String::FromInteger(m_AllowedValueRange->min_value)));
        HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(range, "maximum", HLY_String::FromInteger(m_AllowedValueRange->max_value)));
        if (m_AllowedValueRange->step != -1) {
            HLY_CHECK_SEVERE(CVD_XmlHelper::AddChildText(range, "step", HLY_String::FromInteger(m_AllowedValueRange->step)));
        }
    }
    return HLY_SUCCESS;
}

bool CVD_StateVariable::IsSendingEvents(bool indirectly) const
{
    if (!indirectly) return m_IsSendingEvents;
    return !m_IsSendingEvents && !m_Name.StartsWith("A_ARG_TYPE_") && m_IsSendingEventsIndirectly;
}

HLY_Result CVD_StateVariable::SetRate(HLY_TimeInterval rate)
{
    if (!IsSendingEvents()) return HLY_FAILURE;
    m_Rate = rate;
    return HLY_SUCCESS;
}

bool CVD_StateVariable::IsReadyToPublish()
{
    HLY_TimeStamp now;
    HLY_System::GetCurrentTimeStamp(now);
    if (m_Rate == HLY_TimeStamp() || m_LastEvent + m_Rate <= now) {
        m_LastEvent = now;
        return true;
    }
    return false;
}

HLY_Result CVD_StateVariable::SetValue(const char* value)
{
    if (value == nullptr) return HLY_FAILURE;
    if (m_Value == value) return HLY_SUCCESS;
    HLY_Result res = ValidateValue(value);
    if (HLY_FAILED(res)) return res;
    m_Value = value;
    if (m_Service) m_Service->AddChanged(this);
    return HLY_SUCCESS;
}

HLY_Result CVD_StateVariable::ValidateValue(const char* value)
{
    if (m_DataType.Compare("string", true) != 0 || m_AllowedValues.GetItemCount() == 0) return HLY_SUCCESS;
    HLY_List<HLY_String> pieces = HLY_String(value).Split(",");
    for (HLY_List<HLY_String>::Iterator it = pieces.GetFirstItem(); it; ++it) {
        HLY_String piece = *it;
        piece.Trim(' ');
        bool allowed = false;
        for (HLY_Ordinal i = 0; i < m_AllowedValues.GetItemCount() && !allowed; i++) {
            allowed = (*m_AllowedValues[i] == piece);
        }
        if (!allowed) {
            HLY_LOG_WARNING("Invalid value of %s for state variable %s", piece.GetChars(), m_Name.GetChars());
            return HLY_ERROR_INVALID_PARAMETERS;
        }
    }
    return HLY_SUCCESS;
}

HLY_Result CVD_StateVariable::SetExtraAttribute(const char* name, const char* value)
{
    return m_ExtraAttributes.Put(HLY_String(name), HLY_String(value));
}

HLY_Result CVD_StateVariable::Serialize(HLY_XmlElementNode& node)
{
    for (HLY_List<HLY_Map<HLY_String, HLY_String>::Entry*>::Iterator it = m_ExtraAttributes.GetEntries().GetFirstItem();
         it; ++it) {
        HLY_CHECK_SEVERE(node.SetAttribute((*it)->GetKey(), (*it)->GetValue()));
    }
    return node.SetAttribute("val", m_Value);
}
