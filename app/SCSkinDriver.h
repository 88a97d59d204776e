// The skin driver. The look of the application comes from one optional file
// beside the program, "Mac-style.skf", read as a Qt style sheet. The driver
// keeps the member calls the application makes at start-up and for each
// icon button; only LoadSkinFile has an effect, the others are there so the
// start-up reads as one sequence. Without the file every call does nothing
// and the platform's standard look stays.
#pragma once

#include <QString>

class QWidget;

namespace velk::app {

class SCSkinDriver {
public:
    void Initialise(int value) { (void)value; }    // member 17, called with 0
    void SetEnabled(int value) { (void)value; }    // member 1, called with 1
    // Member 2: applies the style sheet in `fileName` (relative to the current
    // folder, which start-up makes the program's folder). False when there
    // is no readable file; nothing changes then.
    bool LoadSkinFile(const QString& fileName);
    void ApplySkin() {}                             // member 18
    void ApplyToWindow(QWidget* window, int value) { (void)window; (void)value; }  // member 6
    bool Loaded() const { return loaded_; }

private:
    bool loaded_ = false;
};

}  // namespace velk::app
