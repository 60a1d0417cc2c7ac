#include <gtest/gtest.h>
#include <cstring>

#include "hlydatabuffer.h"
#include "hlynetwork.h"
#include "hlysockets.h"
#include "testnet.h"

static const HLY_IpAddress kSsdpGroup(239, 255, 255, 250);

static HLY_IpAddress Address(const char* env)
{
    HLY_IpAddress address;
    EXPECT_EQ(address.Parse(testnet::Env(env)), HLY_SUCCESS);
    return address;
}

static void SendFromPeer(const char* text, unsigned int port)
{
    testnet::RunOnPeer([&]() {
        HLY_UdpMulticastSocket sender;
        ASSERT_EQ(sender.SetInterface(Address("TESTNET_PEER_ADDR")), HLY_SUCCESS);
        ASSERT_EQ(sender.SetTimeToLive(2), HLY_SUCCESS);
        HLY_DataBuffer    packet((const HLY_Byte*)text, (HLY_Size)strlen(text));
        HLY_SocketAddress group(kSsdpGroup, port);
        ASSERT_EQ(sender.Send(packet, &group), HLY_SUCCESS);
    });
}

TEST(Multicast, JoinedSocketReceivesFromTheOtherHost)
{
    TESTNET_REQUIRED();
    HLY_IpAddress local = Address("TESTNET_LOCAL_ADDR");

    HLY_UdpMulticastSocket listener(HLY_SOCKET_FLAG_CANCELLABLE);
    ASSERT_EQ(listener.Bind(HLY_SocketAddress(HLY_IpAddress::Any, 1900)), HLY_SUCCESS);
    ASSERT_EQ(listener.JoinGroup(kSsdpGroup, local), HLY_SUCCESS);
    listener.SetReadTimeout(5000);

    const char* search = "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\n"
                         "MX: 5\r\nST: upnp:rootdevice\r\n\r\n";
    SendFromPeer(search, 1900);

    HLY_DataBuffer    packet(4096);
    HLY_SocketAddress from;
    ASSERT_EQ(listener.Receive(packet, &from), HLY_SUCCESS);
    EXPECT_EQ(packet.GetDataSize(), strlen(search));
    EXPECT_EQ(memcmp(packet.GetData(), search, strlen(search)), 0);
    EXPECT_EQ(from.GetIpAddress(), Address("TESTNET_PEER_ADDR"));

    // after leaving the group nothing more arrives
    ASSERT_EQ(listener.LeaveGroup(kSsdpGroup, local), HLY_SUCCESS);
    SendFromPeer("after leaving", 1900);
    listener.SetReadTimeout(500);
    EXPECT_EQ(listener.Receive(packet, &from), HLY_ERROR_TIMEOUT);
}

TEST(Multicast, InterfaceListShowsTheVethAndLoopback)
{
    TESTNET_REQUIRED();
    HLY_List<HLY_NetworkInterface*> interfaces;
    ASSERT_EQ(HLY_NetworkInterface::GetNetworkInterfaces(interfaces), HLY_SUCCESS);
    bool veth = false, loopback = false;
    for (auto it = interfaces.GetFirstItem(); it; ++it) {
        const HLY_NetworkInterfaceAddress& address = *(*it)->GetAddresses().GetFirstItem();
        if (address.GetPrimaryAddress() == Address("TESTNET_LOCAL_ADDR")) {
            veth = true;
            EXPECT_EQ(address.GetNetMask().ToString(), "255.255.255.0");
            EXPECT_EQ(address.GetBroadcastAddress().ToString(), "10.213.0.255");
            EXPECT_TRUE((*it)->GetFlags() & HLY_NETWORK_INTERFACE_FLAG_MULTICAST);
            EXPECT_TRUE((*it)->GetFlags() & HLY_NETWORK_INTERFACE_FLAG_BROADCAST);
            EXPECT_FALSE((*it)->GetFlags() & HLY_NETWORK_INTERFACE_FLAG_LOOPBACK);
            EXPECT_TRUE(address.IsAddressInNetwork(Address("TESTNET_PEER_ADDR")));
        } else if (address.GetPrimaryAddress() == HLY_IpAddress::Loopback) {
            loopback = true;
            EXPECT_TRUE((*it)->GetFlags() & HLY_NETWORK_INTERFACE_FLAG_LOOPBACK);
        }
    }
    // the test network holds exactly these two interfaces
    EXPECT_EQ(interfaces.GetItemCount(), 2u);
    EXPECT_TRUE(veth);
    EXPECT_TRUE(loopback);
    interfaces.Apply(HLY_ObjectDeleter());
}
