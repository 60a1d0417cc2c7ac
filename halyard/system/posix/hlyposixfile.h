#ifndef HLY_POSIX_FILE_H
#define HLY_POSIX_FILE_H

#include <cstdio>

#include "../../core/hlyfile.h"

/*----------------------------------------------------------------------
|   the open C stream that a file and all of its streams share; the
|   process's standard streams are never closed by it
+---------------------------------------------------------------------*/
class HLY_StdcFileHandle
{
public:
    enum Operation { OPERATION_NONE, OPERATION_READ, OPERATION_WRITE };

    HLY_StdcFileHandle(FILE* file, bool is_special)
        : m_File(file), m_IsSpecial(is_special), m_LastOperation(OPERATION_NONE) {}
    ~HLY_StdcFileHandle();

    FILE* GetFile() const { return m_File; }
    bool IsSpecial() const { return m_IsSpecial; }
    // C streams need a positioning call between a write and a read (and back)
    void PrepareFor(Operation operation);
    void ForgetLastOperation() { m_LastOperation = OPERATION_NONE; }

private:
    HLY_StdcFileHandle(const HLY_StdcFileHandle&)            = delete;
    HLY_StdcFileHandle& operator=(const HLY_StdcFileHandle&) = delete;

    FILE*     m_File;
    bool      m_IsSpecial;
    Operation m_LastOperation;
};
typedef HLY_Reference<HLY_StdcFileHandle> HLY_StdcFileReference;

/*----------------------------------------------------------------------
|   file streams
+---------------------------------------------------------------------*/
class HLY_StdcFileStream
{
public:
    explicit HLY_StdcFileStream(const HLY_StdcFileReference& file) : m_FileReference(file) {}
    virtual ~HLY_StdcFileStream() {}

    HLY_Result Seek(HLY_Position offset);
    HLY_Result Tell(HLY_Position& offset);
    HLY_Result Flush();
    HLY_Result GetSize(HLY_LargeSize& size);
    HLY_Result GetAvailable(HLY_LargeSize& available);

protected:
    HLY_StdcFileReference m_FileReference;
};

class HLY_StdcFileInputStream : public HLY_InputStream, private HLY_StdcFileStream
{
public:
    explicit HLY_StdcFileInputStream(const HLY_StdcFileReference& file) : HLY_StdcFileStream(file) {}

    HLY_Result Read(void* buffer, HLY_Size bytes_to_read, HLY_Size* bytes_read = nullptr) override;
    HLY_Result Seek(HLY_Position offset) override { return HLY_StdcFileStream::Seek(offset); }
    HLY_Result Tell(HLY_Position& offset) override { return HLY_StdcFileStream::Tell(offset); }
    HLY_Result GetSize(HLY_LargeSize& size) override { return HLY_StdcFileStream::GetSize(size); }
    HLY_Result GetAvailable(HLY_LargeSize& available) override
    {
        return HLY_StdcFileStream::GetAvailable(available);
    }
};

class HLY_StdcFileOutputStream : public HLY_OutputStream, private HLY_StdcFileStream
{
public:
    explicit HLY_StdcFileOutputStream(const HLY_StdcFileReference& file) : HLY_StdcFileStream(file) {}

    HLY_Result Write(const void* buffer, HLY_Size bytes_to_write, HLY_Size* bytes_written = nullptr) override;
    HLY_Result Seek(HLY_Position offset) override { return HLY_StdcFileStream::Seek(offset); }
    HLY_Result Tell(HLY_Position& offset) override { return HLY_StdcFileStream::Tell(offset); }
    HLY_Result Flush() override { return HLY_StdcFileStream::Flush(); }
};

/*----------------------------------------------------------------------
|   HLY_PosixFile: the platform half of HLY_File
+---------------------------------------------------------------------*/
class HLY_PosixFile : public HLY_FileInterface
{
public:
    explicit HLY_PosixFile(HLY_File& delegator) : m_Delegator(delegator), m_Mode(0) {}
    ~HLY_PosixFile() override { Close(); }

    HLY_Result Open(HLY_Flags mode) override;
    HLY_Result Close() override;
    HLY_Result GetInputStream(HLY_InputStreamReference& stream) override;
    HLY_Result GetOutputStream(HLY_OutputStreamReference& stream) override;

    // file system operations behind the front's static ones
    static HLY_Result GetInfo(const char* path, HLY_FileInfo* info);
    static HLY_Result ListDir(const char* path, HLY_List<HLY_String>& entries);
    static HLY_Result Rename(const char* from, const char* to);
    static HLY_Result Remove(const char* path);
    static HLY_Result CreateDir(const char* path);

    // error numbers to result codes; streams keep fewer codes of their own
    static HLY_Result MapErrno(int error, bool for_stream = false);

private:
    HLY_File&             m_Delegator;
    HLY_Flags             m_Mode;
    HLY_StdcFileReference m_FileReference;
};

#endif // HLY_POSIX_FILE_H
