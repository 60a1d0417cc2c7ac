#ifndef HLY_NETWORK_H
#define HLY_NETWORK_H

#include "hlylist.h"
#include "hlysockets.h"

#define HLY_NETWORK_INTERFACE_FLAG_LOOPBACK       0x01
#define HLY_NETWORK_INTERFACE_FLAG_BROADCAST      0x04
#define HLY_NETWORK_INTERFACE_FLAG_MULTICAST      0x08
#define HLY_NETWORK_INTERFACE_FLAG_POINT_TO_POINT 0x10

#define HLY_NETWORK_MAX_MAC_ADDRESS_LENGTH 8

class HLY_MacAddress
{
public:
    enum Type { TYPE_UNKNOWN, TYPE_LOOPBACK, TYPE_ETHERNET, TYPE_PPP, TYPE_IEEE_802_11 };
    HLY_MacAddress() : m_Type(TYPE_UNKNOWN), m_Length(0) {}
    Type GetType() const { return m_Type; }
    unsigned int GetLength() const { return m_Length; }
    const unsigned char* GetAddress() const { return m_Address; }

private:
    Type          m_Type;
    unsigned int  m_Length;
    unsigned char m_Address[HLY_NETWORK_MAX_MAC_ADDRESS_LENGTH] = {};
};

class HLY_NetworkInterfaceAddress
{
public:
    HLY_NetworkInterfaceAddress(const HLY_IpAddress& primary, const HLY_IpAddress& broadcast,
                                const HLY_IpAddress& destination, const HLY_IpAddress& netmask)
        : m_PrimaryAddress(primary), m_BroadcastAddress(broadcast), m_DestinationAddress(destination),
          m_NetMask(netmask) {}
    const HLY_IpAddress& GetPrimaryAddress() const { return m_PrimaryAddress; }
    const HLY_IpAddress& GetBroadcastAddress() const { return m_BroadcastAddress; }
    const HLY_IpAddress& GetDestinationAddress() const { return m_DestinationAddress; }
    const HLY_IpAddress& GetNetMask() const { return m_NetMask; }
    // true when the address lies in this address's subnet
    bool IsAddressInNetwork(const HLY_IpAddress& address) const;

private:
    HLY_IpAddress m_PrimaryAddress;
    HLY_IpAddress m_BroadcastAddress;
    HLY_IpAddress m_DestinationAddress;
    HLY_IpAddress m_NetMask;
};

class HLY_NetworkInterface
{
public:
    // the interfaces that are up, with their IPv4 addresses; the caller owns them
    static HLY_Result GetNetworkInterfaces(HLY_List<HLY_NetworkInterface*>& interfaces);

    HLY_NetworkInterface(const char* name, HLY_Flags flags) : m_Name(name), m_Flags(flags) {}
    const HLY_String& GetName() const { return m_Name; }
    const HLY_MacAddress& GetMacAddress() const { return m_MacAddress; }
    HLY_Flags GetFlags() const { return m_Flags; }
    const HLY_List<HLY_NetworkInterfaceAddress>& GetAddresses() const { return m_Addresses; }
    HLY_Result AddAddress(const HLY_NetworkInterfaceAddress& address) { return m_Addresses.Add(address); }

private:
    HLY_String                            m_Name;
    HLY_MacAddress                        m_MacAddress;
    HLY_Flags                             m_Flags;
    HLY_List<HLY_NetworkInterfaceAddress> m_Addresses;
};

#endif // HLY_NETWORK_H
