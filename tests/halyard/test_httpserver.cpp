#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "http_raw_client.h"
#include "hlyhttpserver.h"
#include "../testsupport.h"
#include "http_test_handlers.h"

using namespace testsupport;

namespace {

std::string Get(const std::string& path, const std::string& extra = "", const char* protocol = "HTTP/1.0")
{
    return "GET " + path + " " + protocol + "\r\nHost: localhost\r\n" + extra + "\r\n";
}

// a scratch tree: base/secret.txt lies outside the served root base/root
class FileTree
{
public:
    FileTree() : m_Base(m_Temp.Path()), m_Root(m_Temp.MakeDir("root"))
    {
        m_Temp.MakeDir("root/sub");
        m_Temp.MakeDir("root/indexed");
        m_Temp.Write("secret.txt", "TOP SECRET");
        std::string thousand;
        for (int i = 0; i < 1000; ++i) thousand += (char)('A' + i % 26);
        m_Temp.Write("root/data.bin", thousand);
        m_Temp.Write("root/archive.ZIP", "PK");
        m_Temp.Write("root/README", "plain");
        m_Temp.Write("root/a b.txt", "spaced");
        m_Temp.Write("root/song.mp3", "ID3");
        m_Temp.Write("root/empty.txt", "");
        m_Temp.Write("root/sub/<b>&.txt", "x");
        // DEL, an overlong lead byte and its continuation, then a valid two-byte
        // sequence that ends the name
        m_Temp.Write("root/sub/\x7f\xc0\xaf.txt\xc3\xa9", "x");
        m_Temp.Write("root/indexed/index.html", "<p>index</p>");
    }
    TempDir     m_Temp{"hly-httpserver"};
    std::string m_Base, m_Root;
};

} // namespace

TEST(HttpServer, HandlerMatchingExactPrefixAndEncodedPath)
{
    LoopServer server;
    // the prefix record comes first; an exact record still wins for its own path
    server.Server().AddRequestHandler(TextHandler("prefix"), "/dir", true, true);
    server.Server().AddRequestHandler(TextHandler("exact"), "/dir/item", false, true);
    server.Server().AddRequestHandler(TextHandler("spaced"), "/with space", false, true);
    server.Start();

    EXPECT_EQ(RawAsk(server.Port(), Get("/dir/item")).body, "exact");
    EXPECT_EQ(RawAsk(server.Port(), Get("/dir/other")).body, "prefix");
    EXPECT_EQ(RawAsk(server.Port(), Get("/dir/item/child")).body, "prefix");
    EXPECT_EQ(RawAsk(server.Port(), Get("/with%20space")).body, "spaced");

    // an exact record does not cover children; paths compare with case
    for (const char* path : {"/with%20space/x", "/DIR/item", "/nothing"}) {
        RawResponse response = RawAsk(server.Port(), Get(path));
        EXPECT_EQ(response.status, 404) << path;
        EXPECT_EQ(response.Header("Server"), "Halyard/1.1.3");
        EXPECT_EQ(response.Header("Content-Type"), "text/html");
        EXPECT_EQ(response.Header("Content-Length"), std::to_string(response.body.size()));
        EXPECT_NE(response.body.find("<h1>Not Found</h1>"), std::string::npos);
    }

    // the engine's order: exact ones first, then prefixes in record order
    HLY_HttpRequest request("http://localhost/dir/item", "GET");
    HLY_List<HLY_HttpRequestHandler*> handlers = server.Server().FindRequestHandlers(request);
    EXPECT_EQ(handlers.GetItemCount(), 2u);
    EXPECT_EQ(*handlers.GetFirstItem(), server.Server().FindRequestHandler(request));
}

TEST(HttpServer, OneExchangePerConnectionAndHttp10CloseHeader)
{
    LoopServer server;
    server.Server().AddRequestHandler(
        new FunctionHandler([](HLY_HttpRequest&, const HLY_HttpRequestContext&, HLY_HttpResponse& response) {
            // a body whose length is not told: only the end of the connection ends it
            response.GetEntity()->SetInputStream(HLY_InputStreamReference(new HLY_MemoryStream("unsized", 7)), false);
            return HLY_SUCCESS;
        }),
        "/unsized", false, true);
    server.Server().AddRequestHandler(TextHandler("sized"), "/sized", false, true);
    server.Start();

    RawConnection connection(server.Port());
    RawResponse   response = connection.Ask(Get("/unsized"));
    EXPECT_EQ(response.protocol, "HTTP/1.0");
    EXPECT_EQ(response.Count("Connection"), 1);
    EXPECT_EQ(response.Header("Connection"), "close");
    EXPECT_FALSE(response.Has("Content-Length"));
    EXPECT_EQ(response.body, "unsized");

    // a kept-alive request still gets one exchange, and is told so
    RawConnection second(server.Port());
    response = second.Ask(Get("/sized", "Connection: keep-alive\r\n", "HTTP/1.1"));
    EXPECT_EQ(response.body, "sized");
    EXPECT_EQ(response.Header("Connection"), "close");
    EXPECT_TRUE(second.WaitClosed(2000));

    // HEAD: the head alone
    response = RawAsk(server.Port(), "HEAD /sized HTTP/1.0\r\n\r\n", false);
    EXPECT_EQ(response.Header("Content-Length"), "5");
}

TEST(HttpServer, PostBodyReachesHandlerThroughTheConnection)
{
    LoopServer         server;
    std::string        received;
    std::atomic<bool>  had_entity{false};
    server.Server().AddRequestHandler(
        new FunctionHandler([&](HLY_HttpRequest& request, const HLY_HttpRequestContext&, HLY_HttpResponse& response) {
            HLY_HttpEntity* entity = request.GetEntity();
            had_entity             = entity != nullptr;
            HLY_InputStreamReference body;
            if (entity && HLY_SUCCEEDED(entity->GetInputStream(body))) {
                HLY_String             text;
                HLY_StringOutputStream output(&text);
                HLY_StreamToStreamCopy(*body, output, 0, entity->GetContentLength());
                received = text.GetChars();
            }
            response.GetEntity()->SetInputStream("ok");
            return HLY_SUCCESS;
        }),
        "/post", false, true);
    server.Start();

    RawResponse response = RawAsk(server.Port(), "POST /post HTTP/1.0\r\nContent-Length: 5\r\n\r\nhello");
    EXPECT_EQ(response.status, 200);
    EXPECT_TRUE(had_entity);
    EXPECT_EQ(received, "hello");

    EXPECT_EQ(RawAsk(server.Port(), "POST /post HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2;x=y\r\nde\r\n0\r\n\r\n")
                  .status,
              200);
    EXPECT_EQ(received, "abcde");
}

TEST(HttpServer, FileHandlerRangesOnAThousandBytes)
{
    FileTree   tree;
    LoopServer server;
    server.Server().AddRequestHandler(new HLY_HttpFileRequestHandler("/", tree.m_Root.c_str()), "/", true, true);
    server.Start();

    std::string all;
    for (int i = 0; i < 1000; ++i) all += (char)('A' + i % 26);

    RawResponse response = RawAsk(server.Port(), Get("/data.bin"));
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.Header("Accept-Ranges"), "bytes");
    EXPECT_EQ(response.Header("Content-Length"), "1000");
    EXPECT_EQ(response.body, all);
    EXPECT_EQ(response.protocol, "HTTP/1.0");

    const RangeCase cases[] = {
        {"bytes=0-99", 206, "bytes 0-99/1000", 0, 100},
        {"bytes=-100", 206, "bytes 900-999/1000", 900, 100},
        {"bytes=900-", 206, "bytes 900-999/1000", 900, 100},
        {"bytes=990-1000", 206, "bytes 990-999/1000", 990, 10}, // an end equal to the size is the last byte
        {"bytes=0-0", 206, "bytes 0-0/1000", 0, 1},
        {"bytes=-5000", 206, "bytes 0-999/1000", 0, 1000},      // a suffix longer than the body is all of it
        {"bytes=1000-", 416, nullptr, 0, 0},
        {"bytes=5-2", 416, nullptr, 0, 0},
        {"bytes=0-1001", 206, "bytes 0-999/1000", 0, 1000},   // an end past the body means "to the end"
        {"bytes=500-99999999999", 206, "bytes 500-999/1000", 500, 500},
        {"bytes=-0", 416, nullptr, 0, 0},
        {"bytes=0-1,5-6", 416, "bytes */1000", 0, 0},
        {"items=0-5", 400, nullptr, 0, 0},
        {"bytes=5", 400, nullptr, 0, 0},
        {"bytes=-", 400, nullptr, 0, 0},
        {"bytes=x-5", 400, nullptr, 0, 0},
    };
    for (const RangeCase& c : cases) {
        response = RawAsk(server.Port(), Get("/data.bin", std::string("Range: ") + c.range + "\r\n", "HTTP/1.1"));
        EXPECT_EQ(response.status, c.status) << c.range;
        EXPECT_EQ(response.protocol, "HTTP/1.1") << c.range;
        // a known length, but still one exchange per connection
        EXPECT_EQ(response.Header("Connection"), "close") << c.range;
        if (c.content_range) {
            EXPECT_EQ(response.Header("Content-Range"), c.content_range) << c.range;
        } else {
            EXPECT_FALSE(response.Has("Content-Range")) << c.range;
        }
        if (c.status == 206) {
            EXPECT_EQ(response.body, all.substr(c.start, c.length)) << c.range;
            EXPECT_EQ(response.Header("Content-Length"), std::to_string(c.length)) << c.range;
        } else {
            EXPECT_EQ(response.body, "") << c.range;
        }
    }

    // an empty file has no range to give; it is served empty
    response = RawAsk(server.Port(), Get("/empty.txt", "Range: bytes=0-10\r\n"));
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.Header("Content-Length"), "0");
}

TEST(HttpServer, FileHandlerTypesMethodsAndMissingFiles)
{
    FileTree                    tree;
    LoopServer                  server;
    HLY_HttpFileRequestHandler* handler = new HLY_HttpFileRequestHandler("/files", tree.m_Root.c_str());
    server.Server().AddRequestHandler(handler, "/files", true, true);
    server.Start();

    struct Case {
        const char* path;
        const char* type;
    } cases[] = {{"/files/archive.ZIP", "application/zip"}, {"/files/README", "text/html"},
                 {"/files/song.mp3", "audio/mpeg"}, {"/files/a%20b.txt", "text/plain"}};
    RawResponse response;
    for (const Case& c : cases) {
        response = RawAsk(server.Port(), Get(c.path));
        EXPECT_EQ(response.status, 200) << c.path;
        EXPECT_EQ(response.Header("Content-Type"), c.type) << c.path;
    }
    EXPECT_EQ(response.body, "spaced");

    EXPECT_EQ(RawAsk(server.Port(), "POST /files/README HTTP/1.0\r\nContent-Length: 0\r\n\r\n").status, 405);
    response = RawAsk(server.Port(), "HEAD /files/README HTTP/1.0\r\n\r\n", false);
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.Header("Content-Length"), "5");
    EXPECT_EQ(response.body, "");
    EXPECT_EQ(RawAsk(server.Port(), Get("/files/missing.txt")).status, 404);
    // a device behind a link is no file to serve
    ASSERT_EQ(symlink("/dev/null", (tree.m_Root + "/device").c_str()), 0);
    EXPECT_EQ(RawAsk(server.Port(), Get("/files/device")).status, 403);
    // a directory without listings is forbidden
    response = RawAsk(server.Port(), Get("/files/sub"));
    EXPECT_EQ(response.status, 403);
    EXPECT_NE(response.body.find("<h1>Forbidden</h1>"), std::string::npos);

    // the table and the owner's map
    EXPECT_STREQ(HLY_HttpFileRequestHandler::GetDefaultContentType("JPG"), "image/jpeg");
    EXPECT_STREQ(HLY_HttpFileRequestHandler::GetDefaultContentType("xml"), "text/xml; charset=\"utf-8\"");
    EXPECT_EQ(HLY_HttpFileRequestHandler::GetDefaultContentType("nope"), nullptr);
    EXPECT_EQ(handler->GetContentType(".profile"), "text/html");
    EXPECT_EQ(handler->GetContentType("dir.v2/file"), "text/html");
    handler->GetFileTypeMap().Put("mp3", "audio/x-custom");
    EXPECT_EQ(handler->GetContentType("x/SONG.MP3"), "audio/x-custom");
    handler->SetUseDefaultFileTypeMap(false);
    handler->SetDefaultMimeType("application/octet-stream");
    EXPECT_EQ(handler->GetContentType("a.zip"), "application/octet-stream");
}

TEST(HttpServer, FileHandlerNeverServesOutsideItsRoot)
{
    FileTree   tree;
    LoopServer server;
    server.Server().AddRequestHandler(new HLY_HttpFileRequestHandler("/", tree.m_Root.c_str(), true), "/", true,
                                      true);
    server.Start();

    const char* attacks[] = {
        "/../secret.txt",        "/%2e%2e/secret.txt",     "/sub/../../secret.txt", "/sub/%2E%2E/%2e%2e/secret.txt",
        "/..%2fsecret.txt",      "/sub/..%5c..%5csecret.txt", "/..",                  "/sub/..",
        "/%2e%2e%2fsecret.txt",
    };
    for (const char* path : attacks) {
        RawResponse response = RawAsk(server.Port(), Get(path));
        EXPECT_EQ(response.status, 403) << path;
        EXPECT_EQ(response.body.find("TOP SECRET"), std::string::npos) << path;
    }
    // an escaped NUL stays escaped: no file of that name, nothing cut short
    EXPECT_EQ(RawAsk(server.Port(), Get("/data.bin%00.txt")).status, 404);
    // a name that merely contains dots is fine
    tree.m_Temp.Write("root/..hidden..", "dots");
    RawResponse response = RawAsk(server.Port(), Get("/..hidden.."));
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, "dots");
}

TEST(HttpServer, DirectoryListingAndIndexRedirect)
{
    FileTree   tree;
    LoopServer server;
    // prefixes are tried in the order they were added
    server.Server().AddRequestHandler(new HLY_HttpFileRequestHandler("/ix", tree.m_Root.c_str(), true, "index.html"),
                                      "/ix", true, true);
    server.Server().AddRequestHandler(new HLY_HttpFileRequestHandler("/", tree.m_Root.c_str(), true), "/", true,
                                      true);
    server.Start();

    RawResponse response = RawAsk(server.Port(), Get("/sub"));
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.Header("Content-Type"), "text/html");
    EXPECT_EQ(response.body.rfind("<html><head><title>Directory Listing for //sub</title>", 0), 0u) << response.body;
    // markup in a file name comes out as character references
    EXPECT_NE(response.body.find("<li><a href=\"/sub/&#x003C;b&#x003E;&#x0026;.txt\">&#x003C;b&#x003E;&#x0026;.txt</a>"),
              std::string::npos)
        << response.body;
    EXPECT_EQ(response.body.find("<b>"), std::string::npos);
    // bytes outside printable ASCII too; bytes of no valid sequence one by one
    EXPECT_NE(response.body.find(">&#x007F;&#x00C0;&#x00AF;.txt&#x00E9;</a>"), std::string::npos) << response.body;

    response = RawAsk(server.Port(), Get("/"));
    EXPECT_NE(response.body.find("<li><a href=\"/sub\">sub/</a><br>\r\n"), std::string::npos) << response.body;
    EXPECT_NE(response.body.find("<li><a href=\"/data.bin\">data.bin</a><br>\r\n"), std::string::npos);

    // an index is redirected to within its own directory
    response = RawAsk(server.Port(), Get("/ix/indexed/"));
    EXPECT_EQ(response.status, 302);
    EXPECT_EQ(response.Header("Location"), "/ix/indexed/index.html");
    response = RawAsk(server.Port(), Get("/ix/sub"));
    EXPECT_EQ(response.status, 403); // no index there
}

TEST(HttpServer, HandlerResultsBecomePagesAndTerminatedEndsTheLoop)
{
    LoopServer server;
    server.Server().AddRequestHandler(
        new FunctionHandler([](HLY_HttpRequest&, const HLY_HttpRequestContext&, HLY_HttpResponse&) {
            return HLY_ERROR_OUT_OF_MEMORY;
        }),
        "/fail", false, true);
    server.Server().AddRequestHandler(
        new FunctionHandler([](HLY_HttpRequest&, const HLY_HttpRequestContext&, HLY_HttpResponse& response) {
            response.GetEntity()->SetInputStream("bye");
            return HLY_ERROR_TERMINATED;
        }),
        "/quit", false, true);
    server.Start();

    RawResponse response = RawAsk(server.Port(), Get("/fail"));
    EXPECT_EQ(response.status, 500);
    EXPECT_EQ(response.reason, "Internal Error");
    EXPECT_NE(response.body.find("<h1>Internal Error</h1>"), std::string::npos);

    EXPECT_EQ(RawAsk(server.Port(), Get("/quit")).body, "bye");
    server.m_Thread.join();
    EXPECT_EQ(server.m_Result, HLY_ERROR_TERMINATED);
}

TEST(HttpServer, ErrorPageDropsWhatTheFailedHandlerPrepared)
{
    // a handler that set up a chunked, encoded body and then failed: the
    // page must go out as a plain body that its headers describe
    LoopServer server;
    server.Server().AddRequestHandler(
        new FunctionHandler([](HLY_HttpRequest&, const HLY_HttpRequestContext&, HLY_HttpResponse& response) {
            response.GetEntity()->SetInputStream("partial");
            response.GetEntity()->SetTransferEncoding(HLY_HTTP_TRANSFER_ENCODING_CHUNKED);
            response.GetEntity()->SetContentEncoding("gzip");
            return HLY_ERROR_OUT_OF_MEMORY;
        }),
        "/half", false, true);
    server.Start();

    RawResponse response = RawAsk(server.Port(), Get("/half"));
    EXPECT_EQ(response.status, 500);
    EXPECT_FALSE(response.Has("Transfer-Encoding"));
    EXPECT_FALSE(response.Has("Content-Encoding"));
    EXPECT_EQ(response.Header("Content-Type"), "text/html");
    EXPECT_EQ(response.Header("Content-Length"), std::to_string(response.body.size()));
    EXPECT_EQ(response.body.find("<html><head><title>500 Internal Error</title>"), 0u);
}

TEST(HttpServer, HeadBoundsDropOversizedRequestsAndServeTheNext)
{
    LoopServer server;
    server.Server().AddRequestHandler(TextHandler("fine"), "/", true, true);
    server.Start();

    // a line of 8191 characters fits, one more does not
    std::string longest = "X-Long: " + std::string(8191 - 8, 'a') + "\r\n";
    EXPECT_EQ(RawAsk(server.Port(), Get("/", longest)).body, "fine");
    {
        RawConnection connection(server.Port());
        connection.Send("GET /" + std::string(8200, 'a') + " HTTP/1.0\r\n\r\n");
        std::string answer;
        EXPECT_TRUE(connection.WaitClosed(3000, &answer));
        EXPECT_EQ(answer, "");
    }

    // 100 headers are taken, 101 are not; blank lines before the request line are no headers
    std::string headers;
    for (int i = 0; i < 99; ++i) headers += "X-H" + std::to_string(i) + ": v\r\n"; // and Host
    EXPECT_EQ(RawAsk(server.Port(), "\r\n" + Get("/", headers)).body, "fine");
    {
        RawConnection connection(server.Port());
        connection.Send(Get("/", headers + "X-One-Too-Many: v\r\n"));
        std::string answer;
        EXPECT_TRUE(connection.WaitClosed(3000, &answer));
        EXPECT_EQ(answer, "");
    }
    // a head of exactly 64 KiB, line ends included, is taken; one byte more is not
    auto filler = [](size_t size) {
        std::string lines;
        for (size_t i = 0; size; ++i) {
            std::string name = "X-F" + std::to_string(i) + ": ";
            size_t      line = std::min<size_t>(size, 8000);
            lines += name + std::string(line - name.size() - 2, 'f') + "\r\n";
            size -= line;
        }
        return lines;
    };
    const size_t head_rest = Get("/").size();
    EXPECT_EQ(RawAsk(server.Port(), Get("/", filler(HLY_HTTP_SERVER_MAX_HEAD_SIZE - head_rest))).body, "fine");
    {
        RawConnection connection(server.Port());
        connection.Send(Get("/", filler(HLY_HTTP_SERVER_MAX_HEAD_SIZE - head_rest + 1)));
        std::string answer;
        EXPECT_TRUE(connection.WaitClosed(3000, &answer));
        EXPECT_EQ(answer, "");
    }
    // a head beyond 64 KiB in lines that each fit, folded into few headers;
    // a client's bad request is no reason for the loop to pause
    auto start = Clock::now();
    {
        RawConnection connection(server.Port());
        std::string   folded = "X-Fold: a\r\n";
        for (int i = 0; i < 20; ++i) folded += " " + std::string(4000, 'b') + "\r\n";
        connection.Send(Get("/", folded));
        std::string answer;
        EXPECT_TRUE(connection.WaitClosed(3000, &answer));
        EXPECT_EQ(answer, "");
    }
    EXPECT_EQ(RawAsk(server.Port(), Get("/")).body, "fine");
    EXPECT_LT(ElapsedMs(start), 700);
}

TEST(HttpServer, ATricklingClientIsCutOffAtTheTimeOut)
{
    LoopServer server(300);
    server.Server().AddRequestHandler(TextHandler("fine"), "/", true, true);
    server.Start();

    // one byte every 100 ms: each read is quick, the head as a whole is not
    RawConnection trickler(server.Port());
    auto          start  = Clock::now();
    bool          closed = false;
    for (int i = 0; i < 40 && !closed; ++i) {
        trickler.Send(i == 0 ? "GET / HTTP/1.0\r\n" : "X");
        closed = trickler.WaitClosed(100);
    }
    EXPECT_TRUE(closed);
    // the deadline plus at most one read time-out, with room for a loaded machine
    EXPECT_LT(ElapsedMs(start), 2500);

    EXPECT_EQ(RawAsk(server.Port(), Get("/")).body, "fine");
}

TEST(HttpServer, StaticHandler)
{
    LoopServer server;
    static const char data[] = "{\"a\":1}";
    server.Server().AddRequestHandler(new HLY_HttpStaticRequestHandler(data, 7, "application/json", false), "/j",
                                      false, true);
    server.Server().AddRequestHandler(new HLY_HttpStaticRequestHandler("<p/>"), "/h", false, true);
    server.Start();

    RawResponse response = RawAsk(server.Port(), Get("/j"));
    EXPECT_EQ(response.Header("Content-Type"), "application/json");
    EXPECT_EQ(response.body, "{\"a\":1}");
    response = RawAsk(server.Port(), Get("/h"));
    EXPECT_EQ(response.Header("Content-Type"), "text/html");
    EXPECT_EQ(response.body, "<p/>");

    // without an entity there is nothing to fill
    HLY_HttpStaticRequestHandler handler("x");
    HLY_HttpRequest              request("http://localhost/", "GET");
    HLY_HttpResponse             bare(200, "OK");
    HLY_HttpRequestContext       context;
    EXPECT_EQ(handler.SetupResponse(request, context, bare), HLY_ERROR_INVALID_STATE);
}
