#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>

#include "hlybufferedstreams.h"
#include "hlydatabuffer.h"
#include "hlystreams.h"
#include "piecewise_stream.h"

namespace {

// a buffered stream over a piecewise source that the test can still inspect
struct Buffered {
    Buffered(std::string data, std::vector<HLY_Size> pieces = {}, HLY_Size buffer_size = 4096)
        : source(new PiecewiseStream(std::move(data), std::move(pieces))), reference(source),
          stream(reference, buffer_size) {}
    PiecewiseStream*         source;
    HLY_InputStreamReference reference;
    HLY_BufferedInputStream  stream;
};

// what a call handed out, or "#<result>:<what it reported>" when it failed
std::string Outcome(HLY_Result result, const std::string& text)
{
    return HLY_FAILED(result) ? "#" + std::to_string(result) + ":" + text : text;
}
std::string Fail(HLY_Result result, const std::string& text = "") { return Outcome(result, text); }

std::string Bytes(HLY_Result result, const std::vector<char>& bytes, HLY_Size count)
{
    if (count > bytes.size()) return "<count " + std::to_string(count) + ">";
    return Outcome(result, std::string(bytes.data(), count));
}
std::string Read(HLY_InputStream& stream, HLY_Size size)
{
    std::vector<char> bytes(size);
    HLY_Size          count  = 99;
    HLY_Result        result = stream.Read(bytes.data(), size, &count);
    return Bytes(result, bytes, count);
}
std::string Peek(HLY_BufferedInputStream& stream, HLY_Size size)
{
    std::vector<char> bytes(size);
    HLY_Size          count  = 99;
    HLY_Result        result = stream.Peek(bytes.data(), size, &count);
    return Bytes(result, bytes, count);
}

// one line into a room of `room` bytes; the count must match the text
std::string Line(HLY_BufferedInputStream& stream, bool break_on_cr = false, HLY_Size room = 256)
{
    std::vector<char> line(room + 1, 'Z');
    line[room] = 0;
    HLY_Size          count  = 99;
    HLY_Result        result = stream.ReadLine(line.data(), room, &count, break_on_cr);
    EXPECT_EQ(strlen(line.data()), count);
    return Outcome(result, line.data());
}

std::vector<std::string> ReadAllLines(HLY_BufferedInputStream& stream, bool break_on_cr, HLY_Result* end = nullptr)
{
    std::vector<std::string> lines;
    for (int guard = 0; guard < 1000; ++guard) {
        char       line[256];
        HLY_Size   count  = 0;
        HLY_Result result = stream.ReadLine(line, sizeof(line), &count, break_on_cr);
        if (HLY_FAILED(result)) {
            if (end) *end = result;
            break;
        }
        EXPECT_EQ(strlen(line), count);
        lines.push_back(std::string(line, count));
    }
    return lines;
}
typedef std::vector<std::string> Lines;

std::string ToString(const HLY_DataBuffer& buffer) { return std::string((const char*)buffer.GetData(), buffer.GetDataSize()); }
std::string ToString(const HLY_MemoryStream& stream) { return std::string((const char*)stream.GetData(), stream.GetDataSize()); }

// accepts a chosen number of bytes per write, or fails as scripted
class SlowWriter : public HLY_OutputStream
{
public:
    HLY_Result Write(const void* buffer, HLY_Size bytes_to_write, HLY_Size* bytes_written) override
    {
        if (bytes_written) *bytes_written = 0;
        HLY_Size call = m_Calls++;
        if (call < m_WouldBlockCalls) return HLY_ERROR_WOULD_BLOCK;
        if (m_FailAfter && m_Data.size() >= m_FailAfter) return HLY_ERROR_WRITE_FAILED;
        HLY_Size count = bytes_to_write < m_PerWrite ? bytes_to_write : m_PerWrite;
        m_Data.append((const char*)buffer, count);
        if (bytes_written) *bytes_written = count;
        return HLY_SUCCESS;
    }
    HLY_Result Seek(HLY_Position) override { return HLY_ERROR_NOT_SUPPORTED; }
    HLY_Result Tell(HLY_Position&) override { return HLY_ERROR_NOT_SUPPORTED; }

    std::string m_Data;
    HLY_Size    m_PerWrite = 0xFFFFFFFF, m_Calls = 0, m_WouldBlockCalls = 0;
    size_t      m_FailAfter = 0;
};

} // namespace

/*----------------------------------------------------------------------
|   data buffer
+---------------------------------------------------------------------*/
TEST(DataBuffer, OwnedCopyIsIndependentOfTheSource)
{
    char           text[] = "hello";
    HLY_DataBuffer owned(text, 5);
    EXPECT_TRUE(owned.IsLocal());
    EXPECT_NE((const void*)owned.GetData(), (const void*)text);
    text[0] = 'J';
    EXPECT_EQ(ToString(owned), "hello");
    EXPECT_EQ(owned.GetBufferSize(), 5u);

    HLY_DataBuffer sized(16), empty;
    EXPECT_EQ(sized.GetBufferSize(), 16u);
    EXPECT_EQ(sized.GetDataSize(), 0u);
    EXPECT_EQ(empty.GetData(), nullptr);
    EXPECT_EQ(empty.GetBufferSize(), 0u);
}

TEST(DataBuffer, WrappedStorageIsSharedAndNeverGrown)
{
    HLY_Byte       storage[8] = {'a', 'b', 'c', 'd', 0, 0, 0, 0};
    HLY_DataBuffer wrapped(storage, 4, false);
    EXPECT_FALSE(wrapped.IsLocal());
    EXPECT_EQ(wrapped.GetData(), storage);
    storage[1] = 'X';
    EXPECT_EQ(ToString(wrapped), "aXcd");

    EXPECT_EQ(wrapped.SetBufferSize(16), HLY_ERROR_NOT_SUPPORTED);
    EXPECT_EQ(wrapped.Reserve(5), HLY_ERROR_NOT_SUPPORTED);
    EXPECT_EQ(wrapped.SetDataSize(5), HLY_ERROR_NOT_SUPPORTED);
    EXPECT_EQ(wrapped.SetData((const HLY_Byte*)"12345", 5), HLY_ERROR_INVALID_STATE);
    EXPECT_EQ(wrapped.SetData((const HLY_Byte*)"12", 2), HLY_SUCCESS);
    EXPECT_EQ(storage[0], '1');
    EXPECT_EQ(wrapped.GetDataSize(), 2u);

    // SetBuffer borrows a new block with nothing in use yet
    wrapped.SetBuffer(storage, 8);
    EXPECT_EQ(wrapped.GetBufferSize(), 8u);
    EXPECT_EQ(wrapped.GetDataSize(), 0u);
    EXPECT_EQ(wrapped.SetDataSize(8), HLY_SUCCESS);
    // clearing a borrowed buffer leaves it borrowed and the storage alone
    wrapped.Clear();
    EXPECT_FALSE(wrapped.IsLocal());
    EXPECT_EQ(wrapped.GetData(), nullptr);
    EXPECT_EQ(storage[0], '1');

    // a copy of a borrowed buffer owns its bytes
    HLY_DataBuffer borrowed(storage, 3, false);
    HLY_DataBuffer copy(borrowed);
    EXPECT_TRUE(copy.IsLocal());
    EXPECT_NE(copy.GetData(), storage);
    EXPECT_TRUE(copy == borrowed);
    copy.UseData()[0] = 'z';
    EXPECT_EQ(storage[0], '1');
    EXPECT_TRUE(copy != borrowed);
}

TEST(DataBuffer, GrowthAndSizes)
{
    HLY_DataBuffer buffer(10);
    // enough, doubled, then the request beats doubling
    for (auto [reserve, size] : {std::pair<HLY_Size, HLY_Size>{10, 10}, {11, 20}, {100, 100}}) {
        EXPECT_EQ(buffer.Reserve(reserve), HLY_SUCCESS);
        EXPECT_EQ(buffer.GetBufferSize(), size) << reserve;
    }
    ASSERT_EQ(buffer.SetData((const HLY_Byte*)"abcdef", 6), HLY_SUCCESS);
    // shrinking below the bytes in use would lose them
    EXPECT_EQ(buffer.SetBufferSize(5), HLY_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(buffer.SetBufferSize(6), HLY_SUCCESS);
    EXPECT_EQ(ToString(buffer), "abcdef");
    // a local buffer grows to exactly the data size asked
    EXPECT_EQ(buffer.SetDataSize(9), HLY_SUCCESS);
    EXPECT_EQ(buffer.GetBufferSize(), 9u);
    EXPECT_EQ(memcmp(buffer.GetData(), "abcdef", 6), 0);

    // bytes taken from the buffer's own block (overlapping) are moved, not smeared
    HLY_DataBuffer other(8);
    ASSERT_EQ(other.SetData((const HLY_Byte*)"01234567", 8), HLY_SUCCESS);
    EXPECT_EQ(other.SetData(other.GetData() + 1, 7), HLY_SUCCESS);
    EXPECT_EQ(ToString(other), "1234567");
    EXPECT_EQ(other.GetBufferSize(), 8u);
    HLY_DataBuffer assigned;
    assigned = other;
    EXPECT_TRUE(assigned == other);
    EXPECT_NE(assigned.GetData(), other.GetData());

    buffer.Clear();
    EXPECT_EQ(buffer.GetBufferSize(), 0u);
    EXPECT_EQ(buffer.GetDataSize(), 0u);
    EXPECT_TRUE(buffer.IsLocal());
}

/*----------------------------------------------------------------------
|   memory, string and null streams
+---------------------------------------------------------------------*/
TEST(MemoryStream, ReadsInPiecesAndSeeksWithinItsData)
{
    HLY_MemoryStream stream;
    ASSERT_EQ(stream.WriteFully("0123456789", 10), HLY_SUCCESS);
    EXPECT_EQ(stream.GetDataSize(), 10u);
    EXPECT_EQ(Read(stream, 4), "0123");
    EXPECT_EQ(Read(stream, 4), "4567");
    EXPECT_EQ(Read(stream, 4), "89");
    EXPECT_EQ(Read(stream, 4), Fail(HLY_ERROR_EOS));
    EXPECT_EQ(Read(stream, 0), "");

    EXPECT_EQ(stream.OutputSeek(11), HLY_ERROR_OUT_OF_RANGE);
    EXPECT_EQ(stream.OutputSeek(10), HLY_SUCCESS);
    EXPECT_EQ(stream.InputSeek(11), HLY_ERROR_OUT_OF_RANGE);
    EXPECT_EQ(stream.InputSeek(10), HLY_SUCCESS);
    EXPECT_EQ(stream.InputSeek(0x100000000ULL), HLY_ERROR_OUT_OF_RANGE);

    // overwriting in the middle keeps the size; writing past the end grows it
    HLY_LargeSize size = 0, available = 0;
    HLY_Position  position = 0;
    ASSERT_EQ(stream.OutputSeek(3), HLY_SUCCESS);
    ASSERT_EQ(stream.WriteFully("ab", 2), HLY_SUCCESS);
    stream.GetSize(size);
    EXPECT_EQ(size, 10u);
    ASSERT_EQ(stream.OutputSeek(8), HLY_SUCCESS);
    ASSERT_EQ(stream.WriteFully("XYZ", 3), HLY_SUCCESS);
    stream.GetSize(size);
    EXPECT_EQ(size, 11u);
    stream.OutputTell(position);
    EXPECT_EQ(position, 11u);

    // the read offset is independent of the write offset
    ASSERT_EQ(stream.InputSeek(2), HLY_SUCCESS);
    stream.GetAvailable(available);
    EXPECT_EQ(available, 9u);
    char all[9];
    ASSERT_EQ(stream.ReadFully(all, 9), HLY_SUCCESS);
    EXPECT_EQ(std::string(all, 9), "2ab567XYZ");
    stream.InputTell(position);
    EXPECT_EQ(position, 11u);

    // through the input interface, Skip is Tell plus Seek
    HLY_InputStream& input = stream;
    ASSERT_EQ(input.Seek(1), HLY_SUCCESS);
    ASSERT_EQ(input.Skip(3), HLY_SUCCESS);
    input.Tell(position);
    EXPECT_EQ(position, 4u);
    EXPECT_EQ(input.Skip(20), HLY_ERROR_OUT_OF_RANGE);

    HLY_MemoryStream  copy("abc", 3);
    HLY_OutputStream& output = copy;
    output.Tell(position);
    EXPECT_EQ(position, 0u);
    copy.GetAvailable(available);
    EXPECT_EQ(available, 3u);
}

TEST(OutputStreams, LinesStringsAndNull)
{
    HLY_MemoryStream memory;
    EXPECT_EQ(memory.WriteLine("a"), HLY_SUCCESS);
    EXPECT_EQ(ToString(memory), "a\r\n");
    EXPECT_EQ(memory.WriteString(nullptr), HLY_SUCCESS);
    EXPECT_EQ(memory.WriteString(""), HLY_SUCCESS);
    EXPECT_EQ(memory.WriteLine(""), HLY_SUCCESS);
    EXPECT_EQ(memory.GetDataSize(), 5u);

    HLY_String             target("x");
    HLY_StringOutputStream borrowed(&target);
    EXPECT_EQ(borrowed.WriteString("yz"), HLY_SUCCESS);
    EXPECT_EQ(borrowed.Write("\0q", 2), HLY_SUCCESS); // bytes, not C text
    EXPECT_EQ(target.GetLength(), 5u);
    HLY_Position position = 0;
    EXPECT_EQ(borrowed.Tell(position), HLY_SUCCESS);
    EXPECT_EQ(position, 5u);
    EXPECT_EQ(borrowed.Seek(0), HLY_ERROR_NOT_SUPPORTED);

    HLY_StringOutputStream owned(64);
    EXPECT_GE(owned.GetString().GetCapacity(), 64u);
    owned.WriteLine("line");
    EXPECT_EQ(owned.GetString(), "line\r\n");

    HLY_NullOutputStream null;
    HLY_Size             written = 0;
    EXPECT_EQ(null.Write("abc", 3, &written), HLY_SUCCESS);
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(null.Seek(0), HLY_ERROR_NOT_SUPPORTED);
    EXPECT_EQ(null.Tell(position), HLY_ERROR_NOT_SUPPORTED);
    EXPECT_EQ(null.Flush(), HLY_SUCCESS);
}

TEST(Streams, FullReadsAndWritesLoopAndRefuseNoProgress)
{
    PiecewiseStream source("abcdefgh", {1, 2, 3});
    char            buffer[8];
    EXPECT_EQ(source.ReadFully(buffer, 0), HLY_SUCCESS);
    ASSERT_EQ(source.ReadFully(buffer, 8), HLY_SUCCESS);
    EXPECT_EQ(std::string(buffer, 8), "abcdefgh");
    EXPECT_EQ(source.m_Reads, 4u);
    EXPECT_EQ(source.ReadFully(buffer, 1), HLY_ERROR_EOS);
    PiecewiseStream stalled("abc", {0});
    EXPECT_EQ(stalled.ReadFully(buffer, 3), HLY_ERROR_INTERNAL);
    // a source that claims more than it was asked for is not trusted either
    struct Overclaiming : PiecewiseStream {
        using PiecewiseStream::PiecewiseStream;
        HLY_Result Read(void* buffer, HLY_Size bytes_to_read, HLY_Size* bytes_read) override
        {
            HLY_Result result = PiecewiseStream::Read(buffer, bytes_to_read, bytes_read);
            if (bytes_read && *bytes_read) ++*bytes_read;
            return result;
        }
    } overclaiming("abcdef");
    EXPECT_EQ(overclaiming.ReadFully(buffer, 3), HLY_ERROR_INTERNAL);

    SlowWriter writer;
    writer.m_PerWrite = 2;
    ASSERT_EQ(writer.WriteFully("12345", 5), HLY_SUCCESS);
    EXPECT_EQ(writer.m_Data, "12345");
    EXPECT_EQ(writer.m_Calls, 3u);
    writer.m_PerWrite = 0;
    EXPECT_EQ(writer.WriteFully("x", 1), HLY_ERROR_INTERNAL);
}

/*----------------------------------------------------------------------
|   buffered line reading
+---------------------------------------------------------------------*/
TEST(BufferedInputStream, RequestHeadLinesWhateverTheReadBoundaries)
{
    // every piece size and small buffer sizes put the CR LF on every possible boundary
    for (HLY_Size piece = 1; piece <= 8; ++piece) {
        for (HLY_Size buffer_size : {1u, 2u, 3u, 5u, 4096u}) {
            SCOPED_TRACE(testing::Message() << "piece " << piece << " buffer " << buffer_size);
            Buffered   b("GET /a HTTP/1.1\r\nHost: h\r\n\r\n", std::vector<HLY_Size>(64, piece), buffer_size);
            HLY_Result end = HLY_SUCCESS;
            EXPECT_EQ(ReadAllLines(b.stream, false, &end), (Lines{"GET /a HTTP/1.1", "Host: h", ""}));
            EXPECT_EQ(end, HLY_ERROR_EOS);
        }
    }
}

TEST(BufferedInputStream, LineEndingsAndCarriageReturns)
{
    struct Row {
        const char*           text;
        std::vector<HLY_Size> pieces;
        bool                  break_on_cr;
        Lines                 lines;
    } rows[] = {
        // the source's first read ends right after the CR; with break on CR
        // the LF arriving in the next read belongs to the earlier line
        {"ab\r\ncd\r\n", {3, 5}, false, {"ab", "cd"}},
        {"ab\r\ncd\r\n", {3, 5}, true, {"ab", "cd"}},
        {"a\rb\r\nc", {}, true, {"a", "b", "c"}},
        // only the LF right after a CR is part of its line ending
        {"a\r\n\nb\r\r\n", {}, true, {"a", "", "b", ""}},
        // without break on CR, carriage returns are dropped wherever they are
        {"a\rb\r\nc\r", {}, false, {"ab", "c"}},
        {"\n\r\n\nx\n", {}, false, {"", "", "", "x"}},
    };
    for (const Row& row : rows) {
        Buffered b(row.text, row.pieces);
        EXPECT_EQ(ReadAllLines(b.stream, row.break_on_cr), row.lines) << row.text << " cr " << row.break_on_cr;
    }

    // a failed read between the CR and the LF: the LF is still skipped
    Buffered failed("ab\r\ncd", {3, 3});
    failed.source->FailCall(1, HLY_ERROR_TIMEOUT);
    EXPECT_EQ(Line(failed.stream, true), "ab");
    EXPECT_EQ(Line(failed.stream, true), Fail(HLY_ERROR_TIMEOUT));
    EXPECT_EQ(Line(failed.stream, true), "cd");
    // a plain Read after a line ended on CR drops the LF too
    Buffered read("a\r\nxyz", {2, 4});
    EXPECT_EQ(Line(read.stream, true), "a");
    EXPECT_EQ(Read(read.stream, 3), "xyz");
    // a byte in place of that LF is handed out without waiting on the source
    Buffered no_lf("a\rxyz", {3, 2});
    EXPECT_EQ(Line(no_lf.stream, true), "a");
    EXPECT_EQ(Read(no_lf.stream, 3), "x");
    EXPECT_EQ(no_lf.source->m_Reads, 1u);
}

TEST(BufferedInputStream, EndOfStreamAndInvalidArguments)
{
    Buffered b("abc");
    EXPECT_EQ(Line(b.stream), "abc");
    EXPECT_EQ(Line(b.stream), Fail(HLY_ERROR_EOS));
    // the end is remembered: the source is not asked again
    HLY_Size reads = b.source->m_Reads;
    EXPECT_EQ(Line(b.stream), Fail(HLY_ERROR_EOS));
    EXPECT_EQ(b.source->m_Reads, reads);

    HLY_String text;
    Buffered   s("first\nsecond");
    ASSERT_EQ(s.stream.ReadLine(text), HLY_SUCCESS);
    EXPECT_EQ(text, "first");
    ASSERT_EQ(s.stream.ReadLine(text), HLY_SUCCESS);
    EXPECT_EQ(text, "second");
    EXPECT_EQ(s.stream.ReadLine(text), HLY_ERROR_EOS);
    EXPECT_TRUE(text.IsEmpty());

    char     line[4];
    HLY_Size count = 7;
    EXPECT_EQ(s.stream.ReadLine(nullptr, 10, &count), HLY_ERROR_INVALID_PARAMETERS);
    count = 7;
    EXPECT_EQ(s.stream.ReadLine(line, 0, &count), HLY_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(count, 0u);
}

TEST(BufferedInputStream, LineLongerThanTheCallersRoom)
{
    for (HLY_Size buffer_size : {4096u, 3u, 0u}) {
        SCOPED_TRACE(testing::Message() << "buffer " << buffer_size);
        Buffered b("abcd\nabcde\nz\n", {}, buffer_size);
        // size - 1 characters fit; one more does not: the part that fitted is
        // reported, the rest stays in the stream
        EXPECT_EQ(Line(b.stream, false, 5), "abcd");
        EXPECT_EQ(Line(b.stream, false, 5), Fail(HLY_ERROR_NOT_ENOUGH_SPACE, "abcd"));
        EXPECT_EQ(Line(b.stream, false, 5), "e");
        EXPECT_EQ(Line(b.stream, false, 5), "z");
    }
    // the string form holds at most max - 1 characters and stays empty on failure
    Buffered   s("12345678\n1234567\n");
    HLY_String text("old");
    EXPECT_EQ(s.stream.ReadLine(text, 8), HLY_ERROR_NOT_ENOUGH_SPACE);
    EXPECT_TRUE(text.IsEmpty());
    Buffered fits("1234567\n");
    ASSERT_EQ(fits.stream.ReadLine(text, 8), HLY_SUCCESS);
    EXPECT_EQ(text, "1234567");
}

TEST(BufferedInputStream, LinesLongerThanTheBlockSpanRefills)
{
    std::string long_line(1000, 'q');
    Buffered    b(long_line + "\r\nend", std::vector<HLY_Size>(1000, 7), 16);
    EXPECT_EQ(Line(b.stream, false, 2048), long_line);
    EXPECT_EQ(Line(b.stream), "end");
    // no source read asked for more than the block holds
    for (HLY_Size asked : b.source->m_Asked) EXPECT_LE(asked, 16u);
}

/*----------------------------------------------------------------------
|   buffered reads, peeking and positions
+---------------------------------------------------------------------*/
TEST(BufferedInputStream, ReadHandsOutBufferedBytesWithoutWaiting)
{
    Buffered b("0123456789", {4, 6});
    EXPECT_EQ(Read(b.stream, 1), "0");
    EXPECT_EQ(b.source->m_Reads, 1u);
    // three bytes are buffered: asking for more gives those three and no source read
    EXPECT_EQ(Read(b.stream, 10), "123");
    EXPECT_EQ(b.source->m_Reads, 1u);
    EXPECT_EQ(Read(b.stream, 10), "456789");
    EXPECT_EQ(Read(b.stream, 10), Fail(HLY_ERROR_EOS));
    EXPECT_EQ(Read(b.stream, 0), "");
}

TEST(BufferedInputStream, UnbufferedModeHoldsNothingBack)
{
    // what was already buffered comes first, then reads go straight to the source
    Buffered b("HEAD\r\nbody-bytes", {}, 4096);
    EXPECT_EQ(Line(b.stream), "HEAD");
    ASSERT_EQ(b.stream.SetBufferSize(0), HLY_SUCCESS);
    EXPECT_EQ(Read(b.stream, 4), "body");

    Buffered direct("abcdefgh", {}, 0);
    HLY_Size reads_before = direct.source->m_Reads;
    EXPECT_EQ(Read(direct.stream, 3), "abc");
    EXPECT_EQ(direct.source->m_Reads, reads_before + 1);
    EXPECT_EQ(direct.source->m_Asked.back(), 3u); // nothing read ahead
    EXPECT_EQ(direct.source->m_Position, 3u);
    // lines in unbuffered mode take the source one byte at a time
    Buffered lines("ab\ncd", {}, 0);
    EXPECT_EQ(Line(lines.stream), "ab");
    EXPECT_EQ(lines.source->m_Position, 3u);
    EXPECT_EQ(Line(lines.stream), "cd");
}

TEST(BufferedInputStream, PeekThenRead)
{
    Buffered b("abcdefg", {3, 4}, 8);
    EXPECT_EQ(Peek(b.stream, 2), "ab");
    EXPECT_EQ(Read(b.stream, 1), "a");
    // two bytes pending, five asked: more is read behind the pending ones
    EXPECT_EQ(Peek(b.stream, 5), "bcdef");
    HLY_Position position = 0;
    b.stream.Tell(position);
    EXPECT_EQ(position, 1u); // peeking does not move
    EXPECT_EQ(Read(b.stream, 16), "bcdefg");
    EXPECT_EQ(Peek(b.stream, 4), Fail(HLY_ERROR_EOS));

    // a peek that reaches the end still copies what there is
    Buffered end("xy", {}, 8);
    EXPECT_EQ(Read(end.stream, 1), "x");
    EXPECT_EQ(Peek(end.stream, 4), "y");

    // peeking in unbuffered mode keeps the mode: the peeked bytes come first, then direct reads
    Buffered raw("0123456789", {2, 3, 100}, 0);
    EXPECT_EQ(Peek(raw.stream, 2), "01");
    EXPECT_EQ(Read(raw.stream, 16), "01");
    EXPECT_EQ(Read(raw.stream, 4), "234");
    EXPECT_EQ(raw.source->m_Asked.back(), 4u);
}

TEST(BufferedInputStream, TellAndSeekFollowTheSource)
{
    Buffered     b("one\r\ntwo\nthree", {}, 64);
    HLY_Position position = 0;
    auto         tell     = [&]() { b.stream.Tell(position); return position; };
    EXPECT_EQ(Line(b.stream), "one");
    EXPECT_EQ(tell(), 5u); // the line ending was consumed too

    // a seek inside the buffered bytes does not touch the source
    ASSERT_EQ(b.stream.Seek(5), HLY_SUCCESS);
    ASSERT_EQ(b.stream.Seek(9), HLY_SUCCESS);
    EXPECT_EQ(b.source->m_Seeks, 0u);
    EXPECT_EQ(Line(b.stream), "three");
    EXPECT_EQ(Line(b.stream), Fail(HLY_ERROR_EOS));

    // a seek backwards goes through the source and forgets the end of stream
    ASSERT_EQ(b.stream.Seek(5), HLY_SUCCESS);
    EXPECT_EQ(b.source->m_Seeks, 1u);
    EXPECT_EQ(Line(b.stream), "two");
    EXPECT_EQ(tell(), 9u);
    // a failed source seek changes nothing
    EXPECT_EQ(b.stream.Seek(100), HLY_ERROR_OUT_OF_RANGE);
    EXPECT_EQ(tell(), 9u);
    EXPECT_EQ(Line(b.stream), "three");

    HLY_LargeSize size = 0;
    EXPECT_EQ(b.stream.GetSize(size), HLY_ERROR_NOT_SUPPORTED);
    b.source->m_SizeKnown = true;
    ASSERT_EQ(b.stream.GetSize(size), HLY_SUCCESS);
    EXPECT_EQ(size, 14u);
}

TEST(BufferedInputStream, AvailableCountsBufferedBytes)
{
    Buffered      b("abcdef", {4}, 16);
    HLY_LargeSize available = 0;
    EXPECT_EQ(Read(b.stream, 1), "a");
    // the source cannot tell, but three bytes are buffered
    ASSERT_EQ(b.stream.GetAvailable(available), HLY_SUCCESS);
    EXPECT_EQ(available, 3u);
    b.source->m_ReportedAvailable = 2;
    ASSERT_EQ(b.stream.GetAvailable(available), HLY_SUCCESS);
    EXPECT_EQ(available, 5u);
    b.source->m_ReportedAvailable = 0;
    char rest[8];
    ASSERT_EQ(b.stream.Read(rest, 8), HLY_SUCCESS);
    EXPECT_EQ(b.stream.GetAvailable(available), HLY_ERROR_NOT_SUPPORTED);
}

TEST(BufferedInputStream, ResizingTheBufferKeepsUnreadBytes)
{
    Buffered b("abcdefghij", {}, 4);
    EXPECT_EQ(Read(b.stream, 1), "a");
    ASSERT_EQ(b.stream.SetBufferSize(8), HLY_SUCCESS);
    EXPECT_EQ(Read(b.stream, 16), "bcd");
    EXPECT_EQ(Read(b.stream, 16), "efghij");
    // a forced shrink below the unread bytes keeps them
    std::string text;
    for (int i = 0; i < 6000; ++i) text += (char)('a' + i % 26);
    Buffered s(text, {}, 8192);
    EXPECT_EQ(Read(s.stream, 1), "a");
    ASSERT_EQ(s.stream.SetBufferSize(2, true), HLY_SUCCESS);
    EXPECT_EQ(Read(s.stream, 8192), text.substr(1));
}

/*----------------------------------------------------------------------
|   copies
+---------------------------------------------------------------------*/
TEST(StreamToStreamCopy, WholeBoundedAndOffset)
{
    std::string data;
    for (int i = 0; i < 200000; ++i) data.push_back((char)('a' + i % 26));
    HLY_MemoryStream source(data.data(), (HLY_Size)data.size());
    HLY_MemoryStream whole, part, offset;
    HLY_LargeSize    written = 0;
    ASSERT_EQ(HLY_StreamToStreamCopy(source, whole, 0, 0, &written), HLY_SUCCESS);
    EXPECT_EQ(written, data.size());
    EXPECT_EQ(ToString(whole), data);

    // a length across several blocks copies exactly that much and no more is read
    source.InputSeek(0);
    ASSERT_EQ(HLY_StreamToStreamCopy(source, part, 0, 65536 + 100, &written), HLY_SUCCESS);
    EXPECT_EQ(written, 65636u);
    EXPECT_EQ(ToString(part), data.substr(0, 65636));
    HLY_Position position = 0;
    source.InputTell(position);
    EXPECT_EQ(position, 65636u);

    ASSERT_EQ(HLY_StreamToStreamCopy(source, offset, 7, 5, &written), HLY_SUCCESS);
    EXPECT_EQ(ToString(offset), data.substr(7, 5));
    EXPECT_EQ(HLY_StreamToStreamCopy(source, offset, 300000, 5, &written), HLY_ERROR_OUT_OF_RANGE);
    EXPECT_EQ(written, 0u);
}

TEST(StreamToStreamCopy, ShortFailingAndSilentSources)
{
    struct Row {
        const char*           name;
        std::vector<HLY_Size> pieces;
        HLY_LargeSize         length;
        HLY_Result            fail_second_read, result;
        const char*           copied;
    } rows[] = {
        {"ends before the length", {2, 2, 2}, 10, HLY_SUCCESS, HLY_ERROR_EOS, "short"},
        // to the end (size 0), the end of the source is the normal end
        {"to the end", {2}, 0, HLY_SUCCESS, HLY_SUCCESS, "short"},
        {"other read failures are returned", {3}, 0, HLY_ERROR_TIMEOUT, HLY_ERROR_TIMEOUT, "sho"},
        {"a source that delivers nothing is refused, not spun on", {2, 0}, 0, HLY_SUCCESS, HLY_ERROR_INTERNAL,
         "sh"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PiecewiseStream source("short", row.pieces);
        if (HLY_FAILED(row.fail_second_read)) source.FailCall(1, row.fail_second_read);
        HLY_MemoryStream target;
        HLY_LargeSize    written = 99;
        EXPECT_EQ(HLY_StreamToStreamCopy(source, target, 0, row.length, &written), row.result);
        EXPECT_EQ(written, strlen(row.copied));
        EXPECT_EQ(ToString(target), row.copied);
    }
}

TEST(StreamToStreamCopy, SlowAndFailingWriters)
{
    HLY_MemoryStream source("0123456789", 10);
    SlowWriter       slow;
    slow.m_PerWrite        = 3;
    slow.m_WouldBlockCalls = 2;
    HLY_LargeSize written  = 0;
    ASSERT_EQ(HLY_StreamToStreamCopy(source, slow, 0, 0, &written), HLY_SUCCESS);
    EXPECT_EQ(slow.m_Data, "0123456789");
    EXPECT_EQ(written, 10u);

    source.InputSeek(0);
    SlowWriter failing;
    failing.m_PerWrite  = 4;
    failing.m_FailAfter = 4;
    EXPECT_EQ(HLY_StreamToStreamCopy(source, failing, 0, 0, &written), HLY_ERROR_WRITE_FAILED);
    EXPECT_EQ(written, 4u);

    source.InputSeek(0);
    SlowWriter stuck;
    stuck.m_PerWrite = 0;
    EXPECT_EQ(HLY_StreamToStreamCopy(source, stuck, 0, 0, &written), HLY_ERROR_INTERNAL);
}

// answers success with nothing: on call `silent_call` only, or (0) always
class SilentStream : public PiecewiseStream
{
public:
    explicit SilentStream(int silent_call = 0) : PiecewiseStream("GET / HTTP/1.1\r\nnext\r\n"), m_Silent(silent_call) {}
    HLY_Result Read(void* buffer, HLY_Size bytes_to_read, HLY_Size* bytes_read) override
    {
        if (++m_Calls == m_Silent || (m_Silent == 0 && m_Calls <= 100000)) { // bounded, should the code spin
            if (bytes_read) *bytes_read = 0;
            return HLY_SUCCESS;
        }
        if (m_Silent == 0) return HLY_ERROR_EOS;
        return PiecewiseStream::Read(buffer, bytes_to_read < 3 ? bytes_to_read : 3, bytes_read);
    }
    int m_Silent, m_Calls = 0;
};

TEST(Streams, ReadersGiveUpOnASourceThatDeliversNothing)
{
    HLY_DataBuffer loaded;
    SilentStream   for_load;
    EXPECT_EQ(for_load.Load(loaded), HLY_ERROR_INTERNAL);
    EXPECT_EQ(for_load.m_Calls, 1);

    // a line reader tries a few times (an empty answer may be passing), not forever
    for (HLY_Size buffer_size : {4096u, 0u}) {
        SilentStream*           silent = new SilentStream();
        HLY_BufferedInputStream buffered(HLY_InputStreamReference(silent), buffer_size);
        HLY_String              line;
        EXPECT_EQ(buffered.ReadLine(line, 100), HLY_ERROR_INTERNAL) << buffer_size;
        EXPECT_EQ(silent->m_Calls, 16) << buffer_size;
    }
}

TEST(Streams, AnEmptyAnswerInALineLosesNothing)
{
    // found by the line fuzzer: the part of the line before it was dropped with an error
    for (HLY_Size buffer_size : {4096u, 0u}) {
        HLY_BufferedInputStream buffered(HLY_InputStreamReference(new SilentStream(2)), buffer_size);
        HLY_String              line;
        EXPECT_EQ(buffered.ReadLine(line, 100), HLY_SUCCESS) << buffer_size;
        EXPECT_EQ(line, "GET / HTTP/1.1") << buffer_size;
        EXPECT_EQ(buffered.ReadLine(line, 100), HLY_SUCCESS) << buffer_size;
        EXPECT_EQ(line, "next") << buffer_size;
    }
}

/*----------------------------------------------------------------------
|   loading
+---------------------------------------------------------------------*/
TEST(Load, WholeStreamsAndLimits)
{
    HLY_MemoryStream memory("0123456789", 10);
    HLY_DataBuffer   buffer;
    ASSERT_EQ(memory.Load(buffer), HLY_SUCCESS);
    EXPECT_EQ(ToString(buffer), "0123456789");
    memory.InputSeek(0);
    ASSERT_EQ(memory.Load(buffer, 4), HLY_SUCCESS);
    EXPECT_EQ(ToString(buffer), "0123");

    // unknown size: read in pieces up to the end, or up to a maximum
    std::string     big(10000, 'z');
    PiecewiseStream unknown(big, std::vector<HLY_Size>(100, 333));
    ASSERT_EQ(unknown.Load(buffer), HLY_SUCCESS);
    EXPECT_EQ(ToString(buffer), big);
    PiecewiseStream limited(big);
    ASSERT_EQ(limited.Load(buffer, 5000), HLY_SUCCESS);
    EXPECT_EQ(buffer.GetDataSize(), 5000u);
    EXPECT_EQ(limited.m_Position, 5000u);

    auto reporting = [](PiecewiseStream& stream, HLY_LargeSize size) {
        stream.m_SizeKnown       = true;
        stream.m_UseReportedSize = true;
        stream.m_ReportedSize    = size;
    };
    // a size of 0 (as special files report) does not stop the load early
    PiecewiseStream zero("not empty");
    reporting(zero, 0);
    ASSERT_EQ(zero.Load(buffer), HLY_SUCCESS);
    EXPECT_EQ(ToString(buffer), "not empty");

    memory.InputSeek(0);
    ASSERT_EQ(memory.Load(buffer, HLY_INPUT_STREAM_LOAD_MAX_SIZE), HLY_SUCCESS);
    EXPECT_EQ(ToString(buffer), "0123456789");
    EXPECT_EQ(memory.Load(buffer, HLY_INPUT_STREAM_LOAD_MAX_SIZE + 1), HLY_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(buffer.GetDataSize(), 0u);
    // a reported size above 1 GiB is refused before reading anything...
    PiecewiseStream huge("abc");
    reporting(huge, 0x40000001ULL);
    EXPECT_EQ(huge.Load(buffer), HLY_ERROR_OUT_OF_RANGE);
    EXPECT_EQ(huge.m_Reads, 0u);
    // ...but a maximum below the limit makes it loadable
    ASSERT_EQ(huge.Load(buffer, 3), HLY_SUCCESS);
    EXPECT_EQ(ToString(buffer), "abc");
    // without a size, a chunk that would pass 1 GiB stops the load
    PiecewiseStream flood("abc");
    flood.m_ReportedAvailable = 0x40000001ULL;
    EXPECT_EQ(flood.Load(buffer), HLY_ERROR_OUT_OF_RANGE);
    EXPECT_EQ(flood.m_Reads, 0u);
}

TEST(Load, FailuresKeepWhatWasLoaded)
{
    PiecewiseStream source("abcdef", {2, 2, 2});
    source.FailCall(2, HLY_ERROR_READ_FAILED);
    HLY_DataBuffer buffer;
    EXPECT_EQ(source.Load(buffer), HLY_ERROR_READ_FAILED);
    EXPECT_EQ(ToString(buffer), "abcd");

    // a borrowed buffer too small for the stream cannot grow
    HLY_Byte       storage[4];
    HLY_DataBuffer borrowed;
    borrowed.SetBuffer(storage, 4);
    HLY_MemoryStream memory("0123456789", 10);
    EXPECT_EQ(memory.Load(borrowed), HLY_ERROR_NOT_SUPPORTED);
}
