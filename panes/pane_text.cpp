#include "panes/pane_text.h"

std::string AppendedPaneText(const std::string& oldText, const std::string& text) {
    return oldText + text;
}

std::string PrependedPaneText(const std::string& oldText, const std::string& text) {
    return text + "\r\n" + oldText;
}
