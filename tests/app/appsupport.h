// Helpers shared by the window tests.
#ifndef BEACONRY_TESTS_APPSUPPORT_H
#define BEACONRY_TESTS_APPSUPPORT_H

#include <QObject>
#include <QtGlobal>

#include <memory>
#include <string>

#include "CvdHttp.h"
#include "hlyhttpclient.h"
#include "peers.h"

namespace appsupport {

// a named child that must exist
template <typename T> T* Child(QObject* parent, const char* name)
{
    T* child = parent->findChild<T*>(name);
    if (child == nullptr) qFatal("missing child %s", name);
    return child;
}

// the body of a plain GET, empty when it fails
inline std::string HttpGet(const std::string& url)
{
    HLY_HttpRequest   request(url.c_str(), HLY_HTTP_METHOD_GET, HLY_HTTP_PROTOCOL_1_1);
    HLY_HttpClient    client;
    HLY_HttpResponse* response = nullptr;
    HLY_String        body;
    if (HLY_FAILED(client.SendRequest(request, response))) return std::string();
    CVD_HttpHelper::GetBody(*response, body);
    delete response;
    return std::string(body.GetChars(), body.GetLength());
}

// the light (tools' cvd-light) in the peer namespace: a root device that is
// neither a media server nor a renderer
inline std::unique_ptr<peers::Peer> StartLight(const char* uuid, const char* name, int port = 0)
{
    std::string dir = peers::MakeTempDir("light");
    if (dir.empty()) return nullptr;
    std::vector<std::string> argv = {CVD_LIGHT_PATH, "--name", name, "--uuid", uuid};
    if (port) argv.insert(argv.end(), {"--port", std::to_string(port)});
    pid_t pid = peers::SpawnOnPeer(dir, argv);
    return std::unique_ptr<peers::Peer>(new peers::Peer(pid, dir, uuid, port));
}

} // namespace appsupport

#endif // BEACONRY_TESTS_APPSUPPORT_H
