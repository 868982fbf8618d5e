#pragma once
// The description written beside a record file: RadarData_X.dat gets RadarData_X.json,
// written when recording starts and completed when it ends. It says where the bytes
// came from and which parameters and current constants were in force, so that a
// replay draws the same thresholds and computes the same current as the live run.
// The record file itself stays the raw byte stream.

#include <cstdint>
#include <string>
#include <vector>

#include "monitor/CurrentEstimate.h"
#include "params/ParamSetting.h"

// Status values of a sidecar.
inline constexpr const char* SIDECAR_RECORDING = "recording";    // the run is still writing (or was killed)
inline constexpr const char* SIDECAR_COMPLETE = "complete";      // every byte read was written
inline constexpr const char* SIDECAR_INCOMPLETE = "incomplete";  // a write failed; the file ends early

struct RecordSidecar {
    // Set by whoever starts the run.
    std::string toolVersion;
    std::string port;
    int baudRate = 0;
    std::string firmwareVersion;
    std::string serialNumber;
    ParamSetting params;
    CurrentConstants constants;

    // Kept by the recording.
    std::string startTime;  // ISO 8601 with zone
    std::string endTime;    // empty while recording
    uint64_t bytesWritten = 0;
    uint64_t reportsWritten = 0;
    std::string status = SIDECAR_RECORDING;
    bool endedNormally = false;  // stopped by its owner, not by a lost line or a failed write
    std::string error;           // why the record is incomplete or the run ended
};

// RadarData_X.dat -> RadarData_X.json (any other name gets ".json" appended).
[[nodiscard]] std::string SidecarPathOf(const std::string& recordPath);

// Writes the whole description (UTF-8 JSON) through a temporary file, so that a
// reader never sees half of it. False with the reason in *error.
bool WriteRecordSidecar(const std::string& path, const RecordSidecar& sidecar, std::string* error = nullptr);
// A description is a page of text; anything larger is no description.
constexpr size_t MAX_SIDECAR_SIZE = 1 << 20;

// Reads a description; fields that are missing keep their defaults, unknown ones are
// ignored. A member of the wrong kind or out of its field's range keeps the default
// too, and `replaced` (when given) gets "name value" for each, in file order. False
// with the reason when the file is missing, is no regular file (a folder, a FIFO), is
// larger than MAX_SIDECAR_SIZE or is not a description; sidecar is then untouched.
bool ReadRecordSidecar(const std::string& path, RecordSidecar& sidecar, std::string* error = nullptr,
                       std::vector<std::string>* replaced = nullptr);

// The description of a record file as a replay takes it, with what its user must be told.
struct ReplayDescription {
    bool found = false;                 // a file is there beside the record (usable or not)
    bool usable = false;                // it was read; sidecar holds it
    std::string path;                   // the description's path
    std::string error;                  // why a found description cannot be used
    std::vector<std::string> replaced;  // "name value" of each member that kept its default
    RecordSidecar sidecar;
};
[[nodiscard]] ReplayDescription LoadReplayDescription(const std::string& recordPath);
