#pragma once
// A bootloader sink that records every call, for the firmware tests.

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "firmware/Bootloader.h"

class RecordingBootSink : public IBootloaderSink {
public:
    void ShowMessage(int stringId, const std::string& text) override {
        std::lock_guard<std::mutex> lock(mutex);
        messages.emplace_back(stringId, text);
    }
    void AppendLog(int stringId, const std::string& text) override {
        std::lock_guard<std::mutex> lock(mutex);
        log.emplace_back(stringId, text);
    }
    void SetLabel(BootLabel label, const std::string& text) override {
        std::lock_guard<std::mutex> lock(mutex);
        labels[label] = text;
    }
    void SetProgressRange(uint32_t maximum) override { progressMax = maximum; }
    void SetProgressValue(uint32_t value) override {
        std::lock_guard<std::mutex> lock(mutex);
        progressValues.push_back(value);
    }
    void SetBusyVisible(bool visible) override {
        std::lock_guard<std::mutex> lock(mutex);
        busy.push_back(visible);
    }
    void SetPartitionList(const std::vector<PartitionItem>& items, int selected) override {
        std::lock_guard<std::mutex> lock(mutex);
        partitions = items;
        selectedItem = selected;
        partitionListSet += 1;
    }
    void ScrollLogToEnd() override { scrolls += 1; }
    void OnRunningMode(uint32_t mode) override {
        std::lock_guard<std::mutex> lock(mutex);
        runningModes.push_back(mode);
    }
    void OnDeviceId(uint32_t id) override {
        std::lock_guard<std::mutex> lock(mutex);
        deviceIds.push_back(id);
    }
    void OnPartitionMask(uint32_t mask) override {
        std::lock_guard<std::mutex> lock(mutex);
        partitionMasks.push_back(mask);
    }
    void OnImageInfo(uint32_t length, uint32_t checksum) override {
        std::lock_guard<std::mutex> lock(mutex);
        imageInfos.emplace_back(length, checksum);
    }

    std::vector<int> LogIds() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<int> ids;
        for (const auto& [id, text] : log) ids.push_back(id);
        return ids;
    }

    std::mutex mutex;  //!< Protects the records below against a procedure on another thread.
    std::vector<std::pair<int, std::string>> messages;
    std::vector<std::pair<int, std::string>> log;
    std::map<BootLabel, std::string> labels;
    uint32_t progressMax = 0;
    std::vector<uint32_t> progressValues;
    std::vector<bool> busy;
    std::vector<PartitionItem> partitions;
    int selectedItem = -2;
    int partitionListSet = 0;
    int scrolls = 0;
    std::vector<uint32_t> runningModes;
    std::vector<uint32_t> deviceIds;
    std::vector<uint32_t> partitionMasks;
    std::vector<std::pair<uint32_t, uint32_t>> imageInfos;  // length, checksum
};
