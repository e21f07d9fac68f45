#include <gtest/gtest.h>

#include "assistant/browser/BrowserPage.h"

namespace {

class BrowserPageOnDisplay : public ::testing::TestWithParam<BrowserPage::Browser> {};

// What every browser test stands on: the page loads, its window is the active one, the page
// reports what the user does, and the browser's tree is on the bus.
TEST_P(BrowserPageOnDisplay, ThePageShowsAndItsFieldsAreOnTheBus)
{
    BrowserPage page(GetParam());
    ASSERT_TRUE(page.open()) << page.failure().toStdString();
    ASSERT_TRUE(page.fieldsOnBus()) << page.failure().toStdString();
    EXPECT_NE(page.window(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Browsers, BrowserPageOnDisplay,
                         ::testing::Values(BrowserPage::Browser::firefox, BrowserPage::Browser::chromium),
                         [](const auto& each) { return std::string(BrowserPage::name(each.param)); });

} // namespace
