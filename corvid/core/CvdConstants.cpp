#include <mutex>

#include "CvdConstants.h"

CVD_Constants::CVD_Constants()
    : m_DefaultDeviceLease(1800),
      m_DefaultSubscribeLease(1800),
      m_DefaultUserAgent("UPnP/1.0 DLNADOC/1.50 " CVD_ENGINE_NAME "/" CVD_ENGINE_VERSION),
      m_SearchMulticastTimeToLive(2),
      m_AnnounceMulticastTimeToLive(2)
{
}

CVD_Constants& CVD_Constants::GetInstance()
{
    static std::once_flag once;
    static CVD_Constants* instance = nullptr;
    std::call_once(once, [] {
        instance = new CVD_Constants();
        HLY_AutomaticCleaner::GetInstance().Register(instance);
    });
    return *instance;
}
