#ifndef BEACONRY_FAKE_MEDIA_SERVER_H
#define BEACONRY_FAKE_MEDIA_SERVER_H

// A media server on the peer host whose every byte the test decides: its
// description, two SCPDs and Browse over containers of a given size.

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "ctrlpoint_support.h"
#include "CvdDidl.h"

namespace cptest {

/*----------------------------------------------------------------------
|   a fake media server: the description, two SCPDs and Browse over a
|   container of a given size
+---------------------------------------------------------------------*/
inline std::string Arg(const char* name, const char* dir, const char* var)
{
    return std::string("<argument><name>") + name + "</name><direction>" + dir +
           "</direction><relatedStateVariable>" + var + "</relatedStateVariable></argument>";
}
inline std::string Var(const char* name, const char* type, bool events = false)
{
    return std::string("<stateVariable sendEvents=\"") + (events ? "yes" : "no") + "\"><name>" + name +
           "</name><dataType>" + type + "</dataType></stateVariable>";
}
inline std::string ScpdOf(const std::string& actions, const std::string& vars)
{
    return "<?xml version=\"1.0\"?><scpd xmlns=\"urn:schemas-upnp-org:service-1-0\"><specVersion><major>1</major>"
           "<minor>0</minor></specVersion><actionList>" + actions + "</actionList><serviceStateTable>" + vars +
           "</serviceStateTable></scpd>";
}
inline std::string CdsScpd()
{
    return ScpdOf("<action><name>Browse</name><argumentList>" + Arg("ObjectID", "in", "A_ARG_TYPE_ObjectID") +
                      Arg("BrowseFlag", "in", "A_ARG_TYPE_BrowseFlag") + Arg("Filter", "in", "A_ARG_TYPE_Filter") +
                      Arg("StartingIndex", "in", "A_ARG_TYPE_Index") + Arg("RequestedCount", "in", "A_ARG_TYPE_Count") +
                      Arg("SortCriteria", "in", "A_ARG_TYPE_SortCriteria") + Arg("Result", "out", "A_ARG_TYPE_Result") +
                      Arg("NumberReturned", "out", "A_ARG_TYPE_Count") + Arg("TotalMatches", "out", "A_ARG_TYPE_Count") +
                      Arg("UpdateID", "out", "A_ARG_TYPE_UpdateID") + "</argumentList></action>",
                  Var("A_ARG_TYPE_ObjectID", "string") + Var("A_ARG_TYPE_BrowseFlag", "string") +
                      Var("A_ARG_TYPE_Filter", "string") + Var("A_ARG_TYPE_Index", "ui4") +
                      Var("A_ARG_TYPE_Count", "ui4") + Var("A_ARG_TYPE_SortCriteria", "string") +
                      Var("A_ARG_TYPE_Result", "string") + Var("A_ARG_TYPE_UpdateID", "ui4") +
                      Var("SystemUpdateID", "ui4", true));
}
inline std::string CmsScpd()
{
    return ScpdOf("<action><name>GetProtocolInfo</name><argumentList>" + Arg("Source", "out", "SourceProtocolInfo") +
                      Arg("Sink", "out", "SinkProtocolInfo") + "</argumentList></action>",
                  Var("SourceProtocolInfo", "string", true) + Var("SinkProtocolInfo", "string", true));
}
inline std::string Service(const char* type, const char* id, const char* scpd)
{
    return std::string("<service><serviceType>urn:schemas-upnp-org:service:") + type +
           "</serviceType><serviceId>urn:upnp-org:serviceId:" + id + "</serviceId><SCPDURL>" + scpd +
           "</SCPDURL><controlURL>/control</controlURL><eventSubURL>/event</eventSubURL></service>";
}
inline std::string XmlEscape(const std::string& text)
{
    HLY_String out;
    CVD_Didl::AppendXmlEscape(out, text.c_str());
    return Text(out);
}
inline std::string Field(const std::string& body, const std::string& name)
{
    size_t start = body.find("<" + name + ">");
    if (start == std::string::npos) return "";
    start += name.size() + 2;
    return body.substr(start, body.find("</" + name + ">", start) - start);
}

class FakeServer
{
public:
    // total: the children of every container; a broken server answers Browse
    // with a Result that is not DIDL-Lite
    FakeServer(int total, std::string uuid, int port, bool broken = false)
        : m_Total(total), m_Uuid(std::move(uuid)), m_Port(port), m_Broken(broken),
          m_Http(port, [this](const Request& r, int fd) { Serve(r, fd); }) {}
    bool Ok() const { return m_Http.Ok(); }
    // from now on every item names this picture, served at /art, as its album art
    void SetAlbumArt(const std::string& png)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Art = png;
    }
    std::vector<std::pair<int, int>> Pages()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Pages;
    }
    std::vector<double> Times()
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Times;
    }
    std::string Location() const
    {
        return "http://" + std::string(testnet::Env("TESTNET_PEER_ADDR")) + ":" + std::to_string(m_Port) + "/desc.xml";
    }

private:
    void Serve(const Request& r, int fd)
    {
        if (r.path == "/desc.xml") {
            SendAll(fd, Answer(200, RootXml(DeviceXml(m_Uuid, "",
                                                      Service("ContentDirectory:1", "ContentDirectory", "/cds.xml") +
                                                          Service("ConnectionManager:1", "ConnectionManager", "/cms.xml"),
                                                      "urn:schemas-upnp-org:device:MediaServer:1"))));
        } else if (r.path == "/cds.xml") {
            SendAll(fd, Answer(200, CdsScpd()));
        } else if (r.path == "/cms.xml") {
            SendAll(fd, Answer(200, CmsScpd()));
        } else if (r.path == "/control") {
            int start = atoi(Field(r.body, "StartingIndex").c_str());
            int count = atoi(Field(r.body, "RequestedCount").c_str());
            int end   = std::min(m_Total, start + count);
            {
                std::lock_guard<std::mutex> guard(m_Lock);
                m_Pages.push_back({start, count});
                m_Times.push_back(std::chrono::duration<double, std::milli>(
                                      std::chrono::steady_clock::now().time_since_epoch()).count());
            }
            std::string art;
            {
                std::lock_guard<std::mutex> guard(m_Lock);
                if (!m_Art.empty()) {
                    art = "<upnp:albumArtURI>http://" + std::string(testnet::Env("TESTNET_PEER_ADDR")) + ":" +
                          std::to_string(m_Port) + "/art</upnp:albumArtURI>";
                }
            }
            std::string didl = Text(CVD_DIDL_HEADER);
            for (int i = start; i < end; ++i) {
                didl += "<item id=\"i" + std::to_string(i) + "\" parentID=\"c\" restricted=\"1\"><dc:title>Track " +
                        std::to_string(i) + "</dc:title><upnp:class>object.item.audioItem.musicTrack</upnp:class>"
                        "<res protocolInfo=\"http-get:*:audio/mpeg:*\" size=\"1000\">http://x/" +
                        std::to_string(i) + ".mp3</res>" + art + "</item>";
            }
            didl += CVD_DIDL_FOOTER;
            if (m_Broken) didl = "<html><body>no directory here</body></html>";
            std::string body =
                "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:BrowseResponse "
                "xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\"><Result>" + XmlEscape(didl) +
                "</Result><NumberReturned>" + std::to_string(std::max(0, end - start)) + "</NumberReturned><TotalMatches>" +
                std::to_string(m_Total) + "</TotalMatches><UpdateID>1</UpdateID></u:BrowseResponse></s:Body></s:Envelope>";
            SendAll(fd, Answer(200, body));
        } else if (r.path == "/art") {
            std::lock_guard<std::mutex> guard(m_Lock);
            SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: " + std::to_string(m_Art.size()) +
                            "\r\n\r\n" + m_Art);
        } else if (r.path == "/cut.bin") {
            // promises 100000 bytes, sends 1000 and hangs up
            SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: 100000\r\n\r\n" +
                            std::string(1000, 'x'));
        } else {
            SendAll(fd, Answer(404, "<html>not here</html>"));
        }
    }

    int                              m_Total;
    std::string                      m_Uuid;
    int                              m_Port;
    bool                             m_Broken;
    std::string                      m_Art;
    std::mutex                       m_Lock;
    std::vector<std::pair<int, int>> m_Pages;
    std::vector<double>              m_Times;
    FakeHttp                         m_Http;
};

} // namespace cptest

#endif // BEACONRY_FAKE_MEDIA_SERVER_H
