// The log pane's append, on a real edit control with the program's style: lines land at the end
// whatever the user selected, an empty text still makes a line, and days of events stay bounded
// with the newest line kept.
#include <gtest/gtest.h>

#include <string>

#include "app/log_pane.h"

namespace {

constexpr DWORD logPaneStyle = 0x50A018C4;
constexpr std::size_t logPaneCapacity = 30000;

class LogPane : public testing::Test {
  protected:
    void SetUp() override {
        parent = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 500, 500, nullptr, nullptr, nullptr, nullptr);
        pane = CreateWindowExA(0, "EDIT", nullptr, logPaneStyle, 10, 262, 465, 189, parent, nullptr, nullptr,
                               nullptr);
        ASSERT_NE(pane, nullptr);
        attachLogPane(pane);
    }
    void TearDown() override { DestroyWindow(parent); }

    std::string text() const {
        std::string buffer(static_cast<std::size_t>(GetWindowTextLengthA(pane)) + 1, '\0');
        buffer.resize(static_cast<std::size_t>(GetWindowTextA(pane, buffer.data(), static_cast<int>(buffer.size()))));
        return buffer;
    }

    HWND parent = nullptr;
    HWND pane = nullptr;
};

TEST_F(LogPane, LinesEndWithCrLfInTheOrderAppended) {
    appendLogLine("Automatic maximum car speed detection");
    appendLogLine("Connected to COM1");
    EXPECT_EQ(text(), "Automatic maximum car speed detection\r\nConnected to COM1\r\n");
}

TEST_F(LogPane, EmptyTextStillAddsALine) {
    appendLogLine("first");
    appendLogLine("");
    appendLogLine("third");
    EXPECT_EQ(text(), "first\r\n\r\nthird\r\n");
}

TEST_F(LogPane, AppendsAtTheEndOverTheUsersSelection) {
    appendLogLine("one");
    appendLogLine("two");
    SendMessageA(pane, EM_SETSEL, 1, 4);
    appendLogLine("three");
    EXPECT_EQ(text(), "one\r\ntwo\r\nthree\r\n");
    DWORD start = 0, end = 0;
    SendMessageA(pane, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, end) << "the user's selection is replaced by the caret";
    EXPECT_EQ(end, text().size());
}

TEST_F(LogPane, StaysBoundedByDroppingTheOldestWholeLines) {
    // Lines of varied length, so the cut falls at every position within a line over the run.
    std::string last;
    for (int event = 0; event < 3000; ++event) {
        last = "New combo: car " + std::to_string(event) + std::string(static_cast<std::size_t>(event % 37), 'x') +
               " @ track layout";
        appendLogLine(last);
        ASSERT_LE(text().size(), logPaneCapacity);
    }
    const std::string log = text();
    ASSERT_GE(log.size(), last.size() + 2);
    EXPECT_EQ(log.substr(log.size() - last.size() - 2), last + "\r\n");
    EXPECT_EQ(log.rfind("New combo: car ", 0), 0u) << "the oldest kept line starts whole";
    EXPECT_GT(log.size(), logPaneCapacity - 200) << "only as much is dropped as the new line needs";
}

} // namespace
