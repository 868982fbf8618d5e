// The balloon tip window: stacking by key, countdown, fade, pointer and owner.

#include <memory>

#include <gtest/gtest.h>
#include <QEnterEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTest>
#include <QWidget>

#include "support/qt/QtTestEnvironment.h"
#include "controls/widgets/BalloonTip.h"

namespace {

class BalloonWndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        owner = std::make_unique<QWidget>();
        owner->resize(300, 200);
        edit = new QLineEdit(owner.get());
        edit->setGeometry(10, 10, 120, 24);
        ASSERT_TRUE(ShowAndActivate(owner.get()));
        balloon = BalloonTip::CreateBalloon(edit);
    }

    void Ticks(int count)
    {
        for (int i = 0; i < count; ++i)
            balloon->OnCountdownTick();
    }

    void Fades(int count)
    {
        for (int i = 0; i < count; ++i)
            balloon->OnFadeTick();
    }

    void SendMouse(QEvent::Type type, QPoint pos)
    {
        const QPointF local(pos);
        const QPointF global(balloon->mapToGlobal(pos));
        if (type == QEvent::Enter) {
            QEnterEvent event(local, local, global);
            QApplication::sendEvent(balloon, &event);
        } else if (type == QEvent::Leave) {
            QEvent event(QEvent::Leave);
            QApplication::sendEvent(balloon, &event);
        } else {
            const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
            const Qt::MouseButtons buttons = type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
            QMouseEvent event(type, local, local, global, button, buttons, Qt::NoModifier);
            QApplication::sendEvent(balloon, &event);
        }
    }

    std::unique_ptr<QWidget> owner;
    QLineEdit* edit = nullptr;
    BalloonTip* balloon = nullptr;
};

TEST_F(BalloonWndTest, MessagesWithDifferentKeysStackNewestOnTop)
{
    balloon->ShowBalloon("Input Error", "first", BALLOON_ICON_ERROR, QPoint(40, 60), 1);
    const int oneHigh = balloon->height();
    balloon->ShowBalloon("Data Invalid", "a much longer second message line", BALLOON_ICON_INFO, QPoint(40, 60), 2);
    const auto items = balloon->Items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].text, "a much longer second message line");
    EXPECT_EQ(items[1].text, "first");
    EXPECT_LT(items[0].iconRect.top(), items[1].iconRect.top());
    EXPECT_GT(balloon->height(), oneHigh);
    EXPECT_EQ(balloon->width() % 4, 0);
    const int widest = std::max({items[0].titleRect.right(), items[0].textRect.right(), items[1].titleRect.right(),
                                 items[1].textRect.right()});
    EXPECT_GE(balloon->width(), widest + 40);
    EXPECT_LT(balloon->width(), widest + 40 + 4 + 2);
    EXPECT_EQ(balloon->pos(), QPoint(40, 60));
    EXPECT_TRUE(balloon->isVisible());
    EXPECT_TRUE(balloon->IsCountingDown());
}

TEST_F(BalloonWndTest, ARepeatedKeyKeepsItsTextTakesTheNewIconAndRestartsItsTime)
{
    balloon->ShowBalloon("T", "original", BALLOON_ICON_ERROR, QPoint(0, 0), 7);
    balloon->ShowBalloon("T", "other", BALLOON_ICON_INFO, QPoint(0, 0), 8);
    Ticks(4);
    balloon->ShowBalloon("T2", "replacement", BALLOON_ICON_WARNING, QPoint(0, 0), 7);
    const auto items = balloon->Items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].key, 7);
    EXPECT_EQ(items[0].title, "T");
    EXPECT_EQ(items[0].text, "original");
    EXPECT_EQ(items[0].icon, BALLOON_ICON_WARNING);
    EXPECT_EQ(items[0].remaining, 5000);
    EXPECT_EQ(items[1].remaining, 3000);
}

TEST_F(BalloonWndTest, NegativeKeysMatchByTitleAndText)
{
    balloon->ShowBalloon("T", "same", BALLOON_ICON_INFO, QPoint(0, 0), -1);
    balloon->ShowBalloon("T", "same", BALLOON_ICON_INFO, QPoint(0, 0), -1);
    balloon->ShowBalloon("T", "different", BALLOON_ICON_INFO, QPoint(0, 0), -1);
    EXPECT_EQ(balloon->Items().size(), 2u);
}

TEST_F(BalloonWndTest, AnExpiredMessageIsDroppedAtTheNextTickAndTheBalloonShrinks)
{
    balloon->ShowBalloon("T", "old", BALLOON_ICON_INFO, QPoint(0, 0), 1);
    Ticks(6);  // 2000 ms left
    balloon->ShowBalloon("T", "new", BALLOON_ICON_INFO, QPoint(0, 0), 2);
    const int twoHigh = balloon->height();
    Ticks(3);
    EXPECT_EQ(balloon->height(), twoHigh);
    Ticks(1);  // the old one reaches 0 here
    EXPECT_LT(balloon->height(), twoHigh);
    EXPECT_TRUE(balloon->IsCountingDown());
    EXPECT_FALSE(balloon->IsFading());
}

TEST_F(BalloonWndTest, WithNothingAliveItFadesOutInFifteenStepsAndEmpties)
{
    balloon->ShowBalloon("T", "text", BALLOON_ICON_INFO, QPoint(0, 0), 1);
    Ticks(10);
    EXPECT_FALSE(balloon->IsCountingDown());
    EXPECT_TRUE(balloon->IsFading());
    Fades(14);
    EXPECT_TRUE(balloon->isVisible());
    EXPECT_EQ(balloon->Alpha(), 255 - 14 * 17);
    Fades(1);
    EXPECT_FALSE(balloon->isVisible());
    EXPECT_FALSE(balloon->IsFading());
    EXPECT_TRUE(balloon->Items().empty());

    // A new message starts from an empty list.
    balloon->ShowBalloon("T", "again", BALLOON_ICON_INFO, QPoint(0, 0), 2);
    EXPECT_EQ(balloon->Items().size(), 1u);
    EXPECT_EQ(balloon->Alpha(), 255);
}

TEST_F(BalloonWndTest, PointerOverTheBalloonPausesAndLeavingGivesAtLeastTwoSeconds)
{
    balloon->ShowBalloon("T", "long", BALLOON_ICON_INFO, QPoint(0, 0), 1);
    balloon->ShowBalloon("T", "short", BALLOON_ICON_INFO, QPoint(0, 0), 2);
    Ticks(8);  // both at 1000 ms
    balloon->ShowBalloon("T", "long", BALLOON_ICON_INFO, QPoint(0, 0), 1);  // back to 5000
    Ticks(1);
    ASSERT_FALSE(balloon->IsFading());

    SendMouse(QEvent::Enter, QPoint(5, 30));
    EXPECT_FALSE(balloon->IsCountingDown());
    SendMouse(QEvent::Leave, QPoint());
    EXPECT_TRUE(balloon->IsCountingDown());
    const auto items = balloon->Items();
    EXPECT_EQ(items[0].remaining, 4500);
    EXPECT_EQ(items[1].remaining, 2000);
}

TEST_F(BalloonWndTest, PointerDuringTheFadeMakesItOpaqueAgain)
{
    balloon->ShowBalloon("T", "text", BALLOON_ICON_INFO, QPoint(0, 0), 1);
    Ticks(10);
    Fades(5);
    SendMouse(QEvent::MouseMove, QPoint(5, 30));
    EXPECT_FALSE(balloon->IsFading());
    EXPECT_EQ(balloon->Alpha(), 255);
    SendMouse(QEvent::Leave, QPoint());
    EXPECT_EQ(balloon->Items().at(0).remaining, 2000);
}

TEST_F(BalloonWndTest, TheCloseButtonHidesAndEmpties)
{
    balloon->ShowBalloon("T", "text", BALLOON_ICON_INFO, QPoint(0, 0), 1);
    const QPoint center = balloon->CloseRect().center();
    SendMouse(QEvent::MouseMove, center);
    EXPECT_TRUE(balloon->IsCloseHot());
    SendMouse(QEvent::MouseButtonPress, center);
    SendMouse(QEvent::MouseButtonRelease, center);
    EXPECT_FALSE(balloon->isVisible());
    EXPECT_TRUE(balloon->Items().empty());
}

TEST_F(BalloonWndTest, HidingTheOwnerHidesAndEmptiesTheBalloon)
{
    EXPECT_EQ(balloon->Owner(), owner.get());
    balloon->ShowBalloon("T", "text", BALLOON_ICON_INFO, QPoint(0, 0), 1);
    owner->hide();
    EXPECT_FALSE(balloon->isVisible());
    EXPECT_TRUE(balloon->Items().empty());
    EXPECT_FALSE(balloon->IsCountingDown());
}

TEST_F(BalloonWndTest, ShowingDoesNotTakeTheFocus)
{
    ASSERT_TRUE(FocusWidget(edit));
    balloon->ShowBalloon("T", "text", BALLOON_ICON_ERROR, QPoint(0, 0), 1);
    QCoreApplication::processEvents();
    EXPECT_TRUE(edit->hasFocus());
    EXPECT_EQ(QApplication::activeWindow(), owner.get());
}

TEST_F(BalloonWndTest, TheShapeIsABodyWithATailAtTheTopLeft)
{
    balloon->ShowBalloon("Title", "text", BALLOON_ICON_WARNING, QPoint(0, 0), 1);
    const QImage& image = balloon->Bitmap();
    ASSERT_EQ(image.size(), balloon->size());
    const QRgb key = qRgb(255, 0, 0);
    EXPECT_EQ(image.pixel(2, 2), key) << "outside, above the body";
    EXPECT_EQ(image.pixel(image.width() - 5, 5), key);
    EXPECT_EQ(image.pixel(20, 5), qRgb(0, 0, 0)) << "the tail's left edge";
    EXPECT_EQ(image.pixel(23, 15), qRgb(255, 255, 255)) << "inside the tail";
    EXPECT_EQ(image.pixel(30, 20), qRgb(255, 255, 255)) << "tail and body are open to each other";
    EXPECT_EQ(image.pixel(image.width() / 2, image.height() - 3), qRgb(255, 255, 255));
    EXPECT_FALSE(balloon->mask().contains(QPoint(2, 2)));
    EXPECT_TRUE(balloon->mask().contains(QPoint(23, 15)));
}

}  // namespace
