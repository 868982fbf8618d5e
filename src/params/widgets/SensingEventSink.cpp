#include "params/widgets/SensingEventSink.h"

#include "controls/widgets/MessageEvent.h"

void SensingEventSink::OnSensingProgress(int progress) {
    PostMessageEvent(dialog_, WM_SENSING_PROGRESS, progress);
}

void SensingEventSink::OnSensingFinished(int success) { PostMessageEvent(dialog_, WM_SENSING_FINISHED, success); }
