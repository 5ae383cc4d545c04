// The two pane operations on edit controls: the text is read whole, changed
// by the pane text functions and set whole again.
#include <windows.h>

#include <new>
#include <string>

#include "app/app.h"
#include "panes/pane_text.h"

namespace {

template <typename Combine>
void ChangePaneText(HWND pane, const char* text, Combine combine) {
    try {
        std::string old(static_cast<size_t>(GetWindowTextLengthA(pane)) + 1, '\0');
        old.resize(static_cast<size_t>(GetWindowTextA(pane, &old[0], static_cast<int>(old.size()))));
        SetWindowTextA(pane, combine(old, text).c_str());
    } catch (const std::bad_alloc&) {
        // No memory for the text: it is dropped and the pane keeps what it had.
    }
}

}  // namespace

void AppendPaneText(HWND pane, const char* text) { ChangePaneText(pane, text, AppendedPaneText); }

void PrependPaneLine(HWND pane, const char* text) { ChangePaneText(pane, text, PrependedPaneText); }
