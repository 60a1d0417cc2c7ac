#include <cerrno>
#include <cstdint>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "../../core/hlylogging.h"
#include "hlyposixfile.h"

HLY_SET_LOCAL_LOGGER("halyard.files.posix")

/*----------------------------------------------------------------------
|   error mapping
+---------------------------------------------------------------------*/
HLY_Result HLY_PosixFile::MapErrno(int error, bool for_stream)
{
    switch (error) {
    case EPERM:
    case EACCES:       return HLY_ERROR_PERMISSION_DENIED;
    case ENOENT:       return HLY_ERROR_NO_SUCH_FILE;
    case EBUSY:        return HLY_ERROR_FILE_BUSY;
    case ENOTDIR:      return HLY_ERROR_FILE_NOT_DIRECTORY;
    case EROFS:        return HLY_ERROR_FILE_NOT_WRITABLE;
    case ENAMETOOLONG: return HLY_ERROR_INVALID_PARAMETERS;
    case EEXIST:       return for_stream ? HLY_ERROR_ERRNO(error) : HLY_ERROR_FILE_ALREADY_EXISTS;
    case ENOSPC:       return for_stream ? HLY_ERROR_ERRNO(error) : HLY_ERROR_FILE_NOT_ENOUGH_SPACE;
    case ENOTEMPTY:    return for_stream ? HLY_ERROR_ERRNO(error) : HLY_ERROR_DIRECTORY_NOT_EMPTY;
    case 0:            return HLY_FAILURE; // a failure that left no error number
    default:           return HLY_ERROR_ERRNO(error);
    }
}

/*----------------------------------------------------------------------
|   HLY_StdcFileHandle
+---------------------------------------------------------------------*/
HLY_StdcFileHandle::~HLY_StdcFileHandle()
{
    if (m_File == nullptr) return;
    if (m_IsSpecial) {
        fflush(m_File);
    } else {
        fclose(m_File);
    }
}

void HLY_StdcFileHandle::PrepareFor(Operation operation)
{
    if (!m_IsSpecial && m_LastOperation != OPERATION_NONE && m_LastOperation != operation) {
        fseeko(m_File, 0, SEEK_CUR);
    }
    m_LastOperation = operation;
}

/*----------------------------------------------------------------------
|   HLY_StdcFileStream
+---------------------------------------------------------------------*/
HLY_Result HLY_StdcFileStream::Seek(HLY_Position offset)
{
    if (offset > (HLY_Position)INT64_MAX) return HLY_FAILURE;
    if (fseeko(m_FileReference->GetFile(), (off_t)offset, SEEK_SET) != 0) return HLY_FAILURE;
    m_FileReference->ForgetLastOperation();
    return HLY_SUCCESS;
}

HLY_Result HLY_StdcFileStream::Tell(HLY_Position& offset)
{
    offset          = 0;
    off_t position  = ftello(m_FileReference->GetFile());
    if (position < 0) return HLY_FAILURE;
    offset = (HLY_Position)position;
    return HLY_SUCCESS;
}

HLY_Result HLY_StdcFileStream::Flush()
{
    if (fflush(m_FileReference->GetFile()) != 0) return HLY_PosixFile::MapErrno(errno, true);
    return HLY_SUCCESS;
}

HLY_Result HLY_StdcFileStream::GetSize(HLY_LargeSize& size)
{
    size = 0;
    if (m_FileReference->IsSpecial()) return HLY_SUCCESS;
    // ask the open file rather than its name: written bytes still in the
    // C buffer count, and a renamed or deleted file keeps its size
    FILE* file = m_FileReference->GetFile();
    fflush(file);
    struct stat info;
    if (fstat(fileno(file), &info) != 0) return HLY_PosixFile::MapErrno(errno, true);
    size = (HLY_LargeSize)info.st_size;
    return HLY_SUCCESS;
}

HLY_Result HLY_StdcFileStream::GetAvailable(HLY_LargeSize& available)
{
    available              = 0;
    HLY_LargeSize size     = 0;
    HLY_Position  position = 0;
    if (HLY_FAILED(GetSize(size)) || HLY_FAILED(Tell(position))) return HLY_FAILURE;
    if (position > size) return HLY_FAILURE;
    available = size - position;
    return HLY_SUCCESS;
}

HLY_Result HLY_StdcFileInputStream::Read(void* buffer, HLY_Size bytes_to_read, HLY_Size* bytes_read)
{
    if (bytes_read) *bytes_read = 0;
    if (buffer == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    if (bytes_to_read == 0) return HLY_SUCCESS;
    FILE* file = m_FileReference->GetFile();
    m_FileReference->PrepareFor(HLY_StdcFileHandle::OPERATION_READ);
    errno       = 0;
    size_t count = fread(buffer, 1, bytes_to_read, file);
    if (count == 0) {
        if (feof(file)) {
            // forget the end so that a file that grows can be read on
            clearerr(file);
            return HLY_ERROR_EOS;
        }
        int error = errno;
        clearerr(file);
        return HLY_PosixFile::MapErrno(error, true);
    }
    if (bytes_read) *bytes_read = (HLY_Size)count;
    return HLY_SUCCESS;
}

HLY_Result HLY_StdcFileOutputStream::Write(const void* buffer, HLY_Size bytes_to_write, HLY_Size* bytes_written)
{
    if (bytes_written) *bytes_written = 0;
    if (bytes_to_write == 0) return HLY_SUCCESS;
    if (buffer == nullptr) return HLY_ERROR_INVALID_PARAMETERS;
    FILE* file = m_FileReference->GetFile();
    m_FileReference->PrepareFor(HLY_StdcFileHandle::OPERATION_WRITE);
    size_t count = fwrite(buffer, 1, bytes_to_write, file);
    if (count == 0) {
        clearerr(file);
        return HLY_ERROR_WRITE_FAILED;
    }
    if (bytes_written) *bytes_written = (HLY_Size)count;
    return HLY_SUCCESS;
}

/*----------------------------------------------------------------------
|   HLY_PosixFile
+---------------------------------------------------------------------*/
HLY_Result HLY_PosixFile::Open(HLY_Flags mode)
{
    if (!m_FileReference.IsNull()) return HLY_ERROR_FILE_ALREADY_OPEN;

    const HLY_String& path = m_Delegator.GetPath();
    FILE*             file = nullptr;
    if (m_Delegator.IsSpecial()) {
        if (path == HLY_FILE_STANDARD_INPUT) {
            file = stdin;
        } else if (path == HLY_FILE_STANDARD_OUTPUT) {
            file = stdout;
        } else {
            file = stderr;
        }
    } else if (!(mode & HLY_FILE_OPEN_MODE_WRITE)) {
        file = fopen(path, "rb");
    } else if (mode & HLY_FILE_OPEN_MODE_APPEND) {
        file = fopen(path, "a+b");
    } else if (!(mode & (HLY_FILE_OPEN_MODE_CREATE | HLY_FILE_OPEN_MODE_TRUNCATE))) {
        file = fopen(path, "r+b");
    } else if (!(mode & HLY_FILE_OPEN_MODE_TRUNCATE)) {
        // create when missing, but keep what an existing file holds
        int fd = open(path, O_RDWR | O_CREAT, 0666);
        if (fd >= 0) {
            file = fdopen(fd, "r+b");
            if (file == nullptr) {
                int error = errno;
                close(fd);
                errno = error;
            }
        }
    } else {
        file = fopen(path, "w+b");
    }
    if (file == nullptr) {
        int error = errno;
        HLY_LOG_FINE("cannot open %s (errno %d)", path.GetChars(), error);
        return MapErrno(error);
    }
    if (mode & HLY_FILE_OPEN_MODE_UNBUFFERED) setvbuf(file, nullptr, _IONBF, 0);

    m_FileReference = HLY_StdcFileReference(new HLY_StdcFileHandle(file, m_Delegator.IsSpecial()));
    m_Mode          = mode;
    return HLY_SUCCESS;
}

HLY_Result HLY_PosixFile::Close()
{
    m_FileReference.Release();
    m_Mode = 0;
    return HLY_SUCCESS;
}

HLY_Result HLY_PosixFile::GetInputStream(HLY_InputStreamReference& stream)
{
    if (m_FileReference.IsNull()) return HLY_ERROR_FILE_NOT_OPEN;
    if (!(m_Mode & HLY_FILE_OPEN_MODE_READ)) return HLY_ERROR_FILE_NOT_READABLE;
    stream = HLY_InputStreamReference(new HLY_StdcFileInputStream(m_FileReference));
    return HLY_SUCCESS;
}

HLY_Result HLY_PosixFile::GetOutputStream(HLY_OutputStreamReference& stream)
{
    if (m_FileReference.IsNull()) return HLY_ERROR_FILE_NOT_OPEN;
    if (!(m_Mode & HLY_FILE_OPEN_MODE_WRITE)) return HLY_ERROR_FILE_NOT_WRITABLE;
    stream = HLY_OutputStreamReference(new HLY_StdcFileOutputStream(m_FileReference));
    return HLY_SUCCESS;
}

HLY_Result HLY_PosixFile::GetInfo(const char* path, HLY_FileInfo* info)
{
    struct stat status;
    if (stat(path, &status) != 0) return MapErrno(errno);
    if (info == nullptr) return HLY_SUCCESS;

    if (S_ISREG(status.st_mode)) {
        info->m_Type = HLY_FileInfo::FILE_TYPE_REGULAR;
    } else if (S_ISDIR(status.st_mode)) {
        info->m_Type = HLY_FileInfo::FILE_TYPE_DIRECTORY;
    } else {
        info->m_Type = HLY_FileInfo::FILE_TYPE_OTHER;
    }
    info->m_Size       = (HLY_LargeSize)status.st_size;
    info->m_Attributes = 0;
    if (!(status.st_mode & S_IWUSR)) info->m_Attributes |= HLY_FILE_ATTRIBUTE_READ_ONLY;
    struct stat link_status;
    if (lstat(path, &link_status) == 0 && S_ISLNK(link_status.st_mode)) {
        info->m_Attributes |= HLY_FILE_ATTRIBUTE_LINK;
    }
    info->m_CreationTime = HLY_TimeStamp::FromNanos((HLY_Int64)status.st_ctim.tv_sec * 1000000000 +
                                                    status.st_ctim.tv_nsec);
    info->m_ModificationTime = HLY_TimeStamp::FromNanos((HLY_Int64)status.st_mtim.tv_sec * 1000000000 +
                                                        status.st_mtim.tv_nsec);
    return HLY_SUCCESS;
}

HLY_Result HLY_PosixFile::ListDir(const char* path, HLY_List<HLY_String>& entries)
{
    entries.Clear();
    DIR* directory = opendir(path);
    if (directory == nullptr) return MapErrno(errno);
    HLY_Result result = HLY_SUCCESS;
    for (;;) {
        errno               = 0;
        struct dirent* entry = readdir(directory);
        if (entry == nullptr) {
            if (errno) result = MapErrno(errno);
            break;
        }
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        entries.Add(HLY_String(name));
    }
    closedir(directory);
    if (HLY_FAILED(result)) entries.Clear();
    return result;
}

HLY_Result HLY_PosixFile::Rename(const char* from, const char* to)
{
    if (rename(from, to) != 0) return MapErrno(errno);
    return HLY_SUCCESS;
}

HLY_Result HLY_PosixFile::Remove(const char* path)
{
    // remove() unlinks files and removes empty directories
    if (remove(path) != 0) return MapErrno(errno);
    return HLY_SUCCESS;
}

HLY_Result HLY_PosixFile::CreateDir(const char* path)
{
    if (mkdir(path, 0777) != 0) return MapErrno(errno);
    return HLY_SUCCESS;
}
