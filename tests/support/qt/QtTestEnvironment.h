#pragma once
// One QApplication for every widget test of the program, and small helpers to
// drive widgets on the offscreen platform.

#include <QApplication>
#include <QString>
#include <QWidget>

// Shows the window and makes it the active one, so that focus changes happen.
bool ShowAndActivate(QWidget* window);
// Gives the widget the keyboard focus (its window must be active).
bool FocusWidget(QWidget* widget);
// Types the characters one key press at a time.
void TypeText(QWidget* widget, const QString& text);
