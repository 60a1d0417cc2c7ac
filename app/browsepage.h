#ifndef BROWSEPAGE_H
#define BROWSEPAGE_H

#include <map>
#include <memory>
#include <vector>

#include "devicepage.h"

#include "CvdMediaBrowser.h"
#include "CvdMediaController.h"
#include "CvdTaskManager.h"

class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QTreeWidget;
class QTreeWidgetItem;

// The Browse tab of a media server: its containers as a tree filled page by
// page when opened, the details of the selected object, a search box when
// the server can search, and "Play on" the renderers that can play an item.
class BrowsePage : public DevicePage, private CVD_MediaBrowserDelegate, private CVD_MediaControllerDelegate
{
    Q_OBJECT

public:
    explicit BrowsePage(CVD_CtrlPointReference ctrl_point, QWidget* parent = nullptr);
    ~BrowsePage() override;

    bool AppliesTo(const CVD_DeviceDataReference& device) const override;
    void ShowDevice(const CVD_DeviceDataReference& device) override;

    // the context menu of a tree row (what a right click shows); the
    // caller owns it
    QMenu* ContextMenuFor(QTreeWidgetItem* row);

    // the object a tree row stands for, while its device is shown
    CVD_MediaObject* ObjectOf(QTreeWidgetItem* row) const;

signals:
    // a container's listing ended (complete, cut at its bound or failed)
    void ContainerLoaded(const QString& object_id);
    // an item was handed to a renderer and Play was accepted, or it failed
    void PlayStarted(const QString& renderer_uuid);

private slots:
    void SlotExpanded(QTreeWidgetItem* row);
    void SlotSelectionChanged();
    void SlotSearch();
    void SlotContextMenu(const QPoint& position);

private:
    // one listing in progress: a container's children or a search's results
    struct Listing
    {
        QString          m_ObjectId;
        QString          m_Criteria; // empty: Browse
        QTreeWidgetItem* m_Row = nullptr; // where the objects go
        HLY_UInt32       m_Fetched = 0;
    };
    typedef std::shared_ptr<CVD_MediaObjectList> ObjectList;

    // CVD_MediaBrowserDelegate, on engine threads
    bool OnMediaServerAdded(CVD_DeviceDataReference& device) override;
    void OnBrowseResult(HLY_Result result, CVD_DeviceDataReference& device, CVD_BrowseInfo* info,
                        void* userdata) override;
    void OnGetSearchCapabilitiesResult(HLY_Result result, CVD_DeviceDataReference& device, const char* caps,
                                       void* userdata) override;
    // CVD_MediaControllerDelegate, on engine threads
    bool OnMediaRendererAdded(CVD_DeviceDataReference& device) override;
    void OnMediaRendererRemoved(CVD_DeviceDataReference& device) override;
    void OnSetAVTransportURIResult(HLY_Result result, CVD_DeviceDataReference& device, void* userdata) override;
    void OnPlayResult(HLY_Result result, CVD_DeviceDataReference& device, void* userdata) override;

    // GUI thread
    void Clear();
    void StartListing(const QString& object_id, const QString& criteria, QTreeWidgetItem* row);
    HLY_Result RequestPage(quintptr token);
    void OnPage(quintptr token, HLY_Result result, HLY_UInt32 total, ObjectList objects);
    void EndListing(quintptr token, const QString& error);
    void PlayOn(CVD_MediaObject* item, const QString& renderer_uuid);
    void ShowError(const QString& text);
    void ShowAlbumArt(quintptr token, const QByteArray& data);

    CVD_CtrlPointReference               m_CtrlPoint;
    std::unique_ptr<CVD_MediaBrowser>    m_Browser;
    std::unique_ptr<CVD_MediaController> m_Controller;
    CVD_TaskManager                      m_Downloads;

    CVD_DeviceDataReference              m_Device; // empty: none shown
    quintptr                             m_NextToken = 0;
    std::map<quintptr, Listing>          m_Listings;
    std::vector<ObjectList>              m_Objects; // keep the rows' objects
    quintptr                             m_ArtToken = 0;
    quintptr                             m_SearchToken = 0;
    quintptr                             m_Generation  = 0; // bumped whenever the tree is cleared
    std::map<QString, CVD_DeviceDataReference> m_Renderers; // by UUID

    QLineEdit*    m_Search;
    QTreeWidget*  m_Tree;
    QProgressBar* m_Progress;
    QLabel*       m_Status;
    QLabel*       m_Title;
    QLabel*       m_Class;
    QLabel*       m_Creator;
    QLabel*       m_Art;
    QTreeWidget*  m_Resources;
};

#endif // BROWSEPAGE_H
