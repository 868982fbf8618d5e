#include "firmware/widgets/QueuedBootloaderSink.h"

#include <QMetaObject>
#include <QObject>

// The call captures its arguments by value: the caller's strings and lists are
// gone by the time the window's thread runs it.
template <typename Call>
void QueuedBootloaderSink::Queue(Call call) {
    if (!context_) return;
    IBootloaderSink* target = &target_;
    QMetaObject::invokeMethod(context_, [target, call = std::move(call)] { call(*target); }, Qt::QueuedConnection);
}

void QueuedBootloaderSink::ShowMessage(int stringId, const std::string& text) {
    Queue([stringId, text](IBootloaderSink& s) { s.ShowMessage(stringId, text); });
}

void QueuedBootloaderSink::AppendLog(int stringId, const std::string& text) {
    Queue([stringId, text](IBootloaderSink& s) { s.AppendLog(stringId, text); });
}

void QueuedBootloaderSink::SetLabel(BootLabel label, const std::string& text) {
    Queue([label, text](IBootloaderSink& s) { s.SetLabel(label, text); });
}

void QueuedBootloaderSink::SetProgressRange(uint32_t maximum) {
    Queue([maximum](IBootloaderSink& s) { s.SetProgressRange(maximum); });
}

void QueuedBootloaderSink::SetProgressValue(uint32_t value) {
    Queue([value](IBootloaderSink& s) { s.SetProgressValue(value); });
}

void QueuedBootloaderSink::SetBusyVisible(bool visible) {
    Queue([visible](IBootloaderSink& s) { s.SetBusyVisible(visible); });
}

void QueuedBootloaderSink::SetPartitionList(const std::vector<PartitionItem>& items, int selected) {
    Queue([items, selected](IBootloaderSink& s) { s.SetPartitionList(items, selected); });
}

void QueuedBootloaderSink::ScrollLogToEnd() {
    Queue([](IBootloaderSink& s) { s.ScrollLogToEnd(); });
}

void QueuedBootloaderSink::OnRunningMode(uint32_t mode) {
    Queue([mode](IBootloaderSink& s) { s.OnRunningMode(mode); });
}

void QueuedBootloaderSink::OnDeviceId(uint32_t deviceId) {
    Queue([deviceId](IBootloaderSink& s) { s.OnDeviceId(deviceId); });
}

void QueuedBootloaderSink::OnPartitionMask(uint32_t mask) {
    Queue([mask](IBootloaderSink& s) { s.OnPartitionMask(mask); });
}

void QueuedBootloaderSink::OnImageInfo(uint32_t length, uint32_t checksum) {
    Queue([length, checksum](IBootloaderSink& s) { s.OnImageInfo(length, checksum); });
}
