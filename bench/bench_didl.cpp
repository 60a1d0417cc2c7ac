// The media layer's cost above the XML parser: a Browse Result of N music
// tracks is parsed into a bare tree (the parser's own figure), read into
// media objects, and written back to DIDL-Lite. Each is reported in bytes
// and items per second for N = 1,000 to 20,000; a constant items/s across
// N is what shows that reading and writing are linear.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "CvdDidl.h"
#include "browse_result.h"
#include "hlyxml.h"

namespace {

const std::string& Document(int items)
{
    static std::map<int, std::string> documents;
    std::string& document = documents[items];
    if (document.empty()) document = MakeBrowseResult(items);
    return document;
}

void Count(benchmark::State& state, size_t bytes)
{
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)bytes);
    state.SetItemsProcessed((int64_t)state.iterations() * state.range(0));
}

void BM_XmlParser(benchmark::State& state)
{
    const std::string& xml = Document((int)state.range(0));
    for (auto _ : state) {
        HLY_XmlParser parser;
        HLY_XmlNode*  tree = nullptr;
        if (HLY_FAILED(parser.Parse(xml.data(), (HLY_Size)xml.size(), tree))) {
            state.SkipWithError("parse failed");
            break;
        }
        delete tree;
    }
    Count(state, xml.size());
}

void BM_DidlRead(benchmark::State& state)
{
    const std::string& xml = Document((int)state.range(0));
    for (auto _ : state) {
        CVD_MediaObjectListReference objects;
        if (HLY_FAILED(CVD_Didl::FromDidl(xml.c_str(), objects)) ||
            objects->GetItemCount() != (HLY_Cardinal)state.range(0)) {
            state.SkipWithError("read failed");
            break;
        }
    }
    Count(state, xml.size());
}

HLY_String WriteBack(CVD_MediaObjectList& objects)
{
    HLY_String didl = CVD_DIDL_HEADER;
    for (auto it = objects.GetFirstItem(); it; ++it) (*it)->ToDidl(CVD_FILTER_MASK_ALL, didl);
    didl += CVD_DIDL_FOOTER;
    return didl;
}

void BM_DidlWrite(benchmark::State& state)
{
    CVD_MediaObjectListReference objects;
    if (HLY_FAILED(CVD_Didl::FromDidl(Document((int)state.range(0)).c_str(), objects)) ||
        objects->GetItemCount() != (HLY_Cardinal)state.range(0)) {
        state.SkipWithError("read failed");
        return;
    }
    size_t bytes = 0;
    for (auto _ : state) {
        HLY_String didl = WriteBack(*objects);
        bytes           = didl.GetLength();
        benchmark::DoNotOptimize(didl.GetChars());
    }
    Count(state, bytes);
}

void BM_DidlReadAndWrite(benchmark::State& state)
{
    const std::string& xml = Document((int)state.range(0));
    for (auto _ : state) {
        CVD_MediaObjectListReference objects;
        if (HLY_FAILED(CVD_Didl::FromDidl(xml.c_str(), objects))) {
            state.SkipWithError("read failed");
            break;
        }
        HLY_String didl = WriteBack(*objects);
        benchmark::DoNotOptimize(didl.GetChars());
    }
    Count(state, xml.size());
}

void Sizes(benchmark::internal::Benchmark* benchmark)
{
    for (int items : {1000, 5000, 10000, 20000}) benchmark->Arg(items);
    benchmark->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(BM_XmlParser)->Apply(Sizes);
BENCHMARK(BM_DidlRead)->Apply(Sizes);
BENCHMARK(BM_DidlWrite)->Apply(Sizes);
BENCHMARK(BM_DidlReadAndWrite)->Apply(Sizes);

BENCHMARK_MAIN();
