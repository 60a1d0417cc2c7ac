#ifndef HLY_LOG_HANDLERS_H
#define HLY_LOG_HANDLERS_H

#include <atomic>
#include "hlylogging.h"
#include "hlysockets.h"
#include "hlystreams.h"

// the handlers' defaults
#define HLY_LOG_TCP_HANDLER_DEFAULT_PORT     7723
#define HLY_LOG_UDP_HANDLER_DEFAULT_PORT     7724
#define HLY_LOG_TCP_HANDLER_CONNECT_TIMEOUT  5000
#define HLY_LOG_FILE_HANDLER_MIN_RECYCLE_SIZE 1000000

/*----------------------------------------------------------------------
|   HLY_LogNullHandler: takes records and does nothing
+---------------------------------------------------------------------*/
class HLY_LogNullHandler : public HLY_LogHandler
{
public:
    void Log(const HLY_LogRecord&) override {}
    HLY_Result ToString(HLY_String& name) override;
};

/*----------------------------------------------------------------------
|   HLY_LogConsoleHandler: one line per record to standard output
|   (".outputs" bit 1) and to the debug channel (bit 2), which on this
|   platform is standard error
+---------------------------------------------------------------------*/
class HLY_LogConsoleHandler : public HLY_LogHandler
{
public:
    enum { OUTPUT_TO_CONSOLE = 1, OUTPUT_TO_DEBUG = 2 };

    static HLY_Result Create(HLY_LogManager& manager, const char* logger_name, HLY_LogHandler*& handler);
    void Log(const HLY_LogRecord& record) override;
    HLY_Result ToString(HLY_String& name) override;

private:
    HLY_LogConsoleHandler() : m_UseColors(false), m_Outputs(OUTPUT_TO_DEBUG), m_FormatFilter(0) {}

    bool      m_UseColors;
    HLY_Flags m_Outputs;
    HLY_Flags m_FormatFilter;
};

/*----------------------------------------------------------------------
|   HLY_LogFileHandler: one line per record to a file, moved aside under
|   a time-stamped name once it grows past its recycle size
+---------------------------------------------------------------------*/
class HLY_LogFileHandler : public HLY_LogHandler
{
public:
    static HLY_Result Create(HLY_LogManager& manager, const char* logger_name, HLY_LogHandler*& handler);
    ~HLY_LogFileHandler() override;
    void Log(const HLY_LogRecord& record) override;
    HLY_Result ToString(HLY_String& name) override;

    const HLY_String& GetFilename() const { return m_Filename; }
    HLY_LargeSize GetRecycleSize() const { return m_MaxFilesize; }

private:
    HLY_LogFileHandler()
        : m_Flush(false), m_Append(true), m_FormatFilter(0), m_MaxFilesize(0), m_FileSize(0) {}
    HLY_Result Open(bool append);
    HLY_Result Recycle();

    HLY_String                m_Filename;
    bool                      m_Flush;
    bool                      m_Append;
    HLY_Flags                 m_FormatFilter;
    HLY_LargeSize             m_MaxFilesize; // 0: never recycled
    HLY_LargeSize             m_FileSize;    // of the open file, as written
    HLY_OutputStreamReference m_Stream;
};

/*----------------------------------------------------------------------
|   HLY_LogTcpHandler: each record as a header block to a TCP peer,
|   connecting on demand and again after a failed write
+---------------------------------------------------------------------*/
class HLY_LogTcpHandler : public HLY_LogHandler
{
public:
    static HLY_Result Create(HLY_LogManager& manager, const char* logger_name, HLY_LogHandler*& handler);
    void Log(const HLY_LogRecord& record) override;
    HLY_Result ToString(HLY_String& name) override;

private:
    HLY_LogTcpHandler() : m_Port(HLY_LOG_TCP_HANDLER_DEFAULT_PORT) {}
    HLY_Result Connect();

    HLY_String                m_Host;
    unsigned int              m_Port;
    HLY_OutputStreamReference m_Stream;
};

/*----------------------------------------------------------------------
|   HLY_LogUdpHandler: each record as one datagram to a UDP peer
+---------------------------------------------------------------------*/
class HLY_LogUdpHandler : public HLY_LogHandler
{
public:
    static HLY_Result Create(HLY_LogManager& manager, const char* logger_name, HLY_LogHandler*& handler);
    void Log(const HLY_LogRecord& record) override;
    HLY_Result ToString(HLY_String& name) override;

    const HLY_SocketAddress& GetTarget() const { return m_Target; }

private:
    HLY_LogUdpHandler() {}

    HLY_UdpSocket     m_Socket;
    HLY_SocketAddress m_Target;
};

/*----------------------------------------------------------------------
|   HLY_LogCustomHandler: hands records to the process-wide custom
|   function, when one is set
+---------------------------------------------------------------------*/
typedef void (*HLY_LogCustomHandlerFunction)(const HLY_LogRecord& record);

class HLY_LogCustomHandler : public HLY_LogHandler
{
public:
    // null removes the function; records are then dropped
    static void SetCustomHandlerFunction(HLY_LogCustomHandlerFunction function);
    static HLY_Result Create(HLY_LogHandler*& handler);
    void Log(const HLY_LogRecord& record) override;
    HLY_Result ToString(HLY_String& name) override;

private:
    static std::atomic<HLY_LogCustomHandlerFunction> s_Function;
};

#endif // HLY_LOG_HANDLERS_H
