// hly-xml: shows what the engine's XML parser makes of a document.
//
//   hly-xml [--indent N] [--xml-declaration] FILE|-
//
// Parses FILE (or standard input for "-") and writes the tree back out to
// standard output. A document that does not parse gives its error with the
// line and column where the parser stopped, on standard error, and exit
// status 1. Wrong usage gives status 2.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hlydatabuffer.h"
#include "hlyfile.h"
#include "hlyresults.h"
#include "hlyxml.h"
#include "beaconrycli.h"

namespace {

const char* const kUsage =
    "usage: hly-xml [--indent N] [--xml-declaration] FILE|-\n"
    "  parses FILE (- for standard input) and writes it back out\n"
    "  --indent N          indent nested elements by N spaces (default: none)\n"
    "  --xml-declaration   start the output with an XML declaration\n"
    "  --help              show this text; --version shows the version\n";

const char* Describe(HLY_Result result)
{
    switch (result) {
        case HLY_ERROR_INVALID_SYNTAX: return "syntax error";
        case HLY_ERROR_XML_INVALID_NESTING: return "text outside the root element";
        case HLY_ERROR_XML_TAG_MISMATCH: return "end tag does not match the open element";
        case HLY_ERROR_XML_NO_ROOT: return "the document ends without a complete root element";
        case HLY_ERROR_XML_MULTIPLE_ROOTS: return "a second top-level element";
        case HLY_ERROR_OUT_OF_MEMORY: return "out of memory";
        default: return "parse failed";
    }
}

// Line and column (both from 1) of a byte offset, counting line breaks the
// way the parser reads them (CR LF, CR and LF are one break each) and
// columns in UTF-8 characters.
void LineAndColumn(const HLY_Byte* data, HLY_Size size, HLY_Size offset, unsigned long& line, unsigned long& column)
{
    if (offset > size) offset = size;
    line   = 1;
    column = 1;
    for (HLY_Size i = 0; i < offset; ++i) {
        HLY_Byte c = data[i];
        if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < offset && data[i + 1] == '\n') ++i;
            ++line;
            column = 1;
        } else if ((c & 0xC0) != 0x80) {
            ++column;
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    unsigned long indentation = 0;
    bool          declaration = false;
    const char*   input       = nullptr;
    BeaconryCli   cli("hly-xml", kUsage);
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (strcmp(arg, "--indent") == 0 && i + 1 < argc) {
            char* end   = nullptr;
            indentation = strtoul(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0' || indentation > 64) return cli.Fail("--indent wants 0 to 64");
        } else if (strcmp(arg, "--xml-declaration") == 0) {
            declaration = true;
        } else if ((arg[0] != '-' || strcmp(arg, "-") == 0) && input == nullptr) {
            input = arg;
        } else {
            return cli.Unknown(arg);
        }
    }
    if (input == nullptr) return cli.Fail("no input given");

    const char*    path   = strcmp(input, "-") == 0 ? HLY_FILE_STANDARD_INPUT : input;
    const char*    label  = strcmp(input, "-") == 0 ? "<stdin>" : input;
    HLY_DataBuffer buffer;
    HLY_Result     result = HLY_File::Load(path, buffer);
    if (HLY_FAILED(result)) {
        fprintf(stderr, "hly-xml: %s: cannot read (%s, %d)\n", label, HLY_ResultText(result), (int)result);
        return 1;
    }

    HLY_XmlParser parser;
    HLY_XmlNode*  tree = nullptr;
    result = parser.Parse(reinterpret_cast<const char*>(buffer.GetData()), buffer.GetDataSize(), tree);
    if (HLY_FAILED(result)) {
        unsigned long line = 0, column = 0;
        LineAndColumn(buffer.GetData(), buffer.GetDataSize(), (HLY_Size)parser.GetPosition(), line, column);
        fprintf(stderr, "hly-xml: %s:%lu:%lu: %s (%d)\n", label, line, column, Describe(result), (int)result);
        return 1;
    }

    HLY_File                  out(HLY_FILE_STANDARD_OUTPUT);
    HLY_OutputStreamReference stream;
    result = out.Open(HLY_FILE_OPEN_MODE_WRITE);
    if (HLY_SUCCEEDED(result)) result = out.GetOutputStream(stream);
    if (HLY_SUCCEEDED(result)) {
        HLY_XmlWriter writer((HLY_UInt32)indentation);
        writer.Serialize(*tree, *stream, declaration);
        result = stream->WriteFully("\n", 1);
        if (HLY_SUCCEEDED(result)) result = stream->Flush();
    }
    delete tree;
    if (HLY_FAILED(result)) {
        fprintf(stderr, "hly-xml: cannot write the output (%s, %d)\n", HLY_ResultText(result), (int)result);
        return 1;
    }
    return 0;
}
