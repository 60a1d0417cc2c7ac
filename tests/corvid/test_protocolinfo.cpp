#include <gtest/gtest.h>

#include "CvdProtocolInfo.h"

namespace {

const char* const F = "DLNA.ORG_FLAGS=01500000000000000000000000000000";

} // namespace

TEST(CvdProtocolInfo, ParseAndFormat)
{
    struct Case {
        const char* text;
        HLY_Result  result;
        bool        valid;
        const char* written; // ToString after parsing
        const char* pn;
    } cases[] = {
        {"http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_OP=01", HLY_SUCCESS, true,
         "http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_OP=01", "MP3"},
        {"http-get:*:audio/x-wav:*", HLY_SUCCESS, true, "http-get:*:audio/x-wav:*", ""},
        {"http-get:*:audio/mpeg", HLY_ERROR_INVALID_SYNTAX, false, ":::", ""},
        {"a:b:c:d:e", HLY_ERROR_INVALID_SYNTAX, false, ":::", ""},
        {"", HLY_ERROR_INVALID_PARAMETERS, false, ":::", ""},
        // out of order, bad lengths and characters
        {"http-get:*:audio/mpeg:DLNA.ORG_OP=01;DLNA.ORG_PN=MP3", HLY_FAILURE, false,
         "http-get:*:audio/mpeg:DLNA.ORG_OP=01;DLNA.ORG_PN=MP3", ""},
        {"http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_PN=MP3", HLY_FAILURE, false, nullptr, ""},
        {"http-get:*:a/b:DLNA.ORG_OP=1", HLY_FAILURE, false, nullptr, ""},
        {"http-get:*:a/b:DLNA.ORG_OP=02", HLY_FAILURE, false, nullptr, ""},
        {"http-get:*:a/b:DLNA.ORG_CI=01", HLY_FAILURE, false, nullptr, ""},
        {"http-get:*:a/b:DLNA.ORG_FLAGS=0150000000000000000000000000000", HLY_FAILURE, false, nullptr, ""},
        {"http-get:*:a/b:DLNA.ORG_PN=", HLY_FAILURE, false, nullptr, ""},
        {"http-get:*:a/b:DLNA.ORG_PN=MP-3", HLY_FAILURE, false, nullptr, ""},
        {"http-get:*:a/b:DLNA.ORG_PN", HLY_ERROR_INVALID_SYNTAX, false, nullptr, ""},
        {"http-get:*:a/b:A=B=C", HLY_ERROR_INVALID_SYNTAX, false, nullptr, ""},
        {"http-get:*:a/b:NOUNDERSCORE=1", HLY_FAILURE, false, nullptr, ""},
        // every DLNA parameter in order, semicolons around, an other parameter kept
        {"http-get:*:video/mp4:;DLNA.ORG_PN=AVC_MP4;DLNA.ORG_OP=11;DLNA.ORG_PS=-1,1/2;DLNA.ORG_CI=1;"
         "DLNA.ORG_FLAGS=01500000000000000000000000000000;DLNA.ORG_MAXSP=1.5;X_FOO=a+b-c;",
         HLY_SUCCESS, true,
         "http-get:*:video/mp4:DLNA.ORG_PN=AVC_MP4;DLNA.ORG_OP=11;DLNA.ORG_PS=-1,1/2;DLNA.ORG_CI=1;"
         "DLNA.ORG_FLAGS=01500000000000000000000000000000;DLNA.ORG_MAXSP=1.5;X_FOO=a+b-c",
         "AVC_MP4"},
        // bad other parameters are dropped, not fatal
        {"http-get:*:a/b:DLNA.ORG_OP=01;X_B@D=1;X_OK=2;X_V=a.b", HLY_SUCCESS, true,
         "http-get:*:a/b:DLNA.ORG_OP=01;X_OK=2", ""},
        // all of them dropped: the field reads back as "no constraints"
        {"http-get:*:a/b:X_B@D=1", HLY_SUCCESS, true, "http-get:*:a/b:*", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        CVD_ProtocolInfo info;
        EXPECT_EQ(info.Parse(c.text), c.result);
        EXPECT_EQ(info.IsValid(), c.valid);
        if (c.written) {
            EXPECT_STREQ(info.ToString(), c.written);
        }
        EXPECT_STREQ(info.GetDlnaPN(), c.pn);
        if (c.valid) {
            // what was written reads back to the same text
            CVD_ProtocolInfo again(info.ToString());
            EXPECT_TRUE(again.IsValid());
            EXPECT_STREQ(again.ToString(), info.ToString());
        }
    }

    CVD_ProtocolInfo four("http-get", "*", "audio/mpeg", "DLNA.ORG_PN=MP3");
    EXPECT_TRUE(four.IsValid());
    EXPECT_STREQ(four.GetDlnaPN(), "MP3");
    // a fourth field with a ":" would write a text of more than four fields
    EXPECT_FALSE(CVD_ProtocolInfo("http-get", "*", "audio/mpeg", "a:X_B=1").IsValid());
    EXPECT_STREQ(CVD_ProtocolInfo::GetMimeTypeFromProtocolInfo("http-get:*:image/png:*"), "image/png");
}

TEST(CvdProtocolInfo, Match)
{
    struct Case {
        const char* a;
        const char* b;
        bool        match;
    } cases[] = {
        {"http-get:*:audio/mpeg:*", "http-get:*:audio/mpeg:DLNA.ORG_PN=MP3", true},
        {"http-get:*:audio/mpeg:*", "http-get:*:audio/mp4:*", false},
        {"*:*:*:*", "http-get:*:video/mp4:DLNA.ORG_OP=01", true},
        {"http-get:*:audio/mpeg:DLNA.ORG_PN=MP3", "http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_OP=01", true},
        {"http-get:*:audio/mpeg:DLNA.ORG_PN=MP3", "http-get:*:audio/mpeg:DLNA.ORG_PN=MP3X", false},
        {"http-get:*:audio/mpeg:DLNA.ORG_OP=01", "http-get:*:audio/mpeg:DLNA.ORG_OP=01", false},
        {"rtsp-rtp-udp:*:audio/mpeg:*", "http-get:*:audio/mpeg:*", false},
        {"http-get:host:audio/mpeg:*", "http-get:other:audio/mpeg:*", false},
        {"http-get:*:AUDIO/MPEG:*", "http-get:*:audio/mpeg:*", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CVD_ProtocolInfo(c.a).Match(CVD_ProtocolInfo(c.b)), c.match) << c.a << " vs " << c.b;
        EXPECT_EQ(CVD_ProtocolInfo(c.b).Match(CVD_ProtocolInfo(c.a)), c.match) << c.b << " vs " << c.a;
    }
}

TEST(CvdProtocolInfo, MimeTypes)
{
    struct Case {
        const char*         file;
        CVD_DeviceSignature signature;
        const char*         type;
    } cases[] = {
        {"song.MP3", CVD_DEVICE_UNKNOWN, "audio/mpeg"},
        {"clip.mov", CVD_DEVICE_PS3, "video/mp4"},
        {"clip.mov", CVD_DEVICE_XBOX, "video/quicktime"},
        {"clip.avi", CVD_DEVICE_PS3, "video/x-msvideo"},
        {"clip.divx", CVD_DEVICE_XBOX, "video/avi"},
        {"raw.l16", CVD_DEVICE_XBOX, "audio/L16"},
        {"raw.l16", CVD_DEVICE_VLC, "audio/L16;rate=44100;channels=2"},
        {"raw.L16M32", CVD_DEVICE_UNKNOWN, "audio/L16;rate=32000;channels=1"},
        {"a.wav", CVD_DEVICE_SONOS, "audio/wav"},
        {"a.wavm", CVD_DEVICE_UNKNOWN, "audio/wav"},
        {"a.alac", CVD_DEVICE_WMP, "audio/x-alac"},
        {"/media/README", CVD_DEVICE_UNKNOWN, "application/octet-stream"},
        {"x.unknownext", CVD_DEVICE_UNKNOWN, "application/octet-stream"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(CVD_ProtocolInfo::GetMimeType(c.file, c.signature), c.type) << c.file << " " << c.signature;
    }
}

TEST(CvdProtocolInfo, DlnaFields)
{
    struct Case {
        const char*         type;
        CVD_DeviceSignature signature;
        std::string         field;
    } cases[] = {
        {"audio/mpeg", CVD_DEVICE_UNKNOWN, std::string("DLNA.ORG_PN=MP3;DLNA.ORG_OP=01;DLNA.ORG_CI=0;") + F},
        {"AUDIO/MPEG", CVD_DEVICE_MAC, std::string("DLNA.ORG_PN=MP3;DLNA.ORG_OP=01;DLNA.ORG_CI=0;") + F},
        {"audio/mpeg", CVD_DEVICE_XBOX, "DLNA.ORG_PN=MP3;DLNA.ORG_OP=01"},
        {"audio/mpeg", CVD_DEVICE_WMP, "DLNA.ORG_PN=MP3;DLNA.ORG_OP=01"},
        {"image/jpeg", CVD_DEVICE_WMP, "DLNA.ORG_PN=JPEG_LRG"},
        {"image/jpg", CVD_DEVICE_PS3, "DLNA.ORG_OP=01"},
        {"video/avi", CVD_DEVICE_PS3, "DLNA.ORG_OP=01"},
        {"audio/wav", CVD_DEVICE_SONOS, "*"},
        {"audio/mpeg", CVD_DEVICE_SONOS, std::string("DLNA.ORG_PN=MP3;DLNA.ORG_OP=01;DLNA.ORG_CI=0;") + F},
        {"video/x-flv", CVD_DEVICE_UNKNOWN, "DLNA.ORG_OP=01;DLNA.ORG_CI=0"},
        {"audio/L16;rate=44100;channels=2", CVD_DEVICE_UNKNOWN,
         std::string("DLNA.ORG_PN=LPCM;DLNA.ORG_OP=01;DLNA.ORG_CI=1;") + F},
        {"text/plain", CVD_DEVICE_UNKNOWN, "*"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CVD_ProtocolInfo::GetDlnaExtension(c.type, c.signature), c.field) << c.type << " " << c.signature;
        // every field the tables give is one that validates
        EXPECT_TRUE(CVD_ProtocolInfo("http-get", "*", "x/y", c.field.c_str()).IsValid()) << c.field;
    }

    CVD_ProtocolInfo mp3 = CVD_ProtocolInfo::GetProtocolInfo("/music/a.mp3");
    EXPECT_STREQ(mp3.ToString(), (std::string("http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_OP=01;DLNA.ORG_CI=0;") + F).c_str());
    EXPECT_STREQ(CVD_ProtocolInfo::GetProtocolInfo("a.png", false).ToString(), "http-get:*:image/png:*");

    // a request's headers pick the client kind
    HLY_HttpRequest request("http://127.0.0.1/a.mov", "GET");
    request.GetHeaders().SetHeader("User-Agent", "PLAYSTATION 3");
    EXPECT_STREQ(CVD_ProtocolInfo::GetMimeType("a.mov", &request), "video/mp4");
    EXPECT_STREQ(CVD_ProtocolInfo::GetProtocolInfo("a.mov", true, &request).ToString(),
                 "http-get:*:video/mp4:DLNA.ORG_OP=01");
}
