#pragma once
// An empty page standing in for one that is not built yet: it takes the place,
// the object name and the behaviour toward the connection of the real page.

#include <QWidget>

#include "app/widgets/IToolPage.h"

class CPlaceholderPage : public QWidget, public IToolPage {
public:
    CPlaceholderPage(const QString& objectName, bool takesPortOver, QWidget* parent)
        : QWidget(parent), takesPortOver_(takesPortOver)
    {
        setObjectName(objectName);
    }

    QWidget* PageWidget() override { return this; }
    [[nodiscard]] bool TakesPortOver() const override { return takesPortOver_; }
    void SetPortSelection(int portNumber, int baudRate) override
    {
        portNumber_ = portNumber;
        baudRate_ = baudRate;
    }

    // The copies last handed over.
    [[nodiscard]] int PortNumber() const { return portNumber_; }
    [[nodiscard]] int BaudRate() const { return baudRate_; }

private:
    bool takesPortOver_;
    int portNumber_ = 0;
    int baudRate_ = 0;
};
