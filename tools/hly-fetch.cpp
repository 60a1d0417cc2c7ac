// hly-fetch: fetches one URL with the runtime's HTTP client and prints the
// body on standard output, in the manner of a small curl.
//
//   hly-fetch [-i] [-X METHOD] [-d BODY] URL
//
//   -i         print the status line and the headers before the body
//   -X METHOD  request method (default GET, or POST with -d)
//   -d BODY    send BODY as the request body
//
// Exit status: 0 on success, 1 when the exchange failed, 2 for a usage
// error, 22 when the server answered with a status of 400 or more (the
// body is still printed).

#include <cstdio>
#include <cstring>

#include "hlyfile.h"
#include "hlyhttp.h"
#include "hlyhttpclient.h"
#include "hlystreams.h"
#include "beaconrycli.h"

namespace {

const char* Describe(HLY_Result result)
{
    switch (result) {
        case HLY_ERROR_CONNECTION_REFUSED: return "connection refused";
        case HLY_ERROR_CONNECTION_RESET: return "connection reset by the server";
        case HLY_ERROR_CONNECTION_ABORTED: return "connection closed before the end of the body";
        case HLY_ERROR_CONNECTION_FAILED: return "connection failed";
        case HLY_ERROR_HOST_UNKNOWN: return "host not found";
        case HLY_ERROR_NETWORK_UNREACHABLE: return "network unreachable";
        case HLY_ERROR_TIMEOUT: return "timed out";
        case HLY_ERROR_EOS: return "connection closed by the server";
        case HLY_ERROR_NOT_SUPPORTED: return "not supported (only http:// URLs are)";
        case HLY_ERROR_HTTP_TOO_MANY_REDIRECTS: return "too many redirects";
        case HLY_ERROR_HTTP_TOO_MANY_RECONNECTS: return "too many reconnections or interim answers";
        case HLY_ERROR_HTTP_INVALID_RESPONSE_LINE: return "invalid response from the server";
        case HLY_ERROR_HTTP_INVALID_REQUEST: return "invalid request";
        case HLY_ERROR_INVALID_FORMAT: return "malformed response body";
        case HLY_ERROR_NOT_ENOUGH_SPACE: return "response header line too long";
        case HLY_ERROR_OUT_OF_RESOURCES: return "response head too large";
        case HLY_ERROR_WRITE_FAILED: return "cannot write the output";
        default: return "request failed";
    }
}

int Fail(HLY_Result result)
{
    fprintf(stderr, "hly-fetch: %s (%s)\n", Describe(result), HLY_ResultText(result));
    return 1;
}

const char* const kUsage =
    "usage: hly-fetch [-i] [-X METHOD] [-d BODY] URL\n"
    "  fetches URL with the runtime's HTTP client and prints the body\n"
    "  -i         print the status line and the headers before the body\n"
    "  -X METHOD  request method (default GET, or POST with -d)\n"
    "  -d BODY    send BODY as the request body\n"
    "  --help     show this text; --version shows the version\n";

} // namespace

int main(int argc, char** argv)
{
    bool        include_head = false;
    const char* method       = nullptr;
    const char* body         = nullptr;
    const char* url          = nullptr;
    BeaconryCli cli("hly-fetch", kUsage);

    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (strcmp(arg, "-i") == 0) {
            include_head = true;
        } else if (strcmp(arg, "-X") == 0 && i + 1 < argc) {
            method = argv[++i];
        } else if (strcmp(arg, "-d") == 0 && i + 1 < argc) {
            body = argv[++i];
        } else if (arg[0] == '-' || url) {
            return cli.Unknown(arg);
        } else {
            url = arg;
        }
    }
    if (url == nullptr) return cli.Fail("no URL given");
    if (method == nullptr) method = body ? HLY_HTTP_METHOD_POST : HLY_HTTP_METHOD_GET;

    HLY_HttpRequest request(url, method, HLY_HTTP_PROTOCOL_1_1);
    if (!request.GetUrl().IsValid()) {
        fprintf(stderr, "hly-fetch: invalid URL (%s)\n", url);
        return 2;
    }
    if (body) {
        HLY_HttpEntity* entity = new HLY_HttpEntity();
        entity->SetInputStream(body);
        entity->SetContentType("application/x-www-form-urlencoded");
        request.SetEntity(entity);
    }

    HLY_File                  output_file(HLY_FILE_STANDARD_OUTPUT);
    HLY_OutputStreamReference output;
    if (HLY_FAILED(output_file.Open(HLY_FILE_OPEN_MODE_WRITE)) || HLY_FAILED(output_file.GetOutputStream(output))) {
        return Fail(HLY_ERROR_WRITE_FAILED);
    }

    HLY_HttpClient    client;
    HLY_HttpResponse* response = nullptr;
    HLY_Result        result   = client.SendRequest(request, response);
    if (HLY_FAILED(result)) return Fail(result);

    if (include_head) {
        HLY_MemoryStream head;
        response->Emit(head);
        if (HLY_FAILED(output->WriteFully(head.GetData(), head.GetDataSize()))) {
            delete response;
            return Fail(HLY_ERROR_WRITE_FAILED);
        }
    }

    HLY_InputStreamReference body_stream;
    if (response->GetEntity() && HLY_SUCCEEDED(response->GetEntity()->GetInputStream(body_stream))) {
        result = HLY_StreamToStreamCopy(*body_stream, *output);
        if (HLY_FAILED(result)) {
            output->Flush();
            delete response;
            return Fail(result);
        }
    }
    output->Flush();

    int status = response->GetStatusCode();
    if (status >= 400) {
        fprintf(stderr, "hly-fetch: server answered %d %s\n", status, response->GetReasonPhrase().GetChars());
    }
    delete response;
    return status >= 400 ? 22 : 0;
}
