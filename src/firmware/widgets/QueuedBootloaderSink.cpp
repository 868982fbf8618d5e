#include "firmware/widgets/QueuedBootloaderSink.h"

#include <QMetaObject>
#include <QObject>

// The call captures its arguments by value: the caller's strings and lists are
// gone by the time the window's thread runs it.
template <typename Call>
void CQueuedBootloaderSink::Queue(Call call) {
    if (!context_) return;
    IBootloaderSink* target = &target_;
    QMetaObject::invokeMethod(context_, [target, call = std::move(call)] { call(*target); }, Qt::QueuedConnection);
}

void CQueuedBootloaderSink::ShowMessage(int stringId, const std::string& text) {
    Queue([stringId, text](IBootloaderSink& s) { s.ShowMessage(stringId, text); });
}

void CQueuedBootloaderSink::AppendLog(int stringId, const std::string& text) {
    Queue([stringId, text](IBootloaderSink& s) { s.AppendLog(stringId, text); });
}

void CQueuedBootloaderSink::SetLabel(BootLabel label, const std::string& text) {
    Queue([label, text](IBootloaderSink& s) { s.SetLabel(label, text); });
}

void CQueuedBootloaderSink::SetProgressRange(uint32_t maximum) {
    Queue([maximum](IBootloaderSink& s) { s.SetProgressRange(maximum); });
}

void CQueuedBootloaderSink::SetProgressValue(uint32_t value) {
    Queue([value](IBootloaderSink& s) { s.SetProgressValue(value); });
}

void CQueuedBootloaderSink::SetBusyVisible(bool visible) {
    Queue([visible](IBootloaderSink& s) { s.SetBusyVisible(visible); });
}

void CQueuedBootloaderSink::SetPartitionList(const std::vector<PartitionItem>& items, int selected) {
    Queue([items, selected](IBootloaderSink& s) { s.SetPartitionList(items, selected); });
}

void CQueuedBootloaderSink::ScrollLogToEnd() {
    Queue([](IBootloaderSink& s) { s.ScrollLogToEnd(); });
}

void CQueuedBootloaderSink::OnRunningMode(uint32_t mode) {
    Queue([mode](IBootloaderSink& s) { s.OnRunningMode(mode); });
}

void CQueuedBootloaderSink::OnDeviceId(uint32_t deviceId) {
    Queue([deviceId](IBootloaderSink& s) { s.OnDeviceId(deviceId); });
}

void CQueuedBootloaderSink::OnPartitionMask(uint32_t mask) {
    Queue([mask](IBootloaderSink& s) { s.OnPartitionMask(mask); });
}

void CQueuedBootloaderSink::OnImageInfo(uint32_t length, uint32_t checksum) {
    Queue([length, checksum](IBootloaderSink& s) { s.OnImageInfo(length, checksum); });
}
