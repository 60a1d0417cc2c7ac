#ifndef CVD_STATE_VARIABLE_H
#define CVD_STATE_VARIABLE_H

#include "hlyarray.h"
#include "hlymap.h"
#include "hlystrings.h"
#include "hlytime.h"

class HLY_XmlElementNode;
class CVD_Service;

/*----------------------------------------------------------------------
|   CVD_AllowedValueRange: bounds are held in 64 bits so that every UPnP
|   integer type (up to ui4's 4294967295) is read and written back as is
+---------------------------------------------------------------------*/
struct CVD_AllowedValueRange {
    HLY_Int64 min_value;
    HLY_Int64 max_value;
    HLY_Int64 step; // -1: no step
};

/*----------------------------------------------------------------------
|   CVD_StateVariable
+---------------------------------------------------------------------*/
class CVD_StateVariable
{
public:
    explicit CVD_StateVariable(CVD_Service* service);
    ~CVD_StateVariable();

    HLY_Result GetSCPDXML(HLY_XmlElementNode* node);
    CVD_Service* GetService() const { return m_Service; }
    const HLY_String& GetName() const { return m_Name; }
    const HLY_String& GetValue() const { return m_Value; }
    const HLY_String& GetDataType() const { return m_DataType; }
    const HLY_String& GetDefaultValue() const { return m_DefaultValue; }
    const CVD_AllowedValueRange* GetAllowedValueRange() const { return m_AllowedValueRange; }
    const HLY_Array<HLY_String*>& GetAllowedValues() const { return m_AllowedValues; }
    const HLY_Map<HLY_String, HLY_String>& GetExtraAttributes() const { return m_ExtraAttributes; }

    bool IsSendingEvents(bool indirectly = false) const;
    void DisableIndirectEventing() { m_IsSendingEventsIndirectly = false; }
    HLY_Result SetRate(HLY_TimeInterval rate);
    HLY_TimeInterval GetRate() const { return m_Rate; }
    HLY_Result SetValue(const char* value);
    HLY_Result ValidateValue(const char* value);
    HLY_Result SetExtraAttribute(const char* name, const char* value);
    // the extra attributes, then "val" = the value
    HLY_Result Serialize(HLY_XmlElementNode& node);
    bool IsReadyToPublish();

private:
    friend class CVD_Service;
    CVD_StateVariable(const CVD_StateVariable&)            = delete;
    CVD_StateVariable& operator=(const CVD_StateVariable&) = delete;

    CVD_Service*                    m_Service;
    CVD_AllowedValueRange*          m_AllowedValueRange;
    HLY_String                      m_Name;
    HLY_String                      m_DataType;
    HLY_String                      m_DefaultValue;
    bool                            m_IsSendingEvents;
    bool                            m_IsSendingEventsIndirectly;
    HLY_TimeInterval                m_Rate;
    HLY_TimeStamp                   m_LastEvent;
    HLY_Array<HLY_String*>          m_AllowedValues;
    HLY_String                      m_Value;
    HLY_Map<HLY_String, HLY_String> m_ExtraAttributes;
};

/*----------------------------------------------------------------------
|   CVD_StateVariableNameFinder (ignoring case)
+---------------------------------------------------------------------*/
class CVD_StateVariableNameFinder
{
public:
    explicit CVD_StateVariableNameFinder(const char* name) : m_Name(name) {}
    bool operator()(const CVD_StateVariable* const& variable) const
    {
        return variable->GetName().Compare(m_Name, true) == 0;
    }
private:
    HLY_String m_Name;
};

#endif // CVD_STATE_VARIABLE_H
