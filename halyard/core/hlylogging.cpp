#include "hlylogging.h"

// Logging is off until the logging system is configured: no logger exists,
// so every log statement costs one failed lookup and writes nothing.
HLY_Logger* HLY_LogManager::GetLogger(const char* /*name*/)
{
    return nullptr;
}

void HLY_Logger::Log(int, const char*, unsigned int, const char*, const char*, ...)
{
}
