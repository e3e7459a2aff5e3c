#include "platform/input/KeyboardLayout.h"

#include "platform/input/KeyCodeTable.h"

#include "platform/core/MainThread.h"

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>

#include <xcb/xcb.h>
// The header names a member after a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <atomic>
#include <mutex>
#include <string>
#include <unordered_map>
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

// The application's own connection for reading the keymap, kept open for the life of the
// process: the keymap is asked for whenever a key is recorded or a shortcut shown. It hears of keymap
// changes through XKB's events, read by whoever asks next or by the main thread's watch.
struct Server {
    std::mutex mutex;
    bool tried = false;
    xcb_connection_t* connection = nullptr;
    quint8 xkbEvent = 0;
    std::optional<KeyboardLayout> keymap;
};

Server& server() {
    static Server s;
    return s;
}

xcb_connection_t* connectLocked(Server& s) {
    if (s.tried)
        return s.connection && !xcb_connection_has_error(s.connection) ? s.connection : nullptr;
    s.tried = true;
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return nullptr;
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c) ||
        !xkb_x11_setup_xkb_extension(c, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                     XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &s.xkbEvent, nullptr)) {
        xcb_disconnect(c);
        return nullptr;
    }
    constexpr uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
    constexpr uint16_t parts = XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP;
    xcb_xkb_select_events(c, XCB_XKB_ID_USE_CORE_KBD, events, 0, events, parts, parts, nullptr);
    s.connection = c;
    return c;
}

std::atomic<KeyboardLayoutChanges*> changesInstance{nullptr};

// Reads the events that arrived; true when one of them changed the keymap, which is then dropped.
bool drainLocked(Server& s, bool queuedOnly) {
    if (!s.connection || xcb_connection_has_error(s.connection))
        return false;
    bool changed = false;
    while (xcb_generic_event_t* event =
               queuedOnly ? xcb_poll_for_queued_event(s.connection) : xcb_poll_for_event(s.connection)) {
        // The extension's events share one code and tell themselves apart by their second byte.
        if ((event->response_type & 0x7f) == s.xkbEvent) {
            const quint8 type = reinterpret_cast<const quint8*>(event)[1];
            changed = changed || type == XCB_XKB_NEW_KEYBOARD_NOTIFY || type == XCB_XKB_MAP_NOTIFY;
        }
        free(event);
    }
    if (changed)
        s.keymap.reset();
    return changed;
}

void announceChange() {
    if (KeyboardLayoutChanges* changes = changesInstance.load())
        postToMain([changes] { emit changes->changed(); });
}

}  // namespace

struct KeyboardLayout::Data {
    xkb_keymap* keymap = nullptr;
    std::unordered_map<int, int> toX, fromX;
    std::optional<int> asciiGroup;
    ~Data() { xkb_keymap_unref(keymap); }
};

KeyboardLayout::KeyboardLayout(xkb_keymap* keymap) {
    if (!keymap)
        return;
    auto data = std::make_shared<Data>();
    data->keymap = keymap;
    // Key names resolve aliases too; codes the core protocol cannot carry are left out.
    for (int virtualCode : KeyCodeTable::virtualKeyCodes()) {
        const std::string name(*KeyCodeTable::keyName(virtualCode));
        const xkb_keycode_t code = xkb_keymap_key_by_name(keymap, name.c_str());
        if (code == XKB_KEYCODE_INVALID || code > 255)
            continue;
        data->toX.emplace(virtualCode, int(code));
        data->fromX.emplace(int(code), virtualCode);
    }
    const xkb_layout_index_t groups = xkb_keymap_num_layouts(keymap);
    for (xkb_layout_index_t g = 0; g < groups && !data->asciiGroup; ++g) {
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
            data->asciiGroup = static_cast<int>(g);
    }
    data_ = std::move(data);
}

KeyboardLayout KeyboardLayout::fromNames(const QString& layouts, const QString& variants) {
    QByteArray layout = layouts.toUtf8(), variant = variants.toUtf8();
    xkb_rule_names names{};
    names.layout = layout.constData();
    names.variant = variant.isEmpty() ? nullptr : variant.constData();
    return KeyboardLayout(context() ? xkb_keymap_new_from_names(context(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr);
}

std::optional<KeyboardLayout> KeyboardLayout::fromConnection(xcb_connection_t* connection) {
    if (!connection || !context() || xcb_connection_has_error(connection))
        return std::nullopt;
    const int32_t device = xkb_x11_get_core_keyboard_device_id(connection);
    if (device < 0)
        return std::nullopt;
    xkb_keymap* keymap = xkb_x11_keymap_new_from_device(context(), connection, device, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap)
        return std::nullopt;
    return KeyboardLayout(keymap);
}

std::optional<KeyboardLayout> KeyboardLayout::current() {
    Server& s = server();
    bool changed = false;
    std::optional<KeyboardLayout> keymap;
    {
        std::lock_guard lock(s.mutex);
        xcb_connection_t* c = connectLocked(s);
        if (!c)
            return std::nullopt;
        changed = drainLocked(s, false);
        if (!s.keymap)
            s.keymap = fromConnection(c);
        keymap = s.keymap;
    }
    if (changed)
        announceChange();
    return keymap;
}

KeyboardLayout KeyboardLayout::currentOrUS() {
    if (testLayout())
        return *testLayout();
    if (auto layout = current())
        return *layout;
    static const KeyboardLayout us = fromNames("us");
    return us;
}

void KeyboardLayout::setCurrentForTesting(std::optional<KeyboardLayout> layout) { testLayout() = std::move(layout); }

std::optional<KeyboardLayout::KeyText> KeyboardLayout::translate(int virtualKeyCode) {
    static const KeyboardLayout us = fromNames("us");
    std::optional<KeyboardLayout> layout = testLayout() ? testLayout() : current();
    if (!layout || !layout->asciiCapableGroup())
        return us.translateKey(virtualKeyCode);
    return layout->translateKey(virtualKeyCode);
}

std::optional<int> KeyboardLayout::asciiCapableGroup() const { return data_ ? data_->asciiGroup : std::nullopt; }

std::optional<int> KeyboardLayout::keycode(int virtualKeyCode) const {
    if (!data_)
        return std::nullopt;
    auto it = data_->toX.find(virtualKeyCode);
    return it == data_->toX.end() ? std::nullopt : std::optional(it->second);
}

std::optional<int> KeyboardLayout::virtualKeyCode(int xKeycode) const {
    if (!data_)
        return std::nullopt;
    auto it = data_->fromX.find(xKeycode);
    return it == data_->fromX.end() ? std::nullopt : std::optional(it->second);
}

std::optional<QString> KeyboardLayout::character(int xKeycode, int group, int level) const {
    const auto key = static_cast<xkb_keycode_t>(xKeycode);
    const xkb_layout_index_t groups = xkb_keymap_num_layouts_for_key(data_->keymap, key);
    if (groups == 0)
        return std::nullopt;
    const xkb_keysym_t* syms = nullptr;
    if (xkb_keymap_key_get_syms_by_level(data_->keymap, key, static_cast<xkb_layout_index_t>(group) % groups,
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
    auto keycode = this->keycode(virtualKeyCode);
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
    if (shiftGivesCapital)
        return KeyText{*text, *shifted};
    // The micro sign's upper case is the Greek capital Mu: a key keeps a character of its own
    // rather than take one of another script.
    const char32_t upper = QChar::toUpper(c);
    return KeyText{*text, QChar::script(upper) == QChar::script(c) ? fromCodePoint(upper) : *text};
}

KeyboardLayoutChanges::KeyboardLayoutChanges() {
    changesInstance = this;
    Server& s = server();
    xcb_connection_t* c = nullptr;
    {
        std::lock_guard lock(s.mutex);
        c = connectLocked(s);
    }
    if (!c)
        return;
    auto check = [this](bool queuedOnly) {
        Server& s = server();
        bool changed = false;
        {
            std::lock_guard lock(s.mutex);
            changed = drainLocked(s, queuedOnly);
        }
        if (changed)
            emit this->changed();
    };
    auto* notifier = new QSocketNotifier(xcb_get_file_descriptor(c), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [check] { check(false); });
    // Replies read the socket too, and may leave events queued that no notification announces.
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [check] { check(true); });
}

KeyboardLayoutChanges& KeyboardLayoutChanges::instance() {
    static KeyboardLayoutChanges* changes = new KeyboardLayoutChanges;
    return *changes;
}

}  // namespace platform
