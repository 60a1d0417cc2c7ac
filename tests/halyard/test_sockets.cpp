#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "hlydatabuffer.h"
#include "hlynetwork.h"
#include "hlysockets.h"
#include "../../halyard/system/posix/hlyposixsockets.h"
#include "../testsupport.h"

using namespace testsupport;

static HLY_SocketAddress LocalAddress(HLY_Socket& socket)
{
    HLY_SocketInfo info;
    socket.GetInfo(info);
    return info.local_address;
}

TEST(IpAddress, StrictParsing)
{
    HLY_IpAddress address;
    EXPECT_EQ(address.Parse("10.0.0.1"), HLY_SUCCESS);
    EXPECT_EQ(address.AsLong(), 167772161u);
    EXPECT_EQ(address.ToString(), "10.0.0.1");
    for (const char* bad : {"192.168.1.300", "1.2.3", "1.2.3.4.", "1..2.3", "", "1.2.3.4 ", " 1.2.3.4", "a.b.c.d",
                            "1.2.3.4.5", "0256.2.3.4", "99999999999.1.1.1", "-1.2.3.4"}) {
        address.Set(0x01020304u);
        EXPECT_EQ(address.Parse(bad), HLY_ERROR_INVALID_SYNTAX) << bad;
        EXPECT_EQ(address.AsLong(), 0u) << bad; // reset first
    }
    EXPECT_EQ(address.Parse(nullptr), HLY_ERROR_INVALID_PARAMETERS);
    // a group is judged by its value, not by how many digits spell it
    EXPECT_EQ(address.Parse("0001.002.0255.00000"), HLY_SUCCESS);
    EXPECT_EQ(address.ToString(), "1.2.255.0");
    EXPECT_EQ(address.Parse("255.255.255.255"), HLY_SUCCESS);
    EXPECT_EQ(address.AsLong(), 0xFFFFFFFFu);
    EXPECT_EQ(HLY_IpAddress(192, 168, 0, 7).ToString(), "192.168.0.7");
    EXPECT_TRUE(HLY_IpAddress(10, 0, 0, 1) == HLY_IpAddress(167772161u));
}

TEST(IpAddress, ResolveName)
{
    HLY_IpAddress address;
    EXPECT_EQ(address.ResolveName(""), HLY_ERROR_HOST_UNKNOWN);
    EXPECT_EQ(address.ResolveName(nullptr), HLY_ERROR_HOST_UNKNOWN);
    EXPECT_EQ(address.ResolveName("192.0.2.5"), HLY_SUCCESS); // taken as is, no lookup
    EXPECT_EQ(address.ToString(), "192.0.2.5");
    EXPECT_EQ(address.ResolveName("localhost"), HLY_SUCCESS);
    EXPECT_EQ(address.AsBytes()[0], 127);
}

TEST(Sockets, ErrorMapping)
{
    EXPECT_EQ(HLY_MapSocketError(ECONNREFUSED), HLY_ERROR_CONNECTION_REFUSED);
    EXPECT_EQ(HLY_MapSocketError(EAGAIN), HLY_ERROR_WOULD_BLOCK);
    EXPECT_EQ(HLY_MapSocketError(EINPROGRESS), HLY_ERROR_WOULD_BLOCK);
    EXPECT_EQ(HLY_MapSocketError(ENOTCONN), -20415);
    EXPECT_EQ(HLY_MapSocketError(ECONNRESET), HLY_ERROR_CONNECTION_RESET);
    EXPECT_EQ(HLY_MapSocketError(ENETRESET), HLY_ERROR_CONNECTION_RESET);
    EXPECT_EQ(HLY_MapSocketError(EACCES), -22000 - EACCES);
}

// a connected pair of TCP sockets on loopback
struct TcpPair {
    HLY_TcpServerSocket server{HLY_SOCKET_FLAG_CANCELLABLE};
    HLY_TcpClientSocket client{HLY_SOCKET_FLAG_CANCELLABLE};
    HLY_Socket*         accepted = nullptr;
    TcpPair()
    {
        EXPECT_EQ(server.Bind(HLY_SocketAddress(HLY_IpAddress::Loopback, 0)), HLY_SUCCESS);
        EXPECT_EQ(server.Listen(5), HLY_SUCCESS);
        EXPECT_EQ(client.Connect(LocalAddress(server), 5000), HLY_SUCCESS);
        EXPECT_EQ(server.WaitForNewClient(accepted, 5000, HLY_SOCKET_FLAG_CANCELLABLE), HLY_SUCCESS);
    }
    ~TcpPair() { delete accepted; }
};

TEST(TcpSocket, ConnectAcceptReadWrite)
{
    TcpPair pair;
    ASSERT_NE(pair.accepted, nullptr);
    HLY_SocketInfo client_info, accepted_info;
    pair.client.GetInfo(client_info);
    pair.accepted->GetInfo(accepted_info);
    EXPECT_EQ(client_info.remote_address, LocalAddress(pair.server));
    EXPECT_EQ(accepted_info.remote_address, client_info.local_address);
    EXPECT_NE(LocalAddress(pair.server).GetPort(), 0u);

    HLY_OutputStreamReference out;
    HLY_InputStreamReference  in;
    ASSERT_EQ(pair.client.GetOutputStream(out), HLY_SUCCESS);
    ASSERT_EQ(pair.accepted->GetInputStream(in), HLY_SUCCESS);
    const char request[] = "GET / HTTP/1.1\r\n\r\n";
    EXPECT_EQ(out->WriteFully(request, sizeof(request) - 1), HLY_SUCCESS);
    EXPECT_EQ(out->Flush(), HLY_SUCCESS);
    char buffer[sizeof(request) - 1];
    EXPECT_EQ(in->ReadFully(buffer, sizeof(buffer)), HLY_SUCCESS);
    EXPECT_EQ(memcmp(buffer, request, sizeof(buffer)), 0);

    // a large transfer in the other direction, read on another thread
    std::string big(3 * 1024 * 1024, 'x');
    for (size_t i = 0; i < big.size(); i += 4093) big[i] = (char)('a' + i % 26);
    HLY_OutputStreamReference back_out;
    HLY_InputStreamReference  back_in;
    pair.accepted->GetOutputStream(back_out);
    pair.client.GetInputStream(back_in);
    std::string received(big.size(), '\0');
    std::thread reader([&]() { EXPECT_EQ(back_in->ReadFully(&received[0], (HLY_Size)received.size()), HLY_SUCCESS); });
    EXPECT_EQ(back_out->WriteFully(big.data(), (HLY_Size)big.size()), HLY_SUCCESS);
    reader.join();
    EXPECT_TRUE(received == big);
}

TEST(TcpSocket, ReadTimeoutsReallyTimeOut)
{
    TcpPair                  pair;
    HLY_InputStreamReference in;
    pair.client.GetInputStream(in);
    char     c;
    HLY_Size read = 77;

    pair.client.SetReadTimeout(0);
    EXPECT_EQ(in->Read(&c, 1, &read), HLY_ERROR_WOULD_BLOCK);
    EXPECT_EQ(read, 0u);

    pair.client.SetReadTimeout(100);
    auto start = Clock::now();
    EXPECT_EQ(in->Read(&c, 1, &read), HLY_ERROR_TIMEOUT);
    long elapsed = ElapsedMs(start);
    EXPECT_GE(elapsed, 90);
    EXPECT_LT(elapsed, 5000);
}

TEST(TcpSocket, SignalsDoNotStretchAReadTimeout)
{
    // a handler without SA_RESTART, so that every signal interrupts the wait
    struct sigaction action, previous;
    memset(&action, 0, sizeof(action));
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

    TcpPair                  pair;
    HLY_InputStreamReference in;
    pair.client.GetInputStream(in);
    pair.client.SetReadTimeout(300);
    std::atomic<bool>       done{false};
    std::atomic<HLY_Result> result{HLY_SUCCESS};
    std::atomic<long>       elapsed{0};
    std::thread             reader([&]() {
        auto start = Clock::now();
        char c;
        result  = in->Read(&c, 1);
        elapsed = ElapsedMs(start);
        done    = true;
    });
    // a signal every 20 ms for at most 3 s: a wait that starts its full
    // timeout again after each one only ends when they stop
    for (int i = 0; i < 150 && !done; ++i) {
        pthread_kill(reader.native_handle(), SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    reader.join();
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_EQ(result.load(), HLY_ERROR_TIMEOUT);
    EXPECT_GE(elapsed.load(), 250);
    EXPECT_LT(elapsed.load(), 2000);
}

TEST(Sockets, ADescriptorThatFailedToOpenFailsAtOnce)
{
    // what a socket holds when the system refused to create one
    HLY_Socket broken(new HLY_PosixSocket(-1, HLY_SOCKET_FLAG_CANCELLABLE));
    HLY_InputStreamReference in;
    ASSERT_EQ(broken.GetInputStream(in), HLY_SUCCESS);
    broken.SetReadTimeout(3000);
    auto     start = Clock::now();
    char     c;
    HLY_Size read = 1;
    EXPECT_EQ(in->Read(&c, 1, &read), HLY_MapSocketError(EBADF));
    EXPECT_EQ(read, 0u);
    EXPECT_LT(ElapsedMs(start), 1000);
    EXPECT_EQ(broken.Connect(HLY_SocketAddress(HLY_IpAddress::Loopback, 9), 3000), HLY_MapSocketError(EBADF));
    EXPECT_LT(ElapsedMs(start), 1000);
    // a cancelled one still says so
    broken.Cancel();
    EXPECT_EQ(in->Read(&c, 1, &read), HLY_ERROR_CANCELLED);
}

TEST(TcpSocket, PeerCloseGivesEndOfStreamAndWritesFailWithoutSignal)
{
    TcpPair pair;
    delete pair.accepted;
    pair.accepted = nullptr;
    HLY_InputStreamReference in;
    pair.client.GetInputStream(in);
    char     c;
    HLY_Size read = 1;
    EXPECT_EQ(in->Read(&c, 1, &read), HLY_ERROR_EOS);
    EXPECT_EQ(read, 0u);

    // writing to a closed peer must fail, not kill the process with SIGPIPE
    HLY_OutputStreamReference out;
    pair.client.GetOutputStream(out);
    std::string chunk(65536, 'z');
    HLY_Result  result = HLY_SUCCESS;
    for (int i = 0; i < 100 && result == HLY_SUCCESS; i++) result = out->WriteFully(chunk.data(), (HLY_Size)chunk.size());
    EXPECT_NE(result, HLY_SUCCESS);
}

TEST(TcpSocket, AvailableReportsPendingBytes)
{
    TcpPair                   pair;
    HLY_OutputStreamReference out;
    HLY_InputStreamReference  in;
    pair.client.GetOutputStream(out);
    pair.accepted->GetInputStream(in);
    HLY_LargeSize available = 99;
    EXPECT_EQ(in->GetAvailable(available), HLY_SUCCESS);
    EXPECT_EQ(available, 0u);
    out->WriteFully("hello", 5);
    for (int i = 0; i < 200 && available == 0; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        in->GetAvailable(available);
    }
    EXPECT_EQ(available, 5u);
    HLY_Position position = 1;
    EXPECT_EQ(in->Tell(position), HLY_SUCCESS);
    EXPECT_EQ(position, 0u);
    EXPECT_EQ(in->Seek(0), HLY_ERROR_NOT_SUPPORTED);
}

TEST(TcpSocket, ConnectionRefused)
{
    HLY_SocketAddress closed_address;
    {
        HLY_TcpServerSocket server;
        server.Bind(HLY_SocketAddress(HLY_IpAddress::Loopback, 0));
        closed_address = LocalAddress(server);
    }
    HLY_TcpClientSocket client;
    EXPECT_EQ(client.Connect(closed_address, 5000), HLY_ERROR_CONNECTION_REFUSED);
}

TEST(TcpSocket, CancelReleasesBlockedReadAndAccept)
{
    TcpPair                  pair;
    HLY_InputStreamReference in;
    pair.client.GetInputStream(in);
    std::atomic<HLY_Result> read_result{HLY_SUCCESS};
    std::thread             reader([&]() {
        char c;
        read_result = in->Read(&c, 1);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto start = Clock::now();
    pair.client.Cancel(false);
    reader.join();
    EXPECT_LT(ElapsedMs(start), 2000);
    EXPECT_EQ(read_result.load(), HLY_ERROR_CANCELLED);
    // every later blocking call is cancelled too
    char c;
    EXPECT_EQ(in->Read(&c, 1), HLY_ERROR_CANCELLED);

    std::atomic<HLY_Result> accept_result{HLY_SUCCESS};
    std::thread             acceptor([&]() {
        HLY_Socket* client = nullptr;
        accept_result      = pair.server.WaitForNewClient(client, HLY_TIMEOUT_INFINITE);
        delete client;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pair.server.Cancel();
    acceptor.join();
    EXPECT_EQ(accept_result.load(), HLY_ERROR_CANCELLED);
}

TEST(UdpSocket, SendReceiveWithSenderAddress)
{
    HLY_UdpSocket receiver, sender;
    ASSERT_EQ(receiver.Bind(HLY_SocketAddress(HLY_IpAddress::Loopback, 0)), HLY_SUCCESS);
    ASSERT_EQ(sender.Bind(HLY_SocketAddress(HLY_IpAddress::Loopback, 0)), HLY_SUCCESS);
    receiver.SetReadTimeout(5000);
    HLY_SocketAddress target = LocalAddress(receiver);

    HLY_DataBuffer packet("NOTIFY * HTTP/1.1\r\n\r\n", 21);
    EXPECT_EQ(sender.Send(packet, &target), HLY_SUCCESS);
    HLY_DataBuffer    received(2048);
    HLY_SocketAddress from;
    EXPECT_EQ(receiver.Receive(received, &from), HLY_SUCCESS);
    EXPECT_EQ(received.GetDataSize(), 21u);
    EXPECT_EQ(memcmp(received.GetData(), "NOTIFY", 6), 0);
    EXPECT_EQ(from, LocalAddress(sender));

    // a datagram larger than the buffer is cut to the buffer
    HLY_DataBuffer big(std::string(3000, 'b').c_str(), 3000);
    EXPECT_EQ(sender.Send(big, &target), HLY_SUCCESS);
    EXPECT_EQ(receiver.Receive(received, nullptr), HLY_SUCCESS);
    EXPECT_EQ(received.GetDataSize(), 2048u);

    HLY_DataBuffer empty;
    EXPECT_EQ(receiver.Receive(empty, nullptr), HLY_ERROR_INVALID_PARAMETERS);

    // a connected datagram socket sends without an address
    HLY_UdpSocket connected;
    EXPECT_EQ(connected.Connect(target), HLY_SUCCESS);
    EXPECT_EQ(connected.Send(packet), HLY_SUCCESS);
    EXPECT_EQ(receiver.Receive(received, &from), HLY_SUCCESS);
    EXPECT_EQ(from, LocalAddress(connected));
}

TEST(UdpSocket, CancelReleasesAnInfiniteReceive)
{
    HLY_UdpSocket socket(HLY_SOCKET_FLAG_CANCELLABLE);
    ASSERT_EQ(socket.Bind(HLY_SocketAddress(HLY_IpAddress::Loopback, 0)), HLY_SUCCESS);
    HLY_DataBuffer packet(1024);
    packet.SetDataSize(10);
    std::atomic<HLY_Result> result{HLY_SUCCESS};
    std::thread receiver([&]() { result = socket.Receive(packet, nullptr); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto start = Clock::now();
    socket.Cancel();
    receiver.join();
    EXPECT_LT(ElapsedMs(start), 2000);
    EXPECT_EQ(result.load(), HLY_ERROR_CANCELLED);
    EXPECT_EQ(packet.GetDataSize(), 0u);
}

TEST(UdpSocket, TwoSocketsShareOnePort)
{
    for (bool reuse : {false, true}) {
        HLY_UdpSocket first, second;
        ASSERT_EQ(first.Bind(HLY_SocketAddress(HLY_IpAddress::Loopback, 0), reuse), HLY_SUCCESS);
        EXPECT_EQ(second.Bind(LocalAddress(first), reuse), HLY_SUCCESS) << reuse;
    }
}

TEST(NetworkInterfaces, LoopbackIsListedWithItsFlag)
{
    HLY_List<HLY_NetworkInterface*> interfaces;
    ASSERT_EQ(HLY_NetworkInterface::GetNetworkInterfaces(interfaces), HLY_SUCCESS);
    bool         loopback = false;
    unsigned int index    = 0;
    for (auto it = interfaces.GetFirstItem(); it; ++it, ++index) {
        EXPECT_EQ((*it)->GetName(), HLY_String::Format("if%02u", index));
        ASSERT_EQ((*it)->GetAddresses().GetItemCount(), 1u);
        const HLY_NetworkInterfaceAddress& address = *(*it)->GetAddresses().GetFirstItem();
        if (address.GetPrimaryAddress() == HLY_IpAddress::Loopback) {
            loopback = true;
            EXPECT_TRUE((*it)->GetFlags() & HLY_NETWORK_INTERFACE_FLAG_LOOPBACK);
            EXPECT_EQ(address.GetNetMask().ToString(), "255.0.0.0");
            EXPECT_EQ(address.GetBroadcastAddress().ToString(), "127.255.255.255");
        }
    }
    EXPECT_TRUE(loopback);
    interfaces.Apply(HLY_ObjectDeleter());
}
