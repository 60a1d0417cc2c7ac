#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <new>
#include <vector>

#include "hlylogging.h"
#include "hlyautomaticcleaner.h"
#include "hlydatabuffer.h"
#include "hlydates.h"
#include "hlyfile.h"
#include "hlylogconfigurator.h"
#include "hlystreams.h"
#include "../system/posix/hlyposixlogging.h"

/*----------------------------------------------------------------------
|   levels
+---------------------------------------------------------------------*/
namespace {

struct LevelInfo
{
    const char* m_Name;
    int         m_Value;
    const char* m_Color;
};

const LevelInfo Levels[] = {
    {"FATAL", HLY_LOG_LEVEL_FATAL, "31"},   {"SEVERE", HLY_LOG_LEVEL_SEVERE, "31"},
    {"WARNING", HLY_LOG_LEVEL_WARNING, "33"}, {"INFO", HLY_LOG_LEVEL_INFO, "32"},
    {"FINE", HLY_LOG_LEVEL_FINE, "34"},     {"FINER", HLY_LOG_LEVEL_FINER, "35"},
    {"FINEST", HLY_LOG_LEVEL_FINEST, "36"}, {"ALL", HLY_LOG_LEVEL_ALL, nullptr},
    {"OFF", HLY_LOG_LEVEL_OFF, nullptr},
};

const LevelInfo* FindLevel(int level)
{
    for (const LevelInfo& info : Levels) {
        if (info.m_Value == level) return &info;
    }
    return nullptr;
}

// set while this thread hands a record to the handlers: what a handler
// logs through its own work (a socket, a file) would re-enter it
thread_local bool t_Dispatching = false;

} // namespace

HLY_Result HLY_LogParseLevel(const char* text, int& level)
{
    if (text == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    for (const LevelInfo& info : Levels) {
        if (HLY_String::Compare(text, info.m_Name) == 0) {
            level = info.m_Value;
            return HLY_SUCCESS;
        }
    }
    HLY_Int32 value = 0;
    HLY_Result result = HLY_ParseInteger32(text, value, false);
    if (HLY_FAILED(result)) return result;
    level = (int)value;
    return HLY_SUCCESS;
}

HLY_String HLY_LogLevelName(int level)
{
    const LevelInfo* info = FindLevel(level);
    if (info) return HLY_String(info->m_Name);
    return HLY_String::FromInteger(level);
}

const char* HLY_LogLevelColor(int level)
{
    const LevelInfo* info = FindLevel(level);
    return info ? info->m_Color : nullptr;
}

HLY_Result HLY_LogParseBoolean(const char* text, bool& value)
{
    if (text == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    for (const char* yes : {"true", "yes", "on", "1"}) {
        if (HLY_String::Compare(text, yes, true) == 0) {
            value = true;
            return HLY_SUCCESS;
        }
    }
    for (const char* no : {"false", "no", "off", "0"}) {
        if (HLY_String::Compare(text, no, true) == 0) {
            value = false;
            return HLY_SUCCESS;
        }
    }
    return HLY_ERROR_INVALID_SYNTAX;
}

/*----------------------------------------------------------------------
|   record formats
+---------------------------------------------------------------------*/
static HLY_String FormatTimeStamp(const HLY_TimeStamp& timestamp)
{
    HLY_DateTime date(timestamp, true);
    return date.ToString(HLY_DateTime::FORMAT_W3C,
                         HLY_DateTime::FLAG_EMIT_FRACTION | HLY_DateTime::FLAG_EXTENDED_PRECISION);
}

static const char* OrEmpty(const char* text)
{
    return text ? text : "";
}

HLY_Result HLY_LogFormatRecordAsLine(const HLY_LogRecord& record, HLY_Flags filter, bool use_colors,
                                     HLY_OutputStream& stream)
{
    if (!(filter & HLY_LOG_FORMAT_FILTER_NO_SOURCE)) {
        const char* file = OrEmpty(record.m_SourceFile);
        if (filter & HLY_LOG_FORMAT_FILTER_NO_SOURCEPATH) {
            for (const char* c = file; *c; ++c) {
                if (*c == '\\' || *c == '/') file = c + 1;
            }
        }
        stream.WriteString(file);
        stream.WriteString("(");
        stream.WriteString(HLY_String::FromIntegerU(record.m_SourceLine));
        stream.WriteString("): ");
    }
    if (!(filter & HLY_LOG_FORMAT_FILTER_NO_LOGGER_NAME)) {
        stream.WriteString("[");
        stream.WriteString(OrEmpty(record.m_LoggerName));
        stream.WriteString("] ");
    }
    if (!(filter & HLY_LOG_FORMAT_FILTER_NO_TIMESTAMP)) {
        stream.WriteString(FormatTimeStamp(record.m_TimeStamp));
        stream.WriteString(" ");
    }
    if (!(filter & HLY_LOG_FORMAT_FILTER_NO_FUNCTION_NAME)) {
        stream.WriteString("[");
        stream.WriteString(OrEmpty(record.m_SourceFunction));
        stream.WriteString("] ");
    }
    if (!(filter & HLY_LOG_FORMAT_FILTER_NO_THREAD_ID)) {
        stream.WriteString("(");
        stream.WriteString(HLY_String::FromIntegerU(record.m_ThreadId));
        stream.WriteString(") ");
    }
    const char* color = use_colors ? HLY_LogLevelColor(record.m_Level) : nullptr;
    if (color) {
        stream.WriteString("\033[");
        stream.WriteString(color);
        stream.WriteString(";1m");
    }
    stream.WriteString(HLY_LogLevelName(record.m_Level));
    if (color) stream.WriteString("\033[0m");
    stream.WriteString(": ");
    stream.WriteString(OrEmpty(record.m_Message));
    return stream.WriteString("\r\n");
}

HLY_Result HLY_LogFormatRecordAsHeaders(const HLY_LogRecord& record, HLY_OutputStream& stream)
{
    const char* message = OrEmpty(record.m_Message);
    stream.WriteString("Logger: ");
    stream.WriteString(OrEmpty(record.m_LoggerName));
    stream.WriteString("\r\nLevel: ");
    stream.WriteString(HLY_LogLevelName(record.m_Level));
    stream.WriteString("\r\nSource-File: ");
    stream.WriteString(OrEmpty(record.m_SourceFile));
    stream.WriteString("\r\nSource-Function: ");
    stream.WriteString(OrEmpty(record.m_SourceFunction));
    stream.WriteString("\r\nSource-Line: ");
    stream.WriteString(HLY_String::FromIntegerU(record.m_SourceLine));
    stream.WriteString("\r\nThread-Id: ");
    stream.WriteString(HLY_String::FromIntegerU(record.m_ThreadId));
    stream.WriteString("\r\nTimeStamp: ");
    stream.WriteString(FormatTimeStamp(record.m_TimeStamp));
    stream.WriteString("\r\nContent-Length: ");
    stream.WriteString(HLY_String::FromIntegerU(strlen(message)));
    stream.WriteString("\r\n\r\n");
    return stream.WriteString(message);
}

/*----------------------------------------------------------------------
|   HLY_Logger
+---------------------------------------------------------------------*/
HLY_Logger::HLY_Logger(HLY_LogManager& manager, const char* name)
    : m_Manager(manager), m_Name(name), m_Level(HLY_LOG_LEVEL_OFF), m_LevelIsInherited(true),
      m_ForwardToParent(true), m_Parent(nullptr)
{
}

HLY_Logger::~HLY_Logger()
{
    DeleteHandlers();
}

HLY_Result HLY_Logger::AddHandler(HLY_LogHandler* handler, bool transfer_ownership)
{
    if (handler == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    HLY_AutoLock lock(m_Manager.m_Lock);
    HLY_Result result = m_Handlers.Add(handler);
    if (HLY_FAILED(result)) return result;
    if (!transfer_ownership) {
        result = m_ExternalHandlers.Add(handler);
        if (HLY_FAILED(result)) m_Handlers.Remove(handler);
    }
    return result;
}

HLY_Result HLY_Logger::DeleteHandlers()
{
    HLY_AutoLock lock(m_Manager.m_Lock);
    for (HLY_List<HLY_LogHandler*>::Iterator it = m_Handlers.GetFirstItem(); it; ++it) {
        if (!m_ExternalHandlers.Contains(*it)) delete *it;
    }
    m_Handlers.Clear();
    m_ExternalHandlers.Clear();
    return HLY_SUCCESS;
}

HLY_String HLY_Logger::GetHandlerNames()
{
    HLY_AutoLock lock(m_Manager.m_Lock);
    HLY_String names;
    for (HLY_List<HLY_LogHandler*>::Iterator it = m_Handlers.GetFirstItem(); it; ++it) {
        HLY_String name;
        (*it)->ToString(name);
        if (!names.IsEmpty()) names += ",";
        names += name;
    }
    return names;
}

void HLY_Logger::Log(int level, const char* source_file, unsigned int source_line, const char* source_function,
                     const char* format, ...)
{
    if (!m_Manager.IsEnabled() || m_Manager.IsSilenced() || level < GetLevel()) return;
    if (t_Dispatching) return;

    // format: a small buffer first, then larger ones up to the cap; what
    // does not fit in the largest one is cut
    const char* pattern = format ? format : "";
    char       local[HLY_LOG_MESSAGE_INITIAL_BUFFER];
    char*      buffer = local;
    HLY_Size   size   = sizeof(local);
    for (;;) {
        va_list args;
        va_start(args, format);
        int count = vsnprintf(buffer, size, pattern, args);
        va_end(args);
        if (count < 0) {
            buffer[0] = '\0';
            break;
        }
        if ((HLY_Size)count < size) break;
        HLY_Size next = 2 * size + 8192;
        if (next > HLY_LOG_MESSAGE_MAX_BUFFER) break;
        char* larger = new (std::nothrow) char[next];
        if (larger == nullptr) {
            if (buffer != local) delete[] buffer;
            return; // dropped: no memory to format it
        }
        if (buffer != local) delete[] buffer;
        buffer = larger;
        size   = next;
    }

    HLY_LogRecord record;
    record.m_LoggerName     = m_Name.GetChars();
    record.m_Level          = level;
    record.m_Message        = buffer;
    record.m_TimeStamp      = HLY_PosixLogGetTimeStamp();
    record.m_SourceFile     = source_file;
    record.m_SourceLine     = source_line;
    record.m_SourceFunction = source_function;
    record.m_ThreadId       = HLY_Thread::GetCurrentThreadId();

    m_Manager.Lock();
    t_Dispatching = true;
    for (HLY_Logger* logger = this; logger; logger = logger->m_Parent) {
        for (HLY_List<HLY_LogHandler*>::Iterator it = logger->m_Handlers.GetFirstItem(); it; ++it) {
            (*it)->Log(record);
        }
        if (!logger->m_ForwardToParent) break;
    }
    t_Dispatching = false;
    m_Manager.Unlock();

    if (buffer != local) delete[] buffer;
}

/*----------------------------------------------------------------------
|   HLY_LogManager
+---------------------------------------------------------------------*/
// turns logging off for good when the process ends; the manager and its
// loggers stay, since source files keep pointers to their loggers
class HLY_LogManager::Cleaner : public HLY_AutomaticCleaner::Singleton
{
public:
    ~Cleaner() override { HLY_LogManager::GetDefault().Shutdown(); }
};

HLY_LogManager::HLY_LogManager()
    : m_Enabled(true), m_Silenced(false), m_Configured(false), m_Root(nullptr), m_ConfiguratorPort(0),
      m_Configurator(nullptr)
{
}

HLY_LogManager& HLY_LogManager::GetDefault()
{
    static HLY_LogManager* manager = [] {
        HLY_LogManager* created = new HLY_LogManager();
        HLY_AutomaticCleaner::GetInstance().Register(new Cleaner());
        return created;
    }();
    return *manager;
}

HLY_Logger* HLY_LogManager::GetLogger(const char* name)
{
    HLY_LogManager& manager = GetDefault();
    if (!manager.IsEnabled()) return nullptr;
    HLY_AutoLock lock(manager.m_Lock);
    if (!manager.m_Configured) manager.ConfigureLocked(nullptr);
    // disabled meanwhile, or this is a look-up made while configuring
    if (!manager.IsEnabled()) return nullptr;
    return manager.FindOrCreateLogger(name);
}

void HLY_LogManager::SetSilenced(bool silenced)
{
    GetDefault().m_Silenced.store(silenced, std::memory_order_relaxed);
}

HLY_Result HLY_LogManager::Configure(const char* source)
{
    HLY_LogManager& manager = GetDefault();
    HLY_AutoLock    lock(manager.m_Lock);
    return manager.ConfigureLocked(source);
}

HLY_Result HLY_LogManager::ConfigureLocked(const char* source)
{
    if (m_Configured) return HLY_SUCCESS;
    bool enabled = m_Enabled.exchange(false);

    ReadSources(source);
    m_Root = new HLY_Logger(*this, "");
    m_Root->m_LevelIsInherited = false;
    ConfigureLogger(*m_Root);

    m_Configured = true;
    m_Enabled.store(enabled);
    StartConfigurator();
    return HLY_SUCCESS;
}

// The page's thread logs, and so waits for the manager's lock: it is never
// waited for while that lock is held.
void HLY_LogManager::StartConfigurator()
{
    if (m_ConfiguratorPort == 0 || m_ConfiguratorPort > 65535 || m_Configurator) return;
    HLY_HttpLoggerConfigurator* configurator = new HLY_HttpLoggerConfigurator((HLY_UInt16)m_ConfiguratorPort);
    if (HLY_FAILED(configurator->Start())) {
        delete configurator;
        return;
    }
    m_Configurator = configurator;
}

HLY_HttpLoggerConfigurator* HLY_LogManager::TakeConfigurator()
{
    HLY_AutoLock                lock(m_Lock);
    HLY_HttpLoggerConfigurator* configurator = m_Configurator;
    m_Configurator                           = nullptr;
    return configurator;
}

HLY_Result HLY_LogManager::Reconfigure(const char* source)
{
    HLY_LogManager& manager = GetDefault();
    delete manager.TakeConfigurator(); // outside the lock: its thread may be waiting for it
    HLY_AutoLock    lock(manager.m_Lock);
    if (!manager.m_Configured) return manager.ConfigureLocked(source);

    bool enabled = manager.m_Enabled.exchange(false);
    manager.m_Config.Clear();
    manager.m_ConfiguratorPort = 0;
    manager.ReadSources(source);

    // first every logger's own settings, so that levels are known before
    // any of them is inherited
    manager.m_Root->m_Level.store(HLY_LOG_LEVEL_OFF);
    manager.m_Root->m_ForwardToParent = true;
    manager.ConfigureLogger(*manager.m_Root);
    std::vector<HLY_Logger*> loggers;
    for (HLY_List<HLY_Logger*>::Iterator it = manager.m_Loggers.GetFirstItem(); it; ++it) {
        HLY_Logger* logger = *it;
        logger->m_Level.store(HLY_LOG_LEVEL_OFF);
        logger->m_LevelIsInherited = true;
        logger->m_ForwardToParent  = true;
        manager.ConfigureLogger(*logger);
        loggers.push_back(logger);
    }
    // then parents, shorter names first so that each ancestor is linked
    // before its descendants copy a level through it
    auto depth = [](const HLY_Logger* logger) {
        const char* name = logger->m_Name.GetChars();
        return std::count(name, name + logger->m_Name.GetLength(), '.');
    };
    std::stable_sort(loggers.begin(), loggers.end(),
                     [&](const HLY_Logger* a, const HLY_Logger* b) { return depth(a) < depth(b); });
    for (HLY_Logger* logger : loggers) manager.LinkToParent(*logger);

    manager.m_Enabled.store(enabled);
    manager.StartConfigurator();
    return HLY_SUCCESS;
}

HLY_Result HLY_LogManager::ReadSources(const char* source)
{
    SetConfigValue(".handlers", "ConsoleHandler");

    HLY_String sources;
    if (source) {
        sources = source;
    } else {
        const char* env = getenv(HLY_LOG_CONFIG_ENV);
        sources         = env ? env : HLY_LOG_DEFAULT_CONFIG;
    }
    HLY_List<HLY_String> parts = sources.Split("|");
    for (HLY_List<HLY_String>::Iterator it = parts.GetFirstItem(); it; ++it) {
        it->Trim(" \t");
        if (it->IsEmpty()) continue;
        ParseSource(*it); // a source that fails is skipped
    }
    return HLY_SUCCESS;
}

HLY_Result HLY_LogManager::ParseSource(const HLY_String& source)
{
    if (source.StartsWith("file:")) return ParseConfigFile(source.GetChars() + 5);
    if (source.StartsWith("plist:")) return ParseConfig(source.GetChars() + 6, source.GetLength() - 6);
    if (source.StartsWith("http:port=")) {
        HLY_UInt32 port   = 0;
        HLY_Result result = HLY_ParseInteger32U(source.GetChars() + 10, port, true);
        if (HLY_FAILED(result)) return result;
        m_ConfiguratorPort = port;
        return HLY_SUCCESS;
    }
    return HLY_ERROR_INVALID_SYNTAX;
}

HLY_Result HLY_LogManager::ParseConfigFile(const char* path)
{
    HLY_DataBuffer buffer;
    HLY_Result     result = HLY_File::Load(path, buffer);
    if (HLY_FAILED(result)) return result;
    return ParseConfig((const char*)buffer.GetData(), buffer.GetDataSize());
}

HLY_Result HLY_LogManager::ParseConfig(const char* text, HLY_Size length)
{
    if (text == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    HLY_Size start = 0;
    while (start <= length) {
        HLY_Size end = start;
        while (end < length && text[end] != '\n' && text[end] != '\r' && text[end] != ';') ++end;
        HLY_String entry(text + start, end - start);
        start = end + 1;

        int equals = entry.Find('=');
        if (equals < 0) continue;
        HLY_String key = entry.Left((HLY_Size)equals);
        key.Trim(" \t");
        if (key.StartsWith("#")) continue;
        HLY_String value = entry.SubString((HLY_Ordinal)equals + 1);
        value.Trim(" \t");
        SetConfigValue(key, value);
    }
    return HLY_SUCCESS;
}

HLY_Result HLY_LogManager::SetConfigValue(const char* key, const char* value)
{
    for (HLY_List<ConfigEntry>::Iterator it = m_Config.GetFirstItem(); it; ++it) {
        if (it->m_Key == key) {
            it->m_Value = value;
            return HLY_SUCCESS;
        }
    }
    ConfigEntry entry;
    entry.m_Key   = key;
    entry.m_Value = value;
    return m_Config.Add(entry);
}

const HLY_String* HLY_LogManager::GetConfigValue(const char* prefix, const char* suffix) const
{
    HLY_String key(prefix);
    key += suffix;
    for (HLY_List<ConfigEntry>::Iterator it = m_Config.GetFirstItem(); it; ++it) {
        if (it->m_Key == key) return &it->m_Value;
    }
    return nullptr;
}

bool HLY_LogManager::HasLoggerConfig(const char* name) const
{
    return GetConfigValue(name, ".level") || GetConfigValue(name, ".handlers") || GetConfigValue(name, ".forward");
}

HLY_Logger* HLY_LogManager::FindLogger(const char* name)
{
    if (name == nullptr || name[0] == '\0') return m_Root;
    for (HLY_List<HLY_Logger*>::Iterator it = m_Loggers.GetFirstItem(); it; ++it) {
        if ((*it)->m_Name == name) return *it;
    }
    return nullptr;
}

HLY_Logger* HLY_LogManager::FindOrCreateLogger(const char* name)
{
    HLY_Logger* logger = FindLogger(name);
    if (logger) return logger;

    logger = new (std::nothrow) HLY_Logger(*this, name);
    if (logger == nullptr) return nullptr;
    ConfigureLogger(*logger);
    LinkToParent(*logger);
    if (HLY_FAILED(m_Loggers.Add(logger))) {
        delete logger;
        return nullptr;
    }
    return logger;
}

void HLY_LogManager::ConfigureLogger(HLY_Logger& logger)
{
    const char* name  = logger.m_Name.GetChars();
    int         level = 0;
    const HLY_String* value = GetConfigValue(name, ".level");
    if (value && HLY_SUCCEEDED(HLY_LogParseLevel(*value, level))) {
        logger.m_Level.store(level);
        logger.m_LevelIsInherited = false;
    }

    logger.DeleteHandlers();
    value = GetConfigValue(name, ".handlers");
    if (value) {
        HLY_List<HLY_String> names = value->Split(",");
        for (HLY_List<HLY_String>::Iterator it = names.GetFirstItem(); it; ++it) {
            it->Trim(" \t");
            HLY_LogHandler* handler = nullptr;
            if (HLY_FAILED(HLY_LogHandler::Create(*this, name, *it, handler))) continue;
            if (HLY_FAILED(logger.m_Handlers.Add(handler))) delete handler;
        }
    }

    value = GetConfigValue(name, ".forward");
    if (value) {
        bool forward = false;
        if (HLY_FAILED(HLY_LogParseBoolean(*value, forward)) || !forward) logger.m_ForwardToParent = false;
    }
}

void HLY_LogManager::LinkToParent(HLY_Logger& logger)
{
    HLY_Logger* parent = nullptr;
    HLY_String  name   = logger.m_Name;
    for (;;) {
        int dot = name.ReverseFind('.');
        if (dot < 0) break;
        name = name.Left((HLY_Size)dot);
        parent = FindLogger(name);
        if (parent) break;
        if (HasLoggerConfig(name)) {
            parent = FindOrCreateLogger(name);
            if (parent) break;
        }
    }
    if (parent == nullptr || parent == &logger) parent = m_Root;
    logger.m_Parent = parent;

    if (logger.m_LevelIsInherited) {
        for (HLY_Logger* ancestor = parent; ancestor; ancestor = ancestor->m_Parent) {
            if (!ancestor->m_LevelIsInherited) {
                logger.m_Level.store(ancestor->GetLevel());
                break;
            }
        }
    }
}

void HLY_LogManager::Shutdown()
{
    delete TakeConfigurator(); // outside the lock: its thread may be waiting for it
    HLY_AutoLock lock(m_Lock);
    m_Enabled.store(false);
    for (HLY_List<HLY_Logger*>::Iterator it = m_Loggers.GetFirstItem(); it; ++it) {
        (*it)->m_Level.store(HLY_LOG_LEVEL_OFF);
        (*it)->DeleteHandlers();
    }
    if (m_Root) {
        m_Root->m_Level.store(HLY_LOG_LEVEL_OFF);
        m_Root->DeleteHandlers();
    }
}
