// The widgets of the main panel as its controller sees them: a few small
// abstract interfaces, so the panel's logic runs without a display. The Qt
// panel implements them over real widgets; the tests over plain records.
// Every call is made on the window's thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace velk::app {

// The recorder selector: a drop-down list without typing.
class Selector {
public:
    virtual ~Selector() = default;
    virtual void AddItem(const std::string& text) = 0;
    virtual int Count() const = 0;
    // -1 when nothing is selected.
    virtual int CurrentIndex() const = 0;
    virtual void SetCurrentIndex(int index) = 0;
    virtual void SetEnabled(bool enabled) = 0;
};

// The source list: one full source path per row, row 0 at the top.
class SourceList {
public:
    virtual ~SourceList() = default;
    virtual int RowCount() const = 0;
    virtual std::string PathAt(int row) const = 0;
    // The selection mark and the row under the pointer; -1 when there is none.
    virtual int SelectionMark() const = 0;
    virtual int HotRow() const = 0;
    virtual void DeleteRow(int row) = 0;
    virtual void DeleteAll() = 0;
    // Inserts a path as the new top row: 0, or -1 when it was refused.
    virtual int InsertPathname(const std::string& path) = 0;
};

// The log box. Lines always go to the end of the text, wherever the user put
// the caret, so no line is ever lost.
class LogBox {
public:
    virtual ~LogBox() = default;
    virtual void AppendLine(const std::string& line) = 0;
};

class TextBox {
public:
    virtual ~TextBox() = default;
    virtual std::string Text() const = 0;
    virtual void SetText(const std::string& text) = 0;
};

class CheckBox {
public:
    virtual ~CheckBox() = default;
    virtual bool IsChecked() const = 0;
};

class ProgressBar {
public:
    virtual ~ProgressBar() = default;
    virtual void SetRange(int minimum, int maximum) = 0;
    virtual void SetPosition(int position) = 0;
};

class StatusText {
public:
    virtual ~StatusText() = default;
    virtual void SetText(const std::string& text) = 0;
};

class Button {
public:
    virtual ~Button() = default;
    virtual void SetEnabled(bool enabled) = 0;
};

// What the panel needs from its window and desktop beyond the widgets.
class PanelHost {
public:
    virtual ~PanelHost() = default;
    // Runs `task` later on the window's thread; tasks run in the order they
    // were posted, whatever thread posts them.
    virtual void Post(std::function<void()> task) = 0;
    virtual void SetTitle(const std::string& title) = 0;
    // The stored version text for the title; empty when there is none.
    virtual std::string ReadVersionSetting() = 0;
    // The folder that holds the running program, ending in '/'.
    virtual std::string ApplicationFolder() = 0;
    // Dialogs; an empty result means the user cancelled.
    virtual std::vector<std::string> ChooseFiles() = 0;
    virtual std::string ChooseFolder() = 0;
    // The desktop's default handler for an address; false when none took it.
    virtual bool OpenUrl(const std::string& url) = 0;
    // Starts a program detached, in `folder`; false when it did not start.
    virtual bool RunProgram(const std::string& program, const std::string& folder) = 0;
    // Asks a yes/no question; true for yes.
    virtual bool Confirm(const std::string& question) = 0;
    // Closes the window (after a close the controller allowed).
    virtual void CloseWindow() = 0;
};

struct PanelWidgets {
    Selector* selector = nullptr;
    SourceList* list = nullptr;
    LogBox* log = nullptr;
    TextBox* label = nullptr;
    CheckBox* savePath = nullptr;
    CheckBox* importSession = nullptr;
    CheckBox* udfBridge = nullptr;
    // Read every written block back after the burn (off by default).
    CheckBox* verify = nullptr;
    ProgressBar* imageBar = nullptr;
    ProgressBar* ringBar = nullptr;
    ProgressBar* driveBar = nullptr;
    StatusText* status = nullptr;
    Button* burnButton = nullptr;
};

}  // namespace velk::app
