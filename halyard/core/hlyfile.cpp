#include "hlyfile.h"
#include "hlylogging.h"
#include "../system/posix/hlyposixfile.h"

HLY_SET_LOCAL_LOGGER("halyard.files")

namespace {

bool IsSpecialName(const char* path)
{
    return HLY_String::Compare(path, HLY_FILE_STANDARD_INPUT) == 0 ||
           HLY_String::Compare(path, HLY_FILE_STANDARD_OUTPUT) == 0 ||
           HLY_String::Compare(path, HLY_FILE_STANDARD_ERROR) == 0;
}

} // namespace

/*----------------------------------------------------------------------
|   HLY_FilePath
+---------------------------------------------------------------------*/
const char* const HLY_FilePath::Separator = "/";

HLY_String HLY_FilePath::FileExtension(const char* path)
{
    // only a dot of the last component starts an extension
    HLY_String base = BaseName(path, true);
    int        dot  = base.ReverseFind('.');
    if (dot < 0) return HLY_String();
    return base.SubString((HLY_Ordinal)dot);
}

HLY_String HLY_FilePath::BaseName(const char* path, bool with_extension)
{
    HLY_String text(path);
    int        separator = text.ReverseFind(Separator);
    HLY_String base      = separator < 0 ? text : text.SubString((HLY_Ordinal)separator + 1);
    if (!with_extension) {
        int dot = base.ReverseFind('.');
        if (dot >= 0) base = base.Left((HLY_Size)dot);
    }
    return base;
}

HLY_String HLY_FilePath::DirName(const char* path)
{
    HLY_String text(path);
    int        separator = text.ReverseFind(Separator);
    if (separator < 0) return HLY_String();
    if (separator == 0) return HLY_String(Separator);
    return text.Left((HLY_Size)separator);
}

HLY_String HLY_FilePath::Create(const char* directory, const char* base)
{
    HLY_String dir(directory);
    HLY_String name(base);
    if (dir.IsEmpty()) return name;
    if (name.IsEmpty()) return dir;
    bool dir_ends   = dir.EndsWith(Separator);
    bool name_start = name.StartsWith(Separator);
    if (dir_ends && name_start) return dir + name.SubString(1);
    if (dir_ends || name_start) return dir + name;
    return dir + Separator + name;
}

/*----------------------------------------------------------------------
|   HLY_File
+---------------------------------------------------------------------*/
HLY_File::HLY_File(const char* path)
    : m_Path(path), m_IsSpecial(IsSpecialName(path)), m_Delegate(nullptr)
{
    m_Delegate = new HLY_PosixFile(*this);
}

HLY_File::~HLY_File()
{
    delete m_Delegate;
}

HLY_Result HLY_File::Load(HLY_DataBuffer& buffer)
{
    HLY_InputStreamReference input;
    HLY_Result               result = GetInputStream(input);
    if (HLY_FAILED(result)) {
        HLY_LOG_CHECK_FAILURE_F(HLY_LOG_LEVEL_WARNING, "HLY_File::Load", "(GetInputStream(input))", result);
        return result;
    }
    return input->Load(buffer);
}

HLY_Result HLY_File::Load(const char* path, HLY_DataBuffer& buffer, HLY_Flags mode)
{
    HLY_CHECK_POINTER(path);
    buffer.SetDataSize(0);
    HLY_File file(path);
    HLY_CHECK(file.Open(mode));
    HLY_Result result = file.Load(buffer);
    file.Close();
    return result;
}

HLY_Result HLY_File::GetInfo(const char* path, HLY_FileInfo* info)
{
    HLY_CHECK_POINTER(path);
    if (info) *info = HLY_FileInfo();
    if (IsSpecialName(path)) {
        if (info) info->m_Type = HLY_FileInfo::FILE_TYPE_SPECIAL;
        return HLY_SUCCESS;
    }
    // "dir/" names the same thing as "dir"; the root itself keeps its separator
    HLY_String trimmed(path);
    while (trimmed.GetLength() > 1 && trimmed.EndsWith(HLY_FilePath::Separator)) {
        trimmed.SetLength(trimmed.GetLength() - 1);
    }
    return HLY_PosixFile::GetInfo(trimmed, info);
}

HLY_Result HLY_File::GetSize(const char* path, HLY_LargeSize& size)
{
    size = 0;
    HLY_FileInfo info;
    HLY_CHECK(GetInfo(path, &info));
    if (info.m_Type == HLY_FileInfo::FILE_TYPE_DIRECTORY) {
        HLY_List<HLY_String> entries;
        HLY_Result           result = ListDir(path, entries);
        if (HLY_FAILED(result)) {
            HLY_LOG_CHECK_FAILURE_F(HLY_LOG_LEVEL_WARNING, "HLY_File::GetSize", "(ListDir(entries))", result);
            return result;
        }
        size = entries.GetItemCount();
        return HLY_SUCCESS;
    }
    size = info.m_Size;
    return HLY_SUCCESS;
}

HLY_Result HLY_File::ListDir(const char* path, HLY_List<HLY_String>& entries)
{
    entries.Clear();
    HLY_CHECK_POINTER(path);
    return HLY_PosixFile::ListDir(path, entries);
}

HLY_Result HLY_File::Rename(const char* from, const char* to)
{
    HLY_CHECK_POINTER(from);
    HLY_CHECK_POINTER(to);
    return HLY_PosixFile::Rename(from, to);
}

HLY_Result HLY_File::Remove(const char* path)
{
    HLY_CHECK_POINTER(path);
    return HLY_PosixFile::Remove(path);
}

HLY_Result HLY_File::CreateDir(const char* path)
{
    HLY_CHECK_POINTER(path);
    return HLY_PosixFile::CreateDir(path);
}
