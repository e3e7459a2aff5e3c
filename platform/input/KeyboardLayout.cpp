#include "platform/input/KeyboardLayout.h"

#include "platform/input/KeyCodeTable.h"

#include <QList>

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <mutex>
#include <utility>

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

// Dead keys type nothing alone; a keycap shows them as their accent.
constexpr std::pair<xkb_keysym_t, char32_t> deadKeyAccents[] = {
    {XKB_KEY_dead_grave, U'`'},           {XKB_KEY_dead_acute, U'\u00B4'},     {XKB_KEY_dead_circumflex, U'^'},
    {XKB_KEY_dead_tilde, U'~'},           {XKB_KEY_dead_macron, U'\u00AF'},    {XKB_KEY_dead_breve, U'\u02D8'},
    {XKB_KEY_dead_abovedot, U'\u02D9'},   {XKB_KEY_dead_diaeresis, U'\u00A8'}, {XKB_KEY_dead_abovering, U'\u02DA'},
    {XKB_KEY_dead_doubleacute, U'\u02DD'}, {XKB_KEY_dead_caron, U'\u02C7'},     {XKB_KEY_dead_cedilla, U'\u00B8'},
    {XKB_KEY_dead_ogonek, U'\u02DB'},
};

QString fromCodePoint(char32_t c) { return QString::fromUcs4(&c, 1); }

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

std::optional<KeyboardLayout::KeyText> KeyboardLayout::translate(int virtualKeyCode) {
    static const KeyboardLayout us = fromNames("us");
    std::optional<KeyboardLayout> layout = testLayout() ? testLayout() : current();
    if (!layout || !layout->asciiCapableGroup())
        return us.translateKey(virtualKeyCode);
    return layout->translateKey(virtualKeyCode);
}

std::optional<int> KeyboardLayout::asciiCapableGroup() const {
    if (!keymap_)
        return std::nullopt;
    xkb_keymap* keymap = keymap_.get();
    const xkb_layout_index_t groups = xkb_keymap_num_layouts(keymap);
    for (xkb_layout_index_t g = 0; g < groups; ++g) {
        // Any key may type a letter: AZERTY, Dvorak and Turkish-Q put them elsewhere than U.S. keys.
        quint32 letters = 0;
        for (xkb_keycode_t key = xkb_keymap_min_keycode(keymap); key <= xkb_keymap_max_keycode(keymap); ++key) {
            const xkb_keysym_t* syms = nullptr;
            if (g < xkb_keymap_num_layouts_for_key(keymap, key) &&
                xkb_keymap_key_get_syms_by_level(keymap, key, g, 0, &syms) == 1 && syms[0] >= XKB_KEY_a &&
                syms[0] <= XKB_KEY_z)
                letters |= 1u << (syms[0] - XKB_KEY_a);
        }
        if (letters == (1u << 26) - 1)
            return static_cast<int>(g);
    }
    return std::nullopt;
}

std::optional<QString> KeyboardLayout::character(int xKeycode, int group, int level) const {
    const auto key = static_cast<xkb_keycode_t>(xKeycode);
    const xkb_layout_index_t groups = xkb_keymap_num_layouts_for_key(keymap_.get(), key);
    if (groups == 0)
        return std::nullopt;
    const xkb_keysym_t* syms = nullptr;
    if (xkb_keymap_key_get_syms_by_level(keymap_.get(), key, static_cast<xkb_layout_index_t>(group) % groups,
                                         static_cast<xkb_level_index_t>(level), &syms) != 1)
        return std::nullopt;
    for (auto [dead, accent] : deadKeyAccents)
        if (syms[0] == dead)
            return fromCodePoint(accent);
    const char32_t ch = xkb_keysym_to_utf32(syms[0]);
    // Control characters (Return, Tab, Escape, ...) are no text to show.
    if (ch < 0x20 || ch == 0x7f)
        return std::nullopt;
    return fromCodePoint(ch);
}

std::optional<KeyboardLayout::KeyText> KeyboardLayout::translateKey(int virtualKeyCode) const {
    auto group = asciiCapableGroup();
    auto keycode = KeyCodeTable::xKeycodeFromVirtual(virtualKeyCode);
    if (!group || !keycode)
        return std::nullopt;
    auto text = character(*keycode, *group, 0);
    if (!text)
        return std::nullopt;
    const char32_t c = text->toUcs4().value(0);
    auto shifted = character(*keycode, *group, 1);
    const bool shiftGivesCapital = QChar::category(c) == QChar::Letter_Lowercase && shifted &&
                                   shifted->toUcs4().size() == 1 &&
                                   QChar::category(shifted->toUcs4()[0]) == QChar::Letter_Uppercase;
    return KeyText{*text, shiftGivesCapital ? *shifted : fromCodePoint(QChar::toUpper(c))};
}

}  // namespace platform
