#pragma once
// The main window on a fresh data folder, with a virtual sensor on a
// pseudo-terminal selected in its port list and message boxes recorded.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "app/widgets/MainWindow.h"
#include "controls/widgets/MessageBox.h"
#include "support/SimulatedSensor.h"
#include "support/TempDir.h"

class NumericEdit;

class MainWindowFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the configuration file the window starts from (before OpenWindow).
    void WriteConfig(const std::string& xml);
    // Starts the sensor (when not started yet) and opens the window with its port selected.
    void OpenWindow(bool withSensorPort = true);
    // Closes the window as the close box does and destroys it.
    void CloseWindow();
    // Presses Connect and waits for the connection to settle.
    void Connect();
    // Turns the event loop until the window's exchange with the sensor has ended
    // and its result is shown.
    void WaitForSensor();

    template <class T>
    T* Find(const char* name) const
    {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    [[nodiscard]] QPushButton* Button(const char* id) const { return Find<QPushButton>(id); }
    [[nodiscard]] NumericEdit* Edit(const char* id) const;
    [[nodiscard]] NumericEdit* Edit(int id) const { return Edit(std::to_string(id).c_str()); }
    [[nodiscard]] QComboBox* Combo(const char* id) const { return Find<QComboBox>(id); }
    [[nodiscard]] std::vector<std::string> ComboItems(const char* id) const;
    // Texts of the balloon under an edit, top first.
    [[nodiscard]] std::vector<std::string> BalloonTexts(NumericEdit* edit) const;
    // Types into an edit and leaves it (focus to Read Config. is not enough: a
    // button takes the focus, so the edit commits).
    void TypeAndLeave(NumericEdit* edit, const QString& text, bool clearFirst = true);
    // The last message box, or an empty record.
    [[nodiscard]] MessageBoxRecord LastBox() const { return boxes.empty() ? MessageBoxRecord{} : boxes.back(); }
    [[nodiscard]] std::string ConfigFileText() const;

    std::unique_ptr<TempDir> dataDir;
    VirtualSensorOptions sensorOptions;
    MainWindowOptions windowOptions;  // the sensor's port is added by OpenWindow
    SimulatedSensor sensor;
    std::unique_ptr<MainWindow> window;
    std::vector<MessageBoxRecord> boxes;
    MessageBoxHook previousHook;
    // Questions the window asked, and how they are answered (default: the escape
    // choice, as a user closing the box would).
    std::vector<QuestionRecord> questions;
    std::function<int(const QuestionRecord&)> answer;
    QuestionHook previousQuestionHook;
};
