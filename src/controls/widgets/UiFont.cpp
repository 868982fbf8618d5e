#include "controls/widgets/UiFont.h"

#include <QStringList>

QFont HeiFont(double pointSize)
{
    QFont font;
    font.setFamilies(QStringList{QStringLiteral("SimHei"), QStringLiteral("黑体"),
                                 QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
    font.setPointSizeF(pointSize);
    font.setWeight(QFont::Normal);
    return font;
}
