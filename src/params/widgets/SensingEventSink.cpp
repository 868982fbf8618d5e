#include "params/widgets/SensingEventSink.h"

#include "controls/widgets/MessageEvent.h"

void CSensingEventSink::OnSensingProgress(int progress) {
    PostMessageEvent(dialog_, WM_SENSING_PROGRESS, progress);
}

void CSensingEventSink::OnSensingFinished(int success) { PostMessageEvent(dialog_, WM_SENSING_FINISHED, success); }
