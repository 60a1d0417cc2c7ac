#ifndef CVD_MICRO_MEDIA_CONTROLLER_H
#define CVD_MICRO_MEDIA_CONTROLLER_H

#include <cstdio>
#include <vector>

#include "CvdMediaController.h"
#include "CvdSyncMediaBrowser.h"
#include "CvdTaskManager.h"
#include "hlymap.h"

/*----------------------------------------------------------------------
|   CVD_MicroMediaController: a media-server browser and a renderer
|   controller on one control point, with the current server and
|   renderer, a browse position and a line-oriented console over them
+---------------------------------------------------------------------*/
class CVD_MicroMediaController : public CVD_SyncMediaBrowser,
                                 public CVD_MediaController,
                                 public CVD_MediaControllerDelegate
{
public:
    typedef HLY_Map<HLY_String, HLY_String> Table;

    explicit CVD_MicroMediaController(CVD_CtrlPointReference& ctrl_point);
    ~CVD_MicroMediaController() override;

    // reads commands until "quit", "exit" or the end of the input
    void RunCommandLoop();
    // the key of the chosen entry, or an empty string for no choice
    HLY_String PromptForTableEntry(Table& table);
    // where the console reads and writes; standard input and output by default
    void SetConsole(FILE* in, FILE* out);

    // the file a download of this URL may be written to: the last path
    // segment, percent-decoded; fails for names that could leave the
    // current directory or that say nothing
    static HLY_Result DownloadFileName(const char* url, HLY_String& name);
    // the unit and target of a "seek" line; false when it names no target
    static bool ParseSeek(const char* line, HLY_String& unit, HLY_String& target);

    // CVD_MediaBrowserDelegate
    bool OnMediaServerAdded(CVD_DeviceDataReference& device) override;
    void OnMediaServerRemoved(CVD_DeviceDataReference& device) override;

    // CVD_MediaControllerDelegate
    bool OnMediaRendererAdded(CVD_DeviceDataReference& device) override;
    void OnMediaRendererRemoved(CVD_DeviceDataReference& device) override;
    void OnMediaRendererStateVariablesChanged(CVD_Service* service, HLY_List<CVD_StateVariable*>* vars) override;

    // the current selections (empty references when unset)
    CVD_DeviceDataReference GetCurrentMediaServer();
    CVD_DeviceDataReference GetCurrentMediaRenderer();
    bool HasMediaRenderer(const char* uuid);

    // the console's commands, one per line of input; false ends the loop
    bool RunCommand(const char* line);
    // downloads url into file_name in the current directory, in the
    // background; the outcome is printed when it is known
    HLY_Result StartDownload(const HLY_HttpUrl& url, const char* file_name);
    // the downloads started by "down" that are still running
    HLY_Cardinal GetPendingDownloads();
    // waits up to timeout (milliseconds) for the running downloads; the
    // destructor stops what is left
    void WaitForDownloads(HLY_Timeout timeout);

private:
    CVD_DeviceDataReference ChooseDevice(const HLY_List<CVD_DeviceDataReference>& devices);
    HLY_Result DoBrowse(const char* object_id = nullptr);
    // lists the objects of the current container of one kind for choice
    HLY_String ChooseObject(bool containers);
    // chooses an item and browses its metadata; null when there is none
    CVD_MediaObject* ChooseItemMetadata();
    bool ReadLine(char* buffer, HLY_Size size);
    void PrintHelp();

    void HandleSetMs();
    void HandleGetMs();
    void HandleLs();
    void HandleInfo();
    void HandleDown();
    void HandleCd();
    void HandleCdUp();
    void HandlePwd();
    void HandleSetMr();
    void HandleGetMr();
    void HandleOpen();
    void HandlePlay();
    void HandleStop();
    void HandleSeek(const char* line);
    void HandleMute(bool mute);
    bool GetRenderer(CVD_DeviceDataReference& device);
    bool GetServer(CVD_DeviceDataReference& device);

    HLY_Lock<HLY_Map<HLY_String, CVD_DeviceDataReference>> m_MediaServerTable;
    HLY_Lock<HLY_Map<HLY_String, CVD_DeviceDataReference>> m_MediaRendererTable;
    CVD_DeviceDataReference                                m_CurMediaServer;
    HLY_Mutex                                              m_CurMediaServerLock;
    CVD_DeviceDataReference                                m_CurMediaRenderer;
    HLY_Mutex                                              m_CurMediaRendererLock;
    CVD_MediaObjectListReference                           m_MostRecentBrowseResults;
    std::vector<HLY_String>                                m_CurBrowseDirectoryStack;
    HLY_SharedVariable                                     m_CallbackResponseSemaphore;
    CVD_TaskManager                                        m_DownloadTaskManager;
    FILE*                                                  m_In;
    FILE*                                                  m_Out;
};

#endif // CVD_MICRO_MEDIA_CONTROLLER_H
