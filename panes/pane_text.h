// The text side of the two panes. The received-data pane grows at its end;
// the debug pane grows at its start so that its newest line is its first.
#pragma once

#include <string>

// Old text followed by `text`; no line break is added.
std::string AppendedPaneText(const std::string& oldText, const std::string& text);

// `text`, CR LF, then the old text.
std::string PrependedPaneText(const std::string& oldText, const std::string& text);
