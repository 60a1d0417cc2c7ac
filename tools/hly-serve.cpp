// hly-serve: serves a directory over HTTP with the engine's server, the
// quickest way to hand media to a renderer during a test.
//
//   hly-serve DIR [--port N]
//
//   --port N   listen on port N (default 8080); 0 picks a random port
//              from 1024 to 2047
//
// Directories are listed; files are served with their MIME type and byte
// ranges. Nothing outside DIR is served. Runs until SIGINT or SIGTERM,
// then stops the server and exits 0. Exit status 1 when the server cannot
// start, 2 for a usage error.

#include <signal.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CvdHttpServer.h"
#include "hlyfile.h"
#include "hlyhttpserver.h"
#include "beaconrycli.h"

namespace {

const char* const kUsage =
    "usage: hly-serve [--port N] DIR\n"
    "  serves DIR over HTTP until interrupted\n"
    "  --port N   listen on port N (default 8080); 0 picks one from 1024 to 2047\n"
    "  --help     show this text; --version shows the version\n";

} // namespace

int main(int argc, char** argv)
{
    const char* directory = nullptr;
    long        port      = 8080;
    BeaconryCli cli("hly-serve", kUsage);
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
            char* end = nullptr;
            port      = strtol(argv[++i], &end, 10);
            if (end == argv[i] || *end || port < 0 || port > 65535) return cli.Fail("--port wants 0 to 65535");
        } else if (argv[i][0] == '-' || directory) {
            return cli.Unknown(argv[i]);
        } else {
            directory = argv[i];
        }
    }
    if (directory == nullptr) return cli.Fail("no directory given");

    HLY_FileInfo info;
    if (HLY_FAILED(HLY_File::GetInfo(directory, &info)) || info.m_Type != HLY_FileInfo::FILE_TYPE_DIRECTORY) {
        fprintf(stderr, "hly-serve: %s is not a directory\n", directory);
        return 1;
    }
    HLY_String root(directory);
    while (root.GetLength() > 1 && root.EndsWith("/")) root.SetLength(root.GetLength() - 1);

    // the signals are taken by sigwait below, so every thread started
    // from here on must have them blocked
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    CVD_HttpServer server(HLY_IpAddress::Any, (HLY_UInt16)port, false, 100, true);
    server.AddRequestHandler(new HLY_HttpFileRequestHandler("/", root, true), "/", true, true);
    HLY_Result result = server.Start();
    if (HLY_FAILED(result)) {
        fprintf(stderr, "hly-serve: cannot listen on port %ld (%s)\n", port, HLY_ResultText(result));
        return 1;
    }
    printf("serving %s at http://0.0.0.0:%d/\n", root.GetChars(), (int)server.GetPort());
    fflush(stdout);

    int signal_number = 0;
    sigwait(&signals, &signal_number);
    server.Stop();
    printf("stopped\n");
    return 0;
}
