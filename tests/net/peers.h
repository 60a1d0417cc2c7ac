#ifndef BEACONRY_PEERS_H
#define BEACONRY_PEERS_H

// Real UPnP peers (Debian's minidlna and gmediarender) started inside the
// peer namespace of scripts/testnet, never in the machine's own: each runs
// through "ip netns exec $TESTNET_PEER_NS", with its configuration, state
// and log in a temporary directory, and is stopped by its own process id.

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testnet.h"

namespace peers {

class Peer
{
public:
    Peer(pid_t pid, std::string dir, std::string uuid, int port)
        : m_Pid(pid), m_Dir(std::move(dir)), m_Uuid(std::move(uuid)), m_Port(port) {}
    ~Peer()
    {
        Stop();
        std::string command = "rm -rf '" + m_Dir + "'";
        if (system(command.c_str()) != 0) fprintf(stderr, "peers: could not remove %s\n", m_Dir.c_str());
    }

    // SIGTERM, then SIGKILL when it has not gone after two seconds
    void Stop()
    {
        if (m_Pid <= 0) return;
        kill(m_Pid, SIGTERM);
        for (int i = 0; i < 200; ++i) {
            if (waitpid(m_Pid, nullptr, WNOHANG) == m_Pid) {
                m_Pid = 0;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(m_Pid, SIGKILL);
        waitpid(m_Pid, nullptr, 0);
        m_Pid = 0;
    }

    bool Running()
    {
        if (m_Pid > 0 && waitpid(m_Pid, nullptr, WNOHANG) == m_Pid) m_Pid = 0;
        return m_Pid > 0;
    }
    pid_t Pid() const { return m_Pid; }
    const std::string& Uuid() const { return m_Uuid; }
    int Port() const { return m_Port; }
    const std::string& Dir() const { return m_Dir; }
    std::string Log() const
    {
        std::ifstream in(m_Dir + "/output.log");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    pid_t       m_Pid;
    std::string m_Dir;
    std::string m_Uuid;
    int         m_Port;
};

inline std::string MakeTempDir(const char* tag)
{
    std::string pattern = std::string("/tmp/beaconry-") + tag + "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    return mkdtemp(buffer.data()) ? std::string(buffer.data()) : std::string();
}

// a short silent WAV file, so that a media server has something to list
inline void WriteWav(const std::string& path, int samples = 800)
{
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](unsigned int v) { out.put(v & 0xFF).put((v >> 8) & 0xFF).put((v >> 16) & 0xFF).put(v >> 24); };
    auto u16 = [&](unsigned int v) { out.put(v & 0xFF).put((v >> 8) & 0xFF); };
    out << "RIFF";
    u32(36 + samples * 2);
    out << "WAVEfmt ";
    u32(16); u16(1); u16(1); u32(8000); u32(16000); u16(2); u16(16);
    out << "data";
    u32(samples * 2);
    for (int i = 0; i < samples; ++i) u16(0);
}

// runs argv in the peer namespace, output to dir/output.log; 0 on failure
inline pid_t SpawnOnPeer(const std::string& dir, std::vector<std::string> argv)
{
    std::vector<std::string> full = {"ip", "netns", "exec", testnet::Env("TESTNET_PEER_NS")};
    full.insert(full.end(), argv.begin(), argv.end());
    pid_t pid = fork();
    if (pid < 0) return 0;
    if (pid == 0) {
        int log = open((dir + "/output.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log >= 0) {
            dup2(log, 1);
            dup2(log, 2);
        }
        std::vector<char*> args;
        for (std::string& a : full) args.push_back(&a[0]);
        args.push_back(nullptr);
        // ip netns exec execs the program itself: this pid becomes the peer's
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

// minidlna serving one tiny WAV file, announcing every notify_interval seconds
inline std::unique_ptr<Peer> StartMinidlna(const std::string& uuid, int port = 8200, int notify_interval = 30)
{
    std::string dir = MakeTempDir("minidlna");
    if (dir.empty()) return nullptr;
    mkdir((dir + "/media").c_str(), 0755);
    mkdir((dir + "/db").c_str(), 0755);
    mkdir((dir + "/log").c_str(), 0755);
    WriteWav(dir + "/media/tone.wav");
    std::ofstream conf(dir + "/minidlna.conf");
    conf << "network_interface=" << testnet::Env("TESTNET_PEER_IF") << "\n"
         << "port=" << port << "\n"
         << "media_dir=A," << dir << "/media\n"
         << "db_dir=" << dir << "/db\n"
         << "log_dir=" << dir << "/log\n"
         << "notify_interval=" << notify_interval << "\n"
         << "friendly_name=beaconry-minidlna\n"
         << "uuid=" << uuid << "\n"
         << "inotify=no\n";
    conf.close();
    pid_t pid = SpawnOnPeer(dir, {"minidlnad", "-S", "-R", "-f", dir + "/minidlna.conf", "-P", dir + "/minidlna.pid"});
    return std::unique_ptr<Peer>(new Peer(pid, dir, uuid, port));
}

// gmediarender with outputs that play into nothing; at once, or at the pace
// of the media (in_real_time) so that a track takes its duration
inline std::unique_ptr<Peer> StartGmediarender(const std::string& uuid, int port = 49494,
                                               const char* name = "beaconry-gmediarender", bool in_real_time = false)
{
    std::string dir = MakeTempDir("gmediarender");
    if (dir.empty()) return nullptr;
    std::vector<std::string> sinks = {"--gstout-audiosink", "fakesink", "--gstout-videosink", "fakesink"};
    if (in_real_time) sinks = {"--gstout-audiopipe", "fakesink sync=true", "--gstout-videopipe", "fakesink sync=true"};
    std::vector<std::string> argv = {"gmediarender", "--interface-name", testnet::Env("TESTNET_PEER_IF"), "--port",
                                     std::to_string(port), "--uuid", uuid, "--friendly-name", name, "--output", "gst"};
    argv.insert(argv.end(), sinks.begin(), sinks.end());
    pid_t pid = SpawnOnPeer(dir, argv);
    return std::unique_ptr<Peer>(new Peer(pid, dir, uuid, port));
}

// minidlna on the peer serving dir/media (dir from MakeTempDir, tree already written)
inline std::unique_ptr<Peer> StartMinidlnaOn(const std::string& dir, int port, const std::string& uuid,
                                             const std::string& name)
{
    for (const char* sub : {"/db", "/log"}) mkdir((dir + sub).c_str(), 0755);
    std::ofstream(dir + "/minidlna.conf")
        << "network_interface=" << testnet::Env("TESTNET_PEER_IF") << "\nport=" << port << "\nmedia_dir=" << dir
        << "/media\ndb_dir=" << dir << "/db\nlog_dir=" << dir << "/log\nnotify_interval=30\nfriendly_name=" << name
        << "\nuuid=" << uuid << "\ninotify=no\n";
    pid_t pid = SpawnOnPeer(dir, {"minidlnad", "-S", "-R", "-f", dir + "/minidlna.conf", "-P", dir + "/minidlna.pid"});
    return std::unique_ptr<Peer>(new Peer(pid, dir, uuid, port));
}

// minidlna over a tree of two folders of WAV files (2, 3, 4 and 2 seconds,
// times seconds_scale) and one picture
// files: relative path -> absolute path of what the server lists
inline std::unique_ptr<Peer> StartMinidlnaTree(std::map<std::string, std::string>& files, const std::string& uuid,
                                               int port, const std::string& name, int seconds_scale = 1)
{
    std::string dir = MakeTempDir("minidlna-av");
    if (dir.empty()) return nullptr;
    for (const char* sub : {"/media", "/media/Jazz", "/media/Rock"}) mkdir((dir + sub).c_str(), 0755);
    struct { const char* path; int seconds; } songs[] = {
        {"Jazz/blue.wav", 2}, {"Jazz/green.wav", 3}, {"Rock/red.wav", 4}, {"Rock/black.wav", 2}};
    for (auto& song : songs) {
        WriteWav(dir + "/media/" + song.path, 8000 * song.seconds * seconds_scale);
        files[song.path] = dir + "/media/" + song.path;
    }
    // a 1x1 grey JPEG (134 bytes)
    static const unsigned char kJpeg[] = {0xff, 0xd8, 0xff, 0xe0, 0x00, 0x10, 0x4a, 0x46, 0x49, 0x46, 0x00, 0x01, 0x01, 0x01, 0x00, 0x48, 0x00, 0x48, 0x00, 0x00, 0xff, 0xdb, 0x00, 0x43, 0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xc2, 0x00, 0x0b, 0x08, 0x00, 0x01, 0x00, 0x01, 0x01, 0x01, 0x11, 0x00, 0xff, 0xc4, 0x00, 0x14, 0x10, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xff, 0xda, 0x00, 0x08, 0x01, 0x01, 0x00, 0x01, 0x3f, 0x10};
    std::string picture = dir + "/media/Rock/cover.jpg";
    std::ofstream(picture, std::ios::binary).write((const char*)kJpeg, sizeof(kJpeg));
    files["Rock/cover.jpg"] = picture;
    return StartMinidlnaOn(dir, port, uuid, name);
}

} // namespace peers

#endif // BEACONRY_PEERS_H
