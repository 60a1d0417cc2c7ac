#include "hlyloghandlers.h"
#include "hlydates.h"
#include "hlyfile.h"
#include "../system/posix/hlyposixlogging.h"

/*----------------------------------------------------------------------
|   property helpers: keys are the logger's name, "." and the handler's
|   name, then the property's suffix
+---------------------------------------------------------------------*/
namespace {

HLY_String PropertyPrefix(const char* logger_name, const char* handler_name)
{
    HLY_String prefix(logger_name);
    prefix += ".";
    prefix += handler_name;
    return prefix;
}

void ReadBoolean(HLY_LogManager& manager, const HLY_String& prefix, const char* suffix, bool& value)
{
    const HLY_String* text = manager.GetConfigValue(prefix, suffix);
    if (text) HLY_LogParseBoolean(*text, value); // an unknown word keeps the default
}

// bit masks: decimal, or hexadecimal after "0x"
void ReadFlags(HLY_LogManager& manager, const HLY_String& prefix, const char* suffix, HLY_Flags& value)
{
    const HLY_String* text = manager.GetConfigValue(prefix, suffix);
    if (text == nullptr) return;
    if (text->StartsWith("0x", true) && text->GetLength() > 2 && text->GetLength() <= 10) {
        HLY_UInt32 number = 0;
        for (const char* c = text->GetChars() + 2; *c; ++c) {
            int nibble = HLY_HexToNibble(*c);
            if (nibble < 0) return;
            number = (number << 4) | (HLY_UInt32)nibble;
        }
        value = number;
        return;
    }
    HLY_UInt32 number = 0;
    if (HLY_SUCCEEDED(HLY_ParseInteger32U(*text, number, true))) value = number;
}

void ReadText(HLY_LogManager& manager, const HLY_String& prefix, const char* suffix, HLY_String& value)
{
    const HLY_String* text = manager.GetConfigValue(prefix, suffix);
    if (text) value = *text;
}

void ReadPort(HLY_LogManager& manager, const HLY_String& prefix, unsigned int& port)
{
    const HLY_String* text   = manager.GetConfigValue(prefix, ".port");
    HLY_UInt32        number = 0;
    if (text && HLY_SUCCEEDED(HLY_ParseInteger32U(*text, number, true)) && number <= 0xFFFF) port = number;
}

} // namespace

/*----------------------------------------------------------------------
|   HLY_LogHandler::Create
+---------------------------------------------------------------------*/
HLY_Result HLY_LogHandler::Create(HLY_LogManager& manager, const char* logger_name, const char* handler_name,
                                  HLY_LogHandler*& handler)
{
    handler = nullptr;
    if (logger_name == nullptr || handler_name == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    if (HLY_String::Compare(handler_name, "NullHandler") == 0) {
        handler = new HLY_LogNullHandler();
        return HLY_SUCCESS;
    }
    if (HLY_String::Compare(handler_name, "ConsoleHandler") == 0) {
        return HLY_LogConsoleHandler::Create(manager, logger_name, handler);
    }
    if (HLY_String::Compare(handler_name, "FileHandler") == 0) {
        return HLY_LogFileHandler::Create(manager, logger_name, handler);
    }
    if (HLY_String::Compare(handler_name, "TcpHandler") == 0) {
        return HLY_LogTcpHandler::Create(manager, logger_name, handler);
    }
    if (HLY_String::Compare(handler_name, "UdpHandler") == 0) {
        return HLY_LogUdpHandler::Create(manager, logger_name, handler);
    }
    if (HLY_String::Compare(handler_name, "CustomHandler") == 0) {
        return HLY_LogCustomHandler::Create(handler);
    }
    return HLY_ERROR_NO_SUCH_CLASS;
}

/*----------------------------------------------------------------------
|   HLY_LogNullHandler
+---------------------------------------------------------------------*/
HLY_Result HLY_LogNullHandler::ToString(HLY_String& name)
{
    name = "NullHandler";
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   HLY_LogConsoleHandler
+---------------------------------------------------------------------*/
HLY_Result HLY_LogConsoleHandler::Create(HLY_LogManager& manager, const char* logger_name, HLY_LogHandler*& handler)
{
    HLY_LogConsoleHandler* console = new HLY_LogConsoleHandler();
    HLY_String             prefix  = PropertyPrefix(logger_name, "ConsoleHandler");
    ReadBoolean(manager, prefix, ".colors", console->m_UseColors);
    ReadFlags(manager, prefix, ".outputs", console->m_Outputs);
    ReadFlags(manager, prefix, ".filter", console->m_FormatFilter);
    handler = console;
    return HLY_SUCCESS;
}

void HLY_LogConsoleHandler::Log(const HLY_LogRecord& record)
{
    HLY_MemoryStream stream(4096);
    HLY_LogFormatRecordAsLine(record, m_FormatFilter, m_UseColors, stream);
    stream.Write("\0", 1);
    const char* text = (const char*)stream.GetData();
    if (text == nullptr) return;
    if (m_Outputs & OUTPUT_TO_CONSOLE) HLY_PosixLogWriteConsole(text);
    if (m_Outputs & OUTPUT_TO_DEBUG) HLY_PosixLogWriteDebugChannel(text);
}

HLY_Result HLY_LogConsoleHandler::ToString(HLY_String& name)
{
    name = "ConsoleHandler";
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   HLY_LogFileHandler
+---------------------------------------------------------------------*/
HLY_Result HLY_LogFileHandler::Create(HLY_LogManager& manager, const char* logger_name, HLY_LogHandler*& handler)
{
    HLY_LogFileHandler* file   = new HLY_LogFileHandler();
    HLY_String          prefix = PropertyPrefix(logger_name, "FileHandler");

    if (logger_name[0] == '\0') {
        file->m_Filename = HLY_LOG_ROOT_DEFAULT_FILE;
    } else {
        file->m_Filename = logger_name;
        file->m_Filename += ".log";
    }
    ReadText(manager, prefix, ".filename", file->m_Filename);
    ReadBoolean(manager, prefix, ".flush", file->m_Flush);
    ReadBoolean(manager, prefix, ".append", file->m_Append);
    ReadFlags(manager, prefix, ".filter", file->m_FormatFilter);
    const HLY_String* recycle = manager.GetConfigValue(prefix, ".recycle");
    HLY_UInt64        size    = 0;
    if (recycle && HLY_SUCCEEDED(HLY_ParseInteger64U(*recycle, size, true))) {
        file->m_MaxFilesize = size < HLY_LOG_FILE_HANDLER_MIN_RECYCLE_SIZE ? HLY_LOG_FILE_HANDLER_MIN_RECYCLE_SIZE : size;
    }

    // a file that cannot be opened now is tried again with the next record
    file->Open(file->m_Append);
    handler = file;
    return HLY_SUCCESS;
}

HLY_LogFileHandler::~HLY_LogFileHandler()
{
    if (!m_Stream.IsNull()) m_Stream->Flush();
}

HLY_Result HLY_LogFileHandler::Open(bool append)
{
    m_Stream = nullptr;
    m_FileSize = 0;
    HLY_File   file(m_Filename);
    HLY_Flags  mode   = HLY_FILE_OPEN_MODE_READ | HLY_FILE_OPEN_MODE_WRITE | HLY_FILE_OPEN_MODE_CREATE |
                     (append ? HLY_FILE_OPEN_MODE_APPEND : HLY_FILE_OPEN_MODE_TRUNCATE);
    HLY_Result result = file.Open(mode);
    if (HLY_FAILED(result)) return result;
    result = file.GetOutputStream(m_Stream);
    if (HLY_FAILED(result)) {
        m_Stream = nullptr;
        return result;
    }
    if (append) HLY_File::GetSize(m_Filename, m_FileSize);
    return HLY_SUCCESS;
}

HLY_Result HLY_LogFileHandler::Recycle()
{
    if (!m_Stream.IsNull()) m_Stream->Flush();
    m_Stream = nullptr;

    HLY_String directory = HLY_FilePath::DirName(m_Filename);
    HLY_String base      = HLY_FilePath::BaseName(m_Filename, false);
    HLY_String extension = HLY_FilePath::FileExtension(m_Filename);
    HLY_String stamp     = HLY_DateTime(HLY_PosixLogGetTimeStamp(), true).ToString(HLY_DateTime::FORMAT_W3C);
    stamp.Replace(':', '_');
    HLY_String name = HLY_FilePath::Create(directory, base + "-" + stamp + extension);

    // two rotations within one second would give the same name: the older
    // file must not be overwritten
    for (unsigned int n = 1; HLY_File::Exists(name) && n <= 1000; ++n) {
        name = HLY_FilePath::Create(directory, base + "-" + stamp + "-" + HLY_String::FromIntegerU(n) + extension);
    }
    HLY_Result result = HLY_File::Rename(m_Filename, name);

    // appending: a new file when the rename worked, and nothing lost when it did not
    HLY_Result opened = Open(true);
    return HLY_FAILED(result) ? result : opened;
}

void HLY_LogFileHandler::Log(const HLY_LogRecord& record)
{
    if (m_MaxFilesize && !m_Stream.IsNull() && m_FileSize > m_MaxFilesize) Recycle();
    if (m_Stream.IsNull() && HLY_FAILED(Open(m_Append))) return;

    HLY_MemoryStream line(4096);
    HLY_LogFormatRecordAsLine(record, m_FormatFilter, false, line);
    if (HLY_SUCCEEDED(m_Stream->WriteFully(line.GetData(), line.GetDataSize()))) {
        m_FileSize += line.GetDataSize();
    }
    if (m_Flush) m_Stream->Flush();
}

HLY_Result HLY_LogFileHandler::ToString(HLY_String& name)
{
    name = "FileHandler";
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   HLY_LogTcpHandler
+---------------------------------------------------------------------*/
HLY_Result HLY_LogTcpHandler::Create(HLY_LogManager& manager, const char* logger_name, HLY_LogHandler*& handler)
{
    HLY_LogTcpHandler* tcp    = new HLY_LogTcpHandler();
    HLY_String         prefix = PropertyPrefix(logger_name, "TcpHandler");
    tcp->m_Host               = "localhost";
    ReadText(manager, prefix, ".hostname", tcp->m_Host);
    ReadPort(manager, prefix, tcp->m_Port);
    handler = tcp;
    return HLY_SUCCESS;
}

HLY_Result HLY_LogTcpHandler::Connect()
{
    HLY_TcpClientSocket socket(HLY_SOCKET_FLAG_CANCELLABLE);
    HLY_IpAddress       address;
    HLY_Result          result = address.ResolveName(m_Host, HLY_LOG_TCP_HANDLER_CONNECT_TIMEOUT);
    if (HLY_FAILED(result)) return result;
    result = socket.Connect(HLY_SocketAddress(address, m_Port), HLY_LOG_TCP_HANDLER_CONNECT_TIMEOUT);
    if (HLY_FAILED(result)) return result;
    // a peer that stops reading must not hold every logging thread forever
    socket.SetWriteTimeout(HLY_LOG_TCP_HANDLER_CONNECT_TIMEOUT);
    // the stream keeps the connection open after the socket object is gone
    return socket.GetOutputStream(m_Stream);
}

void HLY_LogTcpHandler::Log(const HLY_LogRecord& record)
{
    if (m_Stream.IsNull() && HLY_FAILED(Connect())) {
        m_Stream = nullptr;
        return;
    }
    HLY_MemoryStream block(4096);
    HLY_LogFormatRecordAsHeaders(record, block);
    if (HLY_FAILED(m_Stream->WriteFully(block.GetData(), block.GetDataSize()))) {
        m_Stream = nullptr; // the next record reconnects
    }
}

HLY_Result HLY_LogTcpHandler::ToString(HLY_String& name)
{
    name = "TcpHandler";
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   HLY_LogUdpHandler
+---------------------------------------------------------------------*/
HLY_Result HLY_LogUdpHandler::Create(HLY_LogManager& manager, const char* logger_name, HLY_LogHandler*& handler)
{
    HLY_String   prefix = PropertyPrefix(logger_name, "UdpHandler");
    HLY_String   host("localhost");
    unsigned int port = HLY_LOG_UDP_HANDLER_DEFAULT_PORT;
    ReadText(manager, prefix, ".hostname", host);
    ReadPort(manager, prefix, port);

    HLY_IpAddress address;
    HLY_Result    result = address.ResolveName(host);
    if (HLY_FAILED(result)) return result;
    HLY_LogUdpHandler* udp = new HLY_LogUdpHandler();
    udp->m_Target          = HLY_SocketAddress(address, port);
    handler                = udp;
    return HLY_SUCCESS;
}

void HLY_LogUdpHandler::Log(const HLY_LogRecord& record)
{
    HLY_MemoryStream block(4096);
    HLY_LogFormatRecordAsHeaders(record, block);
    block.Write("\0", 1);
    HLY_DataBuffer packet(block.GetData(), block.GetDataSize(), false);
    m_Socket.Send(packet, &m_Target);
}

HLY_Result HLY_LogUdpHandler::ToString(HLY_String& name)
{
    name = "UdpHandler";
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   HLY_LogCustomHandler
+---------------------------------------------------------------------*/
std::atomic<HLY_LogCustomHandlerFunction> HLY_LogCustomHandler::s_Function(nullptr);

void HLY_LogCustomHandler::SetCustomHandlerFunction(HLY_LogCustomHandlerFunction function)
{
    s_Function.store(function);
}

HLY_Result HLY_LogCustomHandler::Create(HLY_LogHandler*& handler)
{
    handler = new HLY_LogCustomHandler();
    return HLY_SUCCESS;
}

void HLY_LogCustomHandler::Log(const HLY_LogRecord& record)
{
    HLY_LogCustomHandlerFunction function = s_Function.load();
    if (function) function(record);
}

HLY_Result HLY_LogCustomHandler::ToString(HLY_String& name)
{
    name = "CustomHandler";
    return HLY_SUCCESS;
}
