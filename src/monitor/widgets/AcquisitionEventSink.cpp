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
    if (!newest_)
        return;
    const std::pair<int, int> newest = *newest_;
    newest_.reset();
    {
        std::lock_guard lock(takeLock_);
        untaken_ = newest;
        if (told_)
            return;
        told_ = true;
    }
    emit reportArrived(run_.load(), newest.first, newest.second);
}

std::optional<std::pair<int, int>> AcquisitionEventSink::TakeNewest()
{
    std::lock_guard lock(takeLock_);
    told_ = false;
    std::optional<std::pair<int, int>> newest;
    newest.swap(untaken_);
    return newest;
}
