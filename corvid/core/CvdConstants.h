#ifndef CVD_CONSTANTS_H
#define CVD_CONSTANTS_H

#include "hlystrings.h"
#include "hlyautomaticcleaner.h"

// the engine's name and version, as its user agent and the programs' --version show them
#define CVD_ENGINE_NAME    "Corvid"
#define CVD_ENGINE_VERSION "1.0.5.13"

/*----------------------------------------------------------------------
|   CVD_Constants: the engine's process-wide defaults, built on first use
+---------------------------------------------------------------------*/
class CVD_Constants : public HLY_AutomaticCleaner::Singleton
{
public:
    static CVD_Constants& GetInstance();

    HLY_UInt32 GetDefaultDeviceLease() const { return m_DefaultDeviceLease; }
    HLY_UInt32 GetDefaultSubscribeLease() const { return m_DefaultSubscribeLease; }
    const HLY_String& GetDefaultUserAgent() const { return m_DefaultUserAgent; }
    HLY_UInt32 GetSearchMulticastTimeToLive() const { return m_SearchMulticastTimeToLive; }
    HLY_UInt32 GetAnnounceMulticastTimeToLive() const { return m_AnnounceMulticastTimeToLive; }

    void SetDefaultDeviceLease(HLY_UInt32 seconds) { m_DefaultDeviceLease = seconds; }
    void SetDefaultSubscribeLease(HLY_UInt32 seconds) { m_DefaultSubscribeLease = seconds; }
    void SetDefaultUserAgent(const char* user_agent) { m_DefaultUserAgent = user_agent; }
    void SetSearchMulticastTimeToLive(HLY_UInt32 ttl) { m_SearchMulticastTimeToLive = ttl; }
    void SetAnnounceMulticastTimeToLive(HLY_UInt32 ttl) { m_AnnounceMulticastTimeToLive = ttl; }

private:
    CVD_Constants();

    HLY_UInt32 m_DefaultDeviceLease;
    HLY_UInt32 m_DefaultSubscribeLease;
    HLY_String m_DefaultUserAgent;
    HLY_UInt32 m_SearchMulticastTimeToLive;
    HLY_UInt32 m_AnnounceMulticastTimeToLive;
};

#endif // CVD_CONSTANTS_H
