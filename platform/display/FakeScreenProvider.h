#pragma once

#include "platform/display/Screen.h"

#include <QRect>

#include <memory>
#include <vector>

namespace platform {

// A display list and pointer set by hand, for tests. install() makes a fake the provider until the
// returned Installation goes out of scope; use it like a pointer to the fake.
class FakeScreenProvider : public Screen::Provider {
public:
    std::vector<ScreenRef> screens() override { return list; }
    QPointF mouseLocation() override { return mouse; }

    // A display description; number 0 leaves out "NSScreenNumber".
    static Screen::Description display(const QString& name, const QRect& native, quint32 number, double scale = 1.0) {
        Screen::Description d;
        d.name = name;
        d.nativeGeometry = native;
        d.nativeWorkArea = native;
        d.scaleFactor = scale;
        if (number != 0)
            d.deviceDescription.insert(QStringLiteral("NSScreenNumber"), QVariant::fromValue<quint32>(number));
        return d;
    }

    // Lays out the given displays (the first one is the primary).
    void setDisplays(std::vector<Screen::Description> descriptions) {
        if (!descriptions.empty())
            descriptions.front().primary = true;
        list = Screen::makeScreens(descriptions);
    }

    struct Installation {
        std::shared_ptr<FakeScreenProvider> provider;
        explicit Installation(std::shared_ptr<FakeScreenProvider> p) : provider(std::move(p)) {
            Screen::setProvider(provider);
        }
        ~Installation() { Screen::setProvider(nullptr); }
        Installation(const Installation&) = delete;
        Installation& operator=(const Installation&) = delete;
        FakeScreenProvider* operator->() const { return provider.get(); }
    };
    static Installation install() { return Installation(std::make_shared<FakeScreenProvider>()); }

    std::vector<ScreenRef> list;
    QPointF mouse;
};

}  // namespace platform
