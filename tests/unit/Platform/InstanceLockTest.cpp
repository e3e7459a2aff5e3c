#include "platform/desktop/InstanceLock.h"

#include <gtest/gtest.h>

#include <cctype>

namespace {

struct DisplayName {
    const char* display;
    const char* key;
};

class InstanceLockDisplayKey : public testing::TestWithParam<DisplayName> {};

TEST_P(InstanceLockDisplayKey, NamesOneDisplayOneWay) {
    EXPECT_EQ(platform::InstanceLock::displayKey(GetParam().display), QString::fromLatin1(GetParam().key));
}

INSTANTIATE_TEST_SUITE_P(
    Names, InstanceLockDisplayKey,
    testing::Values(DisplayName{":1", ":1"}, DisplayName{":1.0", ":1"}, DisplayName{":1.1", ":1"},
                    DisplayName{"unix:1", ":1"}, DisplayName{"unix:1.0", ":1"}, DisplayName{":01", ":1"},
                    DisplayName{":0", ":0"}, DisplayName{"localhost:10.0", "localhost:10"},
                    DisplayName{"other/host:2", "other_host:2"}, DisplayName{"", ""}, DisplayName{"nonsense", ""},
                    DisplayName{":x", ""}),
    [](const auto& info) {
        std::string name = info.param.display;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name.empty() ? std::string("empty") : "d" + name;
    });

}  // namespace
