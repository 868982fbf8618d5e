#include "monitor/widgets/AcquisitionEventSink.h"

#include "controls/widgets/MessageEvent.h"

void AcquisitionEventSink::OnNewReport(const TargetReport& report) {
    PostMessageEvent(page_, WM_REPORT_NEW, report.state, report.distanceCm);
}

void AcquisitionEventSink::OnReplayEnd() { PostMessageEvent(page_, WM_REPLAY_END); }

void AcquisitionEventSink::OnDeviceLost() { PostMessageEvent(page_, WM_DEVICE_LOST); }

void AcquisitionEventSink::OnRecordFailed() { PostMessageEvent(page_, WM_RECORD_FAILED); }
