#ifndef BEACONRY_AV_SUPPORT_H
#define BEACONRY_AV_SUPPORT_H

// For the AV scenarios: minidlna over a media tree the test wrote, and a
// media controller delegate that keeps the last answer of each kind and the
// transport states a renderer evented.

#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "CvdMediaController.h"
#include "peers.h"
#include "ssdp_support.h"

namespace avtest {

class RendererRecord : public CVD_MediaControllerDelegate
{
public:
    // forgets the last answer of that kind, sends, and waits for the next one
    bool Ask(const std::string& what, const std::function<HLY_Result()>& send, HLY_Result& result, std::string& value,
             int timeout_ms = 10000)
    {
        {
            std::lock_guard<std::mutex> guard(m_Lock);
            m_Answers.erase(what);
        }
        if (HLY_FAILED(send())) return false;
        std::unique_lock<std::mutex> lock(m_Lock);
        if (!m_Changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                [&]() { return m_Answers.count(what) > 0; })) {
            return false;
        }
        result = m_Answers[what].first;
        value  = m_Answers[what].second;
        return true;
    }
    // the value alone: "no answer" or "error" when there is none
    std::string Ask(const std::string& what, const std::function<HLY_Result()>& send)
    {
        HLY_Result  result = HLY_FAILURE;
        std::string value;
        if (!Ask(what, send, result, value)) return "no answer";
        return HLY_SUCCEEDED(result) ? value : "error";
    }
    bool HeardState(const std::string& state)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return std::find(m_States.begin(), m_States.end(), state) != m_States.end();
    }

    void OnMediaRendererStateVariablesChanged(CVD_Service*, HLY_List<CVD_StateVariable*>* vars) override
    {
        for (HLY_List<CVD_StateVariable*>::Iterator v = vars->GetFirstItem(); v; ++v) {
            if ((*v)->GetName() == "TransportState") {
                std::lock_guard<std::mutex> guard(m_Lock);
                m_States.push_back(ssdptest::Text((*v)->GetValue()));
            }
        }
    }
    void OnGetMediaInfoResult(HLY_Result r, CVD_DeviceDataReference&, CVD_MediaInfo* info, void*) override
    {
        Put("MediaInfo", r, info ? ssdptest::Text(info->cur_uri) : "");
    }
    void OnGetPositionInfoResult(HLY_Result r, CVD_DeviceDataReference&, CVD_PositionInfo* info, void*) override
    {
        Put("PositionInfo", r, info ? std::to_string(info->rel_time.ToMillis()) : "");
    }
    void OnGetTransportInfoResult(HLY_Result r, CVD_DeviceDataReference&, CVD_TransportInfo* info, void*) override
    {
        Put("TransportInfo", r, info ? ssdptest::Text(info->cur_transport_state) : "");
    }
    void OnGetProtocolInfoResult(HLY_Result r, CVD_DeviceDataReference&, CVD_StringList*, CVD_StringList* sinks,
                                 void*) override
    {
        Put("ProtocolInfo", r, sinks ? std::to_string(sinks->GetItemCount()) : "");
    }
    void OnGetVolumeResult(HLY_Result r, CVD_DeviceDataReference&, const char* channel, HLY_UInt32 volume, void*) override
    {
        Put("GetVolume", r, std::string(channel) + "=" + std::to_string(volume));
    }
    void OnGetMuteResult(HLY_Result r, CVD_DeviceDataReference&, const char* channel, bool mute, void*) override
    {
        Put("GetMute", r, std::string(channel) + "=" + (mute ? "1" : "0"));
    }
    void OnSetAVTransportURIResult(HLY_Result r, CVD_DeviceDataReference&, void*) override { Put("SetURI", r); }
    void OnPlayResult(HLY_Result r, CVD_DeviceDataReference&, void*) override { Put("Play", r); }
    void OnPauseResult(HLY_Result r, CVD_DeviceDataReference&, void*) override { Put("Pause", r); }
    void OnStopResult(HLY_Result r, CVD_DeviceDataReference&, void*) override { Put("Stop", r); }
    void OnSeekResult(HLY_Result r, CVD_DeviceDataReference&, void*) override { Put("Seek", r); }
    void OnSetVolumeResult(HLY_Result r, CVD_DeviceDataReference&, void*) override { Put("SetVolume", r); }
    void OnSetMuteResult(HLY_Result r, CVD_DeviceDataReference&, void*) override { Put("SetMute", r); }

private:
    void Put(const std::string& what, HLY_Result result, const std::string& value = "")
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Answers[what] = {result, value};
        m_Changed.notify_all();
    }

    std::mutex                                                m_Lock;
    std::condition_variable                                   m_Changed;
    std::map<std::string, std::pair<HLY_Result, std::string>> m_Answers;
    std::vector<std::string>                                  m_States;
};

} // namespace avtest

#endif // BEACONRY_AV_SUPPORT_H
