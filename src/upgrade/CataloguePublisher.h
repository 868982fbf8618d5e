#pragma once
// Publishing a firmware version into a catalogue folder that any static web server
// (or a file:// address) can serve:
//
//   DIR/catalogue.json              the list, rewritten atomically
//   DIR/<version>/firmware.zip      APP0.bin, APP1.bin, ... at its top level

#include <string>
#include <utility>
#include <vector>

constexpr const char* PUBLISHED_ARCHIVE_NAME = "firmware.zip";

struct PublishedVersion {
    std::string archivePath;  // on disk
    uint64_t size = 0;
    std::string sha256;
};

// Makes the zip from the images (partition index, image file), writes it under
// DIR/<version>/, and adds the version to DIR/catalogue.json (created when missing)
// or replaces the entry of the same name in place. False with the reason in *error
// when the version name is not plain, a partition repeats, an image is unreadable,
// the existing catalogue does not parse, or a file cannot be written.
bool PublishFirmwareVersion(const std::string& catalogueFolder, const std::string& version,
                            const std::vector<std::pair<int, std::string>>& images, const std::string& notes,
                            PublishedVersion* published, std::string* error);
