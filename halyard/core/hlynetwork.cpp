#include "hlynetwork.h"

bool HLY_NetworkInterfaceAddress::IsAddressInNetwork(const HLY_IpAddress& address) const
{
    if (m_PrimaryAddress.AsLong() == address.AsLong()) return true;
    HLY_UInt32 mask = m_NetMask.AsLong();
    if (mask == 0) return false;
    return (m_PrimaryAddress.AsLong() & mask) == (address.AsLong() & mask);
}
