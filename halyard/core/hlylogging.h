#ifndef HLY_LOGGING_H
#define HLY_LOGGING_H

#include <atomic>
#include "hlyresults.h"

#define HLY_LOG_LEVEL_FATAL   700
#define HLY_LOG_LEVEL_SEVERE  600
#define HLY_LOG_LEVEL_WARNING 500
#define HLY_LOG_LEVEL_INFO    400
#define HLY_LOG_LEVEL_FINE    300
#define HLY_LOG_LEVEL_FINER   200
#define HLY_LOG_LEVEL_FINEST  100
#define HLY_LOG_LEVEL_ALL     0
#define HLY_LOG_LEVEL_OFF     32767

class HLY_Logger
{
public:
    virtual ~HLY_Logger() {}
    int GetLevel() const { return m_Level; }
    // formats and dispatches one record; the level test is done by the macros
    void Log(int level, const char* source_file, unsigned int source_line,
             const char* source_function, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 6, 7)))
#endif
        ;

protected:
    int m_Level = HLY_LOG_LEVEL_OFF;
};

class HLY_LogManager
{
public:
    // the logger of that name, created on first request; none while logging is off
    static HLY_Logger* GetLogger(const char* name);
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

// label-based variants for functions that must clean up before returning
#define HLY_CHECK_LABEL_L(_level, _x, _label)                                      \
    do {                                                                           \
        result = (_x);                                                             \
        if (result != HLY_SUCCESS) {                                               \
            HLY_LOG_X(_HLY_LocalLogger, _level,                                    \
                      "HLY_CHECK failed, result=%d (%s) [%s]",                     \
                      (int)result, HLY_ResultText(result), HLY_STRINGIFY((_x)));   \
            goto _label;                                                           \
        }                                                                          \
    } while (0)
#define HLY_CHECK_LABEL_SEVERE(_x, _label)  HLY_CHECK_LABEL_L(HLY_LOG_LEVEL_SEVERE,  _x, _label)
#define HLY_CHECK_LABEL_WARNING(_x, _label) HLY_CHECK_LABEL_L(HLY_LOG_LEVEL_WARNING, _x, _label)

#endif // HLY_LOGGING_H
