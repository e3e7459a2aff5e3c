#include "platform/input/KeyCodeTable.h"

#include "platform/input/KeyboardLayout.h"

#include <QGuiApplication>
#include <QKeyEvent>


#include <unordered_map>
#include <utility>

namespace platform {

namespace {

// Virtual key code, XKB key name. Command and control sit on Ctrl and Super, as the modifiers do.
constexpr std::pair<int, std::string_view> kVirtualToKeyName[] = {
    {0, "AC01"},  {1, "AC02"},  {2, "AC03"},  {3, "AC04"},  {4, "AC06"},  {5, "AC05"},  {6, "AB01"},
    {7, "AB02"},  {8, "AB03"},  {9, "AB04"},  {10, "LSGT"}, {11, "AB05"}, {12, "AD01"}, {13, "AD02"},
    {14, "AD03"}, {15, "AD04"}, {16, "AD06"}, {17, "AD05"}, {18, "AE01"}, {19, "AE02"}, {20, "AE03"},
    {21, "AE04"}, {22, "AE06"}, {23, "AE05"}, {24, "AE12"}, {25, "AE09"}, {26, "AE07"}, {27, "AE11"},
    {28, "AE08"}, {29, "AE10"}, {30, "AD12"}, {31, "AD09"}, {32, "AD07"}, {33, "AD11"}, {34, "AD08"},
    {35, "AD10"}, {36, "RTRN"}, {37, "AC09"}, {38, "AC07"}, {39, "AC11"}, {40, "AC08"}, {41, "AC10"},
    {42, "BKSL"}, {43, "AB08"}, {44, "AB10"}, {45, "AB06"}, {46, "AB07"}, {47, "AB09"}, {48, "TAB"},
    {49, "SPCE"}, {50, "TLDE"}, {51, "BKSP"}, {53, "ESC"},  {54, "RCTL"}, {55, "LCTL"}, {56, "LFSH"},
    {57, "CAPS"}, {58, "LALT"}, {59, "LWIN"}, {60, "RTSH"}, {61, "RALT"}, {62, "RWIN"}, {64, "FK17"},
    {65, "KPDL"}, {67, "KPMU"}, {69, "KPAD"}, {71, "NMLK"}, {72, "VOL+"}, {73, "VOL-"}, {74, "MUTE"},
    {75, "KPDV"}, {76, "KPEN"}, {78, "KPSU"}, {79, "FK18"}, {80, "FK19"}, {81, "KPEQ"}, {82, "KP0"},
    {83, "KP1"},  {84, "KP2"},  {85, "KP3"},  {86, "KP4"},  {87, "KP5"},  {88, "KP6"},  {89, "KP7"},
    {90, "FK20"}, {91, "KP8"},  {92, "KP9"},  {96, "FK05"}, {97, "FK06"}, {98, "FK07"}, {99, "FK03"},
    {100, "FK08"}, {101, "FK09"}, {103, "FK11"}, {105, "PRSC"}, {106, "FK16"}, {107, "FK14"},
    {109, "FK10"}, {111, "FK12"}, {113, "FK15"},
    // The help key sits where PC keyboards have Insert, F13 where they have Print.
    {114, "INS"}, {115, "HOME"}, {116, "PGUP"}, {117, "DELE"}, {118, "FK04"}, {119, "END"},
    {120, "FK02"}, {121, "PGDN"}, {122, "FK01"}, {123, "LEFT"}, {124, "RGHT"}, {125, "DOWN"},
    {126, "UP"},
};

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
            {Qt::Key_Up, 126}, {Qt::Key_NumLock, 71}, {Qt::Key_Clear, 71}, {Qt::Key_Print, 105},
            {Qt::Key_SysReq, 105},
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

std::optional<std::string_view> KeyCodeTable::keyName(int virtualKeyCode) {
    for (auto [v, name] : kVirtualToKeyName)
        if (v == virtualKeyCode)
            return name;
    return std::nullopt;
}

const std::vector<int>& KeyCodeTable::virtualKeyCodes() {
    static const std::vector<int> codes = [] {
        std::vector<int> v;
        for (auto [code, name] : kVirtualToKeyName)
            v.push_back(code);
        return v;
    }();
    return codes;
}

std::optional<int> KeyCodeTable::xKeycodeFromVirtual(int virtualKeyCode) {
    return KeyboardLayout::currentOrUS().keycode(virtualKeyCode);
}

std::optional<int> KeyCodeTable::virtualFromXKeycode(int xKeycode) {
    return KeyboardLayout::currentOrUS().virtualKeyCode(xKeycode);
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
