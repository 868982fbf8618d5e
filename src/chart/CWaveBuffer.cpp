#include "chart/CWaveBuffer.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

namespace {

// The integer nearest to v, halves away from zero, limited to [lo, hi]; NaN gives lo.
int32_t NearestClamped(double v, int32_t lo, int32_t hi) {
    if (std::isnan(v)) return lo;
    const double r = std::round(v);
    if (r <= lo) return lo;
    if (r >= hi) return hi;
    return static_cast<int32_t>(r);
}

}  // namespace

int32_t CWaveBuffer::ValueSize(int32_t type) {
    switch (type) {
    case WAVE_SAMPLE_INT32: return 4;
    case WAVE_SAMPLE_DOUBLE: return 8;
    default: return 2;
    }
}

size_t CWaveBuffer::ArrayBytes() const {
    if (blockLength_ <= 0 || blockCount_ <= 0) return 0;
    return static_cast<size_t>(blockLength_) * static_cast<size_t>(blockCount_) *
           static_cast<size_t>(ValueSize(sampleType_));
}

double CWaveBuffer::ValueAt(const uint8_t* base, size_t index) const {
    switch (sampleType_) {
    case WAVE_SAMPLE_INT32: {
        int32_t v;
        std::memcpy(&v, base + index * 4, 4);
        return v;
    }
    case WAVE_SAMPLE_DOUBLE: {
        double v;
        std::memcpy(&v, base + index * 8, 8);
        return v;
    }
    default: {
        int16_t v;
        std::memcpy(&v, base + index * 2, 2);
        return v;
    }
    }
}

void CWaveBuffer::ReallocateZeroed() {
    const size_t bytes = ArrayBytes();
    if (bytes == dataBytes_) return;
    data_.reset();
    dataBytes_ = 0;
    if (bytes > 0) {
        data_ = std::make_unique<uint8_t[]>(bytes);  // value-initialised: zero-filled
        dataBytes_ = bytes;
    }
    staging_.SetAvailSize(0);
}

void CWaveBuffer::SetSampleType(int32_t type) {
    CAutoBaseLock guard(lock_);
    sampleType_ = type;
    ReallocateZeroed();
}

void CWaveBuffer::SetBlockLength(int32_t length) {
    CAutoBaseLock guard(lock_);
    blockLength_ = length;
    ReallocateZeroed();
}

void CWaveBuffer::SetBlockCount(int32_t n) {
    CAutoBaseLock guard(lock_);
    if (n + 1 == blockCount_) return;
    blockCount_ = n + 1;
    const size_t bytes = ArrayBytes();
    if (bytes == dataBytes_) return;
    std::unique_ptr<uint8_t[]> fresh;
    if (bytes > 0) {
        fresh = std::make_unique<uint8_t[]>(bytes);
        if (data_) std::memcpy(fresh.get(), data_.get(), std::min(bytes, dataBytes_));
    }
    data_ = std::move(fresh);
    dataBytes_ = bytes;
    staging_.SetAvailSize(0);
}

void CWaveBuffer::SetWholeBlocksOnly(int32_t flag) {
    CAutoBaseLock guard(lock_);
    wholeBlocksOnly_ = flag;
}

void CWaveBuffer::Clear() {
    CAutoBaseLock guard(lock_);
    totalBlocks_ = 0;
    remainder_ = 0;  // staging is emptied too, so no partial block remains
    if (data_) std::memset(data_.get(), 0, dataBytes_);
    staging_.SetAvailSize(0);
}

void CWaveBuffer::Append(const void* values, int32_t count) {
    if (!values || count <= 0) return;
    CAutoBaseLock guard(lock_);
    const int32_t s = blockLength_;
    if (s <= 0 || !data_) return;

    totalBlocks_ += (static_cast<int64_t>(remainder_) + count) / s;
    remainder_ = static_cast<int32_t>((static_cast<int64_t>(remainder_) + count) % s);

    const size_t size = static_cast<size_t>(ValueSize(sampleType_));
    staging_.AppendBuffer(values, static_cast<size_t>(count) * size);
    size_t available = staging_.GetAvailSize() / size;
    size_t keep = 0;
    if (wholeBlocksOnly_) {
        keep = available % static_cast<size_t>(s);
        available -= keep;
    }

    const size_t cap = dataBytes_ / size;
    uint8_t* data = data_.get();
    const uint8_t* staged = staging_.GetBuffer();
    if (available < cap) {
        if (available > 0) {
            std::memmove(data, data + available * size, (cap - available) * size);
            std::memcpy(data + (cap - available) * size, staged, available * size);
        }
    } else {
        // Only the newest Cap values survive.
        std::memcpy(data, staged + (available - cap) * size, cap * size);
    }
    // What stays staged is the partial block waiting for the rest.
    staging_.Delete(available * size);
}

void CWaveBuffer::ComputePoints(const ChartRect& plotRect, double viewMin, double viewMax, int32_t scrollOffset,
                                double zoom, std::vector<WavePoint>& points, double& outMin, double& outMax) {
    outMin = outMax = 0.0;
    const int32_t w = plotRect.Width();
    const int32_t h = plotRect.Height();

    // The visible window is copied under the lock and turned into points after it,
    // so that a producer never waits longer than this one copy.
    thread_local std::vector<double> window;
    int32_t n = 0;
    {
        CAutoBaseLock guard(lock_);
        if (!data_) return;
        outMin = DBL_MAX;
        outMax = -DBL_MAX;
        const int32_t s = blockLength_;
        if (s <= 0 || w <= 0 || h <= 0) return;
        n = static_cast<int32_t>(s / zoom) - 1;
        if (n < 0) return;
        const size_t cap = dataBytes_ / static_cast<size_t>(ValueSize(sampleType_));
        // The first visible value is data[S - scrollOffset]; indexes past the array are never read.
        const int64_t first = static_cast<int64_t>(s) - scrollOffset;
        if (first < 0 || first >= static_cast<int64_t>(cap)) return;
        n = static_cast<int32_t>(std::min<int64_t>(n, static_cast<int64_t>(cap) - first - 1));
        window.resize(static_cast<size_t>(n) + 1);
        for (int32_t k = 0; k <= n; ++k) window[static_cast<size_t>(k)] = ValueAt(data_.get(), first + k);
    }

    const double xs = (w > 1) ? static_cast<double>(n) / (w - 1) : 0.0;
    const double step = (n > 0) ? std::max(1.0, static_cast<double>(w - 1) / n) : static_cast<double>(w);
    const double span = viewMax - viewMin;
    for (double x = 0.0; x < w; x += step) {
        const int32_t px = NearestClamped(x, 0, w - 1);
        const int32_t k = NearestClamped(x * xs, 0, n);
        const double v = window[static_cast<size_t>(k)];
        outMin = std::min(outMin, v);
        outMax = std::max(outMax, v);
        const int32_t py = NearestClamped(h + h * viewMin / span - h * v / span, 0, h - 1);
        points.push_back({plotRect.left + px, plotRect.top + py});
    }
}

int CWaveBuffer::HitTest(const ChartRect& plotRect, double viewMin, double viewMax, int32_t scrollOffset, double zoom,
                         int32_t mouseX, int32_t& outIndex, int32_t& outType, double& outValue, int32_t& outPixelY) {
    CAutoBaseLock guard(lock_);
    const int32_t s = blockLength_;
    if (s <= 0 || !data_) return 0;
    const int32_t w = plotRect.Width();
    const int32_t h = plotRect.Height();
    if (mouseX < 0 || mouseX >= w || h <= 0) return 0;

    const int32_t o = std::clamp(scrollOffset, 0, s);
    outType = sampleType_;
    const double perPixel = (w > 1) ? (static_cast<int32_t>(s / zoom) - 1) / static_cast<double>(w - 1) : 0.0;
    const double kd = std::round(perPixel * mouseX + (s - o));
    const size_t cap = dataBytes_ / static_cast<size_t>(ValueSize(sampleType_));
    if (std::isnan(kd) || kd < 0 || kd >= static_cast<double>(cap)) return 0;
    const auto k = static_cast<int32_t>(kd);
    outValue = ValueAt(data_.get(), static_cast<size_t>(k));
    const double span = viewMax - viewMin;
    outPixelY = NearestClamped(h * viewMin / span + h - h * outValue / span, 0, h - 1);
    outIndex = (o + k) % s;
    return 1;
}

int32_t CWaveBuffer::GetSampleType() {
    CAutoBaseLock guard(lock_);
    return sampleType_;
}

int32_t CWaveBuffer::GetBlockLength() {
    CAutoBaseLock guard(lock_);
    return blockLength_;
}

int32_t CWaveBuffer::GetBlockCount() {
    CAutoBaseLock guard(lock_);
    return blockCount_;
}

int64_t CWaveBuffer::GetTotalBlocks() {
    CAutoBaseLock guard(lock_);
    return totalBlocks_;
}

int32_t CWaveBuffer::GetRemainder() {
    CAutoBaseLock guard(lock_);
    return remainder_;
}

bool CWaveBuffer::HasData() {
    CAutoBaseLock guard(lock_);
    return data_ != nullptr;
}

int32_t CWaveBuffer::GetStagedCount() {
    CAutoBaseLock guard(lock_);
    return static_cast<int32_t>(staging_.GetAvailSize() / static_cast<size_t>(ValueSize(sampleType_)));
}

std::vector<double> CWaveBuffer::GetValues() {
    CAutoBaseLock guard(lock_);
    std::vector<double> values;
    if (!data_) return values;
    const size_t cap = dataBytes_ / static_cast<size_t>(ValueSize(sampleType_));
    values.reserve(cap);
    for (size_t i = 0; i < cap; ++i) values.push_back(ValueAt(data_.get(), i));
    return values;
}
