#pragma once
// Hands every notice of a bootloader procedure to a sink on the window's thread.
//
// The firmware page runs its procedures on a worker thread, which must not touch
// widgets. This sink is called on that thread; it copies each call's arguments
// into a queued invocation on the context object (Qt::QueuedConnection) and
// returns at once, never waiting for the window's thread. The target sink then
// receives the calls on the context's thread, in the order they were made.
// Calls still queued when the context is deleted are dropped with it, so the
// target must live as long as the context (usually the page is both).

#include "firmware/Bootloader.h"

class QObject;

class QueuedBootloaderSink : public IBootloaderSink {
public:
    QueuedBootloaderSink(QObject* context, IBootloaderSink& target) : context_(context), target_(target) {}

    void ShowMessage(int stringId, const std::string& text) override;
    void AppendLog(int stringId, const std::string& text) override;
    void SetLabel(BootLabel label, const std::string& text) override;
    void SetProgressRange(uint32_t maximum) override;
    void SetProgressValue(uint32_t value) override;
    void SetBusyVisible(bool visible) override;
    void SetPartitionList(const std::vector<PartitionItem>& items, int selected) override;
    void ScrollLogToEnd() override;
    void OnRunningMode(uint32_t mode) override;
    void OnDeviceId(uint32_t deviceId) override;
    void OnPartitionMask(uint32_t mask) override;
    void OnImageInfo(uint32_t length, uint32_t checksum) override;

private:
    template <typename Call>
    void Queue(Call call);

    QObject* context_;
    IBootloaderSink& target_;
};
