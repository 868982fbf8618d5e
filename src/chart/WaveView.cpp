#include "chart/WaveView.h"

#include <cmath>

void DropStrayPoints(std::vector<WavePoint>& points, const ChartRect& plot) {
    size_t kept = 0;
    const size_t count = points.size();
    for (size_t i = 0; i < count; ++i) {
        const WavePoint p = points[i];
        if (p.x < plot.left || p.x >= plot.right || p.y < plot.top || p.y >= plot.bottom) continue;
        if (i + 1 < count && kept > 0 && p.x < points[kept - 1].x) continue;
        points[kept++] = p;
    }
    points.resize(kept);
}

bool FitValueView(double dataMin, double dataMax, double& viewMin, double& viewMax) {
    const double span = dataMax - dataMin;
    if (!(span > 1e-16) || span * 1.5 == std::fabs(viewMax - viewMin)) return false;
    const double centre = (dataMax + dataMin) / 2.0;
    viewMin = centre - 0.75 * span;
    viewMax = centre + 0.75 * span;
    return true;
}
