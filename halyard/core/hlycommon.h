#ifndef HLY_COMMON_H
#define HLY_COMMON_H

#include "hlyresults.h"
#include "hlytypes.h"

/*----------------------------------------------------------------------
|   predicates for the containers' ApplyUntil: given the result of the
|   applied function, tell whether to stop and what to return
+---------------------------------------------------------------------*/
class HLY_UntilResultEquals
{
public:
    explicit HLY_UntilResultEquals(HLY_Result value, HLY_Result return_value = HLY_SUCCESS)
        : m_Value(value), m_ReturnValue(return_value) {}
    bool operator()(HLY_Result result, HLY_Result& return_value) const
    {
        if (result == m_Value) {
            return_value = m_ReturnValue;
            return true;
        }
        return false;
    }

private:
    HLY_Result m_Value;
    HLY_Result m_ReturnValue;
};

class HLY_UntilResultNotEquals
{
public:
    explicit HLY_UntilResultNotEquals(HLY_Result value) : m_Value(value) {}
    bool operator()(HLY_Result result, HLY_Result& return_value) const
    {
        if (result != m_Value) {
            return_value = result;
            return true;
        }
        return false;
    }

private:
    HLY_Result m_Value;
};

// deletes the object a container element points to (containers never do it themselves)
class HLY_ObjectDeleter
{
public:
    template <typename T> HLY_Result operator()(T* object) const
    {
        delete object;
        return HLY_SUCCESS;
    }
};

#endif // HLY_COMMON_H
