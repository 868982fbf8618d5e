#include "monitor/widgets/AcquisitionEventSink.h"

#include "controls/widgets/MessageEvent.h"

void CAcquisitionEventSink::OnNewReport(const TargetReport& report) {
    PostMessageEvent(page_, WM_REPORT_NEW, report.state, report.distanceCm);
}

void CAcquisitionEventSink::OnReplayEnd() { PostMessageEvent(page_, WM_REPLAY_END); }

void CAcquisitionEventSink::OnDeviceLost() { PostMessageEvent(page_, WM_DEVICE_LOST); }

void CAcquisitionEventSink::OnRecordFailed() { PostMessageEvent(page_, WM_RECORD_FAILED); }
