// The numeric edit: character rules, commit, limits and notifications.

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <QDialog>
#include <QPushButton>
#include <QTest>

#include "support/qt/QtTestEnvironment.h"
#include "controls/widgets/BalloonTip.h"
#include "controls/widgets/NumericEdit.h"

namespace {

// A dialog with two numeric edits and a default button, the way pages use them.
class DigitalEditTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dialog = std::make_unique<QDialog>();
        dialog->resize(300, 200);
        edit = new NumericEdit(dialog.get());
        edit->setGeometry(10, 10, 100, 24);
        next = new NumericEdit(dialog.get());
        next->setGeometry(10, 50, 100, 24);
        button = new QPushButton("OK", dialog.get());
        button->setGeometry(10, 90, 80, 28);
        button->setDefault(true);
        QObject::connect(button, &QPushButton::clicked, [this] { ++buttonClicks; });
        QObject::connect(edit, &BalloonEdit::editChanged, [this] { notified.push_back(edit->text().toStdString()); });
        ASSERT_TRUE(ShowAndActivate(dialog.get()));
    }

    // The dialog goes first: its edits may still report while it closes.
    void TearDown() override { dialog.reset(); }

    void Limit(DigitalType type, DigitalValue min, DigitalValue max)
    {
        edit->SetType(type);
        edit->SetMinValue(min, 1e-16);
        edit->SetMaxValue(max, 1e-16);
    }

    // The texts of the balloon's messages, top first.
    std::vector<std::string> BalloonTexts() const
    {
        std::vector<std::string> texts;
        if (edit->Balloon()) {
            for (const BalloonItem& item : edit->Balloon()->Items())
                texts.push_back(item.text);
        }
        return texts;
    }

    std::unique_ptr<QDialog> dialog;
    NumericEdit* edit = nullptr;
    NumericEdit* next = nullptr;
    QPushButton* button = nullptr;
    int buttonClicks = 0;
    std::vector<std::string> notified;  // the edit's text at each notification
};

struct CharacterCase {
    DigitalType type;
    const char* before;
    int cursor;
    char typed;
    const char* after;       // the text afterwards
    const char* complaint;   // balloon text, or "" when accepted
};

TEST_F(DigitalEditTest, TypedCharactersFollowTheNumberRules)
{
    const CharacterCase cases[] = {
        {DIGITAL_UINT32, "12", 2, '-', "12", "Invalid character '-'"},
        {DIGITAL_UINT64, "", 0, '-', "", "Invalid character '-'"},
        {DIGITAL_INT32, "12", 1, '-', "12", "Invalid character '-'"},
        {DIGITAL_INT32, "", 0, '-', "-", ""},
        {DIGITAL_INT64, "-5", 2, '-', "-5", "Invalid character '-'"},
        {DIGITAL_DOUBLE, "1.5", 3, '.', "1.5", "Invalid character '.'"},
        {DIGITAL_DOUBLE, "15", 1, '.', "1.5", ""},
        {DIGITAL_FLOAT, "-2", 2, '.', "-2.", ""},
        {DIGITAL_INT32, "1", 1, '.', "1", "Invalid character '.'"},
        {DIGITAL_UINT32, "1", 1, 'a', "1", "Invalid character 'a'"},
        {DIGITAL_DOUBLE, "1", 1, ' ', "1", "Invalid character ' '"},
        {DIGITAL_DOUBLE, "1", 1, '+', "1", "Invalid character '+'"},
        {DIGITAL_UINT32, "1", 1, '7', "17", ""},
    };
    for (const CharacterCase& c : cases) {
        SCOPED_TRACE(std::string("type ") + std::to_string(c.type) + " '" + c.before + "' + " + c.typed);
        delete edit->Balloon();
        edit->SetType(c.type);
        edit->setText(c.before);
        edit->setCursorPosition(c.cursor);
        edit->ChangePending = 0;
        QTest::keyClick(edit, c.typed);
        EXPECT_EQ(edit->text().toStdString(), c.after);
        if (*c.complaint) {
            ASSERT_NE(edit->Balloon(), nullptr);
            const auto items = edit->Balloon()->Items();
            ASSERT_EQ(items.size(), 1u);
            EXPECT_EQ(items[0].title, "Input Error");
            EXPECT_EQ(items[0].text, c.complaint);
            EXPECT_EQ(items[0].icon, BALLOON_ICON_ERROR);
            EXPECT_EQ(items[0].key, XEDIT_BALLOON_KEY_CHARACTER);
            EXPECT_EQ(edit->ChangePending, 0);
        } else {
            EXPECT_TRUE(BalloonTexts().empty());
            EXPECT_EQ(edit->ChangePending, 1);
        }
    }
    EXPECT_TRUE(notified.empty()) << "typing alone never notifies the owner";
}

TEST_F(DigitalEditTest, RepeatedRejectionKeepsTheFirstMessageAndRestartsItsTime)
{
    edit->SetType(DIGITAL_UINT32);
    QTest::keyClick(edit, '-');
    edit->Balloon()->OnCountdownTick();
    edit->Balloon()->OnCountdownTick();
    ASSERT_EQ(edit->Balloon()->Items().at(0).remaining, 4000);
    QTest::keyClick(edit, 'x');
    const auto items = edit->Balloon()->Items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].text, "Invalid character '-'");
    EXPECT_EQ(items[0].remaining, 5000);
}

struct CommitCase {
    const char* typed;     // typed after clearing the edit ("" = only Backspace)
    const char* shown;     // the text after the commit
    const char* complaint; // balloon text, "" for none
};

TEST_F(DigitalEditTest, CommitForcesTheValueIntoItsLimitsAndNotifiesTheLimit)
{
    Limit(DIGITAL_UINT32, DigitalValue::UInt32(10), DigitalValue::UInt32(95));
    const CommitCase cases[] = {
        {"50", "50", ""},
        {"10", "10", ""},
        {"95", "95", ""},
        {"9", "10", "The value must be at least 10"},
        {"96", "95", "The value must be at most 95"},
        {"", "10", "The value must be at least 10"},
    };
    for (const CommitCase& c : cases) {
        SCOPED_TRACE(c.typed);
        delete edit->Balloon();
        notified.clear();
        ASSERT_TRUE(FocusWidget(edit));
        edit->setText("33");
        edit->setCursorPosition(2);
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClick(edit, Qt::Key_Backspace);
        TypeText(edit, c.typed);
        ASSERT_TRUE(FocusWidget(next));  // leaving the edit commits
        EXPECT_EQ(edit->text().toStdString(), c.shown);
        ASSERT_EQ(notified.size(), 1u) << "exactly one notification per commit";
        EXPECT_EQ(notified[0], c.shown) << "the owner sees the corrected value";
        if (*c.complaint) {
            ASSERT_EQ(BalloonTexts().size(), 1u);
            EXPECT_EQ(BalloonTexts()[0], c.complaint);
            EXPECT_EQ(edit->Balloon()->Items()[0].title, "Data Invalid");
        } else {
            EXPECT_TRUE(BalloonTexts().empty());
        }
    }
}

TEST_F(DigitalEditTest, DoubleLimitsUseTheirToleranceAndShortestDecimals)
{
    Limit(DIGITAL_DOUBLE, DigitalValue::Double(0.5), DigitalValue::Double(8.25));
    ASSERT_TRUE(FocusWidget(edit));
    TypeText(edit, "0.2");
    ASSERT_TRUE(FocusWidget(next));
    EXPECT_EQ(edit->text().toStdString(), "0.5");
    EXPECT_EQ(BalloonTexts(), std::vector<std::string>{"The value must be at least 0.5"});

    // Unlike the integer types there is no half-unit margin: 8.251 is already too much.
    ASSERT_TRUE(FocusWidget(edit));
    edit->clear();
    TypeText(edit, "8.251");
    ASSERT_TRUE(FocusWidget(next));
    EXPECT_EQ(edit->text().toStdString(), "8.25");
    EXPECT_EQ(BalloonTexts().front(), "The value must be at most 8.25");
    EXPECT_EQ(notified.back(), "8.25");
}

TEST_F(DigitalEditTest, LeavingWithoutTypingOrSettingTextIdleIsNotReported)
{
    Limit(DIGITAL_UINT32, DigitalValue::UInt32(10), DigitalValue::UInt32(95));
    edit->setText("200");  // written by the owner while idle
    ASSERT_TRUE(FocusWidget(edit));
    ASSERT_TRUE(FocusWidget(next));
    EXPECT_TRUE(notified.empty());
    EXPECT_EQ(edit->text(), "200") << "an untouched value is not validated";
    // Keys that type no character do not mark a change, so a commit leaves the value
    // unchecked. (Escape goes on to the dialog, which closes: commit directly.)
    ASSERT_TRUE(FocusWidget(edit));
    for (Qt::Key key : {Qt::Key_Left, Qt::Key_Escape}) {
        QTest::keyClick(edit, key);
        EXPECT_EQ(edit->ChangePending, 0) << key;
    }
    edit->Commit();
    EXPECT_TRUE(notified.empty());
    EXPECT_EQ(edit->text(), "200");
}

TEST_F(DigitalEditTest, EnterAndTabCommitAndMoveOnWithoutPressingTheDefaultButton)
{
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Tab}) {
        SCOPED_TRACE(key);
        notified.clear();
        ASSERT_TRUE(FocusWidget(edit));
        TypeText(edit, "4");
        QTest::keyClick(edit, key);
        EXPECT_EQ(notified.size(), 1u);
        EXPECT_TRUE(next->hasFocus());
    }
    EXPECT_EQ(buttonClicks, 0);
}

TEST_F(DigitalEditTest, EnterCommitsInPlaceWhenNoOtherControlTakesTheFocus)
{
    QDialog lonely;
    auto* only = new NumericEdit(&lonely);
    int count = 0;
    QObject::connect(only, &BalloonEdit::editChanged, [&] { ++count; });
    ASSERT_TRUE(ShowAndActivate(&lonely));
    ASSERT_TRUE(FocusWidget(only));
    TypeText(only, "7");
    QTest::keyClick(only, Qt::Key_Return);
    EXPECT_TRUE(only->hasFocus());
    EXPECT_EQ(count, 1);
}

TEST_F(DigitalEditTest, OwnerCorrectionDuringANotificationIsReportedNested)
{
    edit->SetType(DIGITAL_DOUBLE);
    int depth = 0;
    int maxDepth = 0;
    std::vector<std::string> seen;
    QObject::disconnect(edit, &BalloonEdit::editChanged, nullptr, nullptr);
    QObject::connect(edit, &BalloonEdit::editChanged, [&] {
        ++depth;
        maxDepth = std::max(maxDepth, depth);
        seen.push_back(edit->text().toStdString());
        if (ParseDigitalText(edit->text().toStdString()) > 8.4)
            edit->setText("8.4");  // the owner's rule corrects the value
        --depth;
    });
    ASSERT_TRUE(FocusWidget(edit));
    TypeText(edit, "9");
    ASSERT_TRUE(FocusWidget(next));
    EXPECT_EQ(seen, (std::vector<std::string>{"9", "8.4"}));
    EXPECT_EQ(maxDepth, 2);
    EXPECT_EQ(edit->SuppressNotify, 1) << "idle again afterwards";
    edit->setText("1");
    EXPECT_EQ(seen.size(), 2u);
}

TEST_F(DigitalEditTest, ImmediateModeNotifiesEveryCharacter)
{
    edit->DeferNotify = 0;
    edit->SuppressNotify = 0;
    TypeText(edit, "12");
    EXPECT_GE(notified.size(), 2u);
    EXPECT_EQ(notified.back(), "12");
}

TEST(DigitalText, ParsesTheLeadingNumberAndGivesZeroOtherwise)
{
    EXPECT_DOUBLE_EQ(ParseDigitalText("8.4"), 8.4);
    EXPECT_DOUBLE_EQ(ParseDigitalText(" -2.5"), -2.5);
    EXPECT_DOUBLE_EQ(ParseDigitalText("12abc"), 12.0);
    EXPECT_DOUBLE_EQ(ParseDigitalText(""), 0.0);
    EXPECT_DOUBLE_EQ(ParseDigitalText("-"), 0.0);
    EXPECT_DOUBLE_EQ(ParseDigitalText("nan"), 0.0);
    EXPECT_DOUBLE_EQ(ParseDigitalText("inf"), 0.0);
    EXPECT_EQ(FormatDigitalValue(DigitalValue::Double(0.1 + 0.2), DIGITAL_DOUBLE), "0.3");
    EXPECT_EQ(FormatDigitalValue(DigitalValue::Int32(-7), DIGITAL_INT32), "-7");
    EXPECT_EQ(FormatDigitalValue(DigitalValue::UInt64(18446744073709551615ull), DIGITAL_UINT64),
              "18446744073709551615");
}

}  // namespace
