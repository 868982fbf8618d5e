#pragma once
// The chart's per-paint rules on computed points and on the value view, kept
// free of drawing so that they can be checked on their own.

#include <vector>

#include "chart/ChartRect.h"

// Drops every point outside plot (x < left, x >= right, y < top, y >= bottom) and
// every point but the last whose x lies left of the last kept point.
void DropStrayPoints(std::vector<WavePoint>& points, const ChartRect& plot);

// Automatic fit: the view becomes 1.5 times the span of [dataMin, dataMax] around
// its centre. Returns true when the view changed; a span of 1e-16 or less, or a
// view that already has exactly 1.5 times the span, leaves it as it is.
bool FitValueView(double dataMin, double dataMax, double& viewMin, double& viewMax);
