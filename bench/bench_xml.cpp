// Parses one large generated DIDL-Lite document (what a media server sends
// back for a big Browse) with Halyard's parser building its tree, with
// libexpat calling back without building anything, and with libxml2
// building its document tree. Reports bytes per second for each.

#include <benchmark/benchmark.h>
#include <expat.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "hlystreams.h"
#include "hlyxml.h"

namespace {

// About 8.6 MB: 10,000 music tracks (BENCH_XML_ITEMS sets another count)
// with the usual dc:, upnp: and dlna: parts, escaped text and long
// attribute values.
const std::string& Document()
{
    static const std::string document = [] {
        const char* wanted = getenv("BENCH_XML_ITEMS"); // default 10,000 items
        const int   items  = wanted && atoi(wanted) > 0 ? atoi(wanted) : 10000;
        std::string xml;
        xml.reserve((size_t)items * 800);
        xml += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
               "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
               "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\" "
               "xmlns:dlna=\"urn:schemas-dlna-org:metadata-1-0/\">\n";
        char item[2048];
        for (int i = 0; i < items; ++i) {
            int n = snprintf(
                item, sizeof(item),
                "<item id=\"64$%X$%d\" parentID=\"64$%X\" restricted=\"1\">"
                "<dc:title>Track %d &amp; the &quot;Reprise&quot; (Live at Caf\xC3\xA9 %d)</dc:title>"
                "<dc:creator>Artist %d</dc:creator>"
                "<upnp:artist role=\"Performer\">Artist %d &lt;feat. Guest&gt;</upnp:artist>"
                "<upnp:album>Album %d</upnp:album><upnp:genre>Rock &#x26; Roll</upnp:genre>"
                "<upnp:originalTrackNumber>%d</upnp:originalTrackNumber><dc:date>2004-%02d-%02d</dc:date>"
                "<upnp:albumArtURI dlna:profileID=\"JPEG_TN\">http://192.168.1.10:8200/AlbumArt/%d-%d.jpg"
                "</upnp:albumArtURI>"
                "<res size=\"%d\" duration=\"0:%02d:%02d.000\" bitrate=\"40000\" sampleFrequency=\"44100\" "
                "nrAudioChannels=\"2\" protocolInfo=\"http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_OP=01;"
                "DLNA.ORG_CI=0;DLNA.ORG_FLAGS=01700000000000000000000000000000\">"
                "http://192.168.1.10:8200/MediaItems/%d.mp3</res>"
                "<upnp:class>object.item.audioItem.musicTrack</upnp:class></item>\n",
                i / 100, i, i / 100, i, i, i % 500, i % 500, i / 12, i % 20 + 1, i % 12 + 1, i % 28 + 1, i, i,
                3000000 + i * 17, i % 10, i % 60, i);
            xml.append(item, (size_t)n);
        }
        xml += "</DIDL-Lite>\n";
        return xml;
    }();
    return document;
}

void Bytes(benchmark::State& state)
{
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)Document().size());
}

// Halyard, from a buffer, building the tree and destroying it
void BM_HalyardTree(benchmark::State& state)
{
    const std::string& xml = Document();
    for (auto _ : state) {
        HLY_XmlParser parser;
        HLY_XmlNode*  tree   = nullptr;
        HLY_Result    result = parser.Parse(xml.data(), (HLY_Size)xml.size(), tree);
        if (HLY_FAILED(result)) {
            state.SkipWithError("parse failed");
            break;
        }
        benchmark::DoNotOptimize(tree);
        delete tree;
    }
    Bytes(state);
}

// Halyard, from a stream read in the parser's 1024-byte blocks
void BM_HalyardTreeFromStream(benchmark::State& state)
{
    const std::string& xml = Document();
    HLY_MemoryStream   stream(xml.data(), (HLY_Size)xml.size());
    for (auto _ : state) {
        stream.InputSeek(0);
        HLY_XmlParser parser;
        HLY_XmlNode*  tree = nullptr;
        if (HLY_FAILED(parser.Parse(stream, tree))) {
            state.SkipWithError("parse failed");
            break;
        }
        benchmark::DoNotOptimize(tree);
        delete tree;
    }
    Bytes(state);
}

// libexpat with callbacks that only count
struct ExpatCounts
{
    long elements = 0;
    long text     = 0;
};

void XMLCALL ExpatStart(void* data, const XML_Char*, const XML_Char**)
{
    ++static_cast<ExpatCounts*>(data)->elements;
}
void XMLCALL ExpatEnd(void*, const XML_Char*) {}
void XMLCALL ExpatText(void* data, const XML_Char*, int length)
{
    static_cast<ExpatCounts*>(data)->text += length;
}

void BM_ExpatCount(benchmark::State& state)
{
    const std::string& xml = Document();
    for (auto _ : state) {
        ExpatCounts counts;
        XML_Parser  parser = XML_ParserCreate(nullptr);
        XML_SetUserData(parser, &counts);
        XML_SetElementHandler(parser, ExpatStart, ExpatEnd);
        XML_SetCharacterDataHandler(parser, ExpatText);
        if (XML_Parse(parser, xml.data(), (int)xml.size(), 1) != XML_STATUS_OK) {
            state.SkipWithError("expat failed");
            XML_ParserFree(parser);
            break;
        }
        benchmark::DoNotOptimize(counts.elements);
        XML_ParserFree(parser);
    }
    Bytes(state);
}

// libxml2 building its tree
void BM_Libxml2Tree(benchmark::State& state)
{
    const std::string& xml = Document();
    for (auto _ : state) {
        xmlDocPtr doc = xmlReadMemory(xml.data(), (int)xml.size(), "browse.xml", nullptr, XML_PARSE_NONET);
        if (doc == nullptr) {
            state.SkipWithError("libxml2 failed");
            break;
        }
        benchmark::DoNotOptimize(doc);
        xmlFreeDoc(doc);
    }
    Bytes(state);
}

} // namespace

BENCHMARK(BM_HalyardTree)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HalyardTreeFromStream)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExpatCount)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Libxml2Tree)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    xmlInitParser();
    fprintf(stderr, "document: %zu bytes\n", Document().size());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    xmlCleanupParser();
    return 0;
}
