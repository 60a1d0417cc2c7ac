#include <cstring>

#include "CvdProtocolInfo.h"
#include "hlyhttpserver.h"
#include "hlylogging.h"

HLY_SET_LOCAL_LOGGER("corvid.media.server.protocolinfo")

namespace {

const char* const PN_CHARS          = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_";
const char* const OTHER_NAME_CHARS  = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
const char* const OTHER_VALUE_CHARS = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-+,";
const char* const OCTET_STREAM      = "application/octet-stream";
#define DLNA_FLAGS_DEFAULT "DLNA.ORG_FLAGS=01500000000000000000000000000000"

struct Pair
{
    const char* key;
    const char* value;
};

// the DLNA parameters of a fourth field, in the order they must appear
struct DlnaParam
{
    const char*               name;
    const char*               chars;
    HLY_Size                  length; // 0: any length
    HLY_String CVD_ProtocolInfo::*field;
};

bool ConsistsOf(const HLY_String& text, const char* chars)
{
    for (HLY_Size i = 0; i < text.GetLength(); ++i) {
        if (strchr(chars, text[i]) == nullptr || text[i] == '\0') return false;
    }
    return true;
}

const char* Lookup(const Pair* table, HLY_Size count, const char* key)
{
    for (HLY_Size i = 0; i < count; ++i) {
        if (HLY_String::Compare(table[i].key, key, true) == 0) return table[i].value;
    }
    return nullptr;
}

#define TABLE_LOOKUP(_table, _key) Lookup(_table, sizeof(_table) / sizeof(_table[0]), _key)

const Pair XboxMimeTypes[] = {
    {"l16", "audio/L16"},   {"l16m", "audio/L16"},   {"l16m32", "audio/L16"},
    {"avi", "video/avi"},   {"divx", "video/avi"},   {"xvid", "video/avi"},
    {"mov", "video/quicktime"},
};
const Pair Ps3MimeTypes[] = {
    {"avi", "video/x-msvideo"}, {"divx", "video/x-msvideo"}, {"xvid", "video/x-msvideo"}, {"mov", "video/mp4"},
};
const Pair SonosMimeTypes[] = {
    {"wav", "audio/wav"},
};
const Pair GeneralMimeTypes[] = {
    {"l16", "audio/L16;rate=44100;channels=2"},
    {"l16m", "audio/L16;rate=44100;channels=1"},
    {"wav", "audio/wav"},
    {"wavm", "audio/wav"},
    {"alac", "audio/x-alac"},
    {"l16m32", "audio/L16;rate=32000;channels=1"},
};

// Xbox and Windows Media Player clients
const Pair XboxDlna[] = {
    {"video/quicktime", "DLNA.ORG_OP=01;DLNA.ORG_CI=0;" DLNA_FLAGS_DEFAULT},
    {"video/mp4", "DLNA.ORG_OP=01;DLNA.ORG_CI=0;" DLNA_FLAGS_DEFAULT},
    {"audio/wav", "DLNA.ORG_OP=01;DLNA.ORG_CI=1;" DLNA_FLAGS_DEFAULT},
    {"audio/mp4", "DLNA.ORG_PN=AAC_ISO;DLNA.ORG_OP=01;" DLNA_FLAGS_DEFAULT},
    {"audio/mpeg", "DLNA.ORG_PN=MP3;DLNA.ORG_OP=01"},
    {"audio/L16", "DLNA.ORG_PN=LPCM;DLNA.ORG_OP=01;DLNA.ORG_CI=1"},
    {"audio/x-ms-wma", "DLNA.ORG_PN=WMABASE;DLNA.ORG_OP=01;DLNA.ORG_CI=0"},
};
const Pair Ps3Dlna[] = {
    {"image/jpg", "DLNA.ORG_OP=01"},
    {"image/png", "DLNA.ORG_OP=01"},
};
const Pair SonosDlna[] = {
    {"audio/wav", "*"},
};
const Pair GeneralDlna[] = {
    {"image/gif", "DLNA.ORG_PN=GIF_LRG"},
    {"image/jpeg", "DLNA.ORG_PN=JPEG_LRG"},
    {"image/jp2", "DLNA.ORG_PN=JPEG_LRG"},
    {"image/png", "DLNA.ORG_PN=PNG_LRG"},
    {"image/bmp", "DLNA.ORG_PN=BMP_LRG"},
    {"image/tiff", "DLNA.ORG_PN=TIFF_LRG"},
    {"audio/L16;rate=44100;channels=2", "DLNA.ORG_PN=LPCM;DLNA.ORG_OP=01;DLNA.ORG_CI=1;" DLNA_FLAGS_DEFAULT},
    {"audio/L16;rate=44100;channels=1", "DLNA.ORG_PN=LPCM;DLNA.ORG_OP=01;DLNA.ORG_CI=1;" DLNA_FLAGS_DEFAULT},
    {"audio/L16;rate=32000;channels=1", "DLNA.ORG_PN=LPCM;DLNA.ORG_OP=01;DLNA.ORG_CI=1;" DLNA_FLAGS_DEFAULT},
    {"audio/mpeg", "DLNA.ORG_PN=MP3;DLNA.ORG_OP=01;DLNA.ORG_CI=0;" DLNA_FLAGS_DEFAULT},
    {"audio/mp4", "DLNA.ORG_PN=AAC_ISO;DLNA.ORG_OP=01;DLNA.ORG_CI=0;" DLNA_FLAGS_DEFAULT},
    {"audio/x-ms-wma", "DLNA.ORG_PN=WMABASE;DLNA.ORG_OP=01;DLNA.ORG_CI=0;" DLNA_FLAGS_DEFAULT},
    {"audio/wav", "DLNA.ORG_OP=01;DLNA.ORG_CI=1;" DLNA_FLAGS_DEFAULT},
    {"audio/x-wav", "DLNA.ORG_OP=01;DLNA.ORG_CI=1;" DLNA_FLAGS_DEFAULT},
    {"video/avi", "DLNA.ORG_PN=AVI;DLNA.ORG_OP=01;DLNA.ORG_CI=0;" DLNA_FLAGS_DEFAULT},
    {"video/mp4", "DLNA.ORG_PN=MPEG4_P2_SP_AAC;DLNA.ORG_OP=01;DLNA.ORG_CI=0;" DLNA_FLAGS_DEFAULT},
    {"video/mpeg", "DLNA.ORG_PN=MPEG_PS_PAL;DLNA.ORG_OP=01;DLNA.ORG_CI=0;" DLNA_FLAGS_DEFAULT},
    {"video/quicktime", "DLNA.ORG_OP=01;DLNA.ORG_CI=0;" DLNA_FLAGS_DEFAULT},
    {"video/x-ms-wmv", "DLNA.ORG_PN=WMVHIGH_BASE;DLNA.ORG_OP=01;DLNA.ORG_CI=0;" DLNA_FLAGS_DEFAULT},
    {"video/x-msvideo", "DLNA.ORG_PN=AVI;DLNA.ORG_OP=01;DLNA.ORG_CI=0;" DLNA_FLAGS_DEFAULT},
    {"video/x-ms-asf", "DLNA.ORG_OP=01;DLNA.ORG_CI=0;" DLNA_FLAGS_DEFAULT},
    {"video/x-matroska", "DLNA.ORG_OP=01;DLNA.ORG_CI=0"},
    {"video/x-flv", "DLNA.ORG_OP=01;DLNA.ORG_CI=0"},
};

CVD_DeviceSignature SignatureOf(const HLY_HttpRequest* request)
{
    return request ? CVD_HttpHelper::GetDeviceSignature(*request) : CVD_DEVICE_UNKNOWN;
}

} // namespace

/*----------------------------------------------------------------------
|   CVD_ProtocolInfo
+---------------------------------------------------------------------*/
CVD_ProtocolInfo::CVD_ProtocolInfo(const char* protocol_info) : m_Valid(false)
{
    Parse(protocol_info);
}

CVD_ProtocolInfo::CVD_ProtocolInfo(const char* protocol, const char* mask, const char* content_type, const char* extra)
    : m_Protocol(protocol), m_Mask(mask), m_ContentType(content_type), m_Extra(extra), m_Valid(false)
{
    ValidateExtra();
}

HLY_Result CVD_ProtocolInfo::Parse(const char* protocol_info)
{
    m_Valid = false;
    if (protocol_info == nullptr || *protocol_info == '\0') return HLY_ERROR_INVALID_PARAMETERS;
    // exactly four fields: three colons
    const char* colons[3];
    int         count = 0;
    for (const char* p = protocol_info; *p; ++p) {
        if (*p != ':') continue;
        if (count == 3) return HLY_ERROR_INVALID_SYNTAX;
        colons[count++] = p;
    }
    if (count != 3) return HLY_ERROR_INVALID_SYNTAX;
    m_Protocol.Assign(protocol_info, (HLY_Size)(colons[0] - protocol_info));
    m_Mask.Assign(colons[0] + 1, (HLY_Size)(colons[1] - colons[0] - 1));
    m_ContentType.Assign(colons[1] + 1, (HLY_Size)(colons[2] - colons[1] - 1));
    m_Extra = colons[2] + 1;
    return ValidateExtra();
}

HLY_Result CVD_ProtocolInfo::ParseExtra(const HLY_String& extra, HLY_List<FieldEntry>& entries)
{
    if (extra == "*") return HLY_SUCCESS;
    const char* start = extra.GetChars();
    const char* end   = start + extra.GetLength();
    while (start < end && *start == ';') ++start;
    while (end > start && end[-1] == ';') --end;
    // each piece between semicolons is one name=value pair
    for (const char* piece = start;;) {
        const char* piece_end = piece;
        while (piece_end < end && *piece_end != ';') ++piece_end;
        const char* equals = nullptr;
        int         count  = 0;
        for (const char* p = piece; p < piece_end; ++p) {
            if (*p == '=' && count++ == 0) equals = p;
        }
        if (count != 1) {
            HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, "(HLY_ERROR_INVALID_SYNTAX)", HLY_ERROR_INVALID_SYNTAX);
            return HLY_ERROR_INVALID_SYNTAX;
        }
        FieldEntry entry;
        entry.m_Name.Assign(piece, (HLY_Size)(equals - piece));
        entry.m_Value.Assign(equals + 1, (HLY_Size)(piece_end - equals - 1));
        entries.Add(entry);
        if (piece_end >= end) break;
        piece = piece_end + 1;
    }
    return HLY_SUCCESS;
}

HLY_Result CVD_ProtocolInfo::ValidateExtra()
{
    static const DlnaParam params[] = {
        {"DLNA.ORG_PN", PN_CHARS, 0, &CVD_ProtocolInfo::m_DlnaPN},
        {"DLNA.ORG_OP", "01", 2, &CVD_ProtocolInfo::m_DlnaOP},
        {"DLNA.ORG_PS", "0123456789-,/", 0, &CVD_ProtocolInfo::m_DlnaPS},
        {"DLNA.ORG_CI", "01", 1, &CVD_ProtocolInfo::m_DlnaCI},
        {"DLNA.ORG_FLAGS", "0123456789ABCDEFabcdef", 32, &CVD_ProtocolInfo::m_DlnaFlags},
        {"DLNA.ORG_MAXSP", "0123456789.", 0, &CVD_ProtocolInfo::m_DlnaMaxSP},
    };
    const HLY_Size param_count = sizeof(params) / sizeof(params[0]);

    // a second validation starts from nothing
    for (HLY_Size p = 0; p < param_count; ++p) (this->*params[p].field).SetLength(0);
    m_DlnaOtherParams.Clear();

    if (m_Extra == "*") {
        m_Valid = true;
        return HLY_SUCCESS;
    }
    m_Valid = false;

    HLY_List<FieldEntry> entries;
    HLY_Result           result = ParseExtra(m_Extra, entries);
    if (HLY_FAILED(result)) return result;
    // only the four-text constructor can bring a ":" here, and its text form would not read back
    if (m_Extra.Find(':') >= 0) result = HLY_ERROR_INVALID_SYNTAX;

    HLY_Size stage = 0;
    for (HLY_List<FieldEntry>::Iterator entry = entries.GetFirstItem(); entry && HLY_SUCCEEDED(result); ++entry) {
        HLY_Size p = 0;
        while (p < param_count && entry->m_Name != params[p].name) ++p;
        if (p < param_count) {
            const DlnaParam& param = params[p];
            if (stage > p || entry->m_Value.IsEmpty() || !ConsistsOf(entry->m_Value, param.chars) ||
                (param.length && entry->m_Value.GetLength() != param.length)) {
                result = HLY_ERROR_INVALID_SYNTAX;
                break;
            }
            stage                = p + 1;
            this->*param.field = entry->m_Value;
            continue;
        }
        int underscore = entry->m_Name.Find('_');
        if (underscore < 0) {
            result = HLY_ERROR_INVALID_SYNTAX;
            break;
        }
        if (!ConsistsOf(entry->m_Name.SubString((HLY_Ordinal)underscore + 1), OTHER_NAME_CHARS) ||
            !ConsistsOf(entry->m_Value, OTHER_VALUE_CHARS)) {
            HLY_LOG_WARNING("Invalid protocolinfo 4th field other param: %s=%s", entry->m_Name.GetChars(),
                            entry->m_Value.GetChars());
            continue;
        }
        m_DlnaOtherParams.Add(*entry);
    }

    if (HLY_FAILED(result)) {
        HLY_LOG_CHECK_FAILURE(HLY_LOG_LEVEL_SEVERE, "(HLY_ERROR_INVALID_SYNTAX)", result);
        HLY_LOG_WARNING("Failure to parse Protocol Info Extras:%s", m_Extra.GetChars());
        // a refused field leaves no half-read parameters behind
        for (HLY_Size p = 0; p < param_count; ++p) (this->*params[p].field).SetLength(0);
        m_DlnaOtherParams.Clear();
        return HLY_FAILURE;
    }
    m_Valid = true;
    return HLY_SUCCESS;
}

HLY_String CVD_ProtocolInfo::ToString() const
{
    HLY_String text = m_Protocol + ":" + m_Mask + ":" + m_ContentType + ":";
    if (!m_Valid || m_Extra == "*") {
        text += m_Extra;
        return text;
    }
    HLY_List<HLY_String> parts;
    const struct
    {
        const char*       name;
        const HLY_String& value;
    } dlna[] = {{"DLNA.ORG_PN=", m_DlnaPN}, {"DLNA.ORG_OP=", m_DlnaOP},       {"DLNA.ORG_PS=", m_DlnaPS},
                {"DLNA.ORG_CI=", m_DlnaCI}, {"DLNA.ORG_FLAGS=", m_DlnaFlags}, {"DLNA.ORG_MAXSP=", m_DlnaMaxSP}};
    for (const auto& field : dlna) {
        if (!field.value.IsEmpty()) parts.Add(field.name + field.value);
    }
    for (HLY_List<FieldEntry>::Iterator entry = m_DlnaOtherParams.GetFirstItem(); entry; ++entry) {
        parts.Add(entry->m_Name + "=" + entry->m_Value);
    }
    // a field whose every parameter was dropped says nothing; an empty one would not read back
    if (parts.GetItemCount() == 0) {
        text += "*";
        return text;
    }
    text += HLY_String::Join(parts, ";");
    return text;
}

bool CVD_ProtocolInfo::Match(const CVD_ProtocolInfo& other) const
{
    const HLY_String* mine[]   = {&m_Protocol, &m_Mask, &m_ContentType};
    const HLY_String* theirs[] = {&other.m_Protocol, &other.m_Mask, &other.m_ContentType};
    for (int i = 0; i < 3; ++i) {
        if (*mine[i] != "*" && *theirs[i] != "*" && *mine[i] != *theirs[i]) return false;
    }
    if (m_Extra == "*" || other.m_Extra == "*") return true;
    return !m_DlnaPN.IsEmpty() && m_DlnaPN == other.m_DlnaPN;
}

HLY_String CVD_ProtocolInfo::GetMimeTypeFromProtocolInfo(const char* protocol_info)
{
    CVD_ProtocolInfo info;
    info.Parse(protocol_info);
    return info.GetContentType();
}

const char* CVD_ProtocolInfo::GetDlnaExtension(const char* mime_type, CVD_DeviceSignature signature)
{
    const char* found = nullptr;
    switch (signature) {
        case CVD_DEVICE_XBOX:
        case CVD_DEVICE_WMP: found = TABLE_LOOKUP(XboxDlna, mime_type); break;
        case CVD_DEVICE_PS3:
            found = TABLE_LOOKUP(Ps3Dlna, mime_type);
            return found ? found : "DLNA.ORG_OP=01";
        case CVD_DEVICE_SONOS: found = TABLE_LOOKUP(SonosDlna, mime_type); break;
        default: break;
    }
    if (found == nullptr) found = TABLE_LOOKUP(GeneralDlna, mime_type);
    return found ? found : "*";
}

const char* CVD_ProtocolInfo::GetDlnaExtension(const char* mime_type, const HLY_HttpRequest* request)
{
    return GetDlnaExtension(mime_type, SignatureOf(request));
}

CVD_ProtocolInfo CVD_ProtocolInfo::GetProtocolInfoFromMimeType(const char*         mime_type,
                                                               bool                with_dlna,
                                                               CVD_DeviceSignature signature)
{
    HLY_String text = HLY_String("http-get:*:") + mime_type + ":" +
                      (with_dlna ? GetDlnaExtension(mime_type, signature) : "*");
    return CVD_ProtocolInfo(text);
}

CVD_ProtocolInfo CVD_ProtocolInfo::GetProtocolInfoFromMimeType(const char*            mime_type,
                                                               bool                   with_dlna,
                                                               const HLY_HttpRequest* request)
{
    return GetProtocolInfoFromMimeType(mime_type, with_dlna, SignatureOf(request));
}

CVD_ProtocolInfo CVD_ProtocolInfo::GetProtocolInfo(const char* filename, bool with_dlna, CVD_DeviceSignature signature)
{
    return GetProtocolInfoFromMimeType(GetMimeType(filename, signature), with_dlna, signature);
}

CVD_ProtocolInfo CVD_ProtocolInfo::GetProtocolInfo(const char* filename, bool with_dlna, const HLY_HttpRequest* request)
{
    return GetProtocolInfo(filename, with_dlna, SignatureOf(request));
}

HLY_String CVD_ProtocolInfo::GetMimeType(const char* filename, CVD_DeviceSignature signature)
{
    HLY_String name(filename);
    int        dot = name.ReverseFind('.');
    if (dot < 0) return OCTET_STREAM;
    HLY_String  extension = name.SubString((HLY_Ordinal)dot + 1);
    const char* found     = nullptr;
    switch (signature) {
        case CVD_DEVICE_XBOX: found = TABLE_LOOKUP(XboxMimeTypes, extension); break;
        case CVD_DEVICE_PS3: found = TABLE_LOOKUP(Ps3MimeTypes, extension); break;
        case CVD_DEVICE_SONOS: found = TABLE_LOOKUP(SonosMimeTypes, extension); break;
        default: break;
    }
    if (found == nullptr) found = TABLE_LOOKUP(GeneralMimeTypes, extension);
    if (found == nullptr) found = HLY_HttpFileRequestHandler::GetDefaultContentType(extension);
    return found ? found : OCTET_STREAM;
}

HLY_String CVD_ProtocolInfo::GetMimeType(const char* filename, const HLY_HttpRequest* request)
{
    return GetMimeType(filename, SignatureOf(request));
}
