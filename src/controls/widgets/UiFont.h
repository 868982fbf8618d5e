#pragma once
// The dialogs' typeface "黑体" in both languages; WenQuanYi Micro Hei stands in
// for it where SimHei is not installed.

#include <QFont>

[[nodiscard]] QFont HeiFont(double pointSize);
