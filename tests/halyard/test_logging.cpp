#include <gtest/gtest.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "hlyfile.h"
#include "hlyloghandlers.h"
#include "hlylogging.h"
#include "hlysockets.h"
#include "http_raw_client.h"
#include "../testsupport.h"

using testsupport::TempDir;

extern char** environ;

/*----------------------------------------------------------------------
|   child mode: the test program started again by a test, with its own
|   working directory and environment, logs a fixed set of records and
|   ends before any test runs
+---------------------------------------------------------------------*/
#define CHILD_MODE_VARIABLE   "HLY_LOGGING_TEST_CHILD"
#define CHILD_STDOUT_VARIABLE "HLY_LOGGING_TEST_STDOUT"
#define CHILD_STDERR_VARIABLE "HLY_LOGGING_TEST_STDERR"

namespace {

void RedirectTo(const char* variable, int fd)
{
    const char* path = getenv(variable);
    if (path == nullptr) _exit(3);
    int file = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (file < 0 || dup2(file, fd) < 0) _exit(3);
    close(file);
}

void EmitProbeRecords()
{
    HLY_LoggerReference probe("probe.child");
    HLY_LoggerReference deep("probe.child.deep");
    HLY_LOG_X(probe, HLY_LOG_LEVEL_FATAL, "probe FATAL record");
    HLY_LOG_X(probe, HLY_LOG_LEVEL_SEVERE, "probe SEVERE record");
    HLY_LOG_X(probe, HLY_LOG_LEVEL_WARNING, "probe WARNING record");
    HLY_LOG_X(probe, HLY_LOG_LEVEL_INFO, "probe INFO record");
    HLY_LOG_X(probe, HLY_LOG_LEVEL_FINE, "probe FINE record");
    HLY_LOG_X(probe, HLY_LOG_LEVEL_FINER, "probe FINER record");
    HLY_LOG_X(probe, HLY_LOG_LEVEL_FINEST, "probe FINEST record");
    HLY_LOG_X(deep, HLY_LOG_LEVEL_SEVERE, "deep SEVERE record");
}

class ChildModeEnvironment : public testing::Environment
{
public:
    void SetUp() override
    {
        if (getenv(CHILD_MODE_VARIABLE) == nullptr) return;
        // what the test framework printed so far stays out of the captured output
        fflush(stdout);
        fflush(stderr);
        RedirectTo(CHILD_STDOUT_VARIABLE, 1);
        RedirectTo(CHILD_STDERR_VARIABLE, 2);
        EmitProbeRecords();
        exit(0);
    }
};

const testing::Environment* const g_ChildMode = testing::AddGlobalTestEnvironment(new ChildModeEnvironment());

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream      in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteWholeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

size_t CountOf(const std::string& text, const std::string& what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++count;
    return count;
}

struct ChildOutput
{
    int         m_Status = -1;
    std::string m_Stdout;
    std::string m_Stderr;
};

// runs this program in child mode in working_dir; config null leaves
// HALYARD_LOG_CONFIG unset whatever this process has
ChildOutput RunChild(const std::string& working_dir, const char* config)
{
    ChildOutput output;
    TempDir     capture;
    std::string out_path = capture.Join("stdout");
    std::string err_path = capture.Join("stderr");

    std::vector<std::string> variables;
    for (char** v = environ; *v; ++v) {
        std::string variable(*v);
        if (variable.rfind("HALYARD_LOG_CONFIG=", 0) == 0 || variable.rfind("HLY_LOGGING_TEST_", 0) == 0) continue;
        variables.push_back(variable);
    }
    variables.push_back(CHILD_MODE_VARIABLE "=1");
    variables.push_back(CHILD_STDOUT_VARIABLE "=" + out_path);
    variables.push_back(CHILD_STDERR_VARIABLE "=" + err_path);
    if (config) variables.push_back(std::string("HALYARD_LOG_CONFIG=") + config);
    std::vector<char*> envp;
    for (std::string& variable : variables) envp.push_back(&variable[0]);
    envp.push_back(nullptr);
    char  program[] = "/proc/self/exe";
    char* argv[]    = {program, nullptr};

    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
        }
        if (chdir(working_dir.c_str()) != 0) _exit(2);
        execve(program, argv, envp.data());
        _exit(2);
    }
    if (pid < 0) return output;
    // bounded wait: a child that hangs is killed
    for (int waited = 0; waited < 400; ++waited) {
        int   status = 0;
        pid_t done   = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            output.m_Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (output.m_Status == -1) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    output.m_Stdout = ReadWholeFile(out_path);
    output.m_Stderr = ReadWholeFile(err_path);
    return output;
}

/*----------------------------------------------------------------------
|   records seen by the custom handler
+---------------------------------------------------------------------*/
struct SeenRecord
{
    std::string   m_Logger;
    int           m_Level;
    std::string   m_Message;
    std::string   m_File;
    unsigned int  m_Line;
    std::string   m_Function;
    unsigned long m_ThreadId;
};

std::mutex              g_SeenLock;
std::vector<SeenRecord> g_Seen;

void RememberRecord(const HLY_LogRecord& record)
{
    std::lock_guard<std::mutex> lock(g_SeenLock);
    g_Seen.push_back({record.m_LoggerName, record.m_Level, record.m_Message, record.m_SourceFile,
                      record.m_SourceLine, record.m_SourceFunction ? record.m_SourceFunction : "",
                      record.m_ThreadId});
}

std::vector<SeenRecord> TakeSeen()
{
    std::lock_guard<std::mutex> lock(g_SeenLock);
    std::vector<SeenRecord>     seen;
    seen.swap(g_Seen);
    return seen;
}

// every test configures the manager for itself and leaves it as the
// process found it (no configuration: everything off)
class LogSystem : public testing::Test
{
protected:
    void SetUp() override { TakeSeen(); }
    void TearDown() override
    {
        HLY_LogManager::SetSilenced(false);
        HLY_LogCustomHandler::SetCustomHandlerFunction(nullptr);
        HLY_LogManager::Reconfigure(nullptr);
        TakeSeen();
    }
    // the root writes nowhere, so that forwarded records stay off the console
    static void Configure(const std::string& properties)
    {
        std::string source = "plist:.handlers=;" + properties;
        ASSERT_EQ(HLY_LogManager::Reconfigure(source.c_str()), HLY_SUCCESS);
    }
};

} // namespace

/*----------------------------------------------------------------------
|   levels and booleans
+---------------------------------------------------------------------*/
TEST(LogLevels, NamesNumbersAndColours)
{
    for (auto [text, expected] : {std::pair<const char*, int>{"FINE", 300}, {"OFF", 32767}, {"ALL", 0}, {"250", 250},
                                  {"-5", -5}}) {
        int level = 42;
        EXPECT_EQ(HLY_LogParseLevel(text, level), HLY_SUCCESS) << text;
        EXPECT_EQ(level, expected) << text;
    }
    for (const char* bad : {"fine", "Fine", "25x", " 250", "", "WARN"}) {
        int level = 42;
        EXPECT_NE(HLY_LogParseLevel(bad, level), HLY_SUCCESS) << bad;
        EXPECT_EQ(level, 42) << bad;
    }
    for (auto [level, name] : {std::pair<int, const char*>{700, "FATAL"}, {100, "FINEST"}, {250, "250"}, {-1, "-1"}}) {
        EXPECT_EQ(HLY_LogLevelName(level), name);
    }
    for (auto [level, color] : {std::pair<int, const char*>{600, "31"}, {500, "33"}, {400, "32"}, {300, "34"},
                                {200, "35"}, {100, "36"}, {0, nullptr}, {250, nullptr}}) {
        EXPECT_STREQ(HLY_LogLevelColor(level), color) << level;
    }
}

TEST(LogLevels, Booleans)
{
    // a text that is neither leaves the value alone
    for (auto [text, result, value] : {std::tuple<const char*, HLY_Result, bool>{"true", HLY_SUCCESS, true},
                                       {"YES", HLY_SUCCESS, true}, {"On", HLY_SUCCESS, true}, {"1", HLY_SUCCESS, true},
                                       {"false", HLY_SUCCESS, false}, {"No", HLY_SUCCESS, false},
                                       {"OFF", HLY_SUCCESS, false}, {"0", HLY_SUCCESS, false},
                                       {"maybe", HLY_FAILURE, true}, {"2", HLY_FAILURE, true}, {"", HLY_FAILURE, true},
                                       {"true ", HLY_FAILURE, true}}) {
        for (bool before : {false, true}) {
            bool parsed = before;
            EXPECT_EQ(HLY_SUCCEEDED(HLY_LogParseBoolean(text, parsed)), result == HLY_SUCCESS) << text;
            EXPECT_EQ(parsed, result == HLY_SUCCESS ? value : before) << text;
        }
    }
}

/*----------------------------------------------------------------------
|   configuration sources, as a separate process sees them
+---------------------------------------------------------------------*/
TEST(LoggingProcess, WhereTheConfigurationComesFrom)
{
    const std::string fine_and_up = "FATAL: probe FATAL record\r\n"
                                    "SEVERE: probe SEVERE record\r\n"
                                    "WARNING: probe WARNING record\r\n"
                                    "INFO: probe INFO record\r\n"
                                    "FINE: probe FINE record\r\n"
                                    "SEVERE: deep SEVERE record\r\n";
    const std::string warning_and_up = "FATAL: probe FATAL record\r\n"
                                       "SEVERE: probe SEVERE record\r\n"
                                       "WARNING: probe WARNING record\r\n"
                                       "SEVERE: deep SEVERE record\r\n";
    struct Case {
        const char* name;
        const char* file;        // halyard-logging.properties in the working directory
        const char* environment; // HALYARD_LOG_CONFIG
        std::string out, err;
    } cases[] = {
        {"none: no output at all, no log file either", nullptr, nullptr, "", ""},
        {"the file in the working directory; outputs=1 is standard output only",
         "# levels\n.level = FINE\r\n.ConsoleHandler.outputs=1\n.ConsoleHandler.filter=63\n", nullptr, fine_and_up,
         ""},
        {"the environment replaces the file: no FileHandler, no standard output, no INFO",
         ".level=ALL\n.handlers=ConsoleHandler,FileHandler\n.ConsoleHandler.outputs=1\n",
         "plist:.level=WARNING;.ConsoleHandler.filter=63", "", warning_and_up},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir work;
        ASSERT_TRUE(work.Ok());
        std::vector<std::string> files;
        if (c.file) {
            work.Write("halyard-logging.properties", c.file);
            files.push_back("halyard-logging.properties");
        }
        ChildOutput output = RunChild(work.Path(), c.environment);
        EXPECT_EQ(output.m_Status, 0);
        EXPECT_EQ(output.m_Stdout, c.out);
        EXPECT_EQ(output.m_Stderr, c.err);
        EXPECT_EQ(work.List(), files);
    }
}

TEST(LoggingProcess, ColouredLevelNamesOnBothOutputs)
{
    TempDir     work;
    ChildOutput output =
        RunChild(work.Path(), " plist:.level=FINE;.ConsoleHandler.colors=on;.ConsoleHandler.outputs=3 | "
                              "plist:.ConsoleHandler.filter=63");
    EXPECT_EQ(output.m_Status, 0);
    EXPECT_NE(output.m_Stdout.find("\033[31;1mFATAL\033[0m: probe FATAL record\r\n"), std::string::npos);
    EXPECT_NE(output.m_Stdout.find("\033[33;1mWARNING\033[0m: probe WARNING record\r\n"), std::string::npos);
    EXPECT_NE(output.m_Stdout.find("\033[34;1mFINE\033[0m: probe FINE record\r\n"), std::string::npos);
    EXPECT_EQ(output.m_Stdout.find("FINER"), std::string::npos);
    EXPECT_EQ(CountOf(output.m_Stdout, "\r\n"), 6u);
    EXPECT_EQ(output.m_Stdout, output.m_Stderr);
}

/*----------------------------------------------------------------------
|   configuration text
+---------------------------------------------------------------------*/
TEST_F(LogSystem, PropertiesTextAndSources)
{
    TempDir work;
    std::string file = work.Join("extra.properties");
    WriteWholeFile(file, "from.file.level = INFO\nshared.key=file\n");
    std::string source = "plist:  spaced.key \t=\t  value with = sign ;#comment.key=1;no equals here\r"
                         "shared.key=plist|file:" + file + "|bogus:thing|file:" + work.Join("missing") +
                         "| http:port=8089 ";
    ASSERT_EQ(HLY_LogManager::Reconfigure(source.c_str()), HLY_SUCCESS);

    HLY_LogManager& manager = HLY_LogManager::GetDefault();
    manager.Lock();
    const HLY_String* value = manager.GetConfigValue("spaced", ".key");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(*value, "value with = sign");
    EXPECT_EQ(manager.GetConfigValue("#comment", ".key"), nullptr);
    EXPECT_EQ(manager.GetConfigValue("comment", ".key"), nullptr);
    ASSERT_NE(manager.GetConfigValue("shared", ".key"), nullptr);
    EXPECT_EQ(*manager.GetConfigValue("shared", ".key"), "file"); // the later source wins
    ASSERT_NE(manager.GetConfigValue("from.file", ".level"), nullptr);
    ASSERT_NE(manager.GetConfigValue("", ".handlers"), nullptr);
    EXPECT_EQ(*manager.GetConfigValue("", ".handlers"), "ConsoleHandler");
    // one entry per key, in first-seen order
    std::vector<std::string> keys;
    for (auto it = manager.GetConfig().GetFirstItem(); it; ++it) keys.push_back(it->m_Key.GetChars());
    EXPECT_EQ(keys, (std::vector<std::string>{".handlers", "spaced.key", "shared.key", "from.file.level"}));
    EXPECT_EQ(manager.GetConfiguratorPort(), 8089u);
    manager.Unlock();

    HLY_Logger* logger = HLY_LogManager::GetLogger("from.file.x");
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(logger->GetLevel(), HLY_LOG_LEVEL_INFO);
}

/*----------------------------------------------------------------------
|   the logger tree
+---------------------------------------------------------------------*/
TEST_F(LogSystem, LevelInheritanceThroughDottedNames)
{
    Configure("inh.a.level=FINE;inh.n.level=250;inh.bad.level=fine;.level=WARNING");

    // a.b.c with a level only for a: a is made on demand and is its parent
    HLY_Logger* abc = HLY_LogManager::GetLogger("inh.a.b.c");
    ASSERT_NE(abc, nullptr);
    EXPECT_EQ(abc->GetLevel(), HLY_LOG_LEVEL_FINE);
    EXPECT_TRUE(abc->IsLevelInherited());
    HLY_Logger* a = abc->GetParent();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->GetName(), "inh.a");
    EXPECT_FALSE(a->IsLevelInherited());
    EXPECT_EQ(HLY_LogManager::GetLogger("inh.a"), a);
    ASSERT_NE(a->GetParent(), nullptr);
    EXPECT_EQ(a->GetParent()->GetName(), ""); // the root
    EXPECT_EQ(a->GetParent()->GetLevel(), HLY_LOG_LEVEL_WARNING);

    // the same name gives the same logger
    EXPECT_EQ(HLY_LogManager::GetLogger("inh.a.b.c"), abc);

    // a numeric level; a level that does not parse is ignored (the root's level applies)
    EXPECT_EQ(HLY_LogManager::GetLogger("inh.n.x")->GetLevel(), 250);
    // (its key still makes inh.bad a configured logger, and so the parent)
    EXPECT_EQ(HLY_LogManager::GetLogger("inh.bad.x")->GetLevel(), HLY_LOG_LEVEL_WARNING);
    EXPECT_EQ(HLY_LogManager::GetLogger("inh.bad.x")->GetParent()->GetName(), "inh.bad");
    EXPECT_TRUE(HLY_LogManager::GetLogger("inh.bad")->IsLevelInherited());
    // no key for any shorter name: the root is the parent
    EXPECT_EQ(HLY_LogManager::GetLogger("inh.none.x")->GetParent()->GetName(), "");

    // an existing logger of a shorter name is the parent even without configuration
    HLY_Logger* p  = HLY_LogManager::GetLogger("inh.p");
    HLY_Logger* pq = HLY_LogManager::GetLogger("inh.p.q.r");
    EXPECT_EQ(pq->GetParent(), p);

    // a level below the logger's is rejected before formatting: the
    // arguments are not even evaluated
    int evaluated = 0;
    HLY_LoggerReference reference("inh.a.b.c");
    HLY_LOG_X(reference, HLY_LOG_LEVEL_FINER, "%d", ++evaluated);
    EXPECT_EQ(evaluated, 0);
    HLY_LOG_X(reference, HLY_LOG_LEVEL_FINE, "%d", ++evaluated);
    EXPECT_EQ(evaluated, 1);

    // loggers made before an ancestor of theirs had a level take it once it has one
    HLY_Logger* late = HLY_LogManager::GetLogger("inh.late.b.c");
    HLY_LogManager::GetLogger("inh.late.b");
    Configure(".level=WARNING;inh.late.level=FINE");
    EXPECT_EQ(late->GetLevel(), HLY_LOG_LEVEL_FINE);
}

TEST_F(LogSystem, ForwardFlagStopsRecordsAtOwnHandlers)
{
    HLY_LogCustomHandler::SetCustomHandlerFunction(RememberRecord);
    Configure(".level=ALL;.handlers=CustomHandler;"
              "fwd.handlers=CustomHandler;"
              "fwd.stop.handlers=CustomHandler;fwd.stop.forward=off;"
              "fwd.odd.handlers=CustomHandler;fwd.odd.forward=maybe;fwd.quiet.forward=off;"
              "fwd.go.handlers=CustomHandler;fwd.go.forward=yes");

    HLY_LoggerReference stop("fwd.stop.leaf");
    HLY_LOG_X(stop, HLY_LOG_LEVEL_INFO, "stopped");
    std::vector<SeenRecord> seen = TakeSeen();
    ASSERT_EQ(seen.size(), 1u); // fwd.stop's handler only
    EXPECT_EQ(seen[0].m_Message, "stopped");
    EXPECT_EQ(seen[0].m_Logger, "fwd.stop.leaf");

    // anything but a true value turns forwarding off
    HLY_LoggerReference odd("fwd.odd");
    HLY_LOG_X(odd, HLY_LOG_LEVEL_INFO, "odd");
    EXPECT_EQ(TakeSeen().size(), 1u);
    // a logger configured by its forward flag alone still stops what comes through it
    HLY_LoggerReference quiet("fwd.quiet.leaf");
    HLY_LOG_X(quiet, HLY_LOG_LEVEL_INFO, "quiet");
    EXPECT_EQ(TakeSeen().size(), 0u);

    // forwarding goes through fwd and on to the root, whatever their levels
    Configure(".handlers=CustomHandler;fwd.level=OFF;fwd.handlers=CustomHandler;"
              "fwd.go.level=INFO;fwd.go.handlers=CustomHandler;fwd.go.forward=yes");
    HLY_LoggerReference go("fwd.go");
    HLY_LOG_X(go, HLY_LOG_LEVEL_INFO, "went %s", "far");
    seen = TakeSeen();
    ASSERT_EQ(seen.size(), 3u);
    for (const SeenRecord& record : seen) EXPECT_EQ(record.m_Message, "went far");
}

TEST_F(LogSystem, CustomHandlerReceivesTheWholeRecord)
{
    Configure("custom.level=FINEST;custom.handlers=CustomHandler;custom.forward=off");
    HLY_LoggerReference custom("custom");

    // no function set: the handler drops records
    HLY_LOG_X(custom, HLY_LOG_LEVEL_INFO, "nobody listens");
    EXPECT_TRUE(TakeSeen().empty());

    HLY_LogCustomHandler::SetCustomHandlerFunction(RememberRecord);
    unsigned int line = __LINE__ + 1;
    HLY_LOG_X(custom, HLY_LOG_LEVEL_FINEST, "value=%d text=%s", 42, "abc");
    std::vector<SeenRecord> seen = TakeSeen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].m_Logger, "custom");
    EXPECT_EQ(seen[0].m_Level, HLY_LOG_LEVEL_FINEST);
    EXPECT_EQ(seen[0].m_Message, "value=42 text=abc");
    EXPECT_NE(seen[0].m_File.find("test_logging.cpp"), std::string::npos);
    EXPECT_EQ(seen[0].m_Line, line);
    EXPECT_EQ(seen[0].m_Function, "TestBody");
    EXPECT_EQ(seen[0].m_ThreadId, HLY_Thread::GetCurrentThreadId());
}

TEST_F(LogSystem, SilencedRecordsAreDroppedUntilLoggingResumes)
{
    HLY_LogCustomHandler::SetCustomHandlerFunction(RememberRecord);
    Configure("quiet.level=FINE;quiet.handlers=CustomHandler;quiet.forward=off");
    HLY_LoggerReference quiet("quiet");

    HLY_LogManager::SetSilenced(true);
    HLY_LOG_X(quiet, HLY_LOG_LEVEL_SEVERE, "dropped");
    std::thread([&] { HLY_LOG_X(quiet, HLY_LOG_LEVEL_SEVERE, "dropped on another thread"); }).join();
    EXPECT_TRUE(TakeSeen().empty());

    // levels and handlers are as they were
    HLY_LogManager::SetSilenced(false);
    HLY_LOG_X(quiet, HLY_LOG_LEVEL_FINER, "below the level");
    HLY_LOG_X(quiet, HLY_LOG_LEVEL_FINE, "heard");
    std::vector<SeenRecord> seen = TakeSeen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].m_Message, "heard");
}

namespace {
// a handler that logs while it handles a record
HLY_LoggerReference g_EchoLogger("echo");
void EchoRecord(const HLY_LogRecord& record)
{
    RememberRecord(record);
    HLY_LOG_X(g_EchoLogger, HLY_LOG_LEVEL_SEVERE, "echo of %s", record.m_Message);
}
} // namespace

TEST_F(LogSystem, RecordsMadeByAHandlerDoNotReenterIt)
{
    HLY_LogCustomHandler::SetCustomHandlerFunction(EchoRecord);
    Configure(".level=ALL;.handlers=CustomHandler");
    HLY_LoggerReference first("echo.first");
    HLY_LOG_X(first, HLY_LOG_LEVEL_INFO, "one");
    std::vector<SeenRecord> seen = TakeSeen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].m_Message, "one");
    // the echo logger itself still works from outside a handler
    HLY_LOG_X(g_EchoLogger, HLY_LOG_LEVEL_INFO, "direct");
    seen = TakeSeen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].m_Message, "direct");
}

namespace {
class CountingHandler : public HLY_LogHandler
{
public:
    explicit CountingHandler(bool* deleted) : m_Deleted(deleted) {}
    ~CountingHandler() override { *m_Deleted = true; }
    void Log(const HLY_LogRecord&) override { ++m_Count; }
    int   m_Count = 0;
    bool* m_Deleted;
};
} // namespace

TEST_F(LogSystem, HandlersAddedByTheProgramAndTheirOwnership)
{
    Configure("own.level=INFO;own.forward=off");
    HLY_Logger* logger = HLY_LogManager::GetLogger("own");
    ASSERT_NE(logger, nullptr);

    bool            kept_deleted = false, given_deleted = false;
    CountingHandler kept(&kept_deleted);
    CountingHandler* given = new CountingHandler(&given_deleted);
    EXPECT_EQ(logger->AddHandler(&kept, false), HLY_SUCCESS);
    EXPECT_EQ(logger->AddHandler(given, true), HLY_SUCCESS);
    EXPECT_EQ(logger->AddHandler(nullptr), HLY_ERROR_INVALID_PARAMETERS);

    logger->Log(HLY_LOG_LEVEL_INFO, __FILE__, __LINE__, __func__, "to both");
    logger->Log(HLY_LOG_LEVEL_FINE, __FILE__, __LINE__, __func__, "below the level");
    EXPECT_EQ(kept.m_Count, 1);
    EXPECT_EQ(given->m_Count, 1);

    EXPECT_EQ(logger->DeleteHandlers(), HLY_SUCCESS);
    EXPECT_FALSE(kept_deleted);
    EXPECT_TRUE(given_deleted);
    logger->Log(HLY_LOG_LEVEL_INFO, __FILE__, __LINE__, __func__, "to nobody");
    EXPECT_EQ(kept.m_Count, 1);
}

/*----------------------------------------------------------------------
|   messages
+---------------------------------------------------------------------*/
TEST_F(LogSystem, LongMessagesGrowTheBufferThenAreCut)
{
    HLY_LogCustomHandler::SetCustomHandlerFunction(RememberRecord);
    Configure("long.level=ALL;long.handlers=CustomHandler;long.forward=off");
    HLY_Logger* logger = HLY_LogManager::GetLogger("long");
    ASSERT_NE(logger, nullptr);

    std::string text;
    for (size_t i = 0; i < 100000; ++i) text += (char)('a' + (i * 7) % 26);
    const size_t sizes[]    = {0, 511, 512, 9215, 9216, 26623, 26624, 61439, 61440, 61441, 100000};
    const size_t expected[] = {0, 511, 512, 9215, 9216, 26623, 26624, 61439, 61439, 61439, 61439};
    for (size_t i = 0; i < HLY_ARRAY_SIZE(sizes); ++i) {
        std::string message = text.substr(0, sizes[i]);
        logger->Log(HLY_LOG_LEVEL_INFO, __FILE__, __LINE__, __func__, "%s", message.c_str());
        std::vector<SeenRecord> seen = TakeSeen();
        ASSERT_EQ(seen.size(), 1u) << sizes[i];
        EXPECT_EQ(seen[0].m_Message.size(), expected[i]) << sizes[i];
        EXPECT_EQ(seen[0].m_Message, text.substr(0, expected[i])) << sizes[i];
    }
}

/*----------------------------------------------------------------------
|   file handler
+---------------------------------------------------------------------*/
TEST_F(LogSystem, FileHandlerLineFormatAndFilters)
{
    TempDir     work;
    std::string full  = work.Join("full.log");
    std::string short_ = work.Join("short.log");
    Configure("fmt.level=INFO;fmt.forward=off;fmt.handlers=FileHandler, FileHandler ,Bogus,;"
              "fmt.FileHandler.filename=" + full + ";fmt.FileHandler.flush=true;fmt.FileHandler.colors=on;"
              "fmt.short.level=INFO;fmt.short.forward=off;fmt.short.handlers=FileHandler;"
              "fmt.short.FileHandler.filename=" + short_ + ";fmt.short.FileHandler.filter=0x00000014");
    HLY_Logger* logger = HLY_LogManager::GetLogger("fmt");
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(logger->GetHandlerNames(), "FileHandler,FileHandler"); // the unknown name is skipped

    HLY_LoggerReference fmt("fmt");
    HLY_LOG_X(fmt, HLY_LOG_LEVEL_WARNING, "hello %d", 42);
    std::string text = ReadWholeFile(full);
    // written twice, once by each handler; never coloured
    std::regex line(".*test_logging\\.cpp\\([0-9]+\\): \\[fmt\\] "
                    "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{9}(Z|[+-][0-9]{2}:[0-9]{2}) "
                    "\\[TestBody\\] \\(" + std::to_string(HLY_Thread::GetCurrentThreadId()) + "\\) WARNING: hello 42\r\n");
    ASSERT_EQ(CountOf(text, "\r\n"), 2u) << text;
    std::string first = text.substr(0, text.find("\r\n") + 2);
    EXPECT_TRUE(std::regex_match(first, line)) << first;
    EXPECT_EQ(text, first + first);
    EXPECT_EQ(text.find('\033'), std::string::npos);

    // 0x10 shortens the source to its name, 0x04 drops the function
    HLY_LoggerReference shortened("fmt.short");
    HLY_LOG_X(shortened, HLY_LOG_LEVEL_INFO, "short");
    HLY_LogManager::Reconfigure(nullptr); // closes the file
    std::string short_text = ReadWholeFile(short_);
    EXPECT_TRUE(std::regex_match(short_text, std::regex("test_logging\\.cpp\\([0-9]+\\): \\[fmt\\.short\\] \\S+ "
                                                        "\\([0-9]+\\) INFO: short\r\n")))
        << short_text;
}

TEST_F(LogSystem, FileHandlerAppendsOrTruncates)
{
    TempDir     work;
    std::string path = work.Join("append.log");
    WriteWholeFile(path, "earlier\r\n");
    std::string config = "app.level=INFO;app.forward=off;app.handlers=FileHandler;app.FileHandler.filter=63;"
                         "app.FileHandler.filename=" + path;
    Configure(config);
    HLY_LoggerReference app("app");
    HLY_LOG_X(app, HLY_LOG_LEVEL_INFO, "appended");
    Configure(config + ";app.FileHandler.append=no");
    HLY_LogManager::Reconfigure(nullptr);
    // the second configuration truncated what the first one appended to
    EXPECT_EQ(ReadWholeFile(path), "");

    WriteWholeFile(path, "earlier\r\n");
    Configure(config);
    HLY_LOG_X(app, HLY_LOG_LEVEL_INFO, "appended");
    HLY_LogManager::Reconfigure(nullptr);
    EXPECT_EQ(ReadWholeFile(path), "earlier\r\nINFO: appended\r\n");

    // what a file held before counts towards its recycle size
    WriteWholeFile(path, std::string(HLY_LOG_FILE_HANDLER_MIN_RECYCLE_SIZE + 1, 'x'));
    Configure(config + ";app.FileHandler.recycle=" + std::to_string(HLY_LOG_FILE_HANDLER_MIN_RECYCLE_SIZE));
    HLY_LOG_X(app, HLY_LOG_LEVEL_INFO, "appended");
    HLY_LogManager::Reconfigure(nullptr);
    EXPECT_EQ(ReadWholeFile(path), "INFO: appended\r\n");
}

TEST_F(LogSystem, FileHandlerRotatesWithoutLosingRecords)
{
    TempDir     work;
    std::string path = work.Join("rot.log");
    // a recycle size below a million is raised to a million
    Configure("rot.level=ALL;rot.forward=off;rot.handlers=FileHandler;rot.FileHandler.filter=63;"
              "rot.FileHandler.recycle=1000;rot.FileHandler.filename=" + path);
    HLY_LoggerReference rot("rot");
    // records of 1000 bytes: a file reaches the recycle size exactly, and is recycled only past it
    const std::string   padding(985, 'x');
    const int           count = 2600; // about 2.6 MB: two rotations
    for (int i = 0; i < count; ++i) HLY_LOG_X(rot, HLY_LOG_LEVEL_INFO, "%06d %s", i, padding.c_str());
    HLY_LogManager::Reconfigure(nullptr);

    std::vector<std::string> names = work.List();
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names.back(), "rot.log");
    // the old files carry the local time of their rotation, ':' made '_'
    std::regex rotated("rot-[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}_[0-9]{2}_[0-9]{2}(Z|[+-][0-9]{2}_[0-9]{2})(-[0-9]+)?\\.log");
    const size_t line_size = 6 + 7 + 985 + 2; // "INFO: " + "NNNNNN " + padding + CR LF
    for (size_t i = 0; i + 1 < names.size(); ++i) {
        EXPECT_TRUE(std::regex_match(names[i], rotated)) << names[i];
        size_t size = std::filesystem::file_size(work.Join(names[i]));
        EXPECT_GT(size, 1000000u);
        EXPECT_LE(size, 1000000u + line_size);
    }
    // every file holds a run of consecutive records; the runs together are
    // every record once, the newest in the current file
    std::map<int, std::pair<int, std::string>> runs; // first -> (count, file)
    for (const std::string& name : names) {
        std::istringstream lines(ReadWholeFile(work.Join(name)));
        std::string        one;
        int                first = -1, next = -1;
        while (std::getline(lines, one)) {
            ASSERT_EQ(one.size(), line_size - 1) << name;
            EXPECT_EQ(one.substr(0, 6), "INFO: ");
            int number = std::stoi(one.substr(6, 6));
            if (first < 0) first = next = number;
            ASSERT_EQ(number, next) << name;
            ++next;
        }
        ASSERT_GE(first, 0) << name;
        runs[first] = {next - first, name};
    }
    int expected = 0;
    for (const auto& run : runs) {
        EXPECT_EQ(run.first, expected) << run.second.second;
        expected += run.second.first;
    }
    EXPECT_EQ(expected, count);
    EXPECT_EQ(runs.rbegin()->second.second, "rot.log");
}

TEST_F(LogSystem, ThreadsNeverInterleaveWithinALine)
{
    TempDir     work;
    std::string path = work.Join("threads.log");
    Configure("thr.level=INFO;thr.forward=off;thr.handlers=FileHandler;thr.FileHandler.filter=63;"
              "thr.FileHandler.filename=" + path);
    const int                threads = 4, per_thread = 200;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t] {
            HLY_LoggerReference thr("thr");
            for (int i = 0; i < per_thread; ++i) HLY_LOG_X(thr, HLY_LOG_LEVEL_INFO, "t%d-%03d-%s", t, i, "abcdefgh");
        });
    }
    for (std::thread& worker : workers) worker.join();
    HLY_LogManager::Reconfigure(nullptr);

    std::istringstream lines(ReadWholeFile(path));
    std::string        one;
    std::regex         expected("INFO: t[0-3]-[0-9]{3}-abcdefgh\r");
    int                total = 0;
    while (std::getline(lines, one)) {
        EXPECT_TRUE(std::regex_match(one, expected)) << one;
        ++total;
    }
    EXPECT_EQ(total, threads * per_thread);
}

/*----------------------------------------------------------------------
|   network handlers, on the loopback interface only
+---------------------------------------------------------------------*/
namespace {
// "Name: value" lines of a header block, and what follows the blank line
std::map<std::string, std::string> ParseHeaderBlock(const std::string& block, std::string& body)
{
    std::map<std::string, std::string> headers;
    size_t                             end = block.find("\r\n\r\n");
    if (end == std::string::npos) return headers;
    body = block.substr(end + 4);
    std::string head = block.substr(0, end);
    size_t      at   = 0;
    while (at <= head.size()) {
        size_t      next = head.find("\r\n", at);
        std::string line = head.substr(at, next == std::string::npos ? std::string::npos : next - at);
        size_t      colon = line.find(": ");
        if (colon != std::string::npos) headers[line.substr(0, colon)] = line.substr(colon + 2);
        if (next == std::string::npos) break;
        at = next + 2;
    }
    return headers;
}
} // namespace

TEST_F(LogSystem, UdpHandlerSendsOneDatagramPerRecordInOrder)
{
    HLY_UdpSocket receiver;
    ASSERT_EQ(receiver.Bind(HLY_SocketAddress(HLY_IpAddress::Loopback, 0)), HLY_SUCCESS);
    receiver.SetReadTimeout(5000);
    HLY_SocketInfo info;
    ASSERT_EQ(receiver.GetInfo(info), HLY_SUCCESS);
    unsigned int port = info.local_address.GetPort();

    Configure("udp.level=FINE;udp.forward=off;udp.handlers=UdpHandler;udp.UdpHandler.hostname=127.0.0.1;"
              "udp.UdpHandler.port=" + std::to_string(port));
    HLY_LoggerReference udp("udp.peer");
    const int           count = 20;
    unsigned int        line  = __LINE__ + 1;
    for (int i = 0; i < count; ++i) HLY_LOG_X(udp, HLY_LOG_LEVEL_FINE, "datagram %d", i);
    HLY_LOG_X(udp, HLY_LOG_LEVEL_FINER, "below the level");

    for (int i = 0; i < count; ++i) {
        HLY_DataBuffer packet(70000);
        ASSERT_EQ(receiver.Receive(packet), HLY_SUCCESS) << i;
        ASSERT_GT(packet.GetDataSize(), 0u);
        // the terminating NUL travels with the datagram
        EXPECT_EQ(packet.GetData()[packet.GetDataSize() - 1], 0);
        std::string block((const char*)packet.GetData(), packet.GetDataSize() - 1);
        EXPECT_EQ(block.rfind("Logger: udp.peer\r\nLevel: FINE\r\nSource-File: ", 0), 0u) << block;
        std::string body;
        auto        headers = ParseHeaderBlock(block, body);
        EXPECT_EQ(body, "datagram " + std::to_string(i));
        EXPECT_EQ(headers["Content-Length"], std::to_string(body.size()));
        EXPECT_NE(headers["Source-File"].find("test_logging.cpp"), std::string::npos);
        EXPECT_EQ(headers["Source-Function"], "TestBody");
        EXPECT_EQ(headers["Source-Line"], std::to_string(line));
        EXPECT_EQ(headers["Thread-Id"], std::to_string(HLY_Thread::GetCurrentThreadId()));
        EXPECT_TRUE(std::regex_match(headers["TimeStamp"],
                                     std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}\\.[0-9]{9}(Z|[+-][0-9:]{5})")))
            << headers["TimeStamp"];
    }
    // nothing more: the FINER record was not sent
    receiver.SetReadTimeout(200);
    HLY_DataBuffer extra(70000);
    EXPECT_EQ(receiver.Receive(extra), HLY_ERROR_TIMEOUT);
}

TEST_F(LogSystem, TcpHandlerStreamsRecordsAndReconnects)
{
    HLY_TcpServerSocket server;
    ASSERT_EQ(server.Bind(HLY_SocketAddress(HLY_IpAddress::Loopback, 0)), HLY_SUCCESS);
    ASSERT_EQ(server.Listen(5), HLY_SUCCESS);
    HLY_SocketInfo info;
    ASSERT_EQ(server.GetInfo(info), HLY_SUCCESS);

    Configure("tcp.level=INFO;tcp.forward=off;tcp.handlers=TcpHandler;tcp.TcpHandler.hostname=localhost;"
              "tcp.TcpHandler.port=" + std::to_string(info.local_address.GetPort()));
    HLY_LoggerReference tcp("tcp");
    HLY_LOG_X(tcp, HLY_LOG_LEVEL_INFO, "first");
    HLY_LOG_X(tcp, HLY_LOG_LEVEL_WARNING, "second record");

    HLY_Socket* accepted = nullptr;
    ASSERT_EQ(server.WaitForNewClient(accepted, 5000), HLY_SUCCESS);
    ASSERT_NE(accepted, nullptr);
    accepted->SetReadTimeout(5000);
    HLY_InputStreamReference input;
    ASSERT_EQ(accepted->GetInputStream(input), HLY_SUCCESS);

    // read until both blocks are in: a block ends after Content-Length bytes of body
    std::string received;
    auto        complete_blocks = [&]() {
        std::vector<std::string> bodies;
        size_t                   at = 0;
        for (;;) {
            size_t end = received.find("\r\n\r\n", at);
            if (end == std::string::npos) break;
            std::string body;
            auto headers = ParseHeaderBlock(received.substr(at, end + 4 - at), body);
            size_t length = (size_t)std::stoul(headers["Content-Length"]);
            if (received.size() < end + 4 + length) break;
            bodies.push_back(headers["Level"] + "|" + received.substr(end + 4, length));
            at = end + 4 + length;
        }
        return bodies;
    };
    for (int reads = 0; reads < 100 && complete_blocks().size() < 2; ++reads) {
        char     buffer[4096];
        HLY_Size got = 0;
        if (HLY_FAILED(input->Read(buffer, sizeof(buffer), &got))) break;
        received.append(buffer, got);
    }
    EXPECT_EQ(complete_blocks(), (std::vector<std::string>{"INFO|first", "WARNING|second record"}));

    // the peer goes away: a failed write drops the connection, and a later
    // record connects again
    input = nullptr;
    delete accepted;
    accepted = nullptr;
    for (int i = 0; i < 50 && accepted == nullptr; ++i) {
        HLY_LOG_X(tcp, HLY_LOG_LEVEL_INFO, "after %d", i);
        if (HLY_FAILED(server.WaitForNewClient(accepted, 100))) accepted = nullptr;
    }
    ASSERT_NE(accepted, nullptr);
    accepted->SetReadTimeout(5000);
    ASSERT_EQ(accepted->GetInputStream(input), HLY_SUCCESS);
    char     buffer[4096];
    HLY_Size got = 0;
    ASSERT_EQ(input->Read(buffer, sizeof(buffer), &got), HLY_SUCCESS);
    EXPECT_EQ(std::string(buffer, got).rfind("Logger: tcp\r\nLevel: INFO\r\n", 0), 0u);
    input = nullptr;
    delete accepted;
}

/*----------------------------------------------------------------------
|   the configuration page
+---------------------------------------------------------------------*/
static unsigned int FreeLoopbackPort()
{
    HLY_TcpServerSocket probe;
    probe.Bind(HLY_SocketAddress(HLY_IpAddress::Any, 0));
    HLY_SocketInfo info;
    probe.GetInfo(info);
    return info.local_address.GetPort();
}

TEST_F(LogSystem, HttpSourceServesTheConfigurationPage)
{
    unsigned int port = FreeLoopbackPort();
    Configure(".level=WARNING;cfg.page.level=FINE;cfg.page.handlers=NullHandler;odd=<b>&|http:port=" +
              std::to_string(port));
    HLY_LoggerReference logger("cfg.page");
    ASSERT_NE(logger.Get(), nullptr);
    EXPECT_EQ(HLY_LogManager::GetDefault().GetConfiguratorPort(), port);

    RawResponse page = RawAsk(port, "GET / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.Header("Content-Type"), "text/html");
    const std::string& body = page.body;
    EXPECT_EQ(body.rfind("<ul>", 0), 0u) << body;
    EXPECT_NE(body.find("<li>.level=WARNING</li>"), std::string::npos) << body;
    EXPECT_NE(body.find("<li>cfg.page.handlers=NullHandler</li>"), std::string::npos) << body;
    // configuration text is escaped, not passed through as markup
    EXPECT_NE(body.find("<li>odd=&lt;b&gt;&amp;</li>"), std::string::npos) << body;
    EXPECT_NE(body.find("<li>cfg.page, level=300, handlers=NullHandler</li>"), std::string::npos) << body;
    EXPECT_EQ(body.substr(body.size() - 5), "</ul>");

    // every path below the root answers; other methods do not get the page
    EXPECT_EQ(RawAsk(port, "GET /loggers/x HTTP/1.0\r\n\r\n").status, 200);
    EXPECT_EQ(RawAsk(port, "POST / HTTP/1.0\r\nContent-Length: 0\r\n\r\n").status, 500);

    // a new configuration without the source takes the page down
    Configure(".level=OFF");
    EXPECT_EQ(HLY_LogManager::GetDefault().GetConfiguratorPort(), 0u);
    RawResponse gone;
    EXPECT_FALSE(RawExchange(port, "GET / HTTP/1.0\r\n\r\n", gone));
}
