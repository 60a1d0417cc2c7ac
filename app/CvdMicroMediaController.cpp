#include "CvdMicroMediaController.h"
#include <cstring>

#include "CvdDownloader.h"
#include "hlyfile.h"
#include "hlylogging.h"
#include "hlysystem.h"
#include "hlyurls.h"

HLY_SET_LOCAL_LOGGER("corvid.media.micro")

namespace {
// longest command line read; the rest of a longer line is read as the next command
const HLY_Size COMMAND_LINE_MAX = 2048;
// longest answer to the chooser
const HLY_Size CHOICE_LINE_MAX = 1024;
// out-of-range answers the chooser accepts before it gives up
const int CHOICE_ATTEMPTS = 3;
// downloads that "down" starts of one resource
const int DOWNLOAD_COPIES = 3;
// how long leaving the console waits for running downloads before they are stopped
const HLY_Timeout DOWNLOAD_FINISH_TIMEOUT_MS = 30000;
// how often that wait looks at the downloads
const HLY_Int64 DOWNLOAD_POLL_MS = 50;

const char* const REGISTRAR_ANY      = "urn:microsoft.com:service:X_MS_MediaReceiverRegistrar:*";
const char* const REGISTRAR_TYPE     = "urn:microsoft.com:service:X_MS_MediaReceiverRegistrar:1";
const char* const AVTRANSPORT_ANY    = "urn:schemas-upnp-org:service:AVTransport:*";
const char* const DOWNLOAD_TEMP_TAIL = ".part";

const char* const HELP_TEXT =
    "\n\nNone of the commands take arguments.  The commands with a * \n"
    "signify ones that will prompt the user for more information once\n"
    "the command is called\n\n"
    "The available commands are:\n\n"
    " quit    -   shutdown the Control Point\n"
    " exit    -   same as quit\n"
    " setms   - * select a media server to become the active media server\n"
    " getms   -   print the friendly name of the active media server\n"
    " ls      -   list the contents of the current directory on the active \n"
    "             media server\n"
    " info    -   display media info\n"
    " down    -   download media to current directory\n"
    " cd      - * traverse down one level in the content tree on the active\n"
    "             media server\n"
    " cd ..   -   traverse up one level in the content tree on the active\n"
    "             media server\n"
    " pwd     -   print the path from the root to your current position in the \n"
    "             content tree on the active media server\n"
    " setmr   - * select a media renderer to become the active media renderer\n"
    " getmr   -   print the friendly name of the active media renderer\n"
    " open    -   set the uri on the active media renderer\n"
    " play    -   play the active uri on the active media renderer\n"
    " stop    -   stop the active uri on the active media renderer\n"
    " seek    -   issue a seek command\n"
    " mute    -   mute the active media renderer\n"
    " unmute  -   unmute the active media renderer\n"
    " help    -   print this help message\n\n";

/*----------------------------------------------------------------------
|   ConsoleDownload: a download into a temporary file that becomes the
|   named file only once the whole body is there; anything else removes
|   the temporary, so no cut-short file ever carries the final name
+---------------------------------------------------------------------*/
class ConsoleDownload : public CVD_Downloader
{
public:
    ConsoleDownload(const HLY_HttpUrl& url, HLY_OutputStreamReference& output, const HLY_String& temp,
                    const HLY_String& name, FILE* out)
        : CVD_Downloader(url, output), m_Stream(output), m_Temp(temp), m_Name(name), m_Out(out), m_Done(false)
    {
    }
    ~ConsoleDownload() override
    {
        // stopped before an answer came, or never started
        if (!m_Done) Fail();
    }

protected:
    HLY_Result ProcessResponse(HLY_Result res, const HLY_HttpRequest& request, const HLY_HttpRequestContext& context,
                               HLY_HttpResponse* response) override
    {
        HLY_Result result = CVD_Downloader::ProcessResponse(res, request, context, response);
        if (HLY_SUCCEEDED(result)) result = m_Stream->Flush();
        if (HLY_SUCCEEDED(result)) result = HLY_File::Rename(m_Temp, m_Name);
        if (HLY_FAILED(result)) {
            Fail();
            return result;
        }
        m_Done = true;
        fprintf(m_Out, "Downloaded %s (%llu bytes)\n", m_Name.GetChars(), (unsigned long long)GetBytesWritten());
        fflush(m_Out);
        return HLY_SUCCESS;
    }

private:
    void Fail()
    {
        m_Done = true;
        HLY_File::Remove(m_Temp);
        fprintf(m_Out, "Download of %s failed\n", m_Name.GetChars());
        fflush(m_Out);
    }

    HLY_OutputStreamReference m_Stream;
    HLY_String                m_Temp;
    HLY_String                m_Name;
    FILE*                     m_Out;
    bool                      m_Done;
};

void InvokeRegistrar(CVD_CtrlPointReference& ctrl_point, CVD_DeviceDataReference& device, const char* name)
{
    CVD_ActionReference action;
    if (HLY_FAILED(ctrl_point->CreateAction(device, REGISTRAR_TYPE, name, action)) || action.IsNull()) return;
    action->SetArgumentValue("DeviceID", "");
    ctrl_point->InvokeAction(action, nullptr);
}
} // namespace

/*----------------------------------------------------------------------
|   construction
+---------------------------------------------------------------------*/
CVD_MicroMediaController::CVD_MicroMediaController(CVD_CtrlPointReference& ctrl_point)
    : CVD_SyncMediaBrowser(ctrl_point, false, nullptr), CVD_MediaController(ctrl_point, nullptr),
      m_CallbackResponseSemaphore(0), m_In(stdin), m_Out(stdout)
{
    m_CurBrowseDirectoryStack.push_back("0");
    CVD_MediaController::SetDelegate(this);
}

CVD_MicroMediaController::~CVD_MicroMediaController()
{
    CVD_MediaController::SetDelegate(nullptr);
    // a download that is cut short here removes its temporary file
    m_DownloadTaskManager.StopAllTasks();
}

void CVD_MicroMediaController::SetConsole(FILE* in, FILE* out)
{
    m_In  = in;
    m_Out = out;
}

/*----------------------------------------------------------------------
|   delegate operations
+---------------------------------------------------------------------*/
bool CVD_MicroMediaController::OnMediaServerAdded(CVD_DeviceDataReference& device)
{
    // servers that grant access per client want to be asked first
    CVD_Service* registrar = nullptr;
    if (HLY_FAILED(device->FindServiceByType(REGISTRAR_ANY, registrar))) return true;
    InvokeRegistrar(CVD_SyncMediaBrowser::m_CtrlPoint, device, "IsAuthorized");
    InvokeRegistrar(CVD_SyncMediaBrowser::m_CtrlPoint, device, "IsValidated");
    return true;
}

void CVD_MicroMediaController::OnMediaServerRemoved(CVD_DeviceDataReference&) {}

bool CVD_MicroMediaController::OnMediaRendererAdded(CVD_DeviceDataReference& device)
{
    CVD_Service* transport = nullptr;
    if (HLY_SUCCEEDED(device->FindServiceByType(AVTRANSPORT_ANY, transport))) {
        {
            HLY_AutoLock lock(m_MediaRendererTable);
            m_MediaRendererTable.Put(device->GetUUID(), device);
        }
        // "open" picks a resource by the renderer's sinks, and not every
        // renderer sends them in its events: its answer brings them
        GetProtocolInfo(device, nullptr);
    }
    return true;
}

void CVD_MicroMediaController::OnMediaRendererRemoved(CVD_DeviceDataReference& device)
{
    {
        HLY_AutoLock lock(m_MediaRendererTable);
        m_MediaRendererTable.Erase(device->GetUUID());
    }
    HLY_AutoLock lock(m_CurMediaRendererLock);
    if (!m_CurMediaRenderer.IsNull() && m_CurMediaRenderer->GetUUID() == device->GetUUID()) {
        m_CurMediaRenderer = CVD_DeviceDataReference();
    }
}

void CVD_MicroMediaController::OnMediaRendererStateVariablesChanged(CVD_Service* service,
                                                                    HLY_List<CVD_StateVariable*>* vars)
{
    for (HLY_List<CVD_StateVariable*>::Iterator var = vars->GetFirstItem(); var; ++var) {
        fprintf(m_Out, "Received state var \"%s:%s:%s\" changes: \"%s\"\n",
                service->GetDevice()->GetUUID().GetChars(), service->GetServiceID().GetChars(),
                (*var)->GetName().GetChars(), (*var)->GetValue().GetChars());
    }
    fflush(m_Out);
}

CVD_DeviceDataReference CVD_MicroMediaController::GetCurrentMediaServer()
{
    HLY_AutoLock lock(m_CurMediaServerLock);
    return m_CurMediaServer;
}

CVD_DeviceDataReference CVD_MicroMediaController::GetCurrentMediaRenderer()
{
    HLY_AutoLock lock(m_CurMediaRendererLock);
    return m_CurMediaRenderer;
}

bool CVD_MicroMediaController::HasMediaRenderer(const char* uuid)
{
    HLY_AutoLock lock(m_MediaRendererTable);
    return m_MediaRendererTable.HasKey(uuid);
}

/*----------------------------------------------------------------------
|   downloads
+---------------------------------------------------------------------*/
HLY_Result CVD_MicroMediaController::DownloadFileName(const char* url, HLY_String& name)
{
    name = "";
    HLY_HttpUrl parsed(url);
    if (!parsed.IsValid()) return HLY_ERROR_INVALID_PARAMETERS;
    const HLY_String& path  = parsed.GetPath();
    int               slash = path.ReverseFind('/');
    HLY_String        last  = HLY_Uri::PercentDecode(path.GetChars() + slash + 1);
    // the server chose this text: nothing in it may name another directory
    if (last.IsEmpty() || last == "." || last == ".." || last.Find('/') >= 0 || last.Find('\\') >= 0 ||
        strlen(last.GetChars()) != last.GetLength()) {
        return HLY_ERROR_INVALID_PARAMETERS;
    }
    name = last;
    return HLY_SUCCESS;
}

HLY_Cardinal CVD_MicroMediaController::GetPendingDownloads() { return m_DownloadTaskManager.GetTaskCount(); }

void CVD_MicroMediaController::WaitForDownloads(HLY_Timeout timeout)
{
    HLY_Int64 waited = 0;
    while (GetPendingDownloads() > 0 && waited < timeout) {
        HLY_System::Sleep(HLY_TimeStamp::FromMillis(DOWNLOAD_POLL_MS));
        waited += DOWNLOAD_POLL_MS;
    }
}

/*----------------------------------------------------------------------
|   the chooser
+---------------------------------------------------------------------*/
bool CVD_MicroMediaController::ReadLine(char* buffer, HLY_Size size)
{
    if (fgets(buffer, (int)size, m_In) == nullptr) return false;
    buffer[strcspn(buffer, "\r\n")] = '\0';
    return true;
}

HLY_String CVD_MicroMediaController::PromptForTableEntry(Table& table)
{
    fprintf(m_Out, "Select one of the following:\n");
    if (table.GetEntryCount() == 0) {
        fprintf(m_Out, "None available\n");
        fflush(m_Out);
        return HLY_String();
    }
    int index = 1;
    for (HLY_List<Table::Entry*>::Iterator it = table.GetEntries().GetFirstItem(); it; ++it, ++index) {
        fprintf(m_Out, "%d)\t%s (%s)\n", index, (*it)->GetValue().GetChars(), (*it)->GetKey().GetChars());
    }
    fflush(m_Out);

    HLY_Int32 choice   = 0;
    int       attempts = 0;
    char      line[CHOICE_LINE_MAX + 1];
    while (attempts < CHOICE_ATTEMPTS) {
        // the end of the input is no choice
        if (!ReadLine(line, sizeof(line))) return HLY_String();
        if (HLY_FAILED(HLY_String(line).ToInteger(choice, true))) {
            fprintf(m_Out, "Please enter a number\n");
            fflush(m_Out);
            continue;
        }
        if (choice >= 0 && choice <= (HLY_Int32)table.GetEntryCount()) break;
        fprintf(m_Out, "Please choose one of the above, or 0 for none\n");
        fflush(m_Out);
        choice = 0;
        ++attempts;
    }
    if (choice == 0) return HLY_String();
    return (*table.GetEntries().GetItem((HLY_Ordinal)(choice - 1)))->GetKey();
}

CVD_DeviceDataReference CVD_MicroMediaController::ChooseDevice(const HLY_List<CVD_DeviceDataReference>& devices)
{
    HLY_AutoLock lock(m_MediaServerTable);
    Table        table;
    for (HLY_List<CVD_DeviceDataReference>::Iterator it = devices.GetFirstItem(); it; ++it) {
        table.Put((*it)->GetUUID(), (*it)->GetFriendlyName());
    }
    HLY_String uuid = PromptForTableEntry(table);
    for (HLY_List<CVD_DeviceDataReference>::Iterator it = devices.GetFirstItem(); it; ++it) {
        if (!uuid.IsEmpty() && (*it)->GetUUID() == uuid) return *it;
    }
    return CVD_DeviceDataReference();
}

/*----------------------------------------------------------------------
|   browsing
+---------------------------------------------------------------------*/
HLY_Result CVD_MicroMediaController::DoBrowse(const char* object_id)
{
    m_MostRecentBrowseResults = CVD_MediaObjectListReference();
    CVD_DeviceDataReference server = GetCurrentMediaServer();
    if (server.IsNull()) return HLY_FAILURE;
    const bool metadata = object_id != nullptr;
    if (!metadata) object_id = m_CurBrowseDirectoryStack.back();
    return BrowseSync(server, object_id, m_MostRecentBrowseResults, metadata);
}

HLY_String CVD_MicroMediaController::ChooseObject(bool containers)
{
    Table table;
    if (HLY_SUCCEEDED(DoBrowse()) && !m_MostRecentBrowseResults.IsNull()) {
        for (HLY_List<CVD_MediaObject*>::Iterator it = m_MostRecentBrowseResults->GetFirstItem(); it; ++it) {
            if ((*it)->m_ObjectClass.m_Type.StartsWith("object.container") != containers) continue;
            table.Put((*it)->m_ObjectID, (*it)->m_Title);
        }
    }
    return PromptForTableEntry(table);
}

CVD_MediaObject* CVD_MicroMediaController::ChooseItemMetadata()
{
    HLY_String id = ChooseObject(false);
    if (id.IsEmpty()) return nullptr;
    if (HLY_FAILED(DoBrowse(id)) || m_MostRecentBrowseResults.IsNull() ||
        m_MostRecentBrowseResults->GetItemCount() == 0) {
        fprintf(m_Out, "Couldn't find the track\n");
        return nullptr;
    }
    return *m_MostRecentBrowseResults->GetFirstItem();
}

/*----------------------------------------------------------------------
|   the command loop
+---------------------------------------------------------------------*/
void CVD_MicroMediaController::PrintHelp() { fputs(HELP_TEXT, m_Out); }

void CVD_MicroMediaController::RunCommandLoop()
{
    char line[COMMAND_LINE_MAX + 1];
    for (;;) {
        fprintf(m_Out, "command> ");
        fflush(m_Out);
        // the end of the input ends the console like "quit"
        if (!ReadLine(line, sizeof(line))) break;
        if (!RunCommand(line)) break;
    }
    if (GetPendingDownloads() > 0) {
        fprintf(m_Out, "Waiting for %u downloads\n", (unsigned)GetPendingDownloads());
        fflush(m_Out);
    }
    WaitForDownloads(DOWNLOAD_FINISH_TIMEOUT_MS);
}

bool CVD_MicroMediaController::RunCommand(const char* text)
{
    HLY_String line(text);
    if (line == "quit" || line == "exit") return false;

    if (line == "setms") HandleSetMs();
    else if (line == "getms") HandleGetMs();
    else if (line.StartsWith("ls")) HandleLs();
    else if (line == "info") HandleInfo();
    else if (line == "down") HandleDown();
    else if (line == "cd") HandleCd();
    else if (line == "cd ..") HandleCdUp();
    else if (line == "pwd") HandlePwd();
    else if (line == "setmr") HandleSetMr();
    else if (line == "getmr") HandleGetMr();
    else if (line == "open") HandleOpen();
    else if (line == "play") HandlePlay();
    else if (line == "stop") HandleStop();
    else if (line.StartsWith("seek")) HandleSeek(line);
    else if (line == "mute") HandleMute(true);
    else if (line == "unmute") HandleMute(false);
    else if (line == "help") PrintHelp();
    else if (!line.IsEmpty()) {
        fprintf(m_Out, "Unrecognized command: %s\n", line.GetChars());
        PrintHelp();
    }
    m_MostRecentBrowseResults = CVD_MediaObjectListReference();
    fflush(m_Out);
    return true;
}

bool CVD_MicroMediaController::GetServer(CVD_DeviceDataReference& device)
{
    device = GetCurrentMediaServer();
    if (device.IsNull()) fprintf(m_Out, "No server selected, select one with setms\n");
    return !device.IsNull();
}

bool CVD_MicroMediaController::GetRenderer(CVD_DeviceDataReference& device)
{
    device = GetCurrentMediaRenderer();
    if (device.IsNull()) fprintf(m_Out, "No renderer selected, select one with setmr\n");
    return !device.IsNull();
}

void CVD_MicroMediaController::HandleSetMs()
{
    HLY_AutoLock lock(m_CurMediaServerLock);
    m_CurBrowseDirectoryStack.resize(1);
    m_CurMediaServer = ChooseDevice(GetMediaServers());
}

void CVD_MicroMediaController::HandleGetMs()
{
    CVD_DeviceDataReference server;
    if (GetServer(server)) fprintf(m_Out, "Current media server: %s\n", server->GetFriendlyName().GetChars());
}

void CVD_MicroMediaController::HandleLs()
{
    CVD_DeviceDataReference server;
    if (!GetServer(server)) return;
    if (HLY_FAILED(DoBrowse()) || m_MostRecentBrowseResults.IsNull()) return;
    fprintf(m_Out, "There were %d results\n", (int)m_MostRecentBrowseResults->GetItemCount());
    for (HLY_List<CVD_MediaObject*>::Iterator it = m_MostRecentBrowseResults->GetFirstItem(); it; ++it) {
        const bool container = (*it)->m_ObjectClass.m_Type.StartsWith("object.container");
        fprintf(m_Out, container ? "Container: %s (%s)\n" : "Item: %s (%s)\n", (*it)->m_Title.GetChars(),
                (*it)->m_ObjectID.GetChars());
    }
}

void CVD_MicroMediaController::HandleInfo()
{
    CVD_DeviceDataReference server;
    if (!GetServer(server)) return;
    CVD_MediaObject* item = ChooseItemMetadata();
    if (item == nullptr) return;
    fprintf(m_Out, "Title: %s \n", item->m_Title.GetChars());
    fprintf(m_Out, "OjbectID: %s\n", item->m_ObjectID.GetChars());
    fprintf(m_Out, "Class: %s\n", item->m_ObjectClass.m_Type.GetChars());
    fprintf(m_Out, "Creator: %s\n", item->m_Creator.GetChars());
    fprintf(m_Out, "Date: %s\n", item->m_Date.GetChars());
    for (HLY_List<CVD_AlbumArtInfo>::Iterator art = item->m_AlbumArts.GetFirstItem(); art; ++art) {
        fprintf(m_Out, "Art Uri: %s\n", art->m_Uri.GetChars());
        fprintf(m_Out, "Art Uri DLNA Profile: %s\n", art->m_DlnaProfile.GetChars());
    }
    int i = 0;
    for (HLY_List<CVD_MediaItemResource>::Iterator res = item->m_Resources.GetFirstItem(); res; ++res, ++i) {
        fprintf(m_Out, "\tResource[%d].uri: %s\n", i, res->m_Uri.GetChars());
        fprintf(m_Out, "\tResource[%d].profile: %s\n", i, res->m_ProtocolInfo.ToString().GetChars());
        fprintf(m_Out, "\tResource[%d].duration: %d\n", i, (int)res->m_Duration);
        // sizes beyond 2 GiB are common for video: printed whole (unknown is -1)
        fprintf(m_Out, "\tResource[%d].size: %lld\n", i, (long long)res->m_Size);
    }
    fprintf(m_Out, "Didl: %s\n", item->m_Didl.GetChars());
}

void CVD_MicroMediaController::HandleDown()
{
    CVD_DeviceDataReference server;
    if (!GetServer(server)) return;
    CVD_MediaObject* item = ChooseItemMetadata();
    if (item == nullptr) return;
    if (item->m_Resources.GetItemCount() == 0) {
        fprintf(m_Out, "No resources found");
        return;
    }
    const HLY_String& uri = item->m_Resources.GetFirstItem()->m_Uri;
    fprintf(m_Out, "\tResource[0].uri: %s\n", uri.GetChars());
    HLY_String name;
    if (HLY_FAILED(DownloadFileName(uri, name))) {
        fprintf(m_Out, "Refusing to download %s: no safe file name in it\n", uri.GetChars());
        return;
    }
    HLY_String base = HLY_FilePath::BaseName(name, false);
    HLY_String ext  = HLY_FilePath::FileExtension(name);
    fprintf(m_Out, "Downloading %s%s\n", base.GetChars(), ext.GetChars());
    fflush(m_Out);
    HLY_HttpUrl url(uri);
    for (int i = 0; i < DOWNLOAD_COPIES; ++i) {
        StartDownload(url, HLY_String::Format("%s_%d%s", base.GetChars(), i, ext.GetChars()));
    }
}

HLY_Result CVD_MicroMediaController::StartDownload(const HLY_HttpUrl& url, const char* file_name)
{
    HLY_String                target(file_name);
    HLY_String                temp = target + DOWNLOAD_TEMP_TAIL;
    HLY_File                  file(temp);
    HLY_OutputStreamReference stream;
    HLY_Result result = file.Open(HLY_FILE_OPEN_MODE_WRITE | HLY_FILE_OPEN_MODE_CREATE | HLY_FILE_OPEN_MODE_TRUNCATE);
    if (HLY_SUCCEEDED(result)) result = file.GetOutputStream(stream);
    if (HLY_FAILED(result)) {
        fprintf(m_Out, "Download of %s failed\n", target.GetChars());
        return result;
    }
    // on a refused start the task is deleted, which removes its file
    return m_DownloadTaskManager.StartTask(new ConsoleDownload(url, stream, temp, target, m_Out));
}

void CVD_MicroMediaController::HandleCd()
{
    CVD_DeviceDataReference server;
    if (!GetServer(server)) return;
    HLY_String id = ChooseObject(true);
    if (!id.IsEmpty()) m_CurBrowseDirectoryStack.push_back(id);
}

void CVD_MicroMediaController::HandleCdUp()
{
    if (m_CurBrowseDirectoryStack.back() == "0") {
        fprintf(m_Out, "Already at root\n");
        return;
    }
    m_CurBrowseDirectoryStack.pop_back();
}

void CVD_MicroMediaController::HandlePwd()
{
    for (const HLY_String& id : m_CurBrowseDirectoryStack) fprintf(m_Out, "%s/", id.GetChars());
    fprintf(m_Out, "\n");
}

void CVD_MicroMediaController::HandleSetMr()
{
    HLY_List<CVD_DeviceDataReference> renderers;
    {
        HLY_AutoLock lock(m_MediaRendererTable);
        for (HLY_List<HLY_Map<HLY_String, CVD_DeviceDataReference>::Entry*>::Iterator it =
                 m_MediaRendererTable.GetEntries().GetFirstItem();
             it; ++it) {
            renderers.Add((*it)->GetValue());
        }
    }
    // the answer may take the user a while: engine threads that report a
    // renderer leaving must not wait for it, so the lock covers only the store
    CVD_DeviceDataReference chosen = ChooseDevice(renderers);
    HLY_AutoLock            lock(m_CurMediaRendererLock);
    m_CurMediaRenderer = chosen;
}

void CVD_MicroMediaController::HandleGetMr()
{
    CVD_DeviceDataReference renderer;
    if (GetRenderer(renderer)) fprintf(m_Out, "Current media renderer: %s\n", renderer->GetFriendlyName().GetChars());
}

void CVD_MicroMediaController::HandleOpen()
{
    CVD_DeviceDataReference renderer, server;
    if (!GetRenderer(renderer) || !GetServer(server)) return;
    CVD_MediaObject* item = ChooseItemMetadata();
    if (item == nullptr) return;
    if (item->m_Resources.GetItemCount() == 0) {
        fprintf(m_Out, "Couldn't find the proper resource\n");
        return;
    }
    HLY_Cardinal index = 0;
    if (HLY_FAILED(FindBestResource(renderer, *item, index))) {
        fprintf(m_Out, "No matching resource\n");
        return;
    }
    const HLY_String& uri = (*item->m_Resources.GetItem(index)).m_Uri;
    fprintf(m_Out, "Issuing SetAVTransportURI with url=%s & didl=%s", uri.GetChars(), item->m_Didl.GetChars());
    SetAVTransportURI(renderer, 0, uri, item->m_Didl, nullptr);
}

void CVD_MicroMediaController::HandlePlay()
{
    CVD_DeviceDataReference renderer;
    if (GetRenderer(renderer)) Play(renderer, 0, "1", nullptr);
}

void CVD_MicroMediaController::HandleStop()
{
    CVD_DeviceDataReference renderer;
    if (GetRenderer(renderer)) Stop(renderer, 0, nullptr);
}

void CVD_MicroMediaController::HandleSeek(const char* line)
{
    CVD_DeviceDataReference renderer;
    if (!GetRenderer(renderer)) return;
    HLY_String unit, target;
    if (ParseSeek(line, unit, target)) Seek(renderer, 0, unit, target, nullptr);
}

bool CVD_MicroMediaController::ParseSeek(const char* line, HLY_String& unit, HLY_String& target)
{
    HLY_List<HLY_String> words = HLY_String(line).Split(" ");
    if (words.GetItemCount() < 2) return false;
    target = *words.GetItem(1);
    unit   = target.Find(':') >= 0 ? "REL_TIME" : "X_DLNA_REL_BYTE";
    return true;
}

void CVD_MicroMediaController::HandleMute(bool mute)
{
    CVD_DeviceDataReference renderer;
    if (GetRenderer(renderer)) SetMute(renderer, 0, "Master", mute, nullptr);
}
