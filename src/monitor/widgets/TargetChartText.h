#pragma once
// Texts of the target page's charts from the string table, as Qt strings.

#include <QString>

#include "app/StringTable.h"

[[nodiscard]] inline QString ChartText(int id) { return QString::fromStdString(LoadStringText(id)); }
