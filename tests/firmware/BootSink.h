#pragma once
// A bootloader sink that records every call, for the firmware tests. The
// procedures call it on their own thread; the test reads copies taken under the lock.

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "firmware/Bootloader.h"

class RecordingBootSink : public IBootloaderSink {
public:
    // Every call, as the procedures made them.
    struct Record {
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

        [[nodiscard]] std::vector<int> LogIds() const {
            std::vector<int> ids;
            for (const auto& [id, text] : log) ids.push_back(id);
            return ids;
        }
    };

    void ShowMessage(int stringId, const std::string& text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        record_.messages.emplace_back(stringId, text);
    }
    void AppendLog(int stringId, const std::string& text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        record_.log.emplace_back(stringId, text);
    }
    void SetLabel(BootLabel label, const std::string& text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        record_.labels[label] = text;
    }
    void SetProgressRange(uint32_t maximum) override {
        std::lock_guard<std::mutex> lock(mutex_);
        record_.progressMax = maximum;
    }
    void SetProgressValue(uint32_t value) override {
        std::lock_guard<std::mutex> lock(mutex_);
        record_.progressValues.push_back(value);
    }
    void SetBusyVisible(bool visible) override {
        std::lock_guard<std::mutex> lock(mutex_);
        record_.busy.push_back(visible);
    }
    void SetPartitionList(const std::vector<PartitionItem>& items, int selected) override {
        std::lock_guard<std::mutex> lock(mutex_);
        record_.partitions = items;
        record_.selectedItem = selected;
        record_.partitionListSet += 1;
    }
    void ScrollLogToEnd() override {
        std::lock_guard<std::mutex> lock(mutex_);
        record_.scrolls += 1;
    }
    void OnRunningMode(uint32_t mode) override {
        std::lock_guard<std::mutex> lock(mutex_);
        record_.runningModes.push_back(mode);
    }
    void OnDeviceId(uint32_t id) override {
        std::lock_guard<std::mutex> lock(mutex_);
        record_.deviceIds.push_back(id);
    }
    void OnPartitionMask(uint32_t mask) override {
        std::lock_guard<std::mutex> lock(mutex_);
        record_.partitionMasks.push_back(mask);
    }
    void OnImageInfo(uint32_t length, uint32_t checksum) override {
        std::lock_guard<std::mutex> lock(mutex_);
        record_.imageInfos.emplace_back(length, checksum);
    }

    // A copy of everything recorded so far.
    [[nodiscard]] Record Snapshot() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return record_;
    }
    // Forgets everything recorded.
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        record_ = Record{};
    }

private:
    mutable std::mutex mutex_;  //!< Protects record_ against a procedure on another thread.
    Record record_;
};
