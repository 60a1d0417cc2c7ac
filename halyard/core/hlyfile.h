#ifndef HLY_FILE_H
#define HLY_FILE_H

#include "hlycommon.h"
#include "hlydatabuffer.h"
#include "hlylist.h"
#include "hlystreams.h"
#include "hlystrings.h"
#include "hlytime.h"

// open modes (bit mask)
#define HLY_FILE_OPEN_MODE_READ       0x01
#define HLY_FILE_OPEN_MODE_WRITE      0x02
#define HLY_FILE_OPEN_MODE_CREATE     0x04
#define HLY_FILE_OPEN_MODE_TRUNCATE   0x08
#define HLY_FILE_OPEN_MODE_UNBUFFERED 0x10
#define HLY_FILE_OPEN_MODE_APPEND     0x20

// names of the process's standard streams
#define HLY_FILE_STANDARD_INPUT  "@STDIN"
#define HLY_FILE_STANDARD_OUTPUT "@STDOUT"
#define HLY_FILE_STANDARD_ERROR  "@STDERR"

// attribute flags of HLY_FileInfo
#define HLY_FILE_ATTRIBUTE_READ_ONLY 0x01 // the owner may not write it
#define HLY_FILE_ATTRIBUTE_LINK      0x02 // the path names a symbolic link

/*----------------------------------------------------------------------
|   HLY_FileInfo
+---------------------------------------------------------------------*/
struct HLY_FileInfo
{
    enum FileType {
        FILE_TYPE_NONE      = 0,
        FILE_TYPE_REGULAR   = 1,
        FILE_TYPE_DIRECTORY = 2,
        FILE_TYPE_SPECIAL   = 3,
        FILE_TYPE_OTHER     = 4
    };

    HLY_FileInfo() : m_Type(FILE_TYPE_NONE), m_Attributes(0), m_Size(0) {}

    FileType      m_Type;
    HLY_Flags     m_Attributes;
    HLY_LargeSize m_Size;
    HLY_TimeStamp m_CreationTime;     // the platform's status change time where it keeps no birth time
    HLY_TimeStamp m_ModificationTime;
};

/*----------------------------------------------------------------------
|   HLY_FilePath: splitting and joining paths with the platform's separator
+---------------------------------------------------------------------*/
class HLY_FilePath
{
public:
    static const char* const Separator;

    // text from the last '.' of the last component (with the dot), or empty
    static HLY_String FileExtension(const char* path);
    // text after the last separator, without its extension unless with_extension
    static HLY_String BaseName(const char* path, bool with_extension = true);
    // text before the last separator; the separator itself right below the root
    static HLY_String DirName(const char* path);
    // directory and base joined with exactly one separator
    static HLY_String Create(const char* directory, const char* base);
};

/*----------------------------------------------------------------------
|   HLY_FileInterface: what the front and the platform file share
+---------------------------------------------------------------------*/
class HLY_FileInterface
{
public:
    virtual ~HLY_FileInterface() {}
    virtual HLY_Result Open(HLY_Flags mode) = 0;
    virtual HLY_Result Close() = 0;
    virtual HLY_Result GetInputStream(HLY_InputStreamReference& stream) = 0;
    virtual HLY_Result GetOutputStream(HLY_OutputStreamReference& stream) = 0;
};

/*----------------------------------------------------------------------
|   HLY_File: a named file, or one of "@STDIN", "@STDOUT", "@STDERR".
|   Streams handed out share the open file and stay usable after the
|   HLY_File is closed or gone.
+---------------------------------------------------------------------*/
class HLY_File : public HLY_FileInterface
{
public:
    // whole-file and file system operations
    static HLY_Result Load(const char* path, HLY_DataBuffer& buffer, HLY_Flags mode = HLY_FILE_OPEN_MODE_READ);
    static HLY_Result GetInfo(const char* path, HLY_FileInfo* info = nullptr);
    static HLY_Result GetSize(const char* path, HLY_LargeSize& size);
    static HLY_Result ListDir(const char* path, HLY_List<HLY_String>& entries);
    static HLY_Result Rename(const char* from, const char* to);
    // deletes a file or an empty directory
    static HLY_Result Remove(const char* path);
    static HLY_Result CreateDir(const char* path);
    static bool Exists(const char* path) { return HLY_SUCCEEDED(GetInfo(path)); }

    explicit HLY_File(const char* path);
    ~HLY_File() override;

    HLY_Result Open(HLY_Flags mode) override { return m_Delegate->Open(mode); }
    HLY_Result Close() override { return m_Delegate->Close(); }
    HLY_Result GetInputStream(HLY_InputStreamReference& stream) override { return m_Delegate->GetInputStream(stream); }
    HLY_Result GetOutputStream(HLY_OutputStreamReference& stream) override
    {
        return m_Delegate->GetOutputStream(stream);
    }

    // the whole input stream of this open file
    HLY_Result Load(HLY_DataBuffer& buffer);
    const HLY_String& GetPath() const { return m_Path; }
    bool IsSpecial() const { return m_IsSpecial; }

private:
    HLY_File(const HLY_File&)            = delete;
    HLY_File& operator=(const HLY_File&) = delete;

    HLY_String         m_Path;
    bool               m_IsSpecial;
    HLY_FileInterface* m_Delegate; // the platform file
};

#endif // HLY_FILE_H
