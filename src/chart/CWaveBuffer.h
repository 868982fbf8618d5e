#pragma once
// The samples of one chart curve as a scrolling window of the newest values.
//
// Producers append from any thread; the painter reads a consistent window. The
// data array holds blockCount blocks of blockLength (S) values, oldest first; the
// visible window is the last S values when the scroll offset is 0. Values that do
// not yet fill a block wait in the staging buffer when only whole blocks may move.

#include <cstdint>
#include <memory>
#include <vector>

#include "chart/ChartRect.h"
#include "common/BaseBuffer.h"
#include "common/BaseLock.h"

enum WaveSampleType : int32_t {
    WAVE_SAMPLE_INT16 = 0,   // any code other than 1 and 2 is stored as 16-bit too
    WAVE_SAMPLE_INT32 = 1,
    WAVE_SAMPLE_DOUBLE = 2,
};

class CWaveBuffer {
public:
    CWaveBuffer() = default;
    virtual ~CWaveBuffer() = default;
    CWaveBuffer(const CWaveBuffer&) = delete;
    CWaveBuffer& operator=(const CWaveBuffer&) = delete;

    // Each setter that changes the array's byte size reallocates it zero-filled
    // and empties staging (SetBlockCount keeps the leading bytes that still fit).
    void SetSampleType(int32_t type);
    void SetBlockLength(int32_t length);
    // n blocks beyond the visible one: blockCount becomes n + 1.
    void SetBlockCount(int32_t n);
    void SetWholeBlocksOnly(int32_t flag);

    // totalBlocks = 0, data zero-filled, staging emptied; the shape stays.
    void Clear();
    // count values of the buffer's sample type (int16_t, int32_t or double).
    void Append(const void* values, int32_t count);

    // Appends one point per plot column (at most) of the visible window to points;
    // outMin/outMax receive the smallest and largest value sampled (both 0 when
    // there is no data array, the extreme doubles when nothing was sampled).
    void ComputePoints(const ChartRect& plotRect, double viewMin, double viewMax, int32_t scrollOffset,
                       double zoom, std::vector<WavePoint>& points, double& outMin, double& outMax);
    // The sample under mouse x (relative to the plot's left edge). 1 on success:
    // outIndex is its position in the visible window (0 = leftmost), outPixelY its
    // row relative to the plot's top. 0 when nothing is under x.
    int HitTest(const ChartRect& plotRect, double viewMin, double viewMax, int32_t scrollOffset, double zoom,
                int32_t mouseX, int32_t& outIndex, int32_t& outType, double& outValue, int32_t& outPixelY);

    // Read-only views for owners and tests (each takes the lock).
    [[nodiscard]] int32_t GetSampleType();
    [[nodiscard]] int32_t GetBlockLength();
    [[nodiscard]] int32_t GetBlockCount();
    [[nodiscard]] int64_t GetTotalBlocks();
    [[nodiscard]] int32_t GetRemainder();
    [[nodiscard]] bool HasData();
    // Values held in staging (not yet moved into the data array).
    [[nodiscard]] int32_t GetStagedCount();
    // The whole data array (oldest first) converted to double; empty without an array.
    [[nodiscard]] std::vector<double> GetValues();

    [[nodiscard]] static int32_t ValueSize(int32_t type);

private:
    [[nodiscard]] size_t ArrayBytes() const;
    [[nodiscard]] double ValueAt(const uint8_t* base, size_t index) const;
    void ReallocateZeroed();

    CBaseLock lock_;  //!< Guards every field below; each operation holds it for its run.
    int32_t sampleType_ = 0;
    int32_t blockLength_ = 1024;
    int32_t blockCount_ = 2;
    int32_t wholeBlocksOnly_ = 0;
    std::unique_ptr<uint8_t[]> data_;
    size_t dataBytes_ = 0;  // size of data_; 0 when there is none
    CBaseBuffer staging_;
    int64_t totalBlocks_ = 0;
    int32_t remainder_ = 0;
};
