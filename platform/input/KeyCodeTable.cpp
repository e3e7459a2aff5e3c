#include "platform/input/KeyCodeTable.h"

#include <QGuiApplication>
#include <QKeyEvent>

#include <linux/input-event-codes.h>

#include <unordered_map>
#include <utility>

namespace platform {

namespace {

// Virtual key code, evdev code. Command and control sit on Ctrl and Super, as the modifiers do.
constexpr std::pair<int, int> kVirtualToEvdev[] = {
    {0, KEY_A}, {1, KEY_S}, {2, KEY_D}, {3, KEY_F}, {4, KEY_H}, {5, KEY_G}, {6, KEY_Z}, {7, KEY_X},
    {8, KEY_C}, {9, KEY_V}, {10, KEY_102ND}, {11, KEY_B}, {12, KEY_Q}, {13, KEY_W}, {14, KEY_E},
    {15, KEY_R}, {16, KEY_Y}, {17, KEY_T}, {18, KEY_1}, {19, KEY_2}, {20, KEY_3}, {21, KEY_4},
    {22, KEY_6}, {23, KEY_5}, {24, KEY_EQUAL}, {25, KEY_9}, {26, KEY_7}, {27, KEY_MINUS}, {28, KEY_8},
    {29, KEY_0}, {30, KEY_RIGHTBRACE}, {31, KEY_O}, {32, KEY_U}, {33, KEY_LEFTBRACE}, {34, KEY_I},
    {35, KEY_P}, {36, KEY_ENTER}, {37, KEY_L}, {38, KEY_J}, {39, KEY_APOSTROPHE}, {40, KEY_K},
    {41, KEY_SEMICOLON}, {42, KEY_BACKSLASH}, {43, KEY_COMMA}, {44, KEY_SLASH}, {45, KEY_N},
    {46, KEY_M}, {47, KEY_DOT}, {48, KEY_TAB}, {49, KEY_SPACE}, {50, KEY_GRAVE}, {51, KEY_BACKSPACE},
    {53, KEY_ESC}, {54, KEY_RIGHTCTRL}, {55, KEY_LEFTCTRL}, {56, KEY_LEFTSHIFT}, {57, KEY_CAPSLOCK},
    {58, KEY_LEFTALT}, {59, KEY_LEFTMETA}, {60, KEY_RIGHTSHIFT}, {61, KEY_RIGHTALT},
    {62, KEY_RIGHTMETA}, {64, KEY_F17}, {65, KEY_KPDOT}, {67, KEY_KPASTERISK}, {69, KEY_KPPLUS},
    {71, KEY_NUMLOCK}, {72, KEY_VOLUMEUP}, {73, KEY_VOLUMEDOWN}, {74, KEY_MUTE}, {75, KEY_KPSLASH},
    {76, KEY_KPENTER}, {78, KEY_KPMINUS}, {79, KEY_F18}, {80, KEY_F19}, {81, KEY_KPEQUAL},
    {82, KEY_KP0}, {83, KEY_KP1}, {84, KEY_KP2}, {85, KEY_KP3}, {86, KEY_KP4}, {87, KEY_KP5},
    {88, KEY_KP6}, {89, KEY_KP7}, {90, KEY_F20}, {91, KEY_KP8}, {92, KEY_KP9}, {96, KEY_F5},
    {97, KEY_F6}, {98, KEY_F7}, {99, KEY_F3}, {100, KEY_F8}, {101, KEY_F9}, {103, KEY_F11},
    {105, KEY_F13}, {106, KEY_F16}, {107, KEY_F14}, {109, KEY_F10}, {111, KEY_F12}, {113, KEY_F15},
    // The help key sits where PC keyboards have Insert.
    {114, KEY_INSERT}, {115, KEY_HOME}, {116, KEY_PAGEUP}, {117, KEY_DELETE}, {118, KEY_F4},
    {119, KEY_END}, {120, KEY_F2}, {121, KEY_PAGEDOWN}, {122, KEY_F1}, {123, KEY_LEFT},
    {124, KEY_RIGHT}, {125, KEY_DOWN}, {126, KEY_UP},
};

const std::unordered_map<int, int>& toEvdev() {
    static const std::unordered_map<int, int> map(std::begin(kVirtualToEvdev), std::end(kVirtualToEvdev));
    return map;
}

const std::unordered_map<int, int>& fromEvdev() {
    static const std::unordered_map<int, int> map = [] {
        std::unordered_map<int, int> m;
        for (auto [v, e] : kVirtualToEvdev)
            m.emplace(e, v);
        return m;
    }();
    return map;
}

// Qt keys as a U.S. layout produces them, shifted symbols included, so that Shift+1 ("!") still
// names the "1" key.
const std::unordered_map<int, int>& qtKeys() {
    static const std::unordered_map<int, int> map = [] {
        std::unordered_map<int, int> m{
            {Qt::Key_A, 0}, {Qt::Key_S, 1}, {Qt::Key_D, 2}, {Qt::Key_F, 3}, {Qt::Key_H, 4},
            {Qt::Key_G, 5}, {Qt::Key_Z, 6}, {Qt::Key_X, 7}, {Qt::Key_C, 8}, {Qt::Key_V, 9},
            {Qt::Key_B, 11}, {Qt::Key_Q, 12}, {Qt::Key_W, 13}, {Qt::Key_E, 14}, {Qt::Key_R, 15},
            {Qt::Key_Y, 16}, {Qt::Key_T, 17}, {Qt::Key_O, 31}, {Qt::Key_U, 32}, {Qt::Key_I, 34},
            {Qt::Key_P, 35}, {Qt::Key_L, 37}, {Qt::Key_J, 38}, {Qt::Key_K, 40}, {Qt::Key_N, 45},
            {Qt::Key_M, 46},
            {Qt::Key_1, 18}, {Qt::Key_Exclam, 18}, {Qt::Key_2, 19}, {Qt::Key_At, 19},
            {Qt::Key_3, 20}, {Qt::Key_NumberSign, 20}, {Qt::Key_4, 21}, {Qt::Key_Dollar, 21},
            {Qt::Key_6, 22}, {Qt::Key_AsciiCircum, 22}, {Qt::Key_5, 23}, {Qt::Key_Percent, 23},
            {Qt::Key_Equal, 24}, {Qt::Key_Plus, 24}, {Qt::Key_9, 25}, {Qt::Key_ParenLeft, 25},
            {Qt::Key_7, 26}, {Qt::Key_Ampersand, 26}, {Qt::Key_Minus, 27}, {Qt::Key_Underscore, 27},
            {Qt::Key_8, 28}, {Qt::Key_Asterisk, 28}, {Qt::Key_0, 29}, {Qt::Key_ParenRight, 29},
            {Qt::Key_BracketRight, 30}, {Qt::Key_BraceRight, 30}, {Qt::Key_BracketLeft, 33},
            {Qt::Key_BraceLeft, 33}, {Qt::Key_Return, 36}, {Qt::Key_Apostrophe, 39},
            {Qt::Key_QuoteDbl, 39}, {Qt::Key_Semicolon, 41}, {Qt::Key_Colon, 41},
            {Qt::Key_Backslash, 42}, {Qt::Key_Bar, 42}, {Qt::Key_Comma, 43}, {Qt::Key_Less, 43},
            {Qt::Key_Slash, 44}, {Qt::Key_Question, 44}, {Qt::Key_Period, 47}, {Qt::Key_Greater, 47},
            {Qt::Key_Tab, 48}, {Qt::Key_Backtab, 48}, {Qt::Key_Space, 49}, {Qt::Key_QuoteLeft, 50},
            {Qt::Key_AsciiTilde, 50}, {Qt::Key_Backspace, 51}, {Qt::Key_Escape, 53},
            {Qt::Key_Control, 55}, {Qt::Key_Shift, 56}, {Qt::Key_CapsLock, 57}, {Qt::Key_Alt, 58},
            {Qt::Key_Meta, 59}, {Qt::Key_Super_L, 59}, {Qt::Key_Super_R, 62},
            {Qt::Key_VolumeUp, 72}, {Qt::Key_VolumeDown, 73}, {Qt::Key_VolumeMute, 74},
            {Qt::Key_Enter, 76}, {Qt::Key_Insert, 114}, {Qt::Key_Help, 114}, {Qt::Key_Home, 115},
            {Qt::Key_PageUp, 116}, {Qt::Key_Delete, 117}, {Qt::Key_End, 119},
            {Qt::Key_PageDown, 121}, {Qt::Key_Left, 123}, {Qt::Key_Right, 124}, {Qt::Key_Down, 125},
            {Qt::Key_Up, 126}, {Qt::Key_NumLock, 71}, {Qt::Key_Clear, 71},
        };
        constexpr int fkeys[] = {122, 120, 99, 118, 96, 97, 98, 100, 101, 109,
                                 103, 111, 105, 107, 113, 106, 64, 79, 80, 90};
        for (int i = 0; i < 20; ++i)
            m.emplace(Qt::Key_F1 + i, fkeys[i]);
        return m;
    }();
    return map;
}

const std::unordered_map<int, int>& qtKeypadKeys() {
    static const std::unordered_map<int, int> map{
        {Qt::Key_0, 82}, {Qt::Key_1, 83}, {Qt::Key_2, 84}, {Qt::Key_3, 85}, {Qt::Key_4, 86},
        {Qt::Key_5, 87}, {Qt::Key_6, 88}, {Qt::Key_7, 89}, {Qt::Key_8, 91}, {Qt::Key_9, 92},
        {Qt::Key_Period, 65}, {Qt::Key_Comma, 65}, {Qt::Key_Asterisk, 67}, {Qt::Key_Plus, 69},
        {Qt::Key_Slash, 75}, {Qt::Key_Enter, 76}, {Qt::Key_Minus, 78}, {Qt::Key_Equal, 81},
        {Qt::Key_Clear, 71}, {Qt::Key_NumLock, 71},
    };
    return map;
}

std::optional<int> lookup(const std::unordered_map<int, int>& map, int key) {
    auto it = map.find(key);
    if (it == map.end())
        return std::nullopt;
    return it->second;
}

}  // namespace

std::optional<int> KeyCodeTable::evdevFromVirtual(int virtualKeyCode) { return lookup(toEvdev(), virtualKeyCode); }

std::optional<int> KeyCodeTable::virtualFromEvdev(int evdevCode) { return lookup(fromEvdev(), evdevCode); }

std::optional<int> KeyCodeTable::xKeycodeFromVirtual(int virtualKeyCode) {
    auto evdev = evdevFromVirtual(virtualKeyCode);
    if (!evdev || *evdev + 8 > 255)
        return std::nullopt;
    return *evdev + 8;
}

std::optional<int> KeyCodeTable::virtualFromXKeycode(int xKeycode) {
    if (xKeycode < 8)
        return std::nullopt;
    return virtualFromEvdev(xKeycode - 8);
}

std::optional<int> KeyCodeTable::virtualFromQtKey(int qtKey, bool keypad) {
    if (keypad)
        if (auto code = lookup(qtKeypadKeys(), qtKey))
            return code;
    return lookup(qtKeys(), qtKey);
}

std::optional<int> KeyCodeTable::virtualKeyCode(const QKeyEvent& event) {
    // Scan codes are X keycodes only on the xcb platform; elsewhere they mean something else.
    if (event.nativeScanCode() != 0 && QGuiApplication::platformName() == QLatin1String("xcb"))
        if (auto code = virtualFromXKeycode(static_cast<int>(event.nativeScanCode())))
            return code;
    return virtualFromQtKey(event.key(), event.modifiers().testFlag(Qt::KeypadModifier));
}

}  // namespace platform
