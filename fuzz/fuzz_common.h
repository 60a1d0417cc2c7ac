#ifndef BEACONRY_FUZZ_COMMON_H
#define BEACONRY_FUZZ_COMMON_H

// Shared pieces of the fuzz targets: the input cap, logging switched fully
// on (so that every log line built from hostile input is formatted), a
// check that aborts with a message, and a source stream that hands out its
// bytes in pieces of chosen sizes, like a socket delivering segments.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

#include "hlylogging.h"
#include "hlyloghandlers.h"
#include "hlystreams.h"

// anything larger is skipped: a target must bound its work per input
static const size_t FUZZ_MAX_INPUT = 1024 * 1024;

#define FUZZ_CHECK(_condition)                                                                   \
    do {                                                                                         \
        if (!(_condition)) {                                                                     \
            fprintf(stderr, "FUZZ_CHECK failed at %s:%d: %s\n", __FILE__, __LINE__, #_condition); \
            abort();                                                                             \
        }                                                                                        \
    } while (0)

namespace fuzz {

// Whether this pass over the input is the one that looks closely: the
// emitters, the engine's helpers, the body's XML and the formatting of
// log records. A target reads its input several times (readers, pieces)
// and compares what they read; once they agree, looking at the same
// result again finds nothing new, so only one pass per reader does it.
inline bool& Looking()
{
    static bool looking = true;
    return looking;
}

// A pass that does not look also logs nothing: its records would be
// formatted only to be dropped, which was a quarter of an HTTP run.
class LookingScope
{
public:
    explicit LookingScope(bool looking) : m_Saved(Looking()) { Set(looking); }
    ~LookingScope() { Set(m_Saved); }

private:
    static void Set(bool looking)
    {
        Looking() = looking;
        HLY_LogManager::SetSilenced(!looking);
    }

    bool m_Saved;
};

// formats every record the way the file and console handlers do, into
// nothing, so that a message built from input is read to its end. The
// time stamp is left out: no input reaches it, and asking the system for
// the local time zone on every record was most of a run's time. A record
// formatted once before is not formatted again: the same fields give the
// same line, and passes over one input repeat most of their records.
inline void ConsumeLogRecord(const HLY_LogRecord& record)
{
    // the keys of lines formatted lately, one per slot: a key that loses
    // its slot only means that line is formatted once more. Enough for the
    // records of one input; a table of 64 K slots cost more in cache misses
    // than the formatting it saved.
    static const size_t FORMATTED_SLOTS = 1 << 10;
    static size_t       formatted[FORMATTED_SLOTS];

    if (!Looking()) return;
    size_t key = std::hash<std::string_view>()(record.m_Message ? record.m_Message : "");
    key ^= (size_t)record.m_Level * 0x9E3779B97F4A7C15ULL + (size_t)record.m_SourceLine * 0xC2B2AE3D27D4EB4FULL +
           (size_t)record.m_LoggerName + (size_t)record.m_SourceFile;
    key |= 1; // never 0, the mark of an empty slot
    size_t& slot = formatted[(key >> 1) % FORMATTED_SLOTS];
    if (slot == key) return;
    slot = key;
    HLY_NullOutputStream sink;
    HLY_LogFormatRecordAsLine(record, HLY_LOG_FORMAT_FILTER_NO_TIMESTAMP, false, sink);
}

// every logger at its finest level, records formatted and dropped
inline void EnableLogging()
{
    // FUZZ_NO_LOG=1 measures what the logging costs
    if (getenv("FUZZ_NO_LOG")) return;
    HLY_LogCustomHandler::SetCustomHandlerFunction(ConsumeLogRecord);
    HLY_LogManager::Configure("plist:.level=ALL;.handlers=CustomHandler");
}

/*----------------------------------------------------------------------
|   PieceStream: the bytes of data, handed out in pieces whose sizes are
|   taken in turn from a list. A size of 0 is a read that succeeds with
|   nothing (each such entry is used once, so no reader spins forever);
|   after the list, the sizes repeat with 0 read as 1.
+---------------------------------------------------------------------*/
class PieceStream : public HLY_InputStream
{
public:
    PieceStream(const uint8_t* data, size_t size, std::vector<HLY_Size> pieces)
        : m_Data(data), m_Size(size), m_Pieces(std::move(pieces))
    {
    }

    HLY_Result Read(void* buffer, HLY_Size bytes_to_read, HLY_Size* bytes_read = nullptr) override
    {
        if (bytes_read) *bytes_read = 0;
        if (bytes_to_read == 0) return HLY_SUCCESS;
        if (m_Position >= m_Size) return HLY_ERROR_EOS;
        HLY_Size piece = 4096;
        if (!m_Pieces.empty()) {
            piece = m_Pieces[m_Next % m_Pieces.size()];
            if (m_Next >= m_Pieces.size() && piece == 0) piece = 1;
            ++m_Next;
        }
        size_t count = piece;
        if (count > bytes_to_read) count = bytes_to_read;
        if (count > m_Size - m_Position) count = m_Size - m_Position;
        memcpy(buffer, m_Data + m_Position, count);
        m_Position += count;
        if (bytes_read) *bytes_read = (HLY_Size)count;
        return HLY_SUCCESS;
    }
    HLY_Result Seek(HLY_Position) override { return HLY_ERROR_NOT_SUPPORTED; }
    HLY_Result Tell(HLY_Position& offset) override
    {
        offset = m_Position;
        return HLY_SUCCESS;
    }
    HLY_Result GetSize(HLY_LargeSize& size) override
    {
        size = m_Size;
        return HLY_SUCCESS;
    }
    HLY_Result GetAvailable(HLY_LargeSize& available) override
    {
        available = m_Size - m_Position;
        return HLY_SUCCESS;
    }
    size_t Consumed() const { return m_Position; }

private:
    const uint8_t*        m_Data;
    size_t                m_Size;
    std::vector<HLY_Size> m_Pieces;
    size_t                m_Next     = 0;
    size_t                m_Position = 0;
};

// Splits an input into piece sizes and the payload: the first byte gives
// the number of sizes (low four bits), each size is one byte.
inline std::vector<HLY_Size> TakePieces(const uint8_t*& data, size_t& size)
{
    std::vector<HLY_Size> pieces;
    if (size == 0) return pieces;
    size_t count = data[0] & 0x0F;
    ++data;
    --size;
    for (size_t i = 0; i < count && size; ++i) {
        pieces.push_back(data[0]);
        ++data;
        --size;
    }
    return pieces;
}

} // namespace fuzz

#endif // BEACONRY_FUZZ_COMMON_H
