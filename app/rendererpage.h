#ifndef RENDERERPAGE_H
#define RENDERERPAGE_H

#include <memory>

#include <QMap>

#include "devicepage.h"

#include "CvdMediaController.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;
class QTimer;

// The Renderer tab: a transport bar, the position slider, volume and mute,
// and the current track, kept current by the renderer's events and, while
// it plays without eventing its position, by asking for it every second.
class RendererPage : public DevicePage, private CVD_MediaControllerDelegate
{
    Q_OBJECT

public:
    explicit RendererPage(CVD_CtrlPointReference ctrl_point, QWidget* parent = nullptr);
    ~RendererPage() override;

    bool AppliesTo(const CVD_DeviceDataReference& device) const override;
    void ShowDevice(const CVD_DeviceDataReference& device) override;

    QString TransportState() const { return m_TransportState; }
    bool IsPolling() const;

signals:
    // an answer of the shown renderer came in (name of the action, success)
    void ActionDone(const QString& action, bool ok);

private slots:
    void SlotPlay();
    void SlotPause();
    void SlotStop();
    void SlotSeek();
    void SlotVolume();
    void SlotMute(bool mute);
    void SlotPoll();

private:
    // CVD_MediaControllerDelegate, on engine threads
    bool OnMediaRendererAdded(CVD_DeviceDataReference& device) override;
    void OnMediaRendererStateVariablesChanged(CVD_Service* service, HLY_List<CVD_StateVariable*>* vars) override;
    void OnGetMediaInfoResult(HLY_Result, CVD_DeviceDataReference&, CVD_MediaInfo*, void*) override;
    void OnGetPositionInfoResult(HLY_Result, CVD_DeviceDataReference&, CVD_PositionInfo*, void*) override;
    void OnGetTransportInfoResult(HLY_Result, CVD_DeviceDataReference&, CVD_TransportInfo*, void*) override;
    void OnPauseResult(HLY_Result, CVD_DeviceDataReference&, void*) override;
    void OnPlayResult(HLY_Result, CVD_DeviceDataReference&, void*) override;
    void OnSeekResult(HLY_Result, CVD_DeviceDataReference&, void*) override;
    void OnStopResult(HLY_Result, CVD_DeviceDataReference&, void*) override;
    void OnSetMuteResult(HLY_Result, CVD_DeviceDataReference&, void*) override;
    void OnGetMuteResult(HLY_Result, CVD_DeviceDataReference&, const char*, bool, void*) override;
    void OnSetVolumeResult(HLY_Result, CVD_DeviceDataReference&, void*) override;
    void OnGetVolumeResult(HLY_Result, CVD_DeviceDataReference&, const char*, HLY_UInt32, void*) override;

    // hands name=value pairs of the renderer uuid to the GUI thread
    void Deliver(const HLY_String& uuid, const QMap<QString, QString>& values);
    void Answered(CVD_DeviceDataReference& device, const char* action, HLY_Result result);

    // GUI thread
    void Apply(const QString& uuid, const QMap<QString, QString>& values);
    void Clear();
    void UpdatePolling();
    void Check(const char* action, HLY_Result result);

    CVD_CtrlPointReference               m_CtrlPoint;
    std::unique_ptr<CVD_MediaController> m_Controller;
    CVD_DeviceDataReference              m_Device;
    QString                              m_TransportState;
    bool                                 m_PositionEvented = false;
    bool                                 m_Applying        = false; // widgets set from the renderer

    QLabel*      m_Track;
    QLabel*      m_State;
    QLabel*      m_Time;
    QLabel*      m_Status;
    QPushButton* m_Play;
    QPushButton* m_Pause;
    QPushButton* m_Stop;
    QSlider*     m_Position;
    QSlider*     m_Volume;
    QCheckBox*   m_Mute;
    QTimer*      m_Poll;
};

#endif // RENDERERPAGE_H
