#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "../testsupport.h"

namespace {

struct ToolRun
{
    int         status = -1;
    std::string out;
    std::string err;
};

std::string ReadFile(const std::string& path)
{
    std::string text;
    FILE*       f = fopen(path.c_str(), "rb");
    if (!f) return text;
    char   buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0) text.append(buffer, n);
    fclose(f);
    return text;
}

class XmlTool : public ::testing::Test
{
protected:
    void SetUp() override
    {
#ifndef HLY_XML_TOOL_PATH
        GTEST_SKIP() << "hly-xml was not built";
#else
        ASSERT_TRUE(m_Temp.Ok());
#endif
    }

    std::string Write(const std::string& name, const std::string& content)
    {
        std::string path = m_Dir + "/" + name;
        FILE*       f    = fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (f) {
            fwrite(content.data(), 1, content.size(), f);
            fclose(f);
        }
        return path;
    }

    // runs the tool with arguments (and optionally a file as standard input)
    ToolRun Tool(const std::string& arguments, const std::string& stdin_path = "/dev/null")
    {
        ToolRun run;
#ifdef HLY_XML_TOOL_PATH
        std::string out     = m_Dir + "/out.txt";
        std::string err     = m_Dir + "/err.txt";
        std::string command = std::string("'") + HLY_XML_TOOL_PATH + "' " + arguments + " <'" + stdin_path +
                              "' >'" + out + "' 2>'" + err + "'";
        int status = system(command.c_str());
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out    = ReadFile(out);
        run.err    = ReadFile(err);
#else
        (void)arguments;
        (void)stdin_path;
#endif
        return run;
    }

    testsupport::TempDir m_Temp{"hly-xml-test"};
    const std::string&   m_Dir = m_Temp.Path();
};

const char* const GOOD =
    "<?xml version=\"1.0\"?>\r\n"
    "<root xmlns=\"urn:schemas-upnp-org:device-1-0\">"
    "<device><friendlyName>A &amp; B</friendlyName><UDN>uuid:1</UDN><empty></empty></device></root>\r\n";

} // namespace

TEST_F(XmlTool, WritesAGoodDocumentBack)
{
    std::string good = Write("good.xml", GOOD);
    ToolRun     run  = Tool("'" + good + "'");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out,
              "<root xmlns=\"urn:schemas-upnp-org:device-1-0\"><device><friendlyName>A &amp; B</friendlyName>"
              "<UDN>uuid:1</UDN><empty/></device></root>\n");

    run = Tool("--indent 2 --xml-declaration -", good);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
              "<root xmlns=\"urn:schemas-upnp-org:device-1-0\">\r\n"
              "  <device>\r\n"
              "    <friendlyName>A &amp; B</friendlyName>\r\n"
              "    <UDN>uuid:1</UDN>\r\n"
              "    <empty/>\r\n"
              "  </device>\r\n"
              "</root>\n");
}

TEST_F(XmlTool, ReportsWhereABadDocumentFails)
{
    // the end tag on line 3 closes the wrong element; the parser stops at its '>'
    std::string bad = Write("bad.xml", "<root>\r\n  <device>\r\n</root>\r\n");
    ToolRun     run = Tool("'" + bad + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("bad.xml:3:7: end tag does not match the open element (-20601)"), std::string::npos)
        << run.err;

    // a raw '<' in an attribute value, after a multi-byte character on the same line
    std::string syntax = Write("syntax.xml", "<a>\n<b t=\"caf\xC3\xA9<\"/></a>");
    run                = Tool("-", syntax);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("<stdin>:2:11: syntax error (-20011)"), std::string::npos) << run.err;

    std::string truncated = Write("truncated.xml", "<a><b/>");
    run                   = Tool("'" + truncated + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("truncated.xml:1:8: the document ends without a complete root element (-20602)"),
              std::string::npos)
        << run.err;
}

TEST_F(XmlTool, UsageAndMissingFiles)
{
    EXPECT_EQ(Tool("").status, 2);
    EXPECT_EQ(Tool("--indent x -").status, 2);
    EXPECT_EQ(Tool("--bogus -").status, 2);
    ToolRun run = Tool("'" + m_Dir + "/does-not-exist.xml'");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot read"), std::string::npos) << run.err;
}
