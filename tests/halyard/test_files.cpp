#include <gtest/gtest.h>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <string>
#include <unistd.h>

#include "hlybufferedstreams.h"
#include "hlyfile.h"
#include "hlylogging.h"
#include "../../halyard/system/posix/hlyposixfile.h"
#include "../testsupport.h"

namespace {

// every test gets a fresh temporary directory and removes it afterwards
class Files : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_Temp.Ok()); }

    HLY_String Path(const char* name) const { return HLY_FilePath::Create(m_Dir.c_str(), name); }

    static HLY_Result WriteFile(const char* path, const std::string& data, HLY_Flags mode)
    {
        HLY_File file(path);
        HLY_CHECK(file.Open(mode));
        HLY_OutputStreamReference output;
        HLY_CHECK(file.GetOutputStream(output));
        HLY_CHECK(output->WriteFully(data.data(), (HLY_Size)data.size()));
        return output->Flush();
    }
    static std::string ReadFile(const char* path)
    {
        HLY_DataBuffer buffer;
        HLY_Result     result = HLY_File::Load(path, buffer);
        if (HLY_FAILED(result)) return std::string("<") + HLY_ResultText(result) + ">";
        return std::string((const char*)buffer.GetData(), buffer.GetDataSize());
    }

    testsupport::TempDir m_Temp{"hly-files"};
    const std::string&   m_Dir = m_Temp.Path();
};

const HLY_Flags WRITE_NEW = HLY_FILE_OPEN_MODE_WRITE | HLY_FILE_OPEN_MODE_CREATE | HLY_FILE_OPEN_MODE_TRUNCATE;

} // namespace

TEST_F(Files, CreateWriteAndReadBack)
{
    HLY_String path = Path("a.txt");
    HLY_File   missing(path);
    EXPECT_EQ(missing.Open(HLY_FILE_OPEN_MODE_READ), HLY_ERROR_NO_SUCH_FILE);
    // write only, without create: the file must exist
    EXPECT_EQ(missing.Open(HLY_FILE_OPEN_MODE_WRITE), HLY_ERROR_NO_SUCH_FILE);

    ASSERT_EQ(WriteFile(path, "hello\r\nworld", HLY_FILE_OPEN_MODE_WRITE | HLY_FILE_OPEN_MODE_CREATE), HLY_SUCCESS);
    EXPECT_EQ(ReadFile(path), "hello\r\nworld");

    HLY_FileInfo info;
    ASSERT_EQ(HLY_File::GetInfo(path, &info), HLY_SUCCESS);
    EXPECT_EQ(info.m_Type, HLY_FileInfo::FILE_TYPE_REGULAR);
    EXPECT_EQ(info.m_Size, 12u);
    EXPECT_GT(info.m_ModificationTime.ToSeconds(), 1500000000);
    HLY_LargeSize size = 0;
    ASSERT_EQ(HLY_File::GetSize(path, size), HLY_SUCCESS);
    EXPECT_EQ(size, 12u);
    EXPECT_TRUE(HLY_File::Exists(path));

    // lines of a file through the buffered reader
    HLY_File file(path);
    ASSERT_EQ(file.Open(HLY_FILE_OPEN_MODE_READ), HLY_SUCCESS);
    HLY_InputStreamReference input;
    ASSERT_EQ(file.GetInputStream(input), HLY_SUCCESS);
    HLY_BufferedInputStream lines(input);
    HLY_String              line;
    ASSERT_EQ(lines.ReadLine(line), HLY_SUCCESS);
    EXPECT_EQ(line, "hello");
    ASSERT_EQ(lines.ReadLine(line), HLY_SUCCESS);
    EXPECT_EQ(line, "world");
    EXPECT_EQ(lines.ReadLine(line), HLY_ERROR_EOS);
}

TEST_F(Files, OpenModesTruncateAppendAndKeep)
{
    HLY_String path = Path("modes.bin");
    ASSERT_EQ(WriteFile(path, "0123456789", WRITE_NEW), HLY_SUCCESS);

    ASSERT_EQ(WriteFile(path, "abc", HLY_FILE_OPEN_MODE_WRITE | HLY_FILE_OPEN_MODE_APPEND), HLY_SUCCESS);
    EXPECT_EQ(ReadFile(path), "0123456789abc");

    // plain write overwrites in place from the start
    ASSERT_EQ(WriteFile(path, "XY", HLY_FILE_OPEN_MODE_WRITE), HLY_SUCCESS);
    EXPECT_EQ(ReadFile(path), "XY23456789abc");

    // create without truncate keeps an existing file's bytes
    ASSERT_EQ(WriteFile(path, "Q", HLY_FILE_OPEN_MODE_WRITE | HLY_FILE_OPEN_MODE_CREATE), HLY_SUCCESS);
    EXPECT_EQ(ReadFile(path), "QY23456789abc");

    ASSERT_EQ(WriteFile(path, "new", WRITE_NEW), HLY_SUCCESS);
    EXPECT_EQ(ReadFile(path), "new");

    ASSERT_EQ(WriteFile(path, "!", WRITE_NEW | HLY_FILE_OPEN_MODE_UNBUFFERED), HLY_SUCCESS);
    EXPECT_EQ(ReadFile(path), "!");
}

TEST_F(Files, OpenStateAndStreamRights)
{
    HLY_String path = Path("state");
    ASSERT_EQ(WriteFile(path, "data", WRITE_NEW), HLY_SUCCESS);

    HLY_File                  file(path);
    HLY_InputStreamReference  input;
    HLY_OutputStreamReference output;
    EXPECT_EQ(file.GetInputStream(input), HLY_ERROR_FILE_NOT_OPEN);
    EXPECT_EQ(file.GetOutputStream(output), HLY_ERROR_FILE_NOT_OPEN);

    ASSERT_EQ(file.Open(HLY_FILE_OPEN_MODE_READ), HLY_SUCCESS);
    EXPECT_EQ(file.Open(HLY_FILE_OPEN_MODE_READ), HLY_ERROR_FILE_ALREADY_OPEN);
    EXPECT_EQ(file.GetOutputStream(output), HLY_ERROR_FILE_NOT_WRITABLE);
    EXPECT_TRUE(output.IsNull());
    ASSERT_EQ(file.GetInputStream(input), HLY_SUCCESS);

    // the stream keeps the file open after the file object lets go of it
    file.Close();
    EXPECT_EQ(file.GetInputStream(input), HLY_ERROR_FILE_NOT_OPEN);
    char bytes[8];
    HLY_Size count = 0;
    ASSERT_EQ(input->Read(bytes, sizeof(bytes), &count), HLY_SUCCESS);
    EXPECT_EQ(std::string(bytes, count), "data");
    EXPECT_EQ(input->Read(bytes, sizeof(bytes), &count), HLY_ERROR_EOS);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(input->Read(nullptr, 4, &count), HLY_ERROR_INVALID_PARAMETERS);

    ASSERT_EQ(file.Open(HLY_FILE_OPEN_MODE_WRITE), HLY_SUCCESS);
    EXPECT_EQ(file.GetInputStream(input), HLY_ERROR_FILE_NOT_READABLE);
}

TEST_F(Files, StreamsSeekTellAndSizes)
{
    HLY_String path = Path("seek.bin");
    HLY_File   file(path);
    ASSERT_EQ(file.Open(HLY_FILE_OPEN_MODE_READ | WRITE_NEW), HLY_SUCCESS);
    HLY_InputStreamReference  input;
    HLY_OutputStreamReference output;
    ASSERT_EQ(file.GetInputStream(input), HLY_SUCCESS);
    ASSERT_EQ(file.GetOutputStream(output), HLY_SUCCESS);

    ASSERT_EQ(output->WriteFully("0123456789", 10), HLY_SUCCESS);
    // written bytes still in the C buffer count toward the size
    HLY_LargeSize size = 0;
    ASSERT_EQ(input->GetSize(size), HLY_SUCCESS);
    EXPECT_EQ(size, 10u);

    HLY_Position position = 0;
    ASSERT_EQ(output->Tell(position), HLY_SUCCESS);
    EXPECT_EQ(position, 10u);
    ASSERT_EQ(input->Seek(3), HLY_SUCCESS);
    char bytes[4];
    ASSERT_EQ(input->ReadFully(bytes, 4), HLY_SUCCESS);
    EXPECT_EQ(std::string(bytes, 4), "3456");
    HLY_LargeSize available = 0;
    ASSERT_EQ(input->GetAvailable(available), HLY_SUCCESS);
    EXPECT_EQ(available, 3u);

    // a write right after a read, and a read right after a write, on the shared file
    ASSERT_EQ(output->WriteFully("AB", 2), HLY_SUCCESS);
    ASSERT_EQ(input->ReadFully(bytes, 1), HLY_SUCCESS);
    EXPECT_EQ(bytes[0], '9');
    ASSERT_EQ(input->Seek(0), HLY_SUCCESS);
    char all[10];
    ASSERT_EQ(input->ReadFully(all, 10), HLY_SUCCESS);
    EXPECT_EQ(std::string(all, 10), "0123456AB9");

    ASSERT_EQ(input->Seek(20), HLY_SUCCESS); // past the end is allowed...
    EXPECT_EQ(input->GetAvailable(available), HLY_FAILURE); // ...but nothing is available there
    EXPECT_EQ(input->Read(bytes, 1), HLY_ERROR_EOS);

    // the whole file through Load
    ASSERT_EQ(input->Seek(0), HLY_SUCCESS);
    HLY_DataBuffer buffer;
    ASSERT_EQ(input->Load(buffer), HLY_SUCCESS);
    EXPECT_EQ(buffer.GetDataSize(), 10u);
}

TEST_F(Files, CopyBetweenFiles)
{
    std::string data;
    for (int i = 0; i < 300000; ++i) data.push_back((char)(i * 7));
    HLY_String from = Path("from");
    HLY_String to   = Path("to");
    ASSERT_EQ(WriteFile(from, data, WRITE_NEW), HLY_SUCCESS);

    HLY_File source(from), target(to);
    ASSERT_EQ(source.Open(HLY_FILE_OPEN_MODE_READ), HLY_SUCCESS);
    ASSERT_EQ(target.Open(WRITE_NEW), HLY_SUCCESS);
    HLY_InputStreamReference  input;
    HLY_OutputStreamReference output;
    ASSERT_EQ(source.GetInputStream(input), HLY_SUCCESS);
    ASSERT_EQ(target.GetOutputStream(output), HLY_SUCCESS);
    HLY_LargeSize written = 0;
    ASSERT_EQ(HLY_StreamToStreamCopy(*input, *output, 0, 0, &written), HLY_SUCCESS);
    EXPECT_EQ(written, data.size());
    ASSERT_EQ(output->Flush(), HLY_SUCCESS);
    EXPECT_EQ(ReadFile(to), data);
}

TEST_F(Files, RenameRemoveAndDirectories)
{
    HLY_String a = Path("a");
    HLY_String b = Path("b");
    ASSERT_EQ(WriteFile(a, "moved", WRITE_NEW), HLY_SUCCESS);
    ASSERT_EQ(HLY_File::Rename(a, b), HLY_SUCCESS);
    EXPECT_FALSE(HLY_File::Exists(a));
    EXPECT_EQ(ReadFile(b), "moved");
    EXPECT_EQ(HLY_File::Rename(a, b), HLY_ERROR_NO_SUCH_FILE);
    EXPECT_EQ(HLY_File::Rename(b, Path("nowhere/b")), HLY_ERROR_NO_SUCH_FILE);

    HLY_String dir = Path("sub");
    ASSERT_EQ(HLY_File::CreateDir(dir), HLY_SUCCESS);
    EXPECT_EQ(HLY_File::CreateDir(dir), HLY_ERROR_FILE_ALREADY_EXISTS);
    ASSERT_EQ(HLY_File::Rename(b, HLY_FilePath::Create(dir, "b")), HLY_SUCCESS);
    EXPECT_EQ(HLY_File::Remove(dir), HLY_ERROR_DIRECTORY_NOT_EMPTY);
    ASSERT_EQ(HLY_File::Remove(HLY_FilePath::Create(dir, "b")), HLY_SUCCESS);
    ASSERT_EQ(HLY_File::Remove(dir), HLY_SUCCESS);
    EXPECT_FALSE(HLY_File::Exists(dir));
    EXPECT_EQ(HLY_File::Remove(dir), HLY_ERROR_NO_SUCH_FILE);
}

TEST_F(Files, ListAndInspectDirectories)
{
    HLY_String dir = Path("list");
    ASSERT_EQ(HLY_File::CreateDir(dir), HLY_SUCCESS);
    HLY_List<HLY_String> entries;
    ASSERT_EQ(HLY_File::ListDir(dir, entries), HLY_SUCCESS);
    EXPECT_EQ(entries.GetItemCount(), 0u);

    ASSERT_EQ(WriteFile(HLY_FilePath::Create(dir, "one.txt"), "1", WRITE_NEW), HLY_SUCCESS);
    ASSERT_EQ(WriteFile(HLY_FilePath::Create(dir, ".hidden"), "22", WRITE_NEW), HLY_SUCCESS);
    ASSERT_EQ(HLY_File::CreateDir(HLY_FilePath::Create(dir, "inner")), HLY_SUCCESS);

    ASSERT_EQ(HLY_File::ListDir(dir, entries), HLY_SUCCESS);
    std::set<std::string> names;
    for (auto it = entries.GetFirstItem(); it; ++it) names.insert(it->GetChars());
    EXPECT_EQ(names, (std::set<std::string>{"one.txt", ".hidden", "inner"}));

    HLY_LargeSize size = 0;
    ASSERT_EQ(HLY_File::GetSize(dir, size), HLY_SUCCESS);
    EXPECT_EQ(size, 3u);

    HLY_FileInfo info;
    ASSERT_EQ(HLY_File::GetInfo(dir + "/", &info), HLY_SUCCESS); // a trailing separator is fine
    EXPECT_EQ(info.m_Type, HLY_FileInfo::FILE_TYPE_DIRECTORY);
    ASSERT_EQ(HLY_File::GetInfo("/", &info), HLY_SUCCESS);
    EXPECT_EQ(info.m_Type, HLY_FileInfo::FILE_TYPE_DIRECTORY);
    ASSERT_EQ(HLY_File::GetInfo("/dev/null", &info), HLY_SUCCESS);
    EXPECT_EQ(info.m_Type, HLY_FileInfo::FILE_TYPE_OTHER);
    ASSERT_EQ(HLY_File::GetInfo(HLY_FilePath::Create(dir, ".hidden"), &info), HLY_SUCCESS);
    EXPECT_EQ(info.m_Size, 2u);
}

TEST_F(Files, ErrorsForMissingAndMisusedPaths)
{
    HLY_String     missing = Path("missing");
    HLY_FileInfo   info;
    HLY_LargeSize  size = 0;
    HLY_DataBuffer buffer;
    HLY_List<HLY_String> entries;
    EXPECT_EQ(HLY_File::GetInfo(missing, &info), HLY_ERROR_NO_SUCH_FILE);
    EXPECT_EQ(HLY_File::GetSize(missing, size), HLY_ERROR_NO_SUCH_FILE);
    EXPECT_EQ(HLY_File::Load(missing, buffer), HLY_ERROR_NO_SUCH_FILE);
    EXPECT_EQ(HLY_File::ListDir(missing, entries), HLY_ERROR_NO_SUCH_FILE);
    HLY_File in_missing_dir(HLY_FilePath::Create(missing, "x"));
    EXPECT_EQ(in_missing_dir.Open(WRITE_NEW), HLY_ERROR_NO_SUCH_FILE);

    // a regular file used as a directory
    HLY_String plain = Path("plain");
    ASSERT_EQ(WriteFile(plain, "x", WRITE_NEW), HLY_SUCCESS);
    EXPECT_EQ(HLY_File::ListDir(plain, entries), HLY_ERROR_FILE_NOT_DIRECTORY);
    HLY_File below_file(HLY_FilePath::Create(plain, "x"));
    EXPECT_EQ(below_file.Open(HLY_FILE_OPEN_MODE_READ), HLY_ERROR_FILE_NOT_DIRECTORY);
    EXPECT_EQ(HLY_File::CreateDir(HLY_FilePath::Create(plain, "d")), HLY_ERROR_FILE_NOT_DIRECTORY);

    // a name longer than the platform allows
    HLY_String long_name = Path(std::string(300, 'n').c_str());
    EXPECT_EQ(HLY_File::GetInfo(long_name, &info), HLY_ERROR_INVALID_PARAMETERS);

    // reading a directory as a file fails with the platform's own number
    HLY_String dir = Path("dir");
    ASSERT_EQ(HLY_File::CreateDir(dir), HLY_SUCCESS);
    EXPECT_EQ(HLY_File::Load(dir, buffer), HLY_ERROR_ERRNO(EISDIR));
}

TEST(FileErrors, ErrnoMapping)
{
    struct Row { int error; HLY_Result file; HLY_Result stream; };
    const Row rows[] = {
        {EPERM, HLY_ERROR_PERMISSION_DENIED, HLY_ERROR_PERMISSION_DENIED},
        {EACCES, HLY_ERROR_PERMISSION_DENIED, HLY_ERROR_PERMISSION_DENIED},
        {ENOENT, HLY_ERROR_NO_SUCH_FILE, HLY_ERROR_NO_SUCH_FILE},
        {EBUSY, HLY_ERROR_FILE_BUSY, HLY_ERROR_FILE_BUSY},
        {EEXIST, HLY_ERROR_FILE_ALREADY_EXISTS, HLY_ERROR_ERRNO(EEXIST)},
        {ENOTDIR, HLY_ERROR_FILE_NOT_DIRECTORY, HLY_ERROR_FILE_NOT_DIRECTORY},
        {ENOSPC, HLY_ERROR_FILE_NOT_ENOUGH_SPACE, HLY_ERROR_ERRNO(ENOSPC)},
        {EROFS, HLY_ERROR_FILE_NOT_WRITABLE, HLY_ERROR_FILE_NOT_WRITABLE},
        {ENAMETOOLONG, HLY_ERROR_INVALID_PARAMETERS, HLY_ERROR_INVALID_PARAMETERS},
        {ENOTEMPTY, HLY_ERROR_DIRECTORY_NOT_EMPTY, HLY_ERROR_ERRNO(ENOTEMPTY)},
        {EIO, HLY_ERROR_ERRNO(EIO), HLY_ERROR_ERRNO(EIO)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.error);
        EXPECT_EQ(HLY_PosixFile::MapErrno(row.error), row.file);
        EXPECT_EQ(HLY_PosixFile::MapErrno(row.error, true), row.stream);
    }
    EXPECT_EQ(HLY_ERROR_ERRNO(EIO), -22000 - EIO);
}

TEST(FileSpecial, StandardStreamsAreNeverClosed)
{
    HLY_FileInfo info;
    ASSERT_EQ(HLY_File::GetInfo(HLY_FILE_STANDARD_OUTPUT, &info), HLY_SUCCESS);
    EXPECT_EQ(info.m_Type, HLY_FileInfo::FILE_TYPE_SPECIAL);
    EXPECT_EQ(info.m_Size, 0u);
    {
        HLY_File error(HLY_FILE_STANDARD_ERROR);
        EXPECT_TRUE(error.IsSpecial());
        ASSERT_EQ(error.Open(HLY_FILE_OPEN_MODE_WRITE), HLY_SUCCESS);
        HLY_OutputStreamReference output;
        ASSERT_EQ(error.GetOutputStream(output), HLY_SUCCESS);
        EXPECT_EQ(output->Flush(), HLY_SUCCESS);
    }
    // the stream and the file are gone; the process's stderr is still open
    EXPECT_NE(fcntl(STDERR_FILENO, F_GETFD), -1);
    EXPECT_NE(fileno(stderr), -1);
    EXPECT_FALSE(HLY_File("@stdin").IsSpecial()); // names are exact
}

TEST(FilePath, SplitAndJoin)
{
    EXPECT_EQ(HLY_FilePath::FileExtension("dir/name.tar.gz"), ".gz");
    EXPECT_EQ(HLY_FilePath::FileExtension("dir/name"), "");
    EXPECT_EQ(HLY_FilePath::FileExtension("dir.d/name"), ""); // a dot in a directory is no extension
    EXPECT_EQ(HLY_FilePath::BaseName("/a/b/c.txt"), "c.txt");
    EXPECT_EQ(HLY_FilePath::BaseName("/a/b/c.txt", false), "c");
    EXPECT_EQ(HLY_FilePath::BaseName("/a/b/"), "");
    EXPECT_EQ(HLY_FilePath::BaseName("plain"), "plain");
    EXPECT_EQ(HLY_FilePath::DirName("/a/b/c.txt"), "/a/b");
    EXPECT_EQ(HLY_FilePath::DirName("/top"), "/");
    EXPECT_EQ(HLY_FilePath::DirName("plain"), "");
    EXPECT_EQ(HLY_FilePath::Create("/a", "b"), "/a/b");
    EXPECT_EQ(HLY_FilePath::Create("/a/", "b"), "/a/b");
    EXPECT_EQ(HLY_FilePath::Create("/a", "/b"), "/a/b");
    EXPECT_EQ(HLY_FilePath::Create("/a/", "/b"), "/a/b");
    EXPECT_EQ(HLY_FilePath::Create("", "b"), "b");
    EXPECT_EQ(HLY_FilePath::Create("/a", ""), "/a");
}
