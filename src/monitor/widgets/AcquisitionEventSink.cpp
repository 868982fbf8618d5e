#include "monitor/widgets/AcquisitionEventSink.h"

void AcquisitionEventSink::OnNewReport(const TargetReport& report)
{
    if (reportHook_)
        reportHook_(report);
    if (everyReport_)
        emit reportArrived(run_.load(), report.state, report.distanceCm);
    else
        newest_.emplace(report.state, report.distanceCm);
}

void AcquisitionEventSink::OnChunkDone()
{
    if (newest_) {
        emit reportArrived(run_.load(), newest_->first, newest_->second);
        newest_.reset();
    }
}
