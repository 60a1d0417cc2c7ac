#ifndef TESTS_PIECEWISE_STREAM_H
#define TESTS_PIECEWISE_STREAM_H

// An input stream that hands out a text in pieces of chosen sizes, one piece
// per Read (then whatever is asked), so that tests decide where reads end. A
// failure scripted for a call index replaces that call and consumes nothing.

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "hlystreams.h"

class PiecewiseStream : public HLY_InputStream
{
public:
    explicit PiecewiseStream(std::string data, std::vector<HLY_Size> pieces = {})
        : m_Data(std::move(data)), m_Pieces(std::move(pieces)) {}

    HLY_Result Read(void* buffer, HLY_Size bytes_to_read, HLY_Size* bytes_read) override
    {
        if (bytes_read) *bytes_read = 0;
        HLY_Size call = m_Reads++;
        m_Asked.push_back(bytes_to_read);
        for (auto& failure : m_Failures) {
            if (failure.first == call) return failure.second;
        }
        if (m_Position >= m_Data.size()) return HLY_ERROR_EOS;
        HLY_Size count = (HLY_Size)std::min<size_t>(bytes_to_read, m_Data.size() - m_Position);
        if (m_Piece < m_Pieces.size()) count = std::min(count, m_Pieces[m_Piece++]);
        memcpy(buffer, m_Data.data() + m_Position, count);
        m_Position += count;
        if (bytes_read) *bytes_read = count;
        return HLY_SUCCESS;
    }
    HLY_Result Seek(HLY_Position offset) override
    {
        ++m_Seeks;
        if (offset > m_Data.size()) return HLY_ERROR_OUT_OF_RANGE;
        m_Position = (size_t)offset;
        return HLY_SUCCESS;
    }
    HLY_Result Tell(HLY_Position& offset) override { offset = m_Position; return HLY_SUCCESS; }
    HLY_Result GetSize(HLY_LargeSize& size) override
    {
        if (!m_SizeKnown) return HLY_ERROR_NOT_SUPPORTED;
        size = m_UseReportedSize ? m_ReportedSize : m_Data.size();
        return HLY_SUCCESS;
    }
    HLY_Result GetAvailable(HLY_LargeSize& available) override
    {
        if (!m_ReportedAvailable) return HLY_ERROR_NOT_SUPPORTED;
        available = m_ReportedAvailable;
        return HLY_SUCCESS;
    }

    void FailCall(HLY_Size call, HLY_Result result) { m_Failures.push_back({call, result}); }

    std::string                                  m_Data;
    std::vector<HLY_Size>                        m_Pieces;
    size_t                                       m_Piece    = 0;
    size_t                                       m_Position = 0;
    HLY_Size                                     m_Reads    = 0;
    HLY_Size                                     m_Seeks    = 0;
    std::vector<HLY_Size>                        m_Asked;
    std::vector<std::pair<HLY_Size, HLY_Result>> m_Failures;
    bool                                         m_SizeKnown         = false;
    bool                                         m_UseReportedSize   = false;
    HLY_LargeSize                                m_ReportedSize      = 0;
    HLY_LargeSize                                m_ReportedAvailable = 0;
};

#endif // TESTS_PIECEWISE_STREAM_H
