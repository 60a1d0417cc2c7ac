// The XML parser on a buffer, on a stream that delivers the document in
// pieces, and fed incrementally in two parts: all three must agree. A
// tree that parses is looked through as the engine does (namespaces,
// children, attributes) and serialized; what the serializer writes must
// parse again to a tree that serializes to the very same text.

#include <string>
#include <vector>

#include "fuzz_common.h"
#include "hlyxml.h"

namespace {

std::string Serialize(HLY_XmlNode& tree, HLY_UInt32 indentation = 0, bool add_xml_decl = false)
{
    HLY_MemoryStream output;
    HLY_XmlWriter    writer(indentation);
    FUZZ_CHECK(writer.Serialize(tree, output, add_xml_decl) == HLY_SUCCESS);
    return std::string((const char*)output.GetData(), output.GetDataSize());
}

// a parse result with the tree serialized (empty without a tree)
struct Outcome
{
    HLY_Result  result = HLY_SUCCESS;
    bool        has_tree = false;
    std::string text;
    bool operator==(const Outcome& other) const
    {
        return result == other.result && has_tree == other.has_tree && text == other.text;
    }
};

Outcome Keep(HLY_Result result, HLY_XmlNode* tree)
{
    Outcome outcome;
    outcome.result   = result;
    outcome.has_tree = tree != nullptr;
    if (tree) outcome.text = Serialize(*tree);
    delete tree;
    return outcome;
}

// the lookups that the description, SOAP and event code make
void LookThrough(const HLY_XmlElementNode& root)
{
    std::vector<const HLY_XmlElementNode*> pending{&root};
    while (!pending.empty()) {
        const HLY_XmlElementNode* element = pending.back();
        pending.pop_back();
        element->GetNamespace();
        element->GetNamespaceUri("xml");
        element->GetChild(element->GetTag(), HLY_XML_ANY_NAMESPACE);
        element->GetChild("device", "urn:schemas-upnp-org:device-1-0");
        element->GetText();
        for (HLY_List<HLY_XmlAttribute*>::Iterator it = element->GetAttributes().GetFirstItem(); it; ++it) {
            const HLY_XmlAttribute* attribute = *it;
            const HLY_String*       uri       = element->GetNamespaceUri(attribute->GetPrefix());
            FUZZ_CHECK(element->GetAttribute(attribute->GetName(), HLY_XML_ANY_NAMESPACE) != nullptr);
            if (attribute->GetPrefix().IsEmpty()) {
                FUZZ_CHECK(element->GetAttribute(attribute->GetName()) != nullptr);
            } else if (uri && !uri->IsEmpty()) {
                FUZZ_CHECK(element->GetAttribute(attribute->GetName(), *uri) != nullptr);
            }
        }
        for (HLY_List<HLY_XmlNode*>::Iterator it = element->GetChildren().GetFirstItem(); it; ++it) {
            FUZZ_CHECK((*it)->GetParent() == element);
            if (const HLY_XmlElementNode* child = (*it)->AsElementNode()) pending.push_back(child);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::EnableLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > FUZZ_MAX_INPUT) return 0;
    const char* xml = (const char*)data;

    // the whole buffer at once
    HLY_XmlNode*  tree = nullptr;
    HLY_XmlParser parser;
    HLY_Result    result = parser.Parse(xml, (HLY_Size)size, tree);
    if (HLY_FAILED(result)) FUZZ_CHECK(tree == nullptr);
    if (HLY_SUCCEEDED(result)) FUZZ_CHECK(tree != nullptr && tree->AsElementNode() != nullptr);
    if (tree) LookThrough(*tree->AsElementNode());
    Outcome whole = Keep(result, tree);

    // from a stream that hands out a few bytes at a time
    {
        std::vector<HLY_Size> pieces;
        for (size_t i = 0; i < 8 && i < size; ++i) pieces.push_back(1 + data[(i * 97) % size] % 64);
        fuzz::PieceStream stream(data, size, pieces);
        HLY_XmlParser     stream_parser;
        HLY_XmlNode*      stream_tree   = nullptr;
        HLY_Result        stream_result = stream_parser.Parse(stream, stream_tree);
        FUZZ_CHECK(Keep(stream_result, stream_tree) == whole);
    }

    // a parser that drops white-space text, and a stream read only up to a limit
    {
        HLY_XmlParser     compact(false);
        HLY_XmlNode*      compact_tree = nullptr;
        HLY_MemoryStream  stream(data, (HLY_Size)size);
        HLY_Size          limit        = (HLY_Size)(size / 2 + 1);
        HLY_Result        limited      = compact.Parse(stream, limit, compact_tree);
        FUZZ_CHECK(limit <= size / 2 + 1);
        if (HLY_FAILED(limited)) FUZZ_CHECK(compact_tree == nullptr);
        delete compact_tree;
    }

    // in two parts, incrementally; the root comes out of whichever call completes it
    if (HLY_SUCCEEDED(whole.result) && size > 1) {
        size_t        cut = 1 + data[size / 2] * (size - 1) / 256;
        HLY_XmlParser incremental;
        HLY_XmlNode*  first  = nullptr;
        HLY_XmlNode*  second = nullptr;
        HLY_Result    r1     = incremental.Parse(xml, (HLY_Size)cut, first, true);
        HLY_Result    r2     = incremental.Parse(xml + cut, (HLY_Size)(size - cut), second, true);
        FUZZ_CHECK(HLY_SUCCEEDED(r1) && HLY_SUCCEEDED(r2));
        FUZZ_CHECK((first == nullptr) != (second == nullptr));
        FUZZ_CHECK(Keep(HLY_SUCCESS, first ? first : second) == whole);
    }

    if (HLY_SUCCEEDED(whole.result)) {
        // what we write must read back to the same document
        HLY_XmlParser again;
        HLY_XmlNode*  reparsed = nullptr;
        HLY_Result    reread   = again.Parse(whole.text.data(), (HLY_Size)whole.text.size(), reparsed);
        if (HLY_FAILED(reread)) {
            fprintf(stderr, "serialized form does not parse (%d):\n%s\n", reread, whole.text.c_str());
        }
        FUZZ_CHECK(reread == HLY_SUCCESS);
        std::string text = Serialize(*reparsed);
        if (text != whole.text) fprintf(stderr, "first:\n%s\nsecond:\n%s\n", whole.text.c_str(), text.c_str());
        FUZZ_CHECK(text == whole.text);

        // indented, with a declaration: still a document
        std::string indented = Serialize(*reparsed, 2, true);
        delete reparsed;
        reparsed = nullptr;
        FUZZ_CHECK(again.Parse(indented.data(), (HLY_Size)indented.size(), reparsed) == HLY_SUCCESS);
        delete reparsed;
    }
    return 0;
}
