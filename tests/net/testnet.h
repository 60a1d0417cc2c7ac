#ifndef BEACONRY_TESTNET_H
#define BEACONRY_TESTNET_H

// Helpers for tests that run inside the private test network made by
// scripts/testnet: they refuse to run anywhere else, so that multicast never
// reaches the machine's real interfaces.

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace testnet {

inline const char* Env(const char* name)
{
    const char* value = getenv(name);
    return value ? value : "";
}

inline bool Inside()
{
    return Env("TESTNET_PEER_NS")[0] != '\0' && Env("TESTNET_LOCAL_ADDR")[0] != '\0';
}

#define TESTNET_REQUIRED()                                                           \
    do {                                                                             \
        if (!testnet::Inside()) GTEST_SKIP() << "runs only inside scripts/testnet"; \
    } while (0)

// Moves the calling thread into the peer namespace; sockets it makes from
// then on belong to the peer host.
inline bool EnterPeer()
{
    std::string path = std::string("/var/run/netns/") + Env("TESTNET_PEER_NS");
    int         fd   = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool entered = setns(fd, CLONE_NEWNET) == 0;
    close(fd);
    return entered;
}

// Runs a function on a thread that lives in the peer namespace.
inline void RunOnPeer(const std::function<void()>& function)
{
    std::thread peer([&]() {
        ASSERT_TRUE(EnterPeer()) << "cannot enter the peer namespace " << Env("TESTNET_PEER_NS");
        function();
    });
    peer.join();
}

} // namespace testnet

#endif // BEACONRY_TESTNET_H
