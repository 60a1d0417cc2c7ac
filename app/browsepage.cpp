#include "browsepage.h"

#include <cstring>
#include <functional>

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QProgressBar>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "CvdDidl.h"
#include "CvdDownloader.h"
#include "hlystreams.h"

#include "pagesupport.h"

using pagesupport::Post;
using pagesupport::ToQString;

namespace {

// objects asked for per Browse or Search: few round trips for big
// containers, yet a page that parses in a few milliseconds
const HLY_UInt32 kPageSize = 200;
// a container or search listing stops here, whatever the server claims
const HLY_UInt32 kMaxListedObjects = 100000;
// album art bigger than this is not shown (it is held in memory)
const HLY_Size kMaxAlbumArtBytes = 4 * 1024 * 1024;
// album art downloads at once; a selection beyond shows no picture
const HLY_Cardinal kMaxAlbumArtDownloads = 4;

const char* const kFilter = "dc:creator,dc:date,upnp:genre,res,res@duration,res@size,res@resolution,"
                            "upnp:albumArtURI,upnp:album,upnp:artist,upnp:author,searchable,childCount";

const int kObjectRole = Qt::UserRole;     // CVD_MediaObject*
const int kLoadedRole = Qt::UserRole + 1; // bool: children asked for

// a memory stream that refuses to grow beyond its bound
class BoundedMemoryStream : public HLY_MemoryStream
{
public:
    explicit BoundedMemoryStream(HLY_Size bound) : m_Bound(bound) {}
    HLY_Result Write(const void* buffer, HLY_Size bytes_to_write, HLY_Size* bytes_written) override
    {
        if (GetDataSize() + bytes_to_write > m_Bound) return HLY_ERROR_OUT_OF_RANGE;
        return HLY_MemoryStream::Write(buffer, bytes_to_write, bytes_written);
    }

private:
    HLY_Size m_Bound;
};

// the downloader's output, made before the downloader that takes it
struct ArtOutput
{
    explicit ArtOutput(BoundedMemoryStream* memory) : m_ArtOutput(memory) {}
    HLY_OutputStreamReference m_ArtOutput;
};

// downloads one picture on its own engine thread and hands it to done
class AlbumArtTask : private ArtOutput, public CVD_Downloader
{
public:
    AlbumArtTask(const HLY_HttpUrl& url, BoundedMemoryStream* memory, std::function<void(QByteArray)> done)
        : ArtOutput(memory), CVD_Downloader(url, m_ArtOutput), m_Memory(memory), m_Done(std::move(done))
    {
    }

protected:
    void DoRun() override
    {
        CVD_Downloader::DoRun();
        if (GetState() != CVD_DOWNLOADER_DONE || IsAborting(0)) return;
        m_Done(QByteArray((const char*)m_Memory->GetData(), (qsizetype)m_Memory->GetDataSize()));
    }

private:
    BoundedMemoryStream*             m_Memory; // owned by the downloader's output reference
    std::function<void(QByteArray)> m_Done;
};

// criteria for a title search; quotes and backslashes escaped as the
// ContentDirectory's string literals want them
QString TitleCriteria(const QString& text)
{
    QString literal = text;
    literal.replace("\\", "\\\\").replace("\"", "\\\"");
    return QString("dc:title contains \"%1\"").arg(literal);
}

QString SizeText(HLY_LargeSize size)
{
    return size == CVD_MEDIA_SIZE_UNKNOWN ? QString() : QString::number(size);
}

} // namespace

BrowsePage::BrowsePage(CVD_CtrlPointReference ctrl_point, QWidget* parent)
    : DevicePage(parent), m_CtrlPoint(ctrl_point)
{
    setObjectName("browsePage");
    m_Search = new QLineEdit(this);
    m_Search->setObjectName("browseSearch");
    m_Search->setPlaceholderText(tr("Search titles (Enter); empty: browse"));
    m_Search->setClearButtonEnabled(true);
    m_Search->hide();

    m_Tree = new QTreeWidget(this);
    m_Tree->setObjectName("browseTree");
    m_Tree->setHeaderHidden(true);
    m_Tree->setUniformRowHeights(true); // keeps scrolling cheap in big containers
    m_Tree->setContextMenuPolicy(Qt::CustomContextMenu);

    m_Progress = new QProgressBar(this);
    m_Progress->setObjectName("browseProgress");
    m_Progress->setFormat(tr("%v of %m"));
    m_Progress->hide();

    m_Status = new QLabel(this);
    m_Status->setObjectName("browseStatus");
    m_Status->setWordWrap(true);

    QWidget*     details = new QWidget(this);
    QFormLayout* form    = new QFormLayout();
    m_Title   = new QLabel(details);
    m_Class   = new QLabel(details);
    m_Creator = new QLabel(details);
    m_Art     = new QLabel(details);
    m_Title->setObjectName("browseTitle");
    m_Class->setObjectName("browseClass");
    m_Creator->setObjectName("browseCreator");
    m_Art->setObjectName("browseAlbumArt");
    for (QLabel* label : {m_Title, m_Class, m_Creator}) label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(tr("Title:"), m_Title);
    form->addRow(tr("Class:"), m_Class);
    form->addRow(tr("Creator:"), m_Creator);
    form->addRow(tr("Album art:"), m_Art);
    m_Resources = new QTreeWidget(details);
    m_Resources->setObjectName("browseResources");
    m_Resources->setRootIsDecorated(false);
    m_Resources->setHeaderLabels({tr("URL"), tr("Protocol info"), tr("Size"), tr("Duration"), tr("Resolution")});
    QVBoxLayout* details_layout = new QVBoxLayout(details);
    details_layout->setContentsMargins(0, 0, 0, 0);
    details_layout->addLayout(form);
    details_layout->addWidget(m_Resources);

    QSplitter* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(m_Tree);
    split->addWidget(details);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);

    QVBoxLayout* layout = new QVBoxLayout(this);
    layout->addWidget(m_Search);
    layout->addWidget(split);
    layout->addWidget(m_Progress);
    layout->addWidget(m_Status);

    connect(m_Tree, &QTreeWidget::itemExpanded, this, &BrowsePage::SlotExpanded);
    connect(m_Tree, &QTreeWidget::itemSelectionChanged, this, &BrowsePage::SlotSelectionChanged);
    connect(m_Tree, &QTreeWidget::customContextMenuRequested, this, &BrowsePage::SlotContextMenu);
    connect(m_Search, &QLineEdit::returnPressed, this, &BrowsePage::SlotSearch);

    m_Browser.reset(new CVD_MediaBrowser(m_CtrlPoint, this));
    m_Controller.reset(new CVD_MediaController(m_CtrlPoint, this));
    pagesupport::CatchUp(m_CtrlPoint, *m_Browser);
    pagesupport::CatchUp(m_CtrlPoint, *m_Controller);
}

BrowsePage::~BrowsePage()
{
    // no engine thread calls or posts to us once these are gone
    m_Downloads.StopAllTasks();
    m_Browser.reset();
    m_Controller.reset();
}

bool BrowsePage::AppliesTo(const CVD_DeviceDataReference& device) const
{
    if (device.IsNull()) return false;
    CVD_DeviceDataReference known;
    return pagesupport::Adopt(*m_Browser, m_Browser->FindServer(device->GetUUID(), known), device);
}

void BrowsePage::ShowDevice(const CVD_DeviceDataReference& device)
{
    if (pagesupport::SameDevice(device, m_Device)) return;
    Clear();
    if (device.IsNull() || !AppliesTo(device)) return;
    m_Device = device;
    StartListing("0", QString(), m_Tree->invisibleRootItem());
    m_SearchToken = ++m_NextToken;
    // the search box shows only when the server says it can search
    m_Browser->GetSearchCapabilities(m_Device, (void*)m_SearchToken);
}

CVD_MediaObject* BrowsePage::ObjectOf(QTreeWidgetItem* row) const
{
    return row ? (CVD_MediaObject*)row->data(0, kObjectRole).value<quintptr>() : nullptr;
}

void BrowsePage::Clear()
{
    m_Generation++;
    m_Listings.clear();
    m_Tree->clear();
    m_Objects.clear();
    m_Device = nullptr;
    m_Search->hide();
    m_Search->clear();
    m_SearchToken = 0;
    m_Progress->hide();
    m_Status->clear();
    m_ArtToken = ++m_NextToken;
    SlotSelectionChanged();
}

void BrowsePage::StartListing(const QString& object_id, const QString& criteria, QTreeWidgetItem* row)
{
    quintptr token      = ++m_NextToken;
    Listing& listing    = m_Listings[token];
    listing.m_ObjectId  = object_id;
    listing.m_Criteria  = criteria;
    listing.m_Row       = row;
    m_Progress->setRange(0, 0); // busy until the first page tells the total
    m_Progress->setValue(0);
    m_Progress->show();
    HLY_Result result = RequestPage(token);
    if (HLY_FAILED(result)) EndListing(token, tr("The server could not be asked (%1).").arg(HLY_ResultText(result)));
}

HLY_Result BrowsePage::RequestPage(quintptr token)
{
    const Listing& listing = m_Listings[token];
    QByteArray     id      = listing.m_ObjectId.toUtf8();
    if (listing.m_Criteria.isEmpty()) {
        return m_Browser->Browse(m_Device, id.constData(), listing.m_Fetched, kPageSize, false, kFilter, "",
                                 (void*)token);
    }
    QByteArray criteria = listing.m_Criteria.toUtf8();
    return m_Browser->Search(m_Device, id.constData(), criteria.constData(), listing.m_Fetched, kPageSize, kFilter,
                             (void*)token);
}

bool BrowsePage::OnMediaServerAdded(CVD_DeviceDataReference&)
{
    // the window's controller subscribes already; events reach every listener
    return false;
}

void BrowsePage::OnBrowseResult(HLY_Result result, CVD_DeviceDataReference&, CVD_BrowseInfo* info, void* userdata)
{
    // the objects change hands here: the list in info would go with the callback
    ObjectList objects(new CVD_MediaObjectList());
    HLY_UInt32 total = 0;
    if (HLY_SUCCEEDED(result) && info && !info->items.IsNull()) {
        for (CVD_MediaObjectList::Iterator it = info->items->GetFirstItem(); it; ++it) objects->Add(*it);
        info->items->Clear();
        total = info->tm;
    }
    quintptr token = (quintptr)userdata;
    Post(this, [this, token, result, total, objects]() { OnPage(token, result, total, objects); });
}

void BrowsePage::OnPage(quintptr token, HLY_Result result, HLY_UInt32 total, ObjectList objects)
{
    auto found = m_Listings.find(token);
    if (found == m_Listings.end()) return; // for a device or listing no longer shown
    Listing& listing = found->second;
    if (HLY_FAILED(result)) {
        EndListing(token, tr("The server's answer could not be read (not a DIDL-Lite listing, or an error)."));
        return;
    }
    m_Objects.push_back(objects);
    QList<QTreeWidgetItem*> rows;
    rows.reserve((qsizetype)objects->GetItemCount());
    for (CVD_MediaObjectList::Iterator it = objects->GetFirstItem(); it; ++it) {
        CVD_MediaObject* object = *it;
        QTreeWidgetItem* row    = new QTreeWidgetItem({ToQString(object->m_Title)});
        row->setData(0, kObjectRole, QVariant::fromValue((quintptr)object));
        if (object->IsContainer()) {
            CVD_MediaContainer* container = static_cast<CVD_MediaContainer*>(object);
            row->setChildIndicatorPolicy(container->m_ChildrenCount == 0 ? QTreeWidgetItem::DontShowIndicator
                                                                         : QTreeWidgetItem::ShowIndicator);
        }
        rows << row;
    }
    listing.m_Row->addChildren(rows);
    listing.m_Fetched += objects->GetItemCount();
    if (total > 0) {
        m_Progress->setRange(0, (int)std::min(total, kMaxListedObjects));
        m_Progress->setValue((int)std::min(listing.m_Fetched, kMaxListedObjects));
    }
    bool more = objects->GetItemCount() > 0 && (total == 0 || listing.m_Fetched < total);
    if (more && listing.m_Fetched >= kMaxListedObjects) {
        EndListing(token, tr("Only the first %1 objects are listed.").arg(kMaxListedObjects));
        return;
    }
    if (!more) {
        EndListing(token, QString());
        return;
    }
    result = RequestPage(token);
    if (HLY_FAILED(result)) EndListing(token, tr("The server could not be asked (%1).").arg(HLY_ResultText(result)));
}

void BrowsePage::EndListing(quintptr token, const QString& error)
{
    QString id = m_Listings[token].m_ObjectId;
    m_Listings.erase(token);
    if (m_Listings.empty()) m_Progress->hide();
    if (!error.isEmpty()) ShowError(error);
    emit ContainerLoaded(id);
}

void BrowsePage::ShowError(const QString& text)
{
    m_Status->setStyleSheet("color: #b00020");
    m_Status->setText(text);
}

void BrowsePage::SlotExpanded(QTreeWidgetItem* row)
{
    CVD_MediaObject* object = ObjectOf(row);
    if (object == nullptr || !object->IsContainer() || row->data(0, kLoadedRole).toBool()) return;
    row->setData(0, kLoadedRole, true);
    StartListing(ToQString(object->m_ObjectID), QString(), row);
}

void BrowsePage::SlotSearch()
{
    if (m_Device.IsNull()) return;
    CVD_DeviceDataReference device = m_Device;
    QString                 text   = m_Search->text();
    Clear();
    m_Device = device;
    m_Search->show();
    m_Search->setText(text);
    StartListing("0", text.trimmed().isEmpty() ? QString() : TitleCriteria(text.trimmed()), m_Tree->invisibleRootItem());
}

void BrowsePage::OnGetSearchCapabilitiesResult(HLY_Result result, CVD_DeviceDataReference&, const char* caps,
                                               void* userdata)
{
    // searching by title is what the box offers
    bool     titles = HLY_SUCCEEDED(result) && (strstr(caps, "dc:title") != nullptr || strcmp(caps, "*") == 0);
    quintptr token  = (quintptr)userdata;
    Post(this, [this, token, titles]() {
        if (token == m_SearchToken) m_Search->setVisible(titles);
    });
}

void BrowsePage::SlotSelectionChanged()
{
    QList<QTreeWidgetItem*> selected = m_Tree->selectedItems();
    CVD_MediaObject*        object   = selected.isEmpty() ? nullptr : ObjectOf(selected.first());
    m_Title->setText(object ? ToQString(object->m_Title) : QString());
    m_Class->setText(object ? ToQString(object->m_ObjectClass.m_Type) : QString());
    m_Creator->setText(object ? ToQString(object->m_Creator) : QString());
    m_Art->clear();
    m_Resources->clear();
    m_ArtToken = ++m_NextToken;
    if (object == nullptr) return;
    for (HLY_List<CVD_MediaItemResource>::Iterator res = object->m_Resources.GetFirstItem(); res; ++res) {
        new QTreeWidgetItem(m_Resources, {ToQString(res->m_Uri), ToQString(res->m_ProtocolInfo.ToString()),
                                          SizeText(res->m_Size), pagesupport::FormatSeconds(res->m_Duration),
                                          ToQString(res->m_Resolution)});
    }
    m_Resources->resizeColumnToContents(0);
    if (object->m_AlbumArts.GetItemCount() == 0) return;
    HLY_HttpUrl url(object->m_AlbumArts.GetFirstItem()->m_Uri);
    if (!url.IsValid()) return;
    if (m_Downloads.GetTaskCount() >= kMaxAlbumArtDownloads) return;
    quintptr      token = m_ArtToken;
    AlbumArtTask* task  = new AlbumArtTask(url, new BoundedMemoryStream(kMaxAlbumArtBytes), [this, token](QByteArray data) {
        Post(this, [this, token, data]() { ShowAlbumArt(token, data); });
    });
    m_Downloads.StartTask(task);
}

void BrowsePage::ShowAlbumArt(quintptr token, const QByteArray& data)
{
    if (token != m_ArtToken) return;
    QPixmap picture;
    if (!picture.loadFromData(data)) return;
    m_Art->setPixmap(picture.scaled(96, 96, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

bool BrowsePage::OnMediaRendererAdded(CVD_DeviceDataReference& device)
{
    // what it can play is needed for the menu; it may not event it
    m_Controller->GetProtocolInfo(device, nullptr);
    CVD_DeviceDataReference renderer = device;
    QString                 uuid     = ToQString(device->GetUUID());
    Post(this, [this, uuid, renderer]() { m_Renderers[uuid] = renderer; });
    return false;
}

void BrowsePage::OnMediaRendererRemoved(CVD_DeviceDataReference& device)
{
    QString uuid = ToQString(device->GetUUID());
    Post(this, [this, uuid]() { m_Renderers.erase(uuid); });
}

QMenu* BrowsePage::ContextMenuFor(QTreeWidgetItem* row)
{
    CVD_MediaObject* item = ObjectOf(row);
    if (item == nullptr || item->IsContainer()) return nullptr;
    QMenu* menu    = new QMenu(this);
    QMenu* play_on = menu->addMenu(tr("Play on…"));
    for (auto& renderer : m_Renderers) {
        HLY_Cardinal index = 0;
        if (HLY_FAILED(m_Controller->FindBestResource(renderer.second, *item, index))) continue;
        QString uuid = renderer.first;
        QAction* action = play_on->addAction(ToQString(renderer.second->GetFriendlyName()));
        action->setData(uuid);
        // the objects go when the tree is cleared: a menu from before is stale
        quintptr generation = m_Generation;
        connect(action, &QAction::triggered, this, [this, item, uuid, generation]() {
            if (generation == m_Generation) PlayOn(item, uuid);
        });
    }
    play_on->setEnabled(!play_on->isEmpty());
    return menu;
}

void BrowsePage::SlotContextMenu(const QPoint& position)
{
    QMenu* menu = ContextMenuFor(m_Tree->itemAt(position));
    if (menu == nullptr) return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(m_Tree->viewport()->mapToGlobal(position));
}

void BrowsePage::PlayOn(CVD_MediaObject* item, const QString& renderer_uuid)
{
    auto renderer = m_Renderers.find(renderer_uuid);
    if (renderer == m_Renderers.end()) return;
    HLY_Cardinal index = 0;
    if (HLY_FAILED(m_Controller->FindBestResource(renderer->second, *item, index))) return;
    HLY_String metadata(CVD_DIDL_HEADER);
    CVD_Didl::ToDidl(*item, "*", metadata);
    metadata += CVD_DIDL_FOOTER;
    HLY_String uri    = item->m_Resources.GetItem(index)->m_Uri;
    HLY_Result result = m_Controller->SetAVTransportURI(renderer->second, 0, uri, metadata, nullptr);
    if (HLY_FAILED(result)) {
        ShowError(tr("%1 could not be asked to play (%2).").arg(renderer_uuid, HLY_ResultText(result)));
        emit PlayStarted(QString());
        return;
    }
    m_Status->setStyleSheet(QString());
    m_Status->setText(tr("Sending \"%1\" to %2…").arg(ToQString(item->m_Title),
                                                     ToQString(renderer->second->GetFriendlyName())));
}

void BrowsePage::OnSetAVTransportURIResult(HLY_Result result, CVD_DeviceDataReference& device, void*)
{
    // Play follows from here, on this engine thread: nothing waits for it
    if (HLY_SUCCEEDED(result)) result = m_Controller->Play(device, 0, "1", nullptr);
    if (HLY_SUCCEEDED(result)) return;
    QString name = ToQString(device->GetFriendlyName());
    Post(this, [this, name, result]() {
        ShowError(tr("%1 refused the item (%2).").arg(name, HLY_ResultText(result)));
        emit PlayStarted(QString());
    });
}

void BrowsePage::OnPlayResult(HLY_Result result, CVD_DeviceDataReference& device, void*)
{
    QString name = ToQString(device->GetFriendlyName());
    QString uuid = ToQString(device->GetUUID());
    Post(this, [this, name, uuid, result]() {
        if (HLY_FAILED(result)) {
            ShowError(tr("%1 did not start playing (%2).").arg(name, HLY_ResultText(result)));
            emit PlayStarted(QString());
            return;
        }
        m_Status->setStyleSheet(QString());
        m_Status->setText(tr("Playing on %1.").arg(name));
        emit PlayStarted(uuid);
    });
}
