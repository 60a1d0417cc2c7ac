// HLY_BufferedInputStream, the line reader under every HTTP head, driven by
// a sequence of ReadLine / Read / Peek / SetBufferSize calls over a source
// that delivers its bytes in pieces of chosen sizes. Line terminators may
// be dropped, but no other byte may be lost, repeated or changed, except
// the characters of a line too long for the string form, which are
// documented to be dropped; the position must always account for every
// byte taken from the source.
//
// Input: one byte (low four bits: how many piece sizes follow; high four
// bits: the buffer size), the piece sizes, one byte with the number of
// calls, two bytes per call, then the bytes of the stream.

#include <string>
#include <vector>

#include "fuzz_common.h"
#include "hlybufferedstreams.h"

namespace {

const HLY_Size BUFFER_SIZES[16] = {0, 1, 2, 3, 4, 5, 7, 8, 16, 31, 64, 100, 512, 1000, 4096, 8192};

std::string WithoutTerminators(const char* data, size_t size)
{
    std::string kept;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != '\r' && data[i] != '\n') kept += data[i];
    }
    return kept;
}

class Checker
{
public:
    Checker(const uint8_t* data, size_t size)
        : m_Size(size), m_Expected(WithoutTerminators((const char*)data, size))
    {
    }

    // bytes handed out by the stream, in order
    void Delivered(const char* data, size_t size)
    {
        std::string kept = WithoutTerminators(data, size);
        FUZZ_CHECK(m_Seen + kept.size() <= m_Expected.size());
        FUZZ_CHECK(m_Expected.compare(m_Seen, kept.size(), kept) == 0);
        m_Seen += kept.size();
    }
    // characters taken from the stream and not handed out
    void Dropped(size_t count)
    {
        FUZZ_CHECK(m_Seen + count <= m_Expected.size());
        m_Seen += count;
    }
    // bytes shown but not taken
    void Peeked(const char* data, size_t size)
    {
        std::string kept = WithoutTerminators(data, size);
        FUZZ_CHECK(m_Seen + kept.size() <= m_Expected.size());
        FUZZ_CHECK(m_Expected.compare(m_Seen, kept.size(), kept) == 0);
    }
    void CheckPosition(HLY_BufferedInputStream& stream)
    {
        HLY_Position  position  = 0;
        HLY_LargeSize available = 0;
        FUZZ_CHECK(stream.Tell(position) == HLY_SUCCESS);
        FUZZ_CHECK(stream.GetAvailable(available) == HLY_SUCCESS);
        if (position + available != m_Size) {
            fprintf(stderr, "position %llu + available %llu != size %zu\n", (unsigned long long)position,
                    (unsigned long long)available, m_Size);
        }
        FUZZ_CHECK(position + available == m_Size);
    }
    bool AllSeen() const { return m_Seen == m_Expected.size(); }

private:
    size_t      m_Size;
    std::string m_Expected;
    size_t      m_Seen = 0;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::EnableLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > FUZZ_MAX_INPUT || size == 0) return 0;
    HLY_Size              buffer_size = BUFFER_SIZES[data[0] >> 4];
    std::vector<HLY_Size> pieces      = fuzz::TakePieces(data, size);
    size_t                calls       = 0;
    if (size) {
        calls = data[0];
        ++data;
        --size;
    }
    if (calls * 2 > size) calls = size / 2;
    const uint8_t* call = data;
    data += calls * 2;
    size -= calls * 2;

    HLY_InputStreamReference source(new fuzz::PieceStream(data, size, pieces));
    HLY_BufferedInputStream  stream(source, buffer_size);
    Checker                  checker(data, size);
    std::vector<char>        buffer(8192);

    for (size_t i = 0; i < calls; ++i) {
        uint8_t    kind     = call[2 * i] % 6;
        uint8_t    argument = call[2 * i + 1];
        HLY_Result result   = HLY_SUCCESS;
        switch (kind) {
            case 0: { // into a character buffer of 1 to 128 bytes
                HLY_Size room   = 1 + (argument >> 1);
                HLY_Size stored = 12345;
                result = stream.ReadLine(buffer.data(), room, &stored, argument & 1);
                FUZZ_CHECK(stored < room);
                FUZZ_CHECK(buffer[stored] == '\0');
                if (result == HLY_ERROR_NOT_ENOUGH_SPACE) FUZZ_CHECK(stored == room - 1);
                if (HLY_FAILED(result) && result != HLY_ERROR_NOT_ENOUGH_SPACE) FUZZ_CHECK(stored == 0);
                checker.Delivered(buffer.data(), stored);
                break;
            }
            case 1: { // into a string of at most 0 to 127 characters
                HLY_String line("left over");
                HLY_Size   max_chars = argument >> 1;
                result = stream.ReadLine(line, max_chars, argument & 1);
                if (HLY_SUCCEEDED(result)) {
                    FUZZ_CHECK(line.GetLength() < max_chars);
                    checker.Delivered(line.GetChars(), line.GetLength());
                } else {
                    FUZZ_CHECK(line.IsEmpty());
                    if (result == HLY_ERROR_NOT_ENOUGH_SPACE) checker.Dropped(max_chars - 1);
                }
                break;
            }
            case 2: { // up to 255 bytes
                HLY_Size got = 12345;
                result = stream.Read(buffer.data(), argument, &got);
                FUZZ_CHECK(got <= argument);
                if (HLY_FAILED(result)) FUZZ_CHECK(got == 0);
                checker.Delivered(buffer.data(), got);
                break;
            }
            case 3: { // up to 8160 bytes, more than any buffer holds
                HLY_Size wanted = argument * 32;
                HLY_Size got    = 12345;
                result = stream.Peek(buffer.data(), wanted, &got);
                FUZZ_CHECK(got <= wanted);
                checker.Peeked(buffer.data(), got);
                break;
            }
            case 4:
                result = stream.SetBufferSize(BUFFER_SIZES[argument & 0x0F], argument & 0x10);
                FUZZ_CHECK(result == HLY_SUCCESS);
                break;
            case 5:
                break;
        }
        checker.CheckPosition(stream);
    }

    // what is left comes out whole, and then the stream ends
    bool ended = false;
    for (size_t i = 0; i < size + pieces.size() + 2 && !ended; ++i) {
        HLY_Size   got    = 0;
        HLY_Result result = stream.Read(buffer.data(), (HLY_Size)buffer.size(), &got);
        if (HLY_FAILED(result)) {
            FUZZ_CHECK(result == HLY_ERROR_EOS && got == 0);
            ended = true;
        }
        checker.Delivered(buffer.data(), got);
    }
    FUZZ_CHECK(ended);
    FUZZ_CHECK(checker.AllSeen());
    checker.CheckPosition(stream);
    return 0;
}
