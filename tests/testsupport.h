#ifndef BEACONRY_TESTSUPPORT_H
#define BEACONRY_TESTSUPPORT_H

// Small helpers shared by the tests: timing for threads and sockets, a
// scratch directory, and a shell command's output.

#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace testsupport {

using Clock = std::chrono::steady_clock;

inline long ElapsedMs(Clock::time_point since)
{
    return (long)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

// polls until the predicate holds, for at most about timeout_ms
template <typename P> bool Eventually(P predicate, int timeout_ms = 5000)
{
    for (int waited = 0; waited < timeout_ms; waited += 10) {
        if (predicate()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return predicate();
}

// A fresh directory under /tmp, removed with everything in it when the
// object goes, so also when a failed assertion leaves the test early.
class TempDir
{
public:
    explicit TempDir(const std::string& prefix = "beaconry-test")
    {
        std::string pattern = "/tmp/" + prefix + "-XXXXXX";
        if (mkdtemp(&pattern[0])) m_Path = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        if (!m_Path.empty()) std::filesystem::remove_all(m_Path, ignored);
    }
    TempDir(const TempDir&)            = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool               Ok() const { return !m_Path.empty(); }
    const std::string& Path() const { return m_Path; }
    std::string        Join(const std::string& name) const { return m_Path + "/" + name; }
    // a file below the directory; its parent directories must exist
    std::string Write(const std::string& name, const std::string& content) const
    {
        std::string path = Join(name);
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    std::string MakeDir(const std::string& name) const
    {
        std::error_code ignored;
        std::filesystem::create_directories(Join(name), ignored);
        return Join(name);
    }
    std::vector<std::string> List() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_Path)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string m_Path;
};

// what a shell command wrote to standard output, and its exit code in status (-1: none)
inline std::string RunCommand(const std::string& command, int* status = nullptr)
{
    std::string output;
    if (status) *status = -1;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    char buffer[4096];
    for (size_t count; (count = fread(buffer, 1, sizeof(buffer), pipe)) > 0;) output.append(buffer, count);
    int code = pclose(pipe);
    if (status && WIFEXITED(code)) *status = WEXITSTATUS(code);
    return output;
}

} // namespace testsupport

#endif // BEACONRY_TESTSUPPORT_H
