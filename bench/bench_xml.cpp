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

#include "browse_result.h"
#include "hlystreams.h"
#include "hlyxml.h"

namespace {

// About 8.6 MB: 10,000 music tracks (BENCH_XML_ITEMS sets another count)
const std::string& Document()
{
    static const std::string document = [] {
        const char* wanted = getenv("BENCH_XML_ITEMS"); // default 10,000 items
        return MakeBrowseResult(wanted && atoi(wanted) > 0 ? atoi(wanted) : 10000);
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
