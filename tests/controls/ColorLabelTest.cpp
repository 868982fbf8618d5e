#include <gtest/gtest.h>

#include <QImage>

#include <memory>
#include <vector>

#include "controls/imagelib/GdiplusObjects.h"
#include "controls/widgets/ColorLabel.h"

namespace {

// Rows of the image that hold text ink (pixels much brighter than the dark background).
std::vector<std::pair<int, int>> InkBands(const QImage& image) {
    std::vector<std::pair<int, int>> bands;
    int start = -1;
    for (int y = 0; y <= image.height(); ++y) {
        bool ink = false;
        for (int x = 0; y < image.height() && x < image.width() && !ink; ++x) ink = qGray(image.pixel(x, y)) > 140;
        if (ink && start < 0) start = y;
        if (!ink && start >= 0) {
            bands.emplace_back(start, y - 1);
            start = -1;
        }
    }
    return bands;
}

bool AllPixels(const QImage& image, QRgb value) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) | 0xFF000000) != (value | 0xFF000000)) return false;
    return true;
}

}  // namespace

TEST(ColorStatic, LineTopsSpreadEvenly) {
    const std::vector<double> three{15, 15, 15};
    EXPECT_EQ(ColorLabel::LineTops(three, 0, 90, STRING_ALIGN_CENTER), (std::vector<double>{11.25, 37.5, 63.75}));
    EXPECT_EQ(ColorLabel::LineTops(three, 10, 90, STRING_ALIGN_NEAR), (std::vector<double>{10, 36.25, 62.5}));
    // Far: the last line ends at the bottom edge.
    EXPECT_EQ(ColorLabel::LineTops(three, 0, 90, STRING_ALIGN_FAR), (std::vector<double>{22.5, 48.75, 75}));
    EXPECT_EQ(ColorLabel::LineTops(three, 5, 90, 7), (std::vector<double>{0, 26.25, 52.5}));
    EXPECT_TRUE(ColorLabel::LineTops({}, 0, 90, STRING_ALIGN_CENTER).empty());
}

TEST(ColorStatic, SplitLines) {
    struct Case {
        QString text;
        QStringList lines;
    } cases[] = {
        {"", {}},
        {"one", {"one"}},
        {"a\r\nb\r\n", {"a\r", "b\r"}},
        {"a\n\nb", {"a", "", "b"}},
    };
    for (const Case& c : cases) EXPECT_EQ(ColorLabel::SplitLines(c.text), c.lines) << c.text.toStdString();
}

TEST(ColorStatic, ThreeLinesAreSpacedEvenlyInTheControl) {
    ColorLabel label;
    label.resize(200, 90);
    label.SetDarkStyle(nullptr, QStringLiteral("Alpha\r\nBravo\r\nCharlie\r\n"), 9);
    const QImage image = label.grab().toImage();
    const auto bands = InkBands(image);
    ASSERT_EQ(bands.size(), 3u);
    // Equal gaps above, between and below: the band centres are equally spaced and
    // sit symmetrically about the middle of the control.
    const double c0 = (bands[0].first + bands[0].second) / 2.0;
    const double c1 = (bands[1].first + bands[1].second) / 2.0;
    const double c2 = (bands[2].first + bands[2].second) / 2.0;
    EXPECT_NEAR(c1 - c0, c2 - c1, 2.0);
    EXPECT_NEAR(c0 + c2, 90.0, 4.0);
    EXPECT_NEAR(c1 - c0, 26.0, 5.0);  // gap + one line of a 12-pixel font
    // Text is white on the dark background; near alignment puts it at the left.
    EXPECT_EQ(image.pixel(199, 0), 0xFF2A323Cu);
    int leftmost = 200;
    for (int x = 0; x < 200 && leftmost == 200; ++x)
        for (int y = bands[0].first; y <= bands[0].second; ++y)
            if (qGray(image.pixel(x, y)) > 140) leftmost = x;
    EXPECT_LT(leftmost, 5);
}

TEST(ColorStatic, EmptyTextDrawsOnlyTheBackground) {
    ColorLabel label;
    label.resize(40, 20);
    label.SetBackgroundColor(QColor(0x12, 0x34, 0x56));
    label.setText(QString());
    EXPECT_TRUE(AllPixels(label.grab().toImage(), 0xFF123456));
    label.SetLayoutMode(ColorLabel::LAYOUT_LINES);
    EXPECT_TRUE(AllPixels(label.grab().toImage(), 0xFF123456));
    label.setText("x");
    EXPECT_FALSE(AllPixels(label.grab().toImage(), 0xFF123456));
}

TEST(ColorStatic, PictureIsAPrivateCopyAndNoneRestoresTheBackground) {
    ColorLabel label;
    label.resize(30, 30);
    EXPECT_TRUE(AllPixels(label.grab().toImage(), 0xFFF0F0F0)) << "button face by default";

    GpBitmap* red = Gdiplus_CreateColorBmp(5, 5, 0xFFFF0000);
    label.SetBitmap(red);
    Gdiplus_DeleteBitmap(red);  // the control keeps its own copy
    EXPECT_TRUE(label.HasPicture());
    EXPECT_TRUE(AllPixels(label.grab().toImage(), 0xFFFF0000)) << "stretched over the whole control";

    label.SetBitmap(nullptr);
    EXPECT_FALSE(label.HasPicture());
    EXPECT_TRUE(AllPixels(label.grab().toImage(), 0xFFF0F0F0));
}

TEST(ColorStatic, BlockTextFollowsAlignmentAndFontChain) {
    QWidget parent;
    QFont big = parent.font();
    big.setPixelSize(30);
    parent.setFont(big);
    auto* label = new ColorLabel(&parent);
    label->resize(300, 60);
    label->SetBackgroundColor(Qt::black);
    label->SetTextColor(Qt::white);
    label->SetTextAlign(STRING_ALIGN_FAR, STRING_ALIGN_FAR, STRING_FORMAT_FLAG_NO_WRAP);
    label->setText("HH");
    const QImage image = label->grab().toImage();
    const auto bands = InkBands(image);
    ASSERT_EQ(bands.size(), 1u);
    EXPECT_GT(bands[0].second, 50) << "far line alignment puts the text at the bottom";
    EXPECT_GE(bands[0].second - bands[0].first, 15) << "the parent's 30-pixel font is used";
    int rightmost = -1;
    for (int x = 0; x < 300; ++x)
        for (int y = 0; y < 60; ++y)
            if (qGray(image.pixel(x, y)) > 140) rightmost = x;
    EXPECT_GT(rightmost, 290);
}

TEST(ColorStatic, FontSetAfterTheDarkStyleIsTheOneDrawn) {
    ColorLabel label;
    label.resize(300, 60);
    label.SetDarkStyle(nullptr, QStringLiteral("HH"), 9);
    auto bands = InkBands(label.grab().toImage());
    ASSERT_EQ(bands.size(), 1u);
    const int darkHeight = bands[0].second - bands[0].first;
    EXPECT_LT(darkHeight, 12) << "9 points";

    QFont big = label.font();
    big.setPixelSize(40);
    label.setFont(big);
    bands = InkBands(label.grab().toImage());
    ASSERT_EQ(bands.size(), 1u);
    EXPECT_GE(bands[0].second - bands[0].first, 20) << "the control draws with the font it holds now";
}

// The label keeps the heights of lines it measured; a new font, size or text is laid
// out exactly as a label drawing it for the first time lays it out.
TEST(ColorStatic, ALabelShowingNewTextsDrawsThemAsAFreshLabelDoes) {
    struct Step {
        QString text;
        int pixelSize;  // 0: the dark style's 9 points
        QSize size;
    } steps[] = {
        {"Alpha\r\nBravo\r\n", 0, {220, 90}},
        {"Alpha\r\nBravo 2\r\n", 0, {220, 90}},
        {"Alpha\r\nBravo 2\r\n", 24, {220, 90}},
        {"Alpha\r\nBravo 2\r\n", 24, {220, 140}},
        {"Alpha\r\n\r\nCharlie\r\n", 9, {120, 140}},
    };
    ColorLabel reused;
    reused.SetDarkStyle(nullptr, steps[0].text, 9);
    for (const Step& step : steps) {
        ColorLabel fresh;
        fresh.SetDarkStyle(nullptr, step.text, 9);
        for (ColorLabel* label : {&reused, &fresh}) {
            if (step.pixelSize > 0) {
                QFont font = label->font();
                font.setPixelSize(step.pixelSize);
                label->setFont(font);
            }
            label->resize(step.size);
            label->setText(step.text);
        }
        EXPECT_EQ(reused.grab().toImage(), fresh.grab().toImage())
            << step.text.toStdString() << " at " << step.pixelSize << " px";
    }
}
