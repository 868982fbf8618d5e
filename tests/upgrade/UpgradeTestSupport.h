#pragma once
// Catalogue folders for the update client's tests: published versions, hand-made
// archives (hostile ones too), and the file:// or loopback HTTP address serving them.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "upgrade/CUpgradeClient.h"

// Bytes of a test image: a pattern seeded so that two images differ.
std::string TestImage(size_t length, int seed);

struct ZipEntrySpec {
    std::string name;
    std::string data;
    bool symbolicLink = false;  // data is then the link's target
};
// Writes a zip of the entries (names taken as they are, unchecked).
bool WriteTestZip(const std::string& path, const std::vector<ZipEntrySpec>& entries);

// Adds (or replaces) a version in DIR/catalogue.json whose archive is the given
// file under DIR, with its real size and SHA-256 unless overridden.
void AddCatalogueEntry(const std::string& folder, const std::string& version, const std::string& archive,
                       const std::string& sha256Override = {}, long long sizeOverride = -1);

// Records what the listener saw; cancels after cancelAfter calls when that is >= 0.
class RecordingListener : public INetFileCopyProgressListener {
public:
    int OnProgress(void*, uint64_t done, uint64_t total, double rate) override {
        ++calls;
        lastDone = done;
        lastTotal = total;
        lastRate = rate;
        return (cancelAfter >= 0 && calls > cancelAfter) ? 0 : 1;
    }
    int calls = 0;
    uint64_t lastDone = 0;
    uint64_t lastTotal = 0;
    double lastRate = 0;
    int cancelAfter = -1;
};

// Names in a folder and below it (relative), sorted; empty for a missing folder.
std::vector<std::string> TreeOf(const std::string& folder);
