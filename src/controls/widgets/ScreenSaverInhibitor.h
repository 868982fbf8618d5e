#pragma once
// Keeps the screen on while something is watched: asks the desktop's screen saver
// (org.freedesktop.ScreenSaver on the session bus) not to start until Release. On a
// system without a session bus or such a service nothing happens.

#include <QString>

class CScreenSaverInhibitor {
public:
    CScreenSaverInhibitor() = default;
    ~CScreenSaverInhibitor() { Release(); }
    CScreenSaverInhibitor(const CScreenSaverInhibitor&) = delete;
    CScreenSaverInhibitor& operator=(const CScreenSaverInhibitor&) = delete;

    // Asks once; a second call while held does nothing.
    void Inhibit(const QString& reason);
    void Release();
    [[nodiscard]] bool Holds() const { return cookie_ != 0; }

private:
    unsigned int cookie_ = 0;
};
