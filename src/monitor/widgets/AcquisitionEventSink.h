#pragma once
// The acquisition worker's notices as messages posted to the target page.
//
// Called on the "ReadData" worker thread; every notice is posted and the call
// returns at once, so it never waits for the page's thread (which may be inside
// Stop, joining the worker). The page receives, on its own thread:
//     WM_REPORT_NEW   wParam = state code, lParam = distance in cm (the full report
//                     is the worker's LastReport)
//     WM_REPLAY_END   wParam = lParam = 0; the page stops the run
//     WM_DEVICE_LOST  wParam = lParam = 0; the page stops the run
//     WM_RECORD_FAILED wParam = lParam = 0; recording has stopped (the worker's
//                     RecordFailure says why), the run goes on
// The page must outlive the run: it stops the worker before it is destroyed.
// A page that also feeds charts from the worker thread derives and calls these.

#include "monitor/AcquisitionWorker.h"

class QObject;

class AcquisitionEventSink : public IAcquisitionSink {
public:
    explicit AcquisitionEventSink(QObject* page) : page_(page) {}

    void OnNewReport(const TargetReport& report) override;
    void OnReplayEnd() override;
    void OnDeviceLost() override;
    void OnRecordFailed() override;

private:
    QObject* page_;
};
