#ifndef HLY_LOGGING_H
#define HLY_LOGGING_H

#include <atomic>
#include "hlylist.h"
#include "hlyresults.h"
#include "hlystrings.h"
#include "hlythreads.h"
#include "hlytime.h"

#define HLY_LOG_LEVEL_FATAL   700
#define HLY_LOG_LEVEL_SEVERE  600
#define HLY_LOG_LEVEL_WARNING 500
#define HLY_LOG_LEVEL_INFO    400
#define HLY_LOG_LEVEL_FINE    300
#define HLY_LOG_LEVEL_FINER   200
#define HLY_LOG_LEVEL_FINEST  100
#define HLY_LOG_LEVEL_ALL     0
#define HLY_LOG_LEVEL_OFF     32767

// where the configuration comes from when nothing else is said
#define HLY_LOG_CONFIG_ENV        "HALYARD_LOG_CONFIG"
#define HLY_LOG_DEFAULT_CONFIG    "file:halyard-logging.properties"
#define HLY_LOG_ROOT_DEFAULT_FILE "_halyard.log"

// fields left out of a formatted line (bit mask of a handler's ".filter")
#define HLY_LOG_FORMAT_FILTER_NO_SOURCE          0x01
#define HLY_LOG_FORMAT_FILTER_NO_TIMESTAMP       0x02
#define HLY_LOG_FORMAT_FILTER_NO_FUNCTION_NAME   0x04
#define HLY_LOG_FORMAT_FILTER_NO_LOGGER_NAME     0x08
#define HLY_LOG_FORMAT_FILTER_NO_SOURCEPATH      0x10
#define HLY_LOG_FORMAT_FILTER_NO_THREAD_ID       0x20

// a message is formatted into at most this many bytes, its NUL included
#define HLY_LOG_MESSAGE_INITIAL_BUFFER 512
#define HLY_LOG_MESSAGE_MAX_BUFFER     65536

class HLY_LogManager;
class HLY_OutputStream;
class HLY_HttpLoggerConfigurator;

/*----------------------------------------------------------------------
|   levels: names, colours and parsing
+---------------------------------------------------------------------*/
// a level name of the table, else a strict decimal integer; anything else fails
HLY_Result HLY_LogParseLevel(const char* text, int& level);
// the name of a level, or its decimal number when it has none
HLY_String HLY_LogLevelName(int level);
// the ANSI colour code of a level, or nullptr
const char* HLY_LogLevelColor(int level);
// "true"/"yes"/"on"/"1" and "false"/"no"/"off"/"0", any case; other texts fail
HLY_Result HLY_LogParseBoolean(const char* text, bool& value);

/*----------------------------------------------------------------------
|   HLY_LogRecord: one log statement, valid for the duration of the
|   handlers' calls only
+---------------------------------------------------------------------*/
struct HLY_LogRecord
{
    const char*   m_LoggerName;
    int           m_Level;
    const char*   m_Message;
    HLY_TimeStamp m_TimeStamp;
    const char*   m_SourceFile;
    unsigned int  m_SourceLine;
    const char*   m_SourceFunction;
    HLY_ThreadId  m_ThreadId;
};

// the line written by the console and file handlers, CR LF included
HLY_Result HLY_LogFormatRecordAsLine(const HLY_LogRecord& record, HLY_Flags filter, bool use_colors,
                                     HLY_OutputStream& stream);
// the header block sent to TCP and UDP peers, message included
HLY_Result HLY_LogFormatRecordAsHeaders(const HLY_LogRecord& record, HLY_OutputStream& stream);

/*----------------------------------------------------------------------
|   HLY_LogHandler: where records go. Handlers are called with the
|   manager locked, so one handler never sees two records at once.
+---------------------------------------------------------------------*/
class HLY_LogHandler
{
public:
    virtual ~HLY_LogHandler() {}
    virtual void Log(const HLY_LogRecord& record) = 0;
    virtual HLY_Result ToString(HLY_String& name)
    {
        name = "";
        return HLY_SUCCESS;
    }

    // one of "NullHandler", "ConsoleHandler", "FileHandler", "TcpHandler",
    // "UdpHandler", "CustomHandler", set up from the logger's configuration
    static HLY_Result Create(HLY_LogManager& manager, const char* logger_name, const char* handler_name,
                             HLY_LogHandler*& handler);
};

/*----------------------------------------------------------------------
|   HLY_Logger: a named channel with a level, its handlers and a parent
+---------------------------------------------------------------------*/
class HLY_Logger
{
public:
    HLY_Logger(HLY_LogManager& manager, const char* name);
    virtual ~HLY_Logger();

    // read without a lock on every log statement
    int GetLevel() const { return m_Level.load(std::memory_order_relaxed); }
    const HLY_String& GetName() const { return m_Name; }
    HLY_Logger* GetParent() const { return m_Parent; }
    bool IsLevelInherited() const { return m_LevelIsInherited; }
    bool GetForwardToParent() const { return m_ForwardToParent; }

    // formats and dispatches one record; the macros test the level first
    void Log(int level, const char* source_file, unsigned int source_line,
             const char* source_function, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 6, 7)))
#endif
        ;

    // with transfer_ownership the logger deletes the handler when it is done with it
    HLY_Result AddHandler(HLY_LogHandler* handler, bool transfer_ownership = true);
    // drops every handler, deleting those the logger owns
    HLY_Result DeleteHandlers();
    // the names of the handlers, comma-separated
    HLY_String GetHandlerNames();

private:
    HLY_Logger(const HLY_Logger&)            = delete;
    HLY_Logger& operator=(const HLY_Logger&) = delete;
    friend class HLY_LogManager;

    HLY_LogManager&         m_Manager;
    HLY_String              m_Name;
    std::atomic<int>        m_Level;
    bool                    m_LevelIsInherited;
    bool                    m_ForwardToParent;
    HLY_Logger*             m_Parent;
    HLY_List<HLY_LogHandler*> m_Handlers;
    HLY_List<HLY_LogHandler*> m_ExternalHandlers; // the handlers it does not own
};

/*----------------------------------------------------------------------
|   HLY_LogManager: the process-wide tree of loggers and the
|   configuration they are made from. Loggers live until the process
|   ends: every source file keeps a pointer to its own.
+---------------------------------------------------------------------*/
class HLY_LogManager
{
public:
    struct ConfigEntry
    {
        HLY_String m_Key;
        HLY_String m_Value;
        bool operator==(const ConfigEntry& other) const { return m_Key == other.m_Key; }
    };

    static HLY_LogManager& GetDefault();

    // the logger of that name, created on first request; none while logging is disabled
    static HLY_Logger* GetLogger(const char* name);

    // reads the configuration once: from source when given, else from
    // HALYARD_LOG_CONFIG when set, else from "halyard-logging.properties"
    static HLY_Result Configure(const char* source = nullptr);

    // FOR TESTS ONLY: throws the configuration away and reads it again from
    // source (or as Configure does when null), then sets up every existing
    // logger anew. Pointers to loggers stay valid.
    static HLY_Result Reconfigure(const char* source);

    // the port of an "http:port=" source (0 when none); the configuration
    // page is served there from the end of the configuration on
    unsigned int GetConfiguratorPort() const { return m_ConfiguratorPort; }

    // configuration access, for handlers and tests (with the manager locked)
    const HLY_String* GetConfigValue(const char* prefix, const char* suffix) const;
    HLY_Result SetConfigValue(const char* key, const char* value);
    HLY_Result ParseConfig(const char* text, HLY_Size length);
    const HLY_List<ConfigEntry>& GetConfig() const { return m_Config; }
    const HLY_List<HLY_Logger*>& GetLoggers() const { return m_Loggers; }

    bool IsEnabled() const { return m_Enabled.load(std::memory_order_relaxed); }

    // While silenced, every record of every thread is dropped before it is
    // formatted; levels, handlers and configuration stay as they are. For
    // stretches whose records nobody reads, such as a repeated pass over
    // input that has been logged once already.
    static void SetSilenced(bool silenced);
    bool IsSilenced() const { return m_Silenced.load(std::memory_order_relaxed); }
    void Lock() { m_Lock.Lock(); }
    void Unlock() { m_Lock.Unlock(); }

private:
    HLY_LogManager();
    ~HLY_LogManager();
    HLY_LogManager(const HLY_LogManager&)            = delete;
    HLY_LogManager& operator=(const HLY_LogManager&) = delete;
    friend class HLY_Logger;
    class Cleaner;

    HLY_Result ConfigureLocked(const char* source);
    HLY_Result ReadSources(const char* source);
    HLY_Result ParseSource(const HLY_String& source);
    HLY_Result ParseConfigFile(const char* path);
    HLY_Logger* FindLogger(const char* name);
    HLY_Logger* FindOrCreateLogger(const char* name);
    void ConfigureLogger(HLY_Logger& logger);
    void LinkToParent(HLY_Logger& logger);
    bool HasLoggerConfig(const char* name) const;
    void Shutdown();
    void StartConfigurator();
    HLY_HttpLoggerConfigurator* TakeConfigurator();

    HLY_Mutex               m_Lock; // recursive: a handler may log or look loggers up
    std::atomic<bool>       m_Enabled;
    std::atomic<bool>       m_Silenced;
    bool                    m_Configured;
    HLY_List<ConfigEntry>   m_Config;
    HLY_List<HLY_Logger*>   m_Loggers;
    HLY_Logger*             m_Root;
    unsigned int            m_ConfiguratorPort;
    HLY_HttpLoggerConfigurator* m_Configurator;
};

// the per-source-file logger: looked up by name on first use, then kept
class HLY_LoggerReference
{
public:
    explicit HLY_LoggerReference(const char* name) : m_Name(name), m_Logger(nullptr) {}
    HLY_Logger* Get()
    {
        HLY_Logger* logger = m_Logger.load(std::memory_order_acquire);
        if (logger == nullptr) {
            logger = HLY_LogManager::GetLogger(m_Name);
            if (logger) m_Logger.store(logger, std::memory_order_release);
        }
        return logger;
    }
    const char* GetName() const { return m_Name; }

private:
    const char*               m_Name;
    std::atomic<HLY_Logger*>  m_Logger;
};

#define HLY_SET_LOCAL_LOGGER(_name) \
    static HLY_LoggerReference _HLY_LocalLogger(_name);

#define HLY_LOG_X(_logger, _level, ...)                                           \
    do {                                                                          \
        HLY_Logger* _hly_logger = (_logger).Get();                                \
        if (_hly_logger && (_level) >= _hly_logger->GetLevel()) {                 \
            _hly_logger->Log((_level), __FILE__, __LINE__, __func__, __VA_ARGS__); \
        }                                                                         \
    } while (0)

#define HLY_LOG_L(_logger, _level, ...) HLY_LOG_X(_logger, _level, __VA_ARGS__)
#define HLY_LOG(_level, ...)   HLY_LOG_X(_HLY_LocalLogger, _level, __VA_ARGS__)
#define HLY_LOG_FATAL(...)     HLY_LOG(HLY_LOG_LEVEL_FATAL,   __VA_ARGS__)
#define HLY_LOG_SEVERE(...)    HLY_LOG(HLY_LOG_LEVEL_SEVERE,  __VA_ARGS__)
#define HLY_LOG_WARNING(...)   HLY_LOG(HLY_LOG_LEVEL_WARNING, __VA_ARGS__)
#define HLY_LOG_INFO(...)      HLY_LOG(HLY_LOG_LEVEL_INFO,    __VA_ARGS__)
#define HLY_LOG_FINE(...)      HLY_LOG(HLY_LOG_LEVEL_FINE,    __VA_ARGS__)
#define HLY_LOG_FINER(...)     HLY_LOG(HLY_LOG_LEVEL_FINER,   __VA_ARGS__)
#define HLY_LOG_FINEST(...)    HLY_LOG(HLY_LOG_LEVEL_FINEST,  __VA_ARGS__)

/*----------------------------------------------------------------------
|   check macros: log through the file's logger and return the code
+---------------------------------------------------------------------*/
#define HLY_STRINGIFY_EXPANDED(_x) #_x
#define HLY_STRINGIFY(_x) HLY_STRINGIFY_EXPANDED(_x)

#define HLY_CHECK_LL(_logger, _level, _x)                                          \
    do {                                                                           \
        HLY_Result _hly_result = (_x);                                             \
        if (_hly_result != HLY_SUCCESS) {                                          \
            HLY_LOG_X(_logger, _level, "HLY_CHECK failed, result=%d (%s) [%s]",    \
                      (int)_hly_result, HLY_ResultText(_hly_result),               \
                      HLY_STRINGIFY((_x)));                                        \
            return _hly_result;                                                    \
        }                                                                          \
    } while (0)

// a failed check logged as the check macros word it, for checks they cannot
// express: the expression text and, in the _F form, the function name given
#define HLY_LOG_CHECK_FAILURE_F(_level, _function, _text, _result)                          \
    do {                                                                                    \
        HLY_Logger* _hly_logger = _HLY_LocalLogger.Get();                                   \
        if (_hly_logger && (_level) >= _hly_logger->GetLevel()) {                           \
            HLY_Result _hly_failed = (_result);                                             \
            _hly_logger->Log((_level), __FILE__, __LINE__, (_function),                     \
                             "HLY_CHECK failed, result=%d (%s) [%s]", (int)_hly_failed,     \
                             HLY_ResultText(_hly_failed), (_text));                         \
        }                                                                                   \
    } while (0)
#define HLY_LOG_CHECK_FAILURE(_level, _text, _result) HLY_LOG_CHECK_FAILURE_F(_level, __func__, _text, _result)

#define HLY_CHECK(_x)                                                              \
    do {                                                                           \
        HLY_Result _hly_result = (_x);                                             \
        if (_hly_result != HLY_SUCCESS) return _hly_result;                        \
    } while (0)

#define HLY_CHECK_L(_level, _x)  HLY_CHECK_LL(_HLY_LocalLogger, _level, _x)
#define HLY_CHECK_FATAL(_x)      HLY_CHECK_L(HLY_LOG_LEVEL_FATAL,   _x)
#define HLY_CHECK_SEVERE(_x)     HLY_CHECK_L(HLY_LOG_LEVEL_SEVERE,  _x)
#define HLY_CHECK_WARNING(_x)    HLY_CHECK_L(HLY_LOG_LEVEL_WARNING, _x)
#define HLY_CHECK_INFO(_x)       HLY_CHECK_L(HLY_LOG_LEVEL_INFO,    _x)
#define HLY_CHECK_FINE(_x)       HLY_CHECK_L(HLY_LOG_LEVEL_FINE,    _x)
#define HLY_CHECK_FINER(_x)      HLY_CHECK_L(HLY_LOG_LEVEL_FINER,   _x)
#define HLY_CHECK_FINEST(_x)     HLY_CHECK_L(HLY_LOG_LEVEL_FINEST,  _x)

#define HLY_CHECK_POINTER_LL(_logger, _level, _p)                                  \
    do {                                                                           \
        if ((_p) == nullptr) {                                                     \
            HLY_LOG_X(_logger, _level, "@@@ NULL pointer parameter");              \
            return HLY_ERROR_INVALID_PARAMETERS;                                   \
        }                                                                          \
    } while (0)

#define HLY_CHECK_POINTER(_p)                                                      \
    do {                                                                           \
        if ((_p) == nullptr) return HLY_ERROR_INVALID_PARAMETERS;                  \
    } while (0)

#define HLY_CHECK_POINTER_L(_level, _p) HLY_CHECK_POINTER_LL(_HLY_LocalLogger, _level, _p)
#define HLY_CHECK_POINTER_FATAL(_p)     HLY_CHECK_POINTER_L(HLY_LOG_LEVEL_FATAL,   _p)
#define HLY_CHECK_POINTER_SEVERE(_p)    HLY_CHECK_POINTER_L(HLY_LOG_LEVEL_SEVERE,  _p)
#define HLY_CHECK_POINTER_WARNING(_p)   HLY_CHECK_POINTER_L(HLY_LOG_LEVEL_WARNING, _p)
#define HLY_CHECK_POINTER_INFO(_p)      HLY_CHECK_POINTER_L(HLY_LOG_LEVEL_INFO,    _p)
#define HLY_CHECK_POINTER_FINE(_p)      HLY_CHECK_POINTER_L(HLY_LOG_LEVEL_FINE,    _p)
#define HLY_CHECK_POINTER_FINER(_p)     HLY_CHECK_POINTER_L(HLY_LOG_LEVEL_FINER,   _p)
#define HLY_CHECK_POINTER_FINEST(_p)    HLY_CHECK_POINTER_L(HLY_LOG_LEVEL_FINEST,  _p)

#endif // HLY_LOGGING_H
