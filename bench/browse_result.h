#ifndef BENCH_BROWSE_RESULT_H
#define BENCH_BROWSE_RESULT_H

// The Result of a big Browse answer as a media server sends it: one
// DIDL-Lite document of music tracks (about 860 bytes each) with the usual
// dc:, upnp: and dlna: parts, escaped text and long attribute values.

#include <cstdio>
#include <string>

inline std::string MakeBrowseResult(int items)
{
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
}

#endif // BENCH_BROWSE_RESULT_H
