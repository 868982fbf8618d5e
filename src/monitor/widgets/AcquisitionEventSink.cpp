#include "monitor/widgets/AcquisitionEventSink.h"

void AcquisitionEventSink::OnNewReport(const TargetReport& report)
{
    if (reportHook_)
        reportHook_(report);
    emit reportArrived(run_.load(), report.state, report.distanceCm);
}
