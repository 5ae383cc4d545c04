#include "panes/pane_text.h"

#include <gtest/gtest.h>

TEST(PaneText, PrependPutsNewestLineOnTopWithCrLf) {
    std::string pane = PrependedPaneText("", "A");
    EXPECT_EQ(pane, "A\r\n");
    pane = PrependedPaneText(pane, "B");
    EXPECT_EQ(pane, "B\r\nA\r\n");
}

TEST(PaneText, PrependOfTextStartingWithCrLfLeavesEmptyFirstLine) {
    EXPECT_EQ(PrependedPaneText("old\r\n", "\r\nCaptured"), "\r\nCaptured\r\nold\r\n");
}

TEST(PaneText, AppendAddsNothingOfItsOwn) {
    std::string pane;
    pane = AppendedPaneText(pane, "len = 3\r\n");
    pane = AppendedPaneText(pane, "0A 3A 0D ");
    pane = AppendedPaneText(pane, "\r\n");
    EXPECT_EQ(pane, "len = 3\r\n0A 3A 0D \r\n");
    EXPECT_EQ(AppendedPaneText(pane, ""), pane);
}
