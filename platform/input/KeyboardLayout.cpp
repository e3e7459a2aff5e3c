#include "platform/input/KeyboardLayout.h"

#include "platform/input/KeyCodeTable.h"

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <linux/input-event-codes.h>

#include <mutex>

namespace platform {

namespace {

std::optional<KeyboardLayout>& testLayout() {
    static std::optional<KeyboardLayout> layout;
    return layout;
}

xkb_context* context() {
    static xkb_context* ctx = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    return ctx;
}

constexpr int letterKeys[] = {KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I,
                              KEY_J, KEY_K, KEY_L, KEY_M, KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R,
                              KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z};

// Kept open for the life of the process: the layout is asked for whenever a shortcut is shown.
xcb_connection_t* xkbConnection() {
    static xcb_connection_t* connection = [] () -> xcb_connection_t* {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            return nullptr;
        xcb_connection_t* c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c)) {
            xcb_disconnect(c);
            return nullptr;
        }
        if (!xkb_x11_setup_xkb_extension(c, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                         XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr)) {
            xcb_disconnect(c);
            return nullptr;
        }
        return c;
    }();
    return connection;
}

}  // namespace

KeyboardLayout::KeyboardLayout(xkb_keymap* keymap) : keymap_(keymap, [](xkb_keymap* k) { xkb_keymap_unref(k); }) {}

KeyboardLayout KeyboardLayout::fromNames(const QString& layouts, const QString& variants) {
    QByteArray layout = layouts.toUtf8(), variant = variants.toUtf8();
    xkb_rule_names names{};
    names.layout = layout.constData();
    names.variant = variant.isEmpty() ? nullptr : variant.constData();
    return KeyboardLayout(context() ? xkb_keymap_new_from_names(context(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr);
}

std::optional<KeyboardLayout> KeyboardLayout::current() {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    xcb_connection_t* c = xkbConnection();
    if (!c || !context() || xcb_connection_has_error(c))
        return std::nullopt;
    int32_t device = xkb_x11_get_core_keyboard_device_id(c);
    if (device < 0)
        return std::nullopt;
    xkb_keymap* keymap = xkb_x11_keymap_new_from_device(context(), c, device, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap)
        return std::nullopt;
    return KeyboardLayout(keymap);
}

void KeyboardLayout::setCurrentForTesting(std::optional<KeyboardLayout> layout) { testLayout() = std::move(layout); }

std::optional<QString> KeyboardLayout::translate(int virtualKeyCode) {
    if (testLayout())
        return testLayout()->translateKey(virtualKeyCode);
    if (auto layout = current())
        return layout->translateKey(virtualKeyCode);
    static const KeyboardLayout fallback = fromNames("us");
    return fallback.translateKey(virtualKeyCode);
}

std::optional<int> KeyboardLayout::asciiCapableGroup() const {
    if (!keymap_)
        return std::nullopt;
    const xkb_layout_index_t groups = xkb_keymap_num_layouts(keymap_.get());
    for (xkb_layout_index_t g = 0; g < groups; ++g) {
        bool ascii = true;
        for (int key : letterKeys) {
            const xkb_keysym_t* syms = nullptr;
            int n = xkb_keymap_key_get_syms_by_level(keymap_.get(), key + 8, g, 0, &syms);
            if (n != 1 || syms[0] < XKB_KEY_a || syms[0] > XKB_KEY_z) {
                ascii = false;
                break;
            }
        }
        if (ascii)
            return static_cast<int>(g);
    }
    return std::nullopt;
}

std::optional<QString> KeyboardLayout::translateKey(int virtualKeyCode) const {
    auto group = asciiCapableGroup();
    auto keycode = KeyCodeTable::xKeycodeFromVirtual(virtualKeyCode);
    if (!group || !keycode)
        return std::nullopt;
    const xkb_keysym_t* syms = nullptr;
    int n = xkb_keymap_key_get_syms_by_level(keymap_.get(), static_cast<xkb_keycode_t>(*keycode),
                                             static_cast<xkb_layout_index_t>(*group), 0, &syms);
    if (n != 1)
        return std::nullopt;
    uint32_t ch = xkb_keysym_to_utf32(syms[0]);
    // Control characters (Return, Tab, Escape, ...) are no text to show.
    if (ch < 0x20 || ch == 0x7f)
        return std::nullopt;
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(&ch), 1);
}

}  // namespace platform
