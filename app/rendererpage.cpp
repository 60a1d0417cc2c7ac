#include "rendererpage.h"

#include <algorithm>

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include "CvdDidl.h"
#include "CvdService.h"
#include "CvdStateVariable.h"

#include "pagesupport.h"

using pagesupport::Post;
using pagesupport::ToQString;

namespace {

// how often the position is asked for while playing, when not evented
const int kPollMs = 1000;
// the longest track the slider spans (a day); longer claims are cut
const HLY_UInt32 kMaxTrackSeconds = 24 * 3600;
const char* const kChannel = "Master";

// seconds of an H:MM:SS text; -1 when it is not one
qint64 Seconds(const HLY_String& text)
{
    HLY_UInt32 seconds = 0;
    if (HLY_FAILED(CVD_Didl::ParseTimeStamp(text, seconds))) return -1;
    return std::min(seconds, kMaxTrackSeconds);
}

qint64 Seconds(const HLY_TimeStamp& time)
{
    return std::min<qint64>(std::max<qint64>(time.ToSeconds(), 0), kMaxTrackSeconds);
}

// the title of a track from its DIDL-Lite metadata, else its URI's last part
QString TrackTitle(const HLY_String& metadata, const HLY_String& uri)
{
    CVD_MediaObjectListReference objects;
    if (!metadata.IsEmpty() && HLY_SUCCEEDED(CVD_Didl::FromDidl(metadata, objects)) && !objects.IsNull() &&
        objects->GetItemCount() > 0) {
        return ToQString((*objects->GetFirstItem())->m_Title);
    }
    QString text = ToQString(uri);
    return text.mid(text.lastIndexOf('/') + 1);
}

bool IsTrue(const HLY_String& text)
{
    return text == "1" || text.Compare("true", true) == 0 || text.Compare("yes", true) == 0;
}

} // namespace

RendererPage::RendererPage(CVD_CtrlPointReference ctrl_point, QWidget* parent)
    : DevicePage(parent), m_CtrlPoint(ctrl_point)
{
    setObjectName("rendererPage");
    m_Track = new QLabel(this);
    m_Track->setObjectName("rendererTrack");
    QFont bold = m_Track->font();
    bold.setBold(true);
    m_Track->setFont(bold);
    m_State  = new QLabel(this);
    m_State->setObjectName("rendererState");
    m_Time   = new QLabel(this);
    m_Time->setObjectName("rendererTime");
    m_Status = new QLabel(this);
    m_Status->setObjectName("rendererStatus");
    m_Status->setWordWrap(true);
    m_Status->setStyleSheet("color: #b00020");

    m_Play  = new QPushButton(style()->standardIcon(QStyle::SP_MediaPlay), tr("Play"), this);
    m_Pause = new QPushButton(style()->standardIcon(QStyle::SP_MediaPause), tr("Pause"), this);
    m_Stop  = new QPushButton(style()->standardIcon(QStyle::SP_MediaStop), tr("Stop"), this);
    m_Play->setObjectName("rendererPlay");
    m_Pause->setObjectName("rendererPause");
    m_Stop->setObjectName("rendererStop");

    m_Position = new QSlider(Qt::Horizontal, this);
    m_Position->setObjectName("rendererPosition");
    m_Position->setRange(0, 0);
    m_Volume = new QSlider(Qt::Horizontal, this);
    m_Volume->setObjectName("rendererVolume");
    m_Volume->setRange(0, 100);
    m_Mute = new QCheckBox(tr("Mute"), this);
    m_Mute->setObjectName("rendererMute");

    QHBoxLayout* transport = new QHBoxLayout();
    transport->addWidget(m_Play);
    transport->addWidget(m_Pause);
    transport->addWidget(m_Stop);
    transport->addStretch();
    transport->addWidget(m_State);
    QHBoxLayout* position = new QHBoxLayout();
    position->addWidget(m_Position, 1);
    position->addWidget(m_Time);
    QHBoxLayout* volume = new QHBoxLayout();
    volume->addWidget(new QLabel(tr("Volume:"), this));
    volume->addWidget(m_Volume, 1);
    volume->addWidget(m_Mute);
    QVBoxLayout* layout = new QVBoxLayout(this);
    layout->addWidget(m_Track);
    layout->addLayout(transport);
    layout->addLayout(position);
    layout->addLayout(volume);
    layout->addWidget(m_Status);
    layout->addStretch();

    m_Poll = new QTimer(this);
    m_Poll->setInterval(kPollMs);
    connect(m_Poll, &QTimer::timeout, this, &RendererPage::SlotPoll);
    connect(m_Play, &QPushButton::clicked, this, &RendererPage::SlotPlay);
    connect(m_Pause, &QPushButton::clicked, this, &RendererPage::SlotPause);
    connect(m_Stop, &QPushButton::clicked, this, &RendererPage::SlotStop);
    connect(m_Position, &QSlider::sliderReleased, this, &RendererPage::SlotSeek);
    connect(m_Position, &QSlider::actionTriggered, this, [this](int action) {
        // clicks on the groove and keys move the handle without a drag; the
        // value changes after this signal, so seek once it has
        if (action != QAbstractSlider::SliderMove && action != QAbstractSlider::SliderNoAction) {
            QTimer::singleShot(0, this, &RendererPage::SlotSeek);
        }
    });
    connect(m_Volume, &QSlider::sliderReleased, this, &RendererPage::SlotVolume);
    connect(m_Volume, &QSlider::valueChanged, this, [this]() {
        if (!m_Volume->isSliderDown()) SlotVolume(); // keys and clicks on the groove
    });
    connect(m_Mute, &QCheckBox::toggled, this, &RendererPage::SlotMute);

    m_Controller.reset(new CVD_MediaController(m_CtrlPoint, this));
    pagesupport::CatchUp(m_CtrlPoint, *m_Controller);
    Clear();
}

RendererPage::~RendererPage()
{
    // no engine thread calls or posts to us once it is gone
    m_Controller.reset();
}

bool RendererPage::AppliesTo(const CVD_DeviceDataReference& device) const
{
    if (device.IsNull()) return false;
    CVD_DeviceDataReference known;
    return pagesupport::Adopt(*m_Controller, m_Controller->FindRenderer(device->GetUUID(), known), device);
}

void RendererPage::ShowDevice(const CVD_DeviceDataReference& device)
{
    if (pagesupport::SameDevice(device, m_Device)) return;
    Clear();
    if (device.IsNull() || !AppliesTo(device)) return;
    m_Device = device;
    setEnabled(true);
    // what it is doing now; events keep it current from here on
    Check("GetTransportInfo", m_Controller->GetTransportInfo(m_Device, 0, nullptr));
    Check("GetMediaInfo", m_Controller->GetMediaInfo(m_Device, 0, nullptr));
    Check("GetPositionInfo", m_Controller->GetPositionInfo(m_Device, 0, nullptr));
    Check("GetVolume", m_Controller->GetVolume(m_Device, 0, kChannel, nullptr));
    Check("GetMute", m_Controller->GetMute(m_Device, 0, kChannel, nullptr));
}

void RendererPage::Clear()
{
    m_Device = nullptr;
    m_TransportState.clear();
    m_PositionEvented = false;
    m_Poll->stop();
    m_Applying = true;
    m_Track->setText(tr("No track"));
    m_State->clear();
    m_Time->clear();
    m_Status->clear();
    m_Position->setRange(0, 0);
    m_Volume->setValue(0);
    m_Mute->setChecked(false);
    m_Applying = false;
    setEnabled(false);
}

bool RendererPage::IsPolling() const
{
    return m_Poll->isActive();
}

void RendererPage::Check(const char* action, HLY_Result result)
{
    if (HLY_SUCCEEDED(result)) return;
    m_Status->setText(tr("%1 could not be sent (%2).").arg(action, HLY_ResultText(result)));
    emit ActionDone(action, false);
}

void RendererPage::SlotPlay()
{
    if (!m_Device.IsNull()) Check("Play", m_Controller->Play(m_Device, 0, "1", nullptr));
}

void RendererPage::SlotPause()
{
    if (!m_Device.IsNull()) Check("Pause", m_Controller->Pause(m_Device, 0, nullptr));
}

void RendererPage::SlotStop()
{
    if (!m_Device.IsNull()) Check("Stop", m_Controller->Stop(m_Device, 0, nullptr));
}

void RendererPage::SlotSeek()
{
    if (m_Device.IsNull()) return;
    QByteArray target = pagesupport::FormatSeconds(m_Position->value()).toUtf8();
    Check("Seek", m_Controller->Seek(m_Device, 0, "REL_TIME", target.constData(), nullptr));
}

void RendererPage::SlotVolume()
{
    if (m_Device.IsNull() || m_Applying) return;
    Check("SetVolume", m_Controller->SetVolume(m_Device, 0, kChannel, m_Volume->value(), nullptr));
}

void RendererPage::SlotMute(bool mute)
{
    if (m_Device.IsNull() || m_Applying) return;
    Check("SetMute", m_Controller->SetMute(m_Device, 0, kChannel, mute, nullptr));
}

void RendererPage::SlotPoll()
{
    if (!m_Device.IsNull()) Check("GetPositionInfo", m_Controller->GetPositionInfo(m_Device, 0, nullptr));
}

void RendererPage::UpdatePolling()
{
    bool poll = !m_Device.IsNull() && m_TransportState == "PLAYING" && !m_PositionEvented;
    if (poll && !m_Poll->isActive()) m_Poll->start();
    if (!poll) m_Poll->stop();
}

/*----------------------------------------------------------------------
|   engine threads: read what came, post it
+---------------------------------------------------------------------*/
bool RendererPage::OnMediaRendererAdded(CVD_DeviceDataReference&)
{
    // the window's controller subscribes already; events reach every listener
    return false;
}

void RendererPage::Deliver(const HLY_String& uuid, const QMap<QString, QString>& values)
{
    QString who = ToQString(uuid);
    Post(this, [this, who, values]() { Apply(who, values); });
}

void RendererPage::Answered(CVD_DeviceDataReference& device, const char* action, HLY_Result result)
{
    QString who = ToQString(device->GetUUID());
    QString name(action);
    Post(this, [this, who, name, result]() {
        if (m_Device.IsNull() || ToQString(m_Device->GetUUID()) != who) return;
        if (HLY_FAILED(result)) {
            m_Status->setText(tr("%1 failed on the renderer (%2).").arg(name, HLY_ResultText(result)));
        }
        emit ActionDone(name, HLY_SUCCEEDED(result));
    });
}

void RendererPage::OnMediaRendererStateVariablesChanged(CVD_Service* service, HLY_List<CVD_StateVariable*>* vars)
{
    if (service == nullptr || service->GetDevice() == nullptr) return;
    QMap<QString, QString> values;
    HLY_String             metadata, uri;
    for (HLY_List<CVD_StateVariable*>::Iterator it = vars->GetFirstItem(); it; ++it) {
        const HLY_String& name  = (*it)->GetName();
        const HLY_String& value = (*it)->GetValue();
        // per-channel values count for the master channel only
        HLY_String* channel = nullptr;
        (*it)->GetExtraAttributes().Get(HLY_String("channel"), channel);
        bool master = channel == nullptr || channel->Compare(kChannel, true) == 0;
        if (name == "TransportState") values["state"] = ToQString(value);
        else if (name == "CurrentTrackMetaData") metadata = value;
        else if (name == "CurrentTrackURI") uri = value;
        else if (name == "CurrentTrackDuration" && Seconds(value) >= 0) values["duration"] = QString::number(Seconds(value));
        else if (name == "RelativeTimePosition" && Seconds(value) >= 0) {
            values["position"] = QString::number(Seconds(value));
            values["evented"]  = "1";
        } else if (name == "Volume" && master) values["volume"] = ToQString(value);
        else if (name == "Mute" && master) values["mute"] = IsTrue(value) ? "1" : "0";
    }
    if (!metadata.IsEmpty() || !uri.IsEmpty()) values["title"] = TrackTitle(metadata, uri);
    if (!values.isEmpty()) Deliver(service->GetDevice()->GetUUID(), values);
}

void RendererPage::OnGetMediaInfoResult(HLY_Result r, CVD_DeviceDataReference& device, CVD_MediaInfo* info, void*)
{
    if (HLY_SUCCEEDED(r) && info && (!info->cur_metadata.IsEmpty() || !info->cur_uri.IsEmpty())) {
        Deliver(device->GetUUID(), {{"title", TrackTitle(info->cur_metadata, info->cur_uri)}});
    }
    Answered(device, "GetMediaInfo", r);
}

void RendererPage::OnGetPositionInfoResult(HLY_Result r, CVD_DeviceDataReference& device, CVD_PositionInfo* info,
                                           void*)
{
    if (HLY_SUCCEEDED(r) && info) {
        QMap<QString, QString> values = {{"position", QString::number(Seconds(info->rel_time))},
                                         {"duration", QString::number(Seconds(info->track_duration))}};
        if (!info->track_metadata.IsEmpty() || !info->track_uri.IsEmpty()) {
            values["title"] = TrackTitle(info->track_metadata, info->track_uri);
        }
        Deliver(device->GetUUID(), values);
    }
    Answered(device, "GetPositionInfo", r);
}

void RendererPage::OnGetTransportInfoResult(HLY_Result r, CVD_DeviceDataReference& device, CVD_TransportInfo* info,
                                            void*)
{
    if (HLY_SUCCEEDED(r) && info) Deliver(device->GetUUID(), {{"state", ToQString(info->cur_transport_state)}});
    Answered(device, "GetTransportInfo", r);
}

void RendererPage::OnGetMuteResult(HLY_Result r, CVD_DeviceDataReference& device, const char*, bool mute, void*)
{
    if (HLY_SUCCEEDED(r)) Deliver(device->GetUUID(), {{"mute", mute ? "1" : "0"}});
    Answered(device, "GetMute", r);
}

void RendererPage::OnGetVolumeResult(HLY_Result r, CVD_DeviceDataReference& device, const char*, HLY_UInt32 volume,
                                     void*)
{
    if (HLY_SUCCEEDED(r)) Deliver(device->GetUUID(), {{"volume", QString::number(volume)}});
    Answered(device, "GetVolume", r);
}

void RendererPage::OnPauseResult(HLY_Result r, CVD_DeviceDataReference& d, void*) { Answered(d, "Pause", r); }
void RendererPage::OnPlayResult(HLY_Result r, CVD_DeviceDataReference& d, void*) { Answered(d, "Play", r); }
void RendererPage::OnSeekResult(HLY_Result r, CVD_DeviceDataReference& d, void*) { Answered(d, "Seek", r); }
void RendererPage::OnStopResult(HLY_Result r, CVD_DeviceDataReference& d, void*) { Answered(d, "Stop", r); }
void RendererPage::OnSetMuteResult(HLY_Result r, CVD_DeviceDataReference& d, void*) { Answered(d, "SetMute", r); }
void RendererPage::OnSetVolumeResult(HLY_Result r, CVD_DeviceDataReference& d, void*) { Answered(d, "SetVolume", r); }

/*----------------------------------------------------------------------
|   GUI thread
+---------------------------------------------------------------------*/
void RendererPage::Apply(const QString& uuid, const QMap<QString, QString>& values)
{
    if (m_Device.IsNull() || ToQString(m_Device->GetUUID()) != uuid) return;
    m_Applying = true;
    if (values.contains("state")) {
        m_TransportState = values["state"];
        m_State->setText(m_TransportState);
    }
    if (values.contains("title")) m_Track->setText(values["title"]);
    if (values.contains("evented")) m_PositionEvented = true;
    if (values.contains("duration")) m_Position->setRange(0, values["duration"].toInt());
    // a drag in progress wins over what the renderer says
    if (values.contains("position") && !m_Position->isSliderDown()) m_Position->setValue(values["position"].toInt());
    if (values.contains("position") || values.contains("duration")) {
        m_Time->setText(pagesupport::FormatSeconds(m_Position->value()) + " / " +
                        pagesupport::FormatSeconds(m_Position->maximum()));
    }
    if (values.contains("volume") && !m_Volume->isSliderDown()) m_Volume->setValue(values["volume"].toInt());
    if (values.contains("mute")) m_Mute->setChecked(values["mute"] == "1");
    m_Applying = false;
    UpdatePolling();
}
