#ifndef FETCHTASK_H
#define FETCHTASK_H

#include <functional>

#include "CvdCtrlPointTask.h"

// One GET on an engine thread, under the control point's time-outs and
// watchdog, with the body bounded. The answer is handed to a function on
// that same thread: it copies what it needs and posts it to the GUI thread.
class FetchTask : public CVD_CtrlPointHttpTask
{
public:
    // body is null when there is none within the bounds (or no answer)
    typedef std::function<void(HLY_Result result, int status, const HLY_String* body,
                               const HLY_HttpRequestContext& context)>
        Answer;

    FetchTask(CVD_CtrlPoint* ctrl_point, const HLY_HttpUrl& url, HLY_Size max_body, Answer answer);

protected:
    HLY_Result OnResponse(HLY_Result res, const HLY_HttpRequest& request, const HLY_HttpRequestContext& context,
                          HLY_HttpResponse* response, const HLY_String* body) override;

private:
    Answer m_Answer;
};

#endif // FETCHTASK_H
