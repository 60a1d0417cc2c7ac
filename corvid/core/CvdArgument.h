#ifndef CVD_ARGUMENT_H
#define CVD_ARGUMENT_H

#include "hlystrings.h"

class HLY_XmlElementNode;
class CVD_StateVariable;
class CVD_ActionDesc;

/*----------------------------------------------------------------------
|   CVD_ArgumentDesc: one argument of an action as the SCPD lists it
+---------------------------------------------------------------------*/
class CVD_ArgumentDesc
{
public:
    CVD_ArgumentDesc(const char*        name,
                     HLY_Ordinal        position,
                     const char*        direction = "in",
                     CVD_StateVariable* variable  = nullptr,
                     bool               has_ret   = false);

    HLY_Result GetSCPDXML(HLY_XmlElementNode* node);
    const HLY_String& GetName() const { return m_Name; }
    HLY_Ordinal GetPosition() const { return m_Position; }
    const HLY_String& GetDirection() const { return m_Direction; }
    CVD_StateVariable* GetRelatedStateVariable() const { return m_RelatedStateVariable; }
    bool HasReturnValue() const { return m_HasReturnValue; }

private:
    HLY_String         m_Name;
    HLY_UInt32         m_Position;
    HLY_String         m_Direction;
    CVD_StateVariable* m_RelatedStateVariable;
    bool               m_HasReturnValue;
};

class CVD_ArgumentDescNameFinder
{
public:
    explicit CVD_ArgumentDescNameFinder(const char* name) : m_Name(name) {}
    bool operator()(const CVD_ArgumentDesc* const& desc) const { return desc->GetName().Compare(m_Name, true) == 0; }
private:
    HLY_String m_Name;
};

/*----------------------------------------------------------------------
|   CVD_Argument: one value of an invocation
+---------------------------------------------------------------------*/
class CVD_Argument
{
public:
    explicit CVD_Argument(CVD_ArgumentDesc& arg_desc) : m_ArgDesc(arg_desc) {}

    static HLY_Result CreateArgument(CVD_ActionDesc& action_desc, const char* arg_name, const char* arg_value,
                                     CVD_Argument*& arg);

    // refused when the related state variable does not accept the value
    HLY_Result SetValue(const char* value);
    const HLY_String& GetValue() const { return m_Value; }
    CVD_ArgumentDesc& GetDesc() const { return m_ArgDesc; }

private:
    CVD_ArgumentDesc& m_ArgDesc;
    HLY_String        m_Value;
};

class CVD_ArgumentNameFinder
{
public:
    explicit CVD_ArgumentNameFinder(const char* name) : m_Name(name) {}
    bool operator()(const CVD_Argument* const& arg) const { return arg->GetDesc().GetName().Compare(m_Name, true) == 0; }
private:
    HLY_String m_Name;
};

#endif // CVD_ARGUMENT_H
