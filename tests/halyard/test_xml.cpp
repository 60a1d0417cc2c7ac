#include <gtest/gtest.h>
#include <chrono>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "hlyresults.h"
#include "hlystreams.h"
#include "hlyxml.h"
#include "piecewise_stream.h"

namespace {

const char* const DEVICE_NS = "urn:schemas-upnp-org:device-1-0";
const char* const DLNA_DEVICE_NS = "urn:schemas-dlna-org:device-1-0";
const char* const DIDL_NS = "urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/";
const char* const DC_NS = "http://purl.org/dc/elements/1.1/";
const char* const UPNP_NS = "urn:schemas-upnp-org:metadata-1-0/upnp/";
const char* const DLNA_NS = "urn:schemas-dlna-org:metadata-1-0/";

typedef std::unique_ptr<HLY_XmlNode> Tree;

Tree Parse(const std::string& xml, HLY_Result& result)
{
    HLY_XmlParser parser;
    HLY_XmlNode*  tree = nullptr;
    result = parser.Parse(xml.data(), (HLY_Size)xml.size(), tree);
    if (HLY_FAILED(result)) {
        EXPECT_EQ(tree, nullptr);
    }
    return Tree(tree);
}

// the tree of a document that must parse
Tree ParseOk(const std::string& xml)
{
    HLY_Result result = HLY_FAILURE;
    Tree       tree   = Parse(xml, result);
    EXPECT_EQ(result, HLY_SUCCESS) << HLY_ResultText(result) << " for: " << xml.substr(0, 200);
    EXPECT_NE(tree, nullptr);
    return tree;
}

HLY_Result ParseResult(const std::string& xml)
{
    HLY_Result result = HLY_FAILURE;
    Parse(xml, result);
    return result;
}

// every document gives the same result
void ExpectResult(HLY_Result expected, std::initializer_list<std::string> documents)
{
    for (const std::string& xml : documents) EXPECT_EQ(ParseResult(xml), expected) << xml;
}

HLY_XmlElementNode* Root(const Tree& tree) { return tree ? tree->AsElementNode() : nullptr; }

std::string Str(const HLY_String* s) { return s ? std::string(s->GetChars(), s->GetLength()) : "<null>"; }

std::string Serialize(HLY_XmlNode& node, HLY_UInt32 indentation = 0, bool decl = false)
{
    HLY_StringOutputStream out;
    HLY_XmlWriter          writer(indentation);
    EXPECT_EQ(writer.Serialize(node, out, decl), HLY_SUCCESS);
    return std::string(out.GetString().GetChars(), out.GetString().GetLength());
}

// The text of a document whose root holds just one text child.
std::string RootText(const std::string& xml)
{
    Tree tree = ParseOk(xml);
    if (!Root(tree)) return "<no tree>";
    return Str(Root(tree)->GetText());
}

bool IsBlank(const HLY_String& s)
{
    for (HLY_Size i = 0; i < s.GetLength(); ++i) {
        if (!strchr(" \t\r\n", s.GetChar(i))) return false;
    }
    return true;
}

// Compares two trees without recursion: names, attributes, namespace maps
// and children in order. With skip_blank_text, text children made only of
// white space are left out (they are what indentation adds). Returns an
// empty string when equal, else where they first differ.
std::string Diff(const HLY_XmlNode& a, const HLY_XmlNode& b, bool skip_blank_text = false)
{
    auto children = [skip_blank_text](const HLY_XmlElementNode* e) {
        std::vector<const HLY_XmlNode*> list;
        for (auto it = e->GetChildren().GetFirstItem(); it; ++it) {
            const HLY_XmlTextNode* text = (*it)->AsTextNode();
            if (skip_blank_text && text && IsBlank(text->GetString())) continue;
            list.push_back(*it);
        }
        return list;
    };
    std::vector<std::pair<const HLY_XmlNode*, const HLY_XmlNode*>> pending{{&a, &b}};
    while (!pending.empty()) {
        auto [x, y] = pending.back();
        pending.pop_back();
        if (x->GetType() != y->GetType()) return "node types differ";
        if (x->AsTextNode()) {
            if (x->AsTextNode()->GetString() != y->AsTextNode()->GetString()) {
                return "text '" + Str(&x->AsTextNode()->GetString()).substr(0, 40) + "' vs '" +
                       Str(&y->AsTextNode()->GetString()).substr(0, 40) + "'";
            }
            continue;
        }
        const HLY_XmlElementNode* ex = x->AsElementNode();
        const HLY_XmlElementNode* ey = y->AsElementNode();
        std::string name = Str(&ex->GetPrefix()) + ":" + Str(&ex->GetTag());
        if (ex->GetTag() != ey->GetTag() || ex->GetPrefix() != ey->GetPrefix()) {
            return "element " + name + " vs " + Str(&ey->GetPrefix()) + ":" + Str(&ey->GetTag());
        }
        if (ex->GetAttributes().GetItemCount() != ey->GetAttributes().GetItemCount()) {
            return "attribute count of " + name;
        }
        for (auto i = ex->GetAttributes().GetFirstItem(), j = ey->GetAttributes().GetFirstItem(); i; ++i, ++j) {
            if ((*i)->GetPrefix() != (*j)->GetPrefix() || (*i)->GetName() != (*j)->GetName() ||
                (*i)->GetValue() != (*j)->GetValue()) {
                return "attribute " + Str(&(*i)->GetName()) + "='" + Str(&(*i)->GetValue()) + "' of " + name;
            }
        }
        const HLY_XmlNamespaceMap* mx = ex->GetNamespaceMap();
        const HLY_XmlNamespaceMap* my = ey->GetNamespaceMap();
        if ((mx == nullptr) != (my == nullptr)) return "namespace map presence of " + name;
        if (mx) {
            if (mx->GetEntries().GetItemCount() != my->GetEntries().GetItemCount()) return "namespaces of " + name;
            for (auto i = mx->GetEntries().GetFirstItem(), j = my->GetEntries().GetFirstItem(); i; ++i, ++j) {
                if ((*i)->m_Prefix != (*j)->m_Prefix || (*i)->m_Uri != (*j)->m_Uri) return "namespace of " + name;
            }
        }
        auto cx = children(ex);
        auto cy = children(ey);
        if (cx.size() != cy.size()) return "child count of " + name;
        for (size_t i = 0; i < cx.size(); ++i) pending.push_back({cx[i], cy[i]});
    }
    return "";
}

// Checks parent and namespace-parent links everywhere below root, iteratively.
std::string CheckLinks(const HLY_XmlElementNode& root)
{
    std::vector<const HLY_XmlElementNode*> pending{&root};
    while (!pending.empty()) {
        const HLY_XmlElementNode* e = pending.back();
        pending.pop_back();
        const HLY_XmlElementNode* expected = e->GetNamespaceMap() ? e : e->GetNamespaceParent();
        for (auto it = e->GetChildren().GetFirstItem(); it; ++it) {
            if ((*it)->GetParent() != e) return "parent of a child of " + Str(&e->GetTag());
            const HLY_XmlElementNode* child = (*it)->AsElementNode();
            if (!child) continue;
            if (child->GetNamespaceParent() != expected) return "namespace parent of " + Str(&child->GetTag());
            pending.push_back(child);
        }
    }
    return "";
}

const char* const DEVICE_DESCRIPTION =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<root xmlns=\"urn:schemas-upnp-org:device-1-0\" xmlns:dlna=\"urn:schemas-dlna-org:device-1-0\" "
    "configId=\"7\">\r\n"
    "  <specVersion><major>1</major><minor>0</minor></specVersion>\r\n"
    "  <device>\r\n"
    "    <deviceType>urn:schemas-upnp-org:device:MediaServer:1</deviceType>\r\n"
    "    <friendlyName>Living room &amp; kitchen NAS</friendlyName>\r\n"
    "    <manufacturer>Acme</manufacturer>\r\n"
    "    <modelDescription>Media &lt;server&gt; caf\xC3\xA9</modelDescription>\r\n"
    "    <UDN>uuid:4d696e69-444c-164e-9d41-001ec9b3b1a2</UDN>\r\n"
    "    <dlna:X_DLNADOC xmlns:dlna=\"urn:schemas-dlna-org:device-1-0\">DMS-1.50</dlna:X_DLNADOC>\r\n"
    "    <iconList><icon><mimetype>image/png</mimetype><width>48</width><url>/icon.png</url></icon></iconList>\r\n"
    "    <serviceList>\r\n"
    "      <service><serviceType>urn:schemas-upnp-org:service:ContentDirectory:1</serviceType>"
    "<serviceId>urn:upnp-org:serviceId:ContentDirectory</serviceId>"
    "<SCPDURL>/cd.xml?a=1&amp;b=2</SCPDURL><controlURL>/ctl/cd</controlURL></service>\r\n"
    "      <service><serviceType>urn:schemas-upnp-org:service:ConnectionManager:1</serviceType>"
    "<serviceId>urn:upnp-org:serviceId:ConnectionManager</serviceId></service>\r\n"
    "    </serviceList>\r\n"
    "    <deviceList><device><deviceType>urn:schemas-upnp-org:device:Basic:1</deviceType></device></deviceList>\r\n"
    "  </device>\r\n"
    "</root>\r\n";

const char* const DIDL_DOCUMENT =
    "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
    "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\">"
    "<container id=\"0$1\" parentID=\"0\" childCount=\"2\" restricted=\"1\">"
    "<dc:title>Music &quot;All&quot;</dc:title><upnp:class>object.container.storageFolder</upnp:class>"
    "</container>"
    "<item id=\"0$1$7\" parentID=\"0$1\" restricted=\"1\" xmlns:dlna=\"urn:schemas-dlna-org:metadata-1-0/\">"
    "<dc:title>Tom &amp; Jerry &lt;live&gt; &#x2013; &#233;t&#233;</dc:title>"
    "<dc:creator>O&apos;Brien</dc:creator>"
    "<upnp:albumArtURI dlna:profileID=\"JPEG_TN\">http://10.0.0.2/art?id=7&amp;s=1</upnp:albumArtURI>"
    "<res protocolInfo=\"http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_OP=01\" size=\"4123456\" "
    "duration=\"0:03:25.000\">http://10.0.0.2/m/7.mp3</res>"
    "<desc id=\"x\" xmlns=\"urn:example:vendor\" xmlns:dc=\"urn:example:other-dc\"><dc:title>inner</dc:title>"
    "<plain xmlns=\"\">no namespace</plain></desc>"
    "</item></DIDL-Lite>";

} // namespace

/*----------------------------------------------------------------------
|   real-world documents
+---------------------------------------------------------------------*/
TEST(Xml, DeviceDescriptionWithDefaultAndPrefixedNamespaces)
{
    Tree                tree = ParseOk(DEVICE_DESCRIPTION);
    HLY_XmlElementNode* root = Root(tree);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(Str(&root->GetTag()), "root");
    EXPECT_EQ(Str(root->GetNamespace()), DEVICE_NS);
    EXPECT_EQ(Str(root->GetAttribute("configId")), "7");
    // declarations are not attributes
    EXPECT_EQ(root->GetAttributes().GetItemCount(), 1u);
    EXPECT_EQ(root->GetAttribute("xmlns"), nullptr);

    // the default namespace reaches unprefixed children; asking for "no namespace" misses them
    EXPECT_EQ(root->GetChild("device"), nullptr);
    HLY_XmlElementNode* device = root->GetChild("device", DEVICE_NS);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device, root->GetChild("device", HLY_XML_ANY_NAMESPACE));
    EXPECT_EQ(Str(device->GetChild("friendlyName", DEVICE_NS)->GetText()), "Living room & kitchen NAS");
    EXPECT_EQ(Str(device->GetChild("modelDescription", DEVICE_NS)->GetText()), "Media <server> caf\xC3\xA9");

    HLY_XmlElementNode* doc = device->GetChild("X_DLNADOC", DLNA_DEVICE_NS);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(Str(&doc->GetPrefix()), "dlna");
    EXPECT_EQ(Str(doc->GetText()), "DMS-1.50");
    EXPECT_EQ(device->GetChild("X_DLNADOC", DEVICE_NS), nullptr);

    HLY_XmlElementNode* services = device->GetChild("serviceList", DEVICE_NS);
    ASSERT_NE(services, nullptr);
    HLY_XmlElementNode* second = services->GetChild("service", DEVICE_NS, 1);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(Str(second->GetChild("serviceId", DEVICE_NS)->GetText()), "urn:upnp-org:serviceId:ConnectionManager");
    EXPECT_EQ(services->GetChild("service", DEVICE_NS, 2), nullptr);
    EXPECT_EQ(Str(services->GetChild("service", DEVICE_NS)->GetChild("SCPDURL", DEVICE_NS)->GetText()),
              "/cd.xml?a=1&b=2");

    // white space between elements is kept as text (CR LF read as LF)
    EXPECT_EQ(Str(root->GetText(0)), "\n  ");
    EXPECT_EQ(CheckLinks(*root), "");
}

TEST(Xml, DidlLiteWithNestedNamespacesAndEscapedText)
{
    Tree                tree = ParseOk(DIDL_DOCUMENT);
    HLY_XmlElementNode* didl = Root(tree);
    ASSERT_NE(didl, nullptr);
    HLY_XmlElementNode* container = didl->GetChild("container", DIDL_NS);
    ASSERT_NE(container, nullptr);
    EXPECT_EQ(Str(container->GetAttribute("id")), "0$1");
    // the default namespace is not an attribute's
    EXPECT_EQ(container->GetAttribute("id", DIDL_NS), nullptr);
    EXPECT_EQ(Str(container->GetChild("title", DC_NS)->GetText()), "Music \"All\"");

    HLY_XmlElementNode* item = didl->GetChild("item", DIDL_NS);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(Str(item->GetChild("title", DC_NS)->GetText()), "Tom & Jerry <live> \xE2\x80\x93 \xC3\xA9t\xC3\xA9");
    EXPECT_EQ(Str(item->GetChild("creator", DC_NS)->GetText()), "O'Brien");

    // a prefixed attribute resolves its prefix on its own element
    HLY_XmlElementNode* art = item->GetChild("albumArtURI", UPNP_NS);
    ASSERT_NE(art, nullptr);
    EXPECT_EQ(Str(art->GetAttribute("profileID", DLNA_NS)), "JPEG_TN");
    EXPECT_EQ(art->GetAttribute("profileID"), nullptr);
    EXPECT_EQ(art->GetAttribute("profileID", DC_NS), nullptr);
    EXPECT_EQ(Str(art->GetAttribute("profileID", "*")), "JPEG_TN");
    EXPECT_EQ(Str(art->GetText()), "http://10.0.0.2/art?id=7&s=1");
    HLY_XmlElementNode* res = item->GetChild("res", DIDL_NS);
    ASSERT_NE(res, nullptr);
    EXPECT_EQ(Str(res->GetAttribute("protocolInfo")), "http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_OP=01");

    // inner redeclarations win; xmlns="" takes the default namespace away
    HLY_XmlElementNode* desc = item->GetChild("desc", "urn:example:vendor");
    ASSERT_NE(desc, nullptr);
    EXPECT_EQ(desc->GetChild("title", DC_NS), nullptr);
    EXPECT_EQ(Str(desc->GetChild("title", "urn:example:other-dc")->GetText()), "inner");
    HLY_XmlElementNode* plain = desc->GetChild("plain");
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->GetNamespace(), nullptr);
    EXPECT_EQ(Str(plain->GetNamespaceUri("dc")), "urn:example:other-dc");
    EXPECT_EQ(Str(plain->GetNamespaceUri("upnp")), UPNP_NS);
    EXPECT_EQ(plain->GetNamespaceUri("nope"), nullptr);
    EXPECT_EQ(Str(plain->GetNamespaceUri("xml")), HLY_XML_NAMESPACE_URI_XML);
    EXPECT_EQ(CheckLinks(*didl), "");
}

TEST(Xml, DidlEscapedInsideABrowseResponseParsesAgain)
{
    // what a ContentDirectory Browse answer carries: DIDL-Lite as escaped text
    std::string didl = DIDL_DOCUMENT;
    std::string escaped;
    for (char c : didl) {
        if (c == '<') escaped += "&lt;";
        else if (c == '>') escaped += "&gt;";
        else if (c == '&') escaped += "&amp;";
        else if (c == '"') escaped += "&quot;";
        else escaped += c;
    }
    std::string envelope =
        "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
        "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>"
        "<u:BrowseResponse xmlns:u=\"urn:schemas-upnp-org:service:ContentDirectory:1\"><Result>" +
        escaped + "</Result><NumberReturned>2</NumberReturned></u:BrowseResponse></s:Body></s:Envelope>";
    Tree                envelope_tree = ParseOk(envelope);
    HLY_XmlElementNode* env           = Root(envelope_tree);
    ASSERT_NE(env, nullptr);
    EXPECT_EQ(Str(env->GetAttribute("encodingStyle", "http://schemas.xmlsoap.org/soap/envelope/")),
              "http://schemas.xmlsoap.org/soap/encoding/");
    HLY_XmlElementNode* body = env->GetChild("Body", "http://schemas.xmlsoap.org/soap/envelope/");
    ASSERT_NE(body, nullptr);
    HLY_XmlElementNode* response = body->GetChild("BrowseResponse", "urn:schemas-upnp-org:service:ContentDirectory:1");
    ASSERT_NE(response, nullptr);
    const HLY_String* result = response->GetChild("Result")->GetText();
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(Str(result), didl);
    Tree inner = ParseOk(Str(result));
    Tree direct = ParseOk(didl);
    ASSERT_TRUE(inner && direct);
    EXPECT_EQ(Diff(*inner, *direct), "");
}

/*----------------------------------------------------------------------
|   prolog, comments, CDATA and processing instructions
+---------------------------------------------------------------------*/
TEST(Xml, PrologPartsAreSkipped)
{
    Tree tree = ParseOk("\xEF\xBB\xBF \n<?xml version=\"1.0\"?>\n<!-- a comment - with a dash -->\n"
                        "<!DOCTYPE root SYSTEM \"r.dtd\" [\n  <!ENTITY who \"world\">\n  <!ELEMENT root ANY>\n] >\n"
                        "<!ELEMENT other ANY>\n<?pi two?>\n<root>hello &who;</root>");
    ASSERT_NE(Root(tree), nullptr);
    // entities declared in the internal subset are not expanded: kept by name
    EXPECT_EQ(Str(Root(tree)->GetText()), "hello who");

    // a stray byte-order mark; '?' must close an instruction
    ExpectResult(HLY_ERROR_INVALID_SYNTAX, {"\xEF\xBB<a/>", "\xEF<a/>", "<!DOCTYPE a [ <!ENTITY x \"y\"> ]x><a/>",
                                            "<!>", "<?pi a?b?><a/>", "text<a/>", "<!-- bad -- comment --><a/>",
                                            "<!-- \x01 --><a/>"});
    // text between a comment and the root is seen when the root starts
    ExpectResult(HLY_ERROR_XML_INVALID_NESTING, {"<!-- c -->text<a/>", "<!-- c --><![CDATA[x]]><a/>"});
    ExpectResult(HLY_SUCCESS, {"<!DOCTYPE root><root/>", "<!-- c -->\r\n\t <a/>"});
}

TEST(Xml, CommentsCdataAndInstructionsInsideContent)
{
    // text around a comment or a CDATA section joins into one text node
    Tree tree = ParseOk("<a>one<!-- x -->two<![CDATA[<b>&amp;</b>]]>three</a>");
    ASSERT_NE(Root(tree), nullptr);
    EXPECT_EQ(Root(tree)->GetChildren().GetItemCount(), 1u);
    EXPECT_EQ(Str(Root(tree)->GetText()), "onetwo<b>&amp;</b>three");

    const std::pair<const char*, const char*> texts[] = {
        {"<a><![CDATA[x]]]></a>", "x]"},
        {"<a><![CDATA[x]]]]></a>", "x]]"},
        {"<a><![CDATA[a]b]]c]]></a>", "a]b]]c"},
        {"<a><![CDATA[]]></a>x", "<null>"}, // an empty section adds no text node
        {"<a><![CDATA[line1\r\nline2\rline3]]></a>", "line1\nline2\nline3"},
    };
    for (const auto& [xml, text] : texts) EXPECT_EQ(RootText(xml), text) << xml;

    // an instruction between elements is fine; character data right after it is not
    Tree pi = ParseOk("<a><?php echo 1; ?><b/><!--c--></a><!-- after --><?after?>");
    ASSERT_NE(Root(pi), nullptr);
    EXPECT_NE(Root(pi)->GetChild("b"), nullptr);
    EXPECT_EQ(ParseResult("<a><?pi?>text</a>"), HLY_ERROR_INVALID_SYNTAX);
    EXPECT_EQ(ParseResult("<a>x<!DOCTYPE y></a>"), HLY_SUCCESS);
}

/*----------------------------------------------------------------------
|   tags and attributes
+---------------------------------------------------------------------*/
TEST(Xml, TagNestingAndEndTags)
{
    ExpectResult(HLY_ERROR_XML_TAG_MISMATCH, {"<a:b></c:b>", "<a:b></b>", "<b></a:b>", "<ab></a>", "<a></ab>",
                                              "<a><b></a></b>", "<a/></a>"});
    ExpectResult(HLY_ERROR_INVALID_SYNTAX, {"<a></a x>", "< a></a>", "<a></ a>", "<a / >"});
    // text after the root is never reported
    ExpectResult(HLY_SUCCESS, {"<a:b></a:b>", "<a></a \r\n\t>", "<a\n/>", "<a/>junk \x01\xFF >"});
    ExpectResult(HLY_ERROR_XML_MULTIPLE_ROOTS, {"<a/><b/>", "<a></a>\n<a></a>"});
    ExpectResult(HLY_ERROR_XML_NO_ROOT, {"<a><b></b>", "", " \r\n ", "<!-- only a comment -->"});
    // a name with two colons closes with the same name
    Tree two = ParseOk("<a:b:c>x</a:b:c>");
    ASSERT_NE(Root(two), nullptr);
    EXPECT_EQ(Str(&Root(two)->GetPrefix()), "a");
    EXPECT_EQ(Str(&Root(two)->GetTag()), "b:c");

    EXPECT_EQ(HLY_ERROR_XML_NO_ROOT, -20602);
    EXPECT_EQ(HLY_ERROR_XML_MULTIPLE_ROOTS, -20603);
    EXPECT_STREQ(HLY_ResultText(HLY_ERROR_XML_NO_ROOT), "UNKNOWN");
    EXPECT_STREQ(HLY_ResultText(HLY_ERROR_XML_MULTIPLE_ROOTS), "UNKNOWN");
}

TEST(Xml, AttributeValues)
{
    Tree tree = ParseOk("<a one = 'x\"y' two=\"p&lt;q>r\" three=\"t\tu\r\nv\rw\" x:four='&#65;&#x42;' "
                        "xmlnsfoo=\"kept\" f i v e=\"joined\"/>");
    HLY_XmlElementNode* a = Root(tree);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(Str(a->GetAttribute("one")), "x\"y");
    EXPECT_EQ(Str(a->GetAttribute("two")), "p<q>r");
    EXPECT_EQ(Str(a->GetAttribute("three")), "t u v w");
    EXPECT_EQ(Str(a->GetAttribute("four", "*")), "AB");
    EXPECT_EQ(a->GetAttribute("four"), nullptr);
    EXPECT_EQ(a->GetAttribute("four", "urn:x"), nullptr); // x is not declared
    EXPECT_EQ(Str(a->GetAttribute("xmlnsfoo")), "kept");
    EXPECT_EQ(Str(a->GetAttribute("five")), "joined");
    EXPECT_EQ(a->GetAttributes().GetItemCount(), 6u);
    ExpectResult(HLY_ERROR_INVALID_SYNTAX, {"<a b=\"<\"/>", "<a b=\"\x01\"/>", "<a b=c/>", "<a b/>"});
    EXPECT_EQ(ParseResult("<a b=\"1\"c=\"2\"/>"), HLY_SUCCESS);

    // namespace declarations, including the odd "xmlns:" form for the default
    Tree ns = ParseOk("<p:a xmlns:p=\"urn:p\" xmlns:=\"urn:default\" p:attr=\"v\"><b/></p:a>");
    HLY_XmlElementNode* pa = Root(ns);
    ASSERT_NE(pa, nullptr);
    EXPECT_EQ(Str(pa->GetNamespace()), "urn:p");
    EXPECT_EQ(Str(pa->GetAttribute("attr", "urn:p")), "v");
    EXPECT_EQ(Str(pa->GetChild("b", "urn:default")->GetNamespace()), "urn:default");
    EXPECT_EQ(pa->GetAttributes().GetItemCount(), 1u);
}

/*----------------------------------------------------------------------
|   entities and character references
+---------------------------------------------------------------------*/
TEST(Xml, EntityAndCharacterReferences)
{
    EXPECT_EQ(RootText("<a>&lt;&gt;&amp;&quot;&apos;</a>"), "<>&\"'");
    EXPECT_EQ(RootText("<a>&#x41;&#65;&#x6a;&#x6A;</a>"), "AAjj");
    EXPECT_EQ(RootText("<a>&copy; &nbsp;x&unknown.name;</a>"), "copy nbspxunknown.name");
    ExpectResult(HLY_ERROR_INVALID_SYNTAX,
                 {"<a>&#X41;</a>", "<a>&#x4G;</a>", "<a>&#1a;</a>", "<a>&a b;</a>", "<a>&amp</a>", "<a b=\"&#x41\"/>"});
    EXPECT_EQ(ParseResult("<a b=\"&foo;\"/>"), HLY_SUCCESS);

    // at the UTF-8 boundaries
    const std::pair<const char*, const char*> cases[] = {
        {"#x7F", "\x7F"},                 {"#127", "\x7F"},
        {"#x80", "\xC2\x80"},             {"#128", "\xC2\x80"},
        {"#x7FF", "\xDF\xBF"},            {"#2047", "\xDF\xBF"},
        {"#x800", "\xE0\xA0\x80"},        {"#2048", "\xE0\xA0\x80"},
        {"#xD7FF", "\xED\x9F\xBF"},       {"#xE000", "\xEE\x80\x80"},
        {"#xFFFF", "\xEF\xBF\xBF"},       {"#65535", "\xEF\xBF\xBF"},
        {"#x10000", "\xF0\x90\x80\x80"},  {"#65536", "\xF0\x90\x80\x80"},
        {"#x10FFFF", "\xF4\x8F\xBF\xBF"}, {"#1114111", "\xF4\x8F\xBF\xBF"},
        {"#x0010FFFF", "\xF4\x8F\xBF\xBF"}, {"#9", "\t"}, {"#xA", "\n"}, {"#13", "\r"}, {"#x20", " "},
    };
    for (const auto& [reference, bytes] : cases) {
        EXPECT_EQ(RootText(std::string("<a>&") + reference + ";</a>"), bytes) << reference;
        Tree tree = ParseOk(std::string("<a v=\"&") + reference + ";\"/>");
        if (Root(tree)) {
            EXPECT_EQ(Str(Root(tree)->GetAttribute("v")), bytes) << reference;
        }
    }
    // no such character: past U+10FFFF, surrogates, NUL, the refused control
    // bytes, no digits, and digit runs that would wrap a 32-bit value round
    for (const char* reference : {"#x110000", "#1114112", "#xD800", "#xDBFF", "#xDC00", "#xDFFF", "#55296", "#0",
                                  "#x0", "#000", "#x1", "#8", "#x1F", "#11", "#", "#x", "#4294967361", "#x100000041",
                                  "#99999999999999999999"}) {
        ExpectResult(HLY_ERROR_INVALID_SYNTAX,
                     {std::string("<a>&") + reference + ";</a>", std::string("<a v='&") + reference + ";'/>"});
    }
}

/*----------------------------------------------------------------------
|   input normalisation
+---------------------------------------------------------------------*/
TEST(Xml, LineBreaksAndNul)
{
    EXPECT_EQ(RootText("<a>1\r\n2\r3\n4\r\r\n5</a>"), "1\n2\n3\n4\n\n5");
    // a NUL ends the document...
    EXPECT_EQ(ParseResult(std::string("<a/>\0<b/><c/>", 13)), HLY_SUCCESS);
    EXPECT_EQ(ParseResult(std::string("<a>\0</a>", 8)), HLY_ERROR_XML_NO_ROOT);
    // ... even when the bytes after it come in a later block of a stream
    std::string doc = "<a>" + std::string(1000, 'x') + std::string(1, '\0') + std::string(100, 'y') + "</a>";
    HLY_XmlParser    parser;
    HLY_XmlNode*     tree = nullptr;
    HLY_MemoryStream stream(doc.data(), (HLY_Size)doc.size());
    EXPECT_EQ(parser.Parse(stream, tree), HLY_ERROR_XML_NO_ROOT);
    EXPECT_EQ(tree, nullptr);
    EXPECT_EQ(ParseResult(doc), HLY_ERROR_XML_NO_ROOT);
    // ... and whichever buffer of an incremental parse
    EXPECT_EQ(parser.Parse("<a>x\0y", 6, tree), HLY_ERROR_XML_NO_ROOT);
    EXPECT_EQ(parser.Parse("</a>", 4, tree, true), HLY_SUCCESS);
    EXPECT_EQ(tree, nullptr);
}

TEST(Xml, StreamThatReadsNothingEndsTheParse)
{
    // "nothing, but fine" again and again must not keep the parser spinning:
    // the first empty read counts as the end of the stream
    class Stalling : public PiecewiseStream
    {
    public:
        using PiecewiseStream::PiecewiseStream;
        HLY_Result Read(void* buffer, HLY_Size bytes_to_read, HLY_Size* bytes_read) override
        {
            if (m_Position < m_Data.size()) return PiecewiseStream::Read(buffer, bytes_to_read, bytes_read);
            if (bytes_read) *bytes_read = 0;
            return ++m_Empty > 100 ? HLY_ERROR_READ_FAILED : HLY_SUCCESS;
        }
        int m_Empty = 0;
    };
    Stalling      stream("<a>x</a>");
    HLY_XmlParser parser;
    HLY_XmlNode*  tree = nullptr;
    EXPECT_EQ(parser.Parse(stream, tree), HLY_SUCCESS);
    delete tree;
    EXPECT_EQ(stream.m_Empty, 1);
}

/*----------------------------------------------------------------------
|   streams, limits, incremental parsing, reuse
+---------------------------------------------------------------------*/
TEST(Xml, StreamParsingReadsBlocksAndHonoursTheLimit)
{
    std::string doc       = std::string(DEVICE_DESCRIPTION) + std::string(3000, ' ');
    HLY_Size    root_end  = (HLY_Size)strlen(DEVICE_DESCRIPTION) + 5;
    Tree        reference = ParseOk(DEVICE_DESCRIPTION);
    ASSERT_NE(reference, nullptr);

    PiecewiseStream stream(doc);
    HLY_XmlParser   parser;
    HLY_XmlNode*    tree = nullptr;
    HLY_Size        size = 0;
    EXPECT_EQ(parser.Parse(stream, size, tree), HLY_SUCCESS);
    Tree owned(tree);
    EXPECT_EQ(size, doc.size());
    for (HLY_Size asked : stream.m_Asked) EXPECT_EQ(asked, 1024u);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(Diff(*tree, *reference), "");

    // a limit stops reading there: the root is not complete at 100 bytes
    PiecewiseStream limited(doc);
    size = 100;
    EXPECT_EQ(parser.Parse(limited, size, tree), HLY_ERROR_XML_NO_ROOT);
    EXPECT_EQ(size, 100u);
    EXPECT_EQ(limited.m_Position, 100u);
    // a limit past the root's end (and not on a block boundary) reads exactly that much
    PiecewiseStream enough(doc);
    size = root_end;
    EXPECT_EQ(parser.Parse(enough, size, tree), HLY_SUCCESS);
    delete tree;
    EXPECT_EQ(size, root_end);
    EXPECT_EQ(enough.m_Asked.back(), root_end % 1024);

    // a read failure is returned and nothing is kept
    PiecewiseStream failing(doc);
    failing.FailCall(1, HLY_ERROR_READ_FAILED);
    EXPECT_EQ(parser.Parse(failing, tree), HLY_ERROR_READ_FAILED);
    EXPECT_EQ(tree, nullptr);
}

TEST(Xml, PiecesOfAnySizeGiveTheSameTree)
{
    Tree reference = ParseOk(DIDL_DOCUMENT);
    ASSERT_NE(reference, nullptr);
    for (HLY_Size piece : {1u, 2u, 3u, 7u, 64u}) {
        PiecewiseStream stream(DIDL_DOCUMENT, std::vector<HLY_Size>(strlen(DIDL_DOCUMENT), piece));
        HLY_XmlParser   parser;
        HLY_XmlNode*    tree = nullptr;
        ASSERT_EQ(parser.Parse(stream, tree), HLY_SUCCESS) << piece;
        Tree owned(tree);
        EXPECT_EQ(Diff(*tree, *reference), "") << piece;

        // CR LF split across pieces must still read as one line break
        PiecewiseStream lines("<a>x\r\ny\r\n\r\nz</a>", std::vector<HLY_Size>(20, piece));
        ASSERT_EQ(parser.Parse(lines, tree), HLY_SUCCESS);
        Tree owned_lines(tree);
        EXPECT_EQ(Str(tree->AsElementNode()->GetText()), "x\ny\n\nz");
    }
}

TEST(Xml, IncrementalParsingReturnsTheRootOnceComplete)
{
    std::string   doc = DIDL_DOCUMENT;
    HLY_XmlParser parser;
    HLY_XmlNode*  tree = nullptr;
    // the first call resets the parser, later ones carry on
    size_t cut = doc.size() / 3;
    EXPECT_EQ(parser.Parse(doc.data(), (HLY_Size)cut, tree), HLY_ERROR_XML_NO_ROOT);
    EXPECT_EQ(tree, nullptr);
    EXPECT_EQ(parser.Parse(doc.data() + cut, (HLY_Size)(doc.size() - cut - 10), tree, true), HLY_SUCCESS);
    EXPECT_EQ(tree, nullptr);
    EXPECT_EQ(parser.Parse(doc.data() + doc.size() - 10, 10, tree, true), HLY_SUCCESS);
    ASSERT_NE(tree, nullptr);
    Tree owned(tree);
    Tree reference = ParseOk(doc);
    EXPECT_EQ(Diff(*tree, *reference), "");
}

TEST(Xml, ReusedParserForgetsAnAbandonedDocument)
{
    HLY_XmlParser parser;
    HLY_XmlNode*  tree = nullptr;
    // leaves pending text, a half-read name and an open element behind
    for (const char* abandoned : {"<a>pending text", "<a><b attr=\"half", "<a><b>te"}) {
        EXPECT_EQ(parser.Parse(abandoned, tree), HLY_ERROR_XML_NO_ROOT);
    }
    EXPECT_EQ(parser.Parse("<x>fresh</x>", tree), HLY_SUCCESS);
    ASSERT_NE(tree, nullptr);
    Tree owned(tree);
    EXPECT_EQ(Str(tree->AsElementNode()->GetText()), "fresh");
    EXPECT_EQ(tree->AsElementNode()->GetChildren().GetItemCount(), 1u);
    // a failed parse keeps nothing; the next one works
    EXPECT_EQ(parser.Parse("<a></b>", tree), HLY_ERROR_XML_TAG_MISMATCH);
    EXPECT_EQ(tree, nullptr);
    EXPECT_EQ(parser.Parse("<a/><b/>", tree), HLY_ERROR_XML_MULTIPLE_ROOTS);
    EXPECT_EQ(tree, nullptr);
    EXPECT_EQ(parser.Parse("<y/>", tree), HLY_SUCCESS);
    delete tree;
    EXPECT_EQ(parser.Parse(nullptr, tree), HLY_ERROR_INVALID_PARAMETERS);
}

TEST(Xml, WhitespaceOnlyTextCanBeDropped)
{
    HLY_XmlParser parser(false);
    HLY_XmlNode*  tree = nullptr;
    ASSERT_EQ(parser.Parse("<a>\n  <b> x </b>\r\n\t<c>\xC2\xA0</c> </a>", tree), HLY_SUCCESS);
    Tree                owned(tree);
    HLY_XmlElementNode* a = tree->AsElementNode();
    EXPECT_EQ(a->GetText(), nullptr);
    EXPECT_EQ(a->GetChildren().GetItemCount(), 2u);
    EXPECT_EQ(Str(a->GetChild("b")->GetText()), " x ");
    // bytes above 127 are not white space
    EXPECT_EQ(Str(a->GetChild("c")->GetText()), "\xC2\xA0");
}

/*----------------------------------------------------------------------
|   tree operations
+---------------------------------------------------------------------*/
TEST(XmlTree, ChildrenAttributesAndText)
{
    HLY_XmlElementNode root("s:Envelope");
    EXPECT_EQ(Str(&root.GetPrefix()), "s");
    EXPECT_EQ(Str(&root.GetTag()), "Envelope");
    EXPECT_EQ(root.AddChild(nullptr), HLY_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(root.AddChild(&root), HLY_ERROR_INVALID_PARAMETERS);

    HLY_XmlElementNode* body = new HLY_XmlElementNode("s", "Body");
    ASSERT_EQ(root.AddChild(body), HLY_SUCCESS);
    EXPECT_EQ(body->GetParent(), &root);
    // a node that already has a parent, or an ancestor, is refused
    EXPECT_EQ(body->AddChild(body), HLY_ERROR_INVALID_PARAMETERS);
    HLY_XmlElementNode other("other");
    EXPECT_EQ(other.AddChild(body), HLY_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(other.GetChildren().GetItemCount(), 0u);

    EXPECT_EQ(body->AddText("one"), HLY_SUCCESS);
    body->AddChild(new HLY_XmlElementNode("x"));
    EXPECT_EQ(body->AddText("two"), HLY_SUCCESS);
    EXPECT_EQ(Str(body->GetText(1)), "two");
    EXPECT_EQ(body->GetText(2), nullptr);
    EXPECT_EQ(body->AddText(nullptr), HLY_ERROR_INVALID_PARAMETERS);

    EXPECT_EQ(body->AddAttribute("a", "1"), HLY_SUCCESS);
    EXPECT_EQ(body->AddAttribute("a", "2"), HLY_SUCCESS); // duplicates are allowed
    EXPECT_EQ(body->AddAttribute("p:a", "3"), HLY_SUCCESS);
    EXPECT_EQ(body->AddAttribute(nullptr, "x"), HLY_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(body->AddAttribute("x", nullptr), HLY_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(Str(body->GetAttribute("a")), "1");
    EXPECT_EQ(body->SetAttribute("a", "changed"), HLY_SUCCESS);
    EXPECT_EQ(body->SetAttribute("", "a", "again"), HLY_SUCCESS); // empty prefix is the same as none
    EXPECT_EQ(body->SetAttribute("p", "a", "pa"), HLY_SUCCESS);
    EXPECT_EQ(body->SetAttribute("q", "a", "qa"), HLY_SUCCESS); // new prefix: appended
    EXPECT_EQ(body->SetAttribute("a", nullptr), HLY_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(body->GetAttributes().GetItemCount(), 4u);
    EXPECT_EQ(Str(body->GetAttribute("a")), "again");
    EXPECT_EQ(Str(body->GetAttribute("a", "*")), "again");
    EXPECT_EQ(Str(&(*body->GetAttributes().GetLastItem())->GetPrefix()), "q");
    EXPECT_EQ(Str(&(*body->GetAttributes().GetItem(2))->GetValue()), "pa");
}

TEST(XmlTree, NamespaceLinksFollowMapsAndMoves)
{
    // a subtree built on its own, then put under an element with a map
    HLY_XmlElementNode* inner = new HLY_XmlElementNode("p:inner");
    HLY_XmlElementNode* leaf  = new HLY_XmlElementNode("p:leaf");
    inner->AddChild(leaf);
    EXPECT_EQ(leaf->GetNamespace(), nullptr);

    HLY_XmlElementNode root("root");
    root.SetNamespaceUri("p", "urn:p");
    root.SetNamespaceUri("", "urn:default");
    root.SetNamespaceUri("p", "urn:p2"); // replaces
    EXPECT_EQ(root.GetNamespaceMap()->GetEntries().GetItemCount(), 2u);
    HLY_XmlElementNode* middle = new HLY_XmlElementNode("middle");
    root.AddChild(middle);
    middle->AddChild(inner);
    EXPECT_EQ(leaf->GetNamespaceParent(), &root);
    EXPECT_EQ(Str(leaf->GetNamespace()), "urn:p2");
    EXPECT_EQ(Str(middle->GetNamespace()), "urn:default");

    // a map created on an element that already has children re-links them all
    middle->SetNamespaceUri("p", "urn:middle");
    EXPECT_EQ(leaf->GetNamespaceParent(), middle);
    EXPECT_EQ(Str(leaf->GetNamespace()), "urn:middle");
    EXPECT_EQ(root.GetChild("middle", "urn:default"), middle);
    EXPECT_EQ(middle->GetChild("inner", "urn:middle"), inner);
    // undeclaring gives no namespace
    inner->SetNamespaceUri("p", "");
    EXPECT_EQ(leaf->GetNamespace(), nullptr);
    EXPECT_EQ(inner->GetChild("leaf"), leaf);
    EXPECT_EQ(CheckLinks(root), "");
    EXPECT_EQ(Str(root.GetNamespaceUri("xml")), HLY_XML_NAMESPACE_URI_XML);
    root.SetNamespaceUri("xml", "urn:overridden");
    EXPECT_EQ(Str(leaf->GetNamespaceUri("xml")), "urn:overridden");
}

TEST(XmlTree, DestroyingDoesNotTrustChangedParentLinks)
{
    // a caller that points a child's parent link elsewhere must not make the
    // tree's destruction climb into (and free) a node it does not own
    HLY_XmlElementNode  outsider("outsider");
    HLY_XmlElementNode* root  = new HLY_XmlElementNode("root");
    HLY_XmlElementNode* child = new HLY_XmlElementNode("child");
    root->AddChild(child);
    child->AddChild(new HLY_XmlElementNode("grandchild"));
    child->AddText("t");
    child->SetParent(&outsider);
    delete root;
    EXPECT_EQ(Str(&outsider.GetTag()), "outsider");
    EXPECT_EQ(outsider.GetChildren().GetItemCount(), 0u);
}

TEST(XmlTree, TreesMoveBetweenThreads)
{
    // trees built on two threads at once, and freed on the other thread
    std::vector<HLY_XmlNode*> built[2];
    auto build = [&built](int index) {
        for (int i = 0; i < 40; ++i) {
            HLY_XmlParser parser;
            HLY_XmlNode*  tree = nullptr;
            if (HLY_SUCCEEDED(parser.Parse(i % 2 ? DIDL_DOCUMENT : DEVICE_DESCRIPTION, tree))) {
                built[index].push_back(tree);
            }
            // and some short-lived ones in between
            HLY_XmlNode* scratch = nullptr;
            if (HLY_SUCCEEDED(parser.Parse(DIDL_DOCUMENT, scratch))) delete scratch;
        }
    };
    std::thread first(build, 0), second(build, 1);
    first.join();
    second.join();
    ASSERT_EQ(built[0].size(), 40u);
    ASSERT_EQ(built[1].size(), 40u);
    Tree reference = ParseOk(DIDL_DOCUMENT);
    ASSERT_NE(reference, nullptr);
    for (HLY_XmlNode* tree : built[0]) {
        if (tree->AsElementNode()->GetTag() == "DIDL-Lite") {
            EXPECT_EQ(Diff(*tree, *reference), "");
        }
    }
    auto drop = [&built](int index) {
        for (HLY_XmlNode* tree : built[index]) delete tree;
    };
    std::thread third(drop, 1), fourth(drop, 0);
    third.join();
    fourth.join();
}

TEST(XmlTree, DerivedNodesOfAnySize)
{
    // a caller's own node types, larger than anything the tree makes itself
    class Annotated : public HLY_XmlElementNode
    {
    public:
        explicit Annotated(const char* tag) : HLY_XmlElementNode(tag) { memset(m_Note, 'n', sizeof(m_Note)); }
        char m_Note[700];
    };
    HLY_XmlElementNode* root = new Annotated("root");
    for (int i = 0; i < 100; ++i) {
        Annotated* child = new Annotated("child");
        child->AddText("x");
        ASSERT_EQ(root->AddChild(child), HLY_SUCCESS);
    }
    EXPECT_EQ(root->GetChildren().GetItemCount(), 100u);
    EXPECT_EQ(static_cast<Annotated*>(root->GetChild("child", "", 99))->m_Note[699], 'n');
    EXPECT_EQ(Serialize(*root).size(), 6 + 100 * 16 + 7u);
    delete root;
}

/*----------------------------------------------------------------------
|   serializer and writer
+---------------------------------------------------------------------*/
TEST(XmlWriter, ShrinksEmptyElementsAndIndents)
{
    Tree tree = ParseOk("<root xmlns=\"urn:r\" xmlns:p=\"urn:p\" a=\"1\"><p:child x=\"y\"/><t>text</t><e></e></root>");
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(Serialize(*tree),
              "<root a=\"1\" xmlns=\"urn:r\" xmlns:p=\"urn:p\"><p:child x=\"y\"/><t>text</t><e/></root>");
    EXPECT_EQ(Serialize(*tree, 2, true),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
              "<root a=\"1\" xmlns=\"urn:r\" xmlns:p=\"urn:p\">\r\n"
              "  <p:child x=\"y\"/>\r\n"
              "  <t>text</t>\r\n"
              "  <e/>\r\n"
              "</root>");
    HLY_XmlTextNode text("a<b");
    EXPECT_EQ(Serialize(text), "a&lt;b");
}

TEST(XmlWriter, Escaping)
{
    HLY_XmlElementNode e("e");
    e.AddAttribute("v", "<&>\"'\t\n\r x");
    e.AddText("<&>\"'\t\n\r x]]>");
    EXPECT_EQ(Serialize(e), "<e v=\"&lt;&amp;>&quot;'&#x9;&#xA;&#xD; x\">&lt;&amp;&gt;\"'\t\n&#xD; x]]&gt;</e>");
    // and it reads back the same
    Tree back = ParseOk(Serialize(e));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(Diff(e, *back), "");
}

TEST(XmlSerializer, EventsAndState)
{
    HLY_StringOutputStream out;
    HLY_XmlSerializer      s(&out, 0, false, false);
    EXPECT_EQ(s.EndElement(nullptr, "a"), HLY_ERROR_INVALID_STATE); // nothing open
    s.StartDocument();
    s.StartElement("p", "a");
    s.Attribute(nullptr, "k", "v");
    EXPECT_EQ(s.EndDocument(), HLY_ERROR_INVALID_STATE);
    s.Comment(" c ");
    s.CdataSection("<raw>");
    s.StartElement(nullptr, "empty");
    s.EndElement(nullptr, "empty");
    s.EndElement("p", "a");
    EXPECT_EQ(s.EndDocument(), HLY_SUCCESS);
    EXPECT_EQ(std::string(out.GetString().GetChars()),
              "<p:a k=\"v\"><!-- c --><![CDATA[<raw>]]><empty></empty></p:a>");

    HLY_StringOutputStream indented;
    HLY_XmlSerializer      t(&indented, 3, false, false);
    t.StartElement(nullptr, "a");
    t.StartElement(nullptr, "b");
    t.StartElement(nullptr, "c");
    t.EndElement(nullptr, "c");
    t.EndElement(nullptr, "b");
    t.EndElement(nullptr, "a");
    // a second top-level element goes on a line of its own
    t.StartElement(nullptr, "d");
    t.EndElement(nullptr, "d");
    EXPECT_EQ(std::string(indented.GetString().GetChars()),
              "<a>\r\n   <b>\r\n      <c>\r\n      </c>\r\n   </b>\r\n</a>\r\n<d>\r\n</d>");
}

/*----------------------------------------------------------------------
|   round trips
+---------------------------------------------------------------------*/
TEST(XmlWriter, RoundTripsKeepTheTree)
{
    // the third has mixed content, which indentation changes
    const std::pair<std::string, bool> documents[] = {
        {DEVICE_DESCRIPTION, true},
        {DIDL_DOCUMENT, true},
        {"<a:b:c x='&#13;&#10;&#9;\"' y=\"'\">t&#13;&#x10FFFF;&amp;<![CDATA[]]>]]&gt;<:d/><e:/></a:b:c>", false},
        {"<r xmlns:=\"urn:d\" xmlnsx=\"1\" xml:lang=\"en\"><x:y xmlns:x=\"urn:x\" xmlns:x=\"urn:x2\"/></r>", true},
    };
    for (const auto& [doc, indentable] : documents) {
        Tree first = ParseOk(doc);
        ASSERT_NE(first, nullptr);
        std::string text   = Serialize(*first);
        Tree        second = ParseOk(text);
        ASSERT_NE(second, nullptr);
        EXPECT_EQ(Diff(*first, *second), "") << text;
        EXPECT_EQ(Serialize(*second), text);

        if (!indentable) continue;
        // indentation only adds white-space text between elements
        Tree indented = ParseOk(Serialize(*first, 4, true));
        ASSERT_NE(indented, nullptr);
        EXPECT_EQ(Diff(*first, *indented, true), "") << Serialize(*first, 4, true);
    }
}

TEST(XmlWriter, NamesStartingWithAColonAreWrittenAsRead)
{
    // A leading ':' introduces no (empty) prefix: the whole name is the
    // local name, else ":" was written back as an empty name that does not
    // parse, and "::" lost a colon on each round trip. The first document
    // is the fuzzer's.
    const std::string documents[] = {
        std::string("<: D-xIDL-L=\"menxm&q\xf3ot;0.1/\"/>\xbf<g0prope", 40),
        "<::><:a:b :=\"1\" ::=\"2\" :p=\"3\" q:=\"4\"/></::>",
    };
    for (const std::string& doc : documents) {
        Tree first = ParseOk(doc);
        ASSERT_NE(first, nullptr);
        std::string text   = Serialize(*first);
        Tree        second = ParseOk(text);
        ASSERT_NE(second, nullptr) << text;
        EXPECT_EQ(Serialize(*second), text);
    }

    Tree tree = ParseOk(documents[1]);
    ASSERT_NE(Root(tree), nullptr);
    EXPECT_EQ(Root(tree)->GetPrefix(), "");
    EXPECT_EQ(Root(tree)->GetTag(), "::");
    HLY_XmlElementNode* child = Root(tree)->GetChild(":a:b");
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(Str(child->GetAttribute(":")), "1");
    EXPECT_EQ(Str(child->GetAttribute("::")), "2");
    EXPECT_EQ(Str(child->GetAttribute(":p")), "3");
    EXPECT_EQ(Str(child->GetAttribute("", HLY_XML_ANY_NAMESPACE)), "4");
    EXPECT_EQ(Serialize(*Root(tree)), "<::><:a:b :=\"1\" ::=\"2\" :p=\"3\" q:=\"4\"/></::>");

    // the end tag is split the same way: ":a" closes ":a" and nothing else
    EXPECT_EQ(ParseResult("<:a></:a>"), HLY_SUCCESS);
    EXPECT_EQ(ParseResult("<:a></a>"), HLY_ERROR_XML_TAG_MISMATCH);
    EXPECT_EQ(ParseResult("<a></:a>"), HLY_ERROR_XML_TAG_MISMATCH);
}

/*----------------------------------------------------------------------
|   hostile input
+---------------------------------------------------------------------*/
TEST(XmlHostile, HundredThousandLevelsDeep)
{
    const int   depth = 100000;
    std::string doc   = "<r xmlns=\"urn:deep\">";
    doc.reserve(depth * 8 + 64);
    for (int i = 1; i < depth; ++i) doc += "<d>";
    doc += "bottom";
    for (int i = 1; i < depth; ++i) doc += "</d>";
    doc += "</r>";

    Tree tree = ParseOk(doc);
    ASSERT_NE(tree, nullptr);
    const HLY_XmlElementNode* e     = Root(tree);
    int                       count = 1;
    while (e->GetChild("d", "urn:deep")) {
        e = e->GetChild("d", "urn:deep");
        ++count;
    }
    EXPECT_EQ(count, depth);
    EXPECT_EQ(Str(e->GetText()), "bottom");
    EXPECT_EQ(e->GetNamespaceParent(), Root(tree));

    // writing it out (no recursion) gives the document back
    EXPECT_EQ(Serialize(*tree), doc);
    // a map added near the top re-links every level below it
    HLY_XmlElementNode* second = Root(tree)->GetChild("d", "urn:deep");
    second->SetNamespaceUri("", "urn:changed");
    EXPECT_EQ(e->GetNamespaceParent(), second);
    EXPECT_EQ(Str(e->GetNamespace()), "urn:changed");
    EXPECT_EQ(CheckLinks(*Root(tree)), "");
    // a deep tree compares and is destroyed without recursion as well
    Tree again = ParseOk(doc);
    ASSERT_NE(again, nullptr);
    EXPECT_NE(Diff(*tree, *again), "");
    Root(again)->GetChild("d", "urn:deep")->SetNamespaceUri("", "urn:changed");
    EXPECT_EQ(Diff(*tree, *again), "");
    tree.reset();

    // an unclosed deep document: the parser drops its partial tree
    EXPECT_EQ(ParseResult(doc.substr(0, doc.size() / 2)), HLY_ERROR_XML_NO_ROOT);
    // a deep mismatch, then a deep tree built by hand from the bottom up
    EXPECT_EQ(ParseResult(doc.substr(0, doc.size() / 2) + "</x>"), HLY_ERROR_XML_TAG_MISMATCH);
    HLY_XmlElementNode* top = new HLY_XmlElementNode("n");
    for (int i = 0; i < depth; ++i) {
        HLY_XmlElementNode* parent = new HLY_XmlElementNode("n");
        ASSERT_EQ(parent->AddChild(top), HLY_SUCCESS);
        top = parent;
    }
    EXPECT_EQ(Serialize(*top).size(), (size_t)(depth + 1) * 7 - 3);
    delete top;
}

TEST(XmlHostile, HundredsOfThousandsOfNamespaceDeclarations)
{
    // one element declaring 200,000 prefixes (and one of them twice): the
    // lookup per declaration must not grow with the number already seen
    const int   count = 200000;
    std::string doc   = "<p7:a";
    for (int i = 0; i < count; ++i) doc += " xmlns:p" + std::to_string(i) + "=\"urn:" + std::to_string(i) + "\"";
    doc += " xmlns:p7=\"urn:again\"><p199999:b/></p7:a>";
    auto start = std::chrono::steady_clock::now();
    Tree tree  = ParseOk(doc);
    auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_LT(spent, std::chrono::seconds(10));
    ASSERT_NE(Root(tree), nullptr);
    EXPECT_EQ(Root(tree)->GetNamespaceMap()->GetEntries().GetItemCount(), (HLY_Cardinal)count);
    EXPECT_EQ(Str(Root(tree)->GetNamespace()), "urn:again");
    EXPECT_EQ(Str(Root(tree)->GetNamespaceUri("p123456")), "urn:123456");
    EXPECT_NE(Root(tree)->GetChild("b", "urn:199999"), nullptr);
    EXPECT_EQ(Root(tree)->GetNamespaceUri("p200000"), nullptr);
    // declarations keep their order when written out
    std::string text = Serialize(*Root(tree));
    EXPECT_NE(text.find("xmlns:p6=\"urn:6\" xmlns:p7=\"urn:again\" xmlns:p8=\"urn:8\""), std::string::npos);
}

TEST(XmlHostile, FiftyMegabyteTextNode)
{
    const size_t size = 50u * 1024 * 1024;
    std::string  doc;
    doc.reserve(size + 32);
    doc += "<blob>";
    for (size_t i = 0; doc.size() < size + 6; ++i) doc += (i % 61 == 60) ? '\n' : (char)('a' + i % 26);
    doc += "&amp;</blob>";
    Tree tree = ParseOk(doc);
    ASSERT_NE(tree, nullptr);
    const HLY_String* text = Root(tree)->GetText();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->GetLength(), doc.size() - 6 - 12 + 1);
    EXPECT_EQ(text->GetChars()[text->GetLength() - 1], '&');
    EXPECT_EQ(memcmp(text->GetChars(), doc.data() + 6, 1000), 0);
    EXPECT_EQ(Serialize(*tree), doc);
}

TEST(XmlHostile, TruncatedDocumentsNeverParseAsComplete)
{
    std::string doc = DEVICE_DESCRIPTION;
    size_t      end = doc.rfind("</root>") + 7;
    for (size_t length = 0; length <= doc.size(); ++length) {
        HLY_Result result = HLY_FAILURE;
        Tree       tree   = Parse(doc.substr(0, length), result);
        if (length < end) {
            EXPECT_NE(result, HLY_SUCCESS) << length;
        } else {
            EXPECT_EQ(result, HLY_SUCCESS) << length;
        }
    }
}

TEST(XmlHostile, RandomAndMutatedInput)
{
    std::mt19937 random(20240611);
    const std::string seeds[] = {DEVICE_DESCRIPTION, DIDL_DOCUMENT};
    const char        alphabet[] = "<>/=\"'&;#x!-[]?: \r\n\tabAB19\xC3\xA9\xEF\xBB\xBF";
    int parsed = 0, round_tripped = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string input;
        if (round % 3 == 0) {
            // plain random bytes
            size_t length = random() % 600;
            for (size_t i = 0; i < length; ++i) input += (char)(random() % 256);
            if (round % 2) input = "<a>" + input; // get past the first byte now and then
        } else {
            // a real document with a few bytes changed, inserted or removed
            input = seeds[round % 2];
            int edits = 1 + random() % 4;
            for (int k = 0; k < edits; ++k) {
                size_t where = random() % input.size();
                char   c     = alphabet[random() % (sizeof(alphabet) - 1)];
                switch (random() % 3) {
                    case 0: input[where] = c; break;
                    case 1: input.insert(where, 1, c); break;
                    default: input.erase(where, 1); break;
                }
            }
        }
        HLY_Result result = HLY_FAILURE;
        Tree       tree   = Parse(input, result);

        // the same bytes through a stream in uneven pieces give the same outcome
        PiecewiseStream stream(input, std::vector<HLY_Size>(input.size() + 1, 1 + (HLY_Size)(random() % 300)));
        HLY_XmlParser parser;
        HLY_XmlNode*  streamed = nullptr;
        EXPECT_EQ(parser.Parse(stream, streamed), result) << round;
        Tree owned(streamed);
        if (HLY_FAILED(result)) continue;
        ++parsed;
        ASSERT_NE(tree, nullptr);
        ASSERT_NE(streamed, nullptr);
        EXPECT_EQ(Diff(*tree, *streamed), "") << round;
        EXPECT_EQ(CheckLinks(*Root(tree)), "") << round;

        // whatever parses writes out to a document that reads back the same
        std::string text  = Serialize(*tree);
        Tree        again = ParseOk(text);
        if (again) {
            EXPECT_EQ(Diff(*tree, *again), "") << round << ": " << text;
            ++round_tripped;
        }
    }
    // the mutations keep a good share of the documents well formed
    EXPECT_GT(parsed, 300);
    EXPECT_EQ(round_tripped, parsed);
}
