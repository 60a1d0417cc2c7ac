#ifndef PAGESUPPORT_H
#define PAGESUPPORT_H

#include <utility>

#include <QMetaObject>
#include <QObject>
#include <QString>

#include "CvdCtrlPoint.h"
#include "CvdDidl.h"
#include "hlystrings.h"

// What the media pages share: engine callbacks come on engine threads and
// only ever post work to the page's own (GUI) thread.
namespace pagesupport {

// runs f on the thread of context, later; dropped when context is gone by then
template <typename F> void Post(QObject* context, F&& f)
{
    QMetaObject::invokeMethod(context, std::forward<F>(f), Qt::QueuedConnection);
}

inline QString ToQString(const HLY_String& text)
{
    return QString::fromUtf8(text.GetChars(), (qsizetype)text.GetLength());
}

// H:MM:SS without the fraction DIDL-Lite adds: what the window shows and
// what Seek sends
inline QString FormatSeconds(qint64 seconds)
{
    if (seconds < 0) return QString();
    QString text = ToQString(CVD_Didl::FormatTimeStamp((HLY_UInt32)seconds));
    return text.left(text.lastIndexOf('.'));
}

// Hands every device the control point already knows to listener: a page
// made after the engine started has missed their arrival. Listeners refuse
// what is not theirs and what they hold already.
inline void CatchUp(CVD_CtrlPointReference& ctrl_point, CVD_CtrlPointListener& listener)
{
    HLY_List<CVD_DeviceDataReference> roots = ctrl_point->GetRootDevices();
    for (HLY_List<CVD_DeviceDataReference>::Iterator root = roots.GetFirstItem(); root; ++root) {
        listener.OnDeviceAdded(*root);
        const HLY_Array<CVD_DeviceDataReference>& embedded = (*root)->GetEmbeddedDevices();
        for (HLY_Cardinal i = 0; i < embedded.GetItemCount(); i++) {
            CVD_DeviceDataReference device = embedded[i];
            listener.OnDeviceAdded(device);
        }
    }
}

// whether a page's listener holds the device: known already (known is the
// lookup's result) or accepted now, when it came before the page did
inline bool Adopt(CVD_CtrlPointListener& listener, HLY_Result known, const CVD_DeviceDataReference& device)
{
    if (HLY_SUCCEEDED(known)) return true;
    CVD_DeviceDataReference candidate = device;
    return HLY_SUCCEEDED(listener.OnDeviceAdded(candidate));
}

inline bool SameDevice(const CVD_DeviceDataReference& a, const CVD_DeviceDataReference& b)
{
    return !a.IsNull() && !b.IsNull() && a->GetUUID() == b->GetUUID();
}

} // namespace pagesupport

#endif // PAGESUPPORT_H
