#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "../halyard/http_raw_client.h"
#include "../halyard/http_test_handlers.h"
#include "CvdHttpServer.h"
#include "CvdProtocolInfo.h"
#include "hlydates.h"
#include "hlysystem.h"

namespace {

// a media root with files, a secret beside it and links that lead out
class MediaRoot
{
public:
    MediaRoot()
    {
        char pattern[] = "/tmp/beaconry-serve-XXXXXX";
        m_Top          = mkdtemp(pattern);
        m_Root         = m_Top + "/media";
        mkdir(m_Root.c_str(), 0700);
        mkdir((m_Root + "/sub").c_str(), 0700);
        for (int i = 0; i < 1000; ++i) m_Song += (char)('a' + i % 26);
        Write(m_Root + "/song.mp3", m_Song);
        Write(m_Root + "/sub/clip.mov", "movie");
        Write(m_Root + "/my song.mp3", "spaced");
        Write(m_Top + "/secret.txt", "secret");
        EXPECT_EQ(symlink("../secret.txt", (m_Root + "/escape").c_str()), 0);
        EXPECT_EQ(symlink("..", (m_Root + "/up").c_str()), 0);
    }
    ~MediaRoot()
    {
        std::string command = "rm -rf '" + m_Top + "'";
        EXPECT_EQ(system(command.c_str()), 0);
    }
    static void Write(const std::string& path, const std::string& data) { std::ofstream(path) << data; }

    std::string m_Top, m_Root, m_Song;
};

std::string Get(const std::string& path, const std::string& headers = "")
{
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n";
}

} // namespace

TEST(CvdServeFile, ResolvesInsideTheRootOnly)
{
    MediaRoot media;
    struct Case {
        const char* url_path;
        HLY_Result  result;
        const char* file; // below the root, when resolved
    } cases[] = {
        {"/song.mp3", HLY_SUCCESS, "/song.mp3"},
        {"/sub/clip.mov", HLY_SUCCESS, "/sub/clip.mov"},
        {"/my%20song.mp3", HLY_SUCCESS, "/my song.mp3"},
        {"/./sub//clip.mov", HLY_SUCCESS, "/./sub//clip.mov"},
        {"/missing.mp3", HLY_SUCCESS, "/missing.mp3"},
        {"/../secret.txt", HLY_ERROR_PERMISSION_DENIED, nullptr},
        {"/sub/../../secret.txt", HLY_ERROR_PERMISSION_DENIED, nullptr},
        {"/..", HLY_ERROR_PERMISSION_DENIED, nullptr},
        {"/%2e%2e/secret.txt", HLY_ERROR_PERMISSION_DENIED, nullptr},
        {"/%2E%2E%2Fsecret.txt", HLY_ERROR_PERMISSION_DENIED, nullptr},
        {"/sub%2fclip.mov", HLY_ERROR_PERMISSION_DENIED, nullptr},
        {"/%252e%252e/secret.txt", HLY_SUCCESS, "/%2e%2e/secret.txt"},
        {"/..%5csecret.txt", HLY_ERROR_PERMISSION_DENIED, nullptr},
        {"/sub\\..\\..\\secret.txt", HLY_ERROR_PERMISSION_DENIED, nullptr},
        {"/song.mp3%00.txt", HLY_ERROR_PERMISSION_DENIED, nullptr},
        {"/escape", HLY_ERROR_PERMISSION_DENIED, nullptr},
        {"/up/secret.txt", HLY_ERROR_PERMISSION_DENIED, nullptr},
    };
    for (const Case& c : cases) {
        HLY_String path = "unchanged";
        EXPECT_EQ(CVD_HttpServer::ResolveFilePath(media.m_Root.c_str(), c.url_path, path), c.result) << c.url_path;
        if (c.file) {
            EXPECT_EQ(std::string(path.GetChars()), media.m_Root + c.file) << c.url_path;
        } else {
            EXPECT_TRUE(path.IsEmpty()) << c.url_path;
        }
    }

    // ServeFile itself refuses climbing paths even to a file that exists
    HLY_HttpRequest        request("http://127.0.0.1/x", "GET");
    HLY_HttpRequestContext context;
    const std::string      refused[] = {media.m_Root + "/sub/../song.mp3", media.m_Root + "\\..\\song.mp3",
                                        media.m_Root + "/sub"};
    for (const std::string& path : refused) {
        HLY_HttpResponse response(200, "OK", "HTTP/1.1");
        response.SetEntity(new HLY_HttpEntity());
        EXPECT_EQ(CVD_HttpServer::ServeFile(request, context, response, path.c_str()), HLY_ERROR_NO_SUCH_ITEM) << path;
    }
}

// Over the wire: MIME types, DLNA headers, ranges and modification dates.
TEST(CvdServeFile, ServesWithTypesDlnaHeadersAndRanges)
{
    MediaRoot      media;
    std::string    root = media.m_Root;
    CVD_HttpServer server;
    server.AddRequestHandler(
        new FunctionHandler([root](HLY_HttpRequest& request, const HLY_HttpRequestContext& context,
                                   HLY_HttpResponse& response) {
            HLY_String path;
            HLY_CHECK(CVD_HttpServer::ResolveFilePath(root.c_str(),
                                                      request.GetUrl().GetPath().GetChars() + strlen("/media"), path));
            return CVD_HttpServer::ServeFile(request, context, response, path);
        }),
        "/media", true, true);
    ASSERT_EQ(server.Start(), HLY_SUCCESS);

    HLY_TimeStamp now;
    HLY_System::GetCurrentTimeStamp(now);
    std::string future = HLY_DateTime(now + HLY_TimeStamp::FromSeconds(3600)).ToString(HLY_DateTime::FORMAT_RFC_1123).GetChars();
    std::string past = "Sun, 06 Nov 1994 08:49:37 GMT";
    std::string mp3_features = CVD_ProtocolInfo::GetDlnaExtension("audio/mpeg", CVD_DEVICE_UNKNOWN);

    struct Case {
        std::string path, headers;
        int         status;
        std::string type, body;
        std::vector<std::pair<std::string, std::string>> expect; // header values; "" = must be absent
    } cases[] = {
        {"/media/song.mp3", "", 200, "audio/mpeg", media.m_Song,
         {{"Accept-Ranges", "bytes"}, {"TransferMode.DLNA.ORG", "Streaming"},
          {"Cache-Control", "max-age=0,must-revalidate"}, {"ContentFeatures.DLNA.ORG", ""}}},
        {"/media/song.mp3", "getcontentFeatures.dlna.org: 1\r\ntransferMode.dlna.org: Interactive\r\n", 200,
         "audio/mpeg", media.m_Song,
         {{"ContentFeatures.DLNA.ORG", mp3_features}, {"TransferMode.DLNA.ORG", "Interactive"}}},
        {"/media/song.mp3", "Range: bytes=10-19\r\n", 206, "audio/mpeg", media.m_Song.substr(10, 10),
         {{"Content-Range", "bytes 10-19/1000"}}},
        {"/media/song.mp3", "Range: bytes=-5\r\n", 206, "audio/mpeg", media.m_Song.substr(995), {}},
        {"/media/song.mp3", "TimeSeekRange.dlna.org: npt=10-\r\n", 406, "", "", {}},
        {"/media/song.mp3", "If-Modified-Since: " + future + "\r\n", 304, "", "", {}},
        {"/media/song.mp3", "If-Modified-Since: " + past + "\r\n", 200, "audio/mpeg", media.m_Song, {}},
        // a range makes the date irrelevant
        {"/media/song.mp3", "If-Modified-Since: " + future + "\r\nRange: bytes=0-0\r\n", 206, "audio/mpeg", "a", {}},
        {"/media/sub/clip.mov", "User-Agent: PLAYSTATION 3\r\n", 200, "video/mp4", "movie", {}},
        {"/media/sub/clip.mov", "", 200, "video/quicktime", "movie", {}},
        {"/media/my%20song.mp3", "", 200, "audio/mpeg", "spaced", {}},
        {"/media/missing.mp3", "", 404, "", "", {}},
        {"/media/sub", "", 404, "", "", {}},
        {"/media/%2e%2e/secret.txt", "", 403, "", "", {}},
        {"/media/escape", "", 403, "", "", {}},
        {"/media/up/secret.txt", "", 403, "", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " " + c.headers);
        RawConnection connection(server.GetPort());
        ASSERT_TRUE(connection.Send(Get(c.path, c.headers)));
        RawResponse response;
        ASSERT_TRUE(connection.ReadResponse(response, c.status != 304));
        EXPECT_EQ(response.status, c.status);
        if (!c.type.empty()) {
            EXPECT_EQ(response.Header("Content-Type"), c.type);
        }
        if (c.status == 200 || c.status == 206) {
            EXPECT_EQ(response.body, c.body);
            EXPECT_TRUE(response.Has("Last-Modified"));
        } else {
            EXPECT_EQ(response.body.find("secret"), std::string::npos);
        }
        for (const auto& header : c.expect) {
            if (header.second.empty()) {
                EXPECT_FALSE(response.Has(header.first.c_str())) << header.first;
            } else {
                EXPECT_EQ(response.Header(header.first.c_str()), header.second) << header.first;
            }
        }
    }
    server.Stop();
}

TEST(CvdServeFile, StreamsNeedAStreamAndAnEntity)
{
    HLY_HttpRequest          request("http://127.0.0.1/x", "GET");
    HLY_HttpRequestContext   context;
    HLY_InputStreamReference none;
    HLY_HttpResponse         response(200, "OK", "HTTP/1.1");
    EXPECT_EQ(CVD_HttpServer::ServeStream(request, context, response, none, "audio/mpeg"), HLY_FAILURE);

    HLY_InputStreamReference stream(new HLY_MemoryStream("abc", 3));
    EXPECT_EQ(CVD_HttpServer::ServeStream(request, context, response, stream, "audio/mpeg"),
              HLY_ERROR_INVALID_PARAMETERS);
    response.SetEntity(new HLY_HttpEntity());
    EXPECT_EQ(CVD_HttpServer::ServeStream(request, context, response, stream, "audio/mpeg"), HLY_SUCCESS);
    EXPECT_STREQ(response.GetEntity()->GetContentType(), "audio/mpeg");
    EXPECT_EQ(response.GetEntity()->GetContentLength(), 3u);
    EXPECT_TRUE(response.GetHeaders().GetHeader("Date") != nullptr);
}
