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

// Runs a function on a thread that lives in the peer namespace; sockets it
// makes belong to the peer host.
inline void RunOnPeer(const std::function<void()>& function)
{
    std::string path = std::string("/var/run/netns/") + Env("TESTNET_PEER_NS");
    std::thread peer([&]() {
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0) << "cannot open " << path;
        ASSERT_EQ(setns(fd, CLONE_NEWNET), 0) << "cannot enter the peer namespace";
        close(fd);
        function();
    });
    peer.join();
}

} // namespace testnet

#endif // BEACONRY_TESTNET_H
