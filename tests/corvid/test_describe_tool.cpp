#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "CvdHttpServer.h"
#include "hlyhttpserver.h"
#include "upnp_samples.h"
#include "../testsupport.h"

using namespace upnpsamples;

#ifdef CVD_DESCRIBE_TOOL_PATH

namespace {

struct ToolRun {
    int         status;
    std::string output;
};

ToolRun Describe(const std::string& arguments)
{
    ToolRun run{-1, ""};
    run.output = testsupport::RunCommand(std::string("'") + CVD_DESCRIBE_TOOL_PATH + "' " + arguments + " 2>&1",
                                         &run.status);
    return run;
}

} // namespace

// minidlna's documents served on the loopback under the paths its description names
TEST(DescribeTool, PrintsTheTreeAndWritesTheDocumentsBack)
{
    CVD_HttpServer server(HLY_IpAddress::Any, 0, false, 10, false);
    const char* const files[][2] = {{"/rootDesc.xml", "description.xml"},
                                    {"/ContentDir.xml", "scpd-ContentDirectory.xml"},
                                    {"/ConnectionMgr.xml", "scpd-ConnectionManager.xml"}};
    for (const auto& f : files) {
        std::string text = ReadSample("minidlna", f[1]);
        server.AddRequestHandler(new HLY_HttpStaticRequestHandler(text.data(), text.size(), "text/xml"), f[0], false,
                                 true);
    }
    ASSERT_EQ(HLY_SUCCESS, server.Start());
    std::string url = "http://127.0.0.1:" + std::to_string(server.GetPort()) + "/rootDesc.xml";

    ToolRun tree = Describe(url);
    EXPECT_EQ(3, tree.status) << tree.output; // the registrar's SCPD is not served
    const char* expected[] = {
        "device minidlna\n",
        "  type urn:schemas-upnp-org:device:MediaServer:1\n",
        "  UDN uuid:4d696e69-444c-164e-9d41-bc7e00000001\n",
        "  icon image/png 48x48x24 http://127.0.0.1:",
        "  service urn:schemas-upnp-org:service:ContentDirectory:1 (urn:upnp-org:serviceId:ContentDirectory)\n",
        "    action Browse\n",
        "      in  BrowseFlag -> A_ARG_TYPE_BrowseFlag (string, values: BrowseMetadata BrowseDirectChildren)\n",
        "      out Result -> A_ARG_TYPE_Result (string)\n",
        "    variable SystemUpdateID (ui4, evented)\n",
        "(service description unavailable)\n",
        "service description http://127.0.0.1:",
    };
    for (const char* line : expected) EXPECT_NE(std::string::npos, tree.output.find(line)) << line << tree.output;

    ToolRun xml = Describe(url + " --xml");
    EXPECT_EQ(3, xml.status);
    EXPECT_NE(std::string::npos, xml.output.find("<UDN>uuid:4d696e69-444c-164e-9d41-bc7e00000001</UDN>"));
    EXPECT_NE(std::string::npos, xml.output.find("<scpd xmlns=\"urn:schemas-upnp-org:service-1-0\">"));

    ToolRun missing = Describe("http://127.0.0.1:" + std::to_string(server.GetPort()) + "/nothing.xml");
    EXPECT_EQ(1, missing.status);
    EXPECT_EQ(2, Describe("").status);
}

#endif
