#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

struct xkb_keymap;
struct xcb_connection_t;

namespace platform {

// A keymap: which X key code each key position has on a server, and what a key types, read from
// the first group of the keymap that types the Latin letters, so letters stay Latin while a
// non-Latin layout is active.
class KeyboardLayout {
public:
    struct KeyText {
        // The key's unshifted character; a dead key gives its accent as a character of its own.
        QString character;
        // How the key is named in capitals: the layout's own Shift when that gives the upper case
        // of the letter (Turkish ı and i stay apart as I and İ), else the character's single upper
        // case when it is of the same script, so ß stays ß and µ stays µ.
        QString capital;
    };

    // The key on the keymap the X server uses now, or none when it types nothing printable. A
    // keymap without a Latin group, or no display at all, reads as the U.S. layout.
    static std::optional<KeyText> translate(int virtualKeyCode);

    // A keymap built from layout names, such as "ru,us", with evdev key codes (tests and a fallback).
    static KeyboardLayout fromNames(const QString& layouts, const QString& variants = {});
    // The keymap of the server a connection talks to; the connection must have the XKB extension
    // in use. None when the server gives none.
    static std::optional<KeyboardLayout> fromConnection(xcb_connection_t* connection);
    // The keymap of the X server the application uses, as it is now: kept until the server reports
    // a new keyboard or a changed map. None without a display.
    static std::optional<KeyboardLayout> current();
    // The current keymap, or the U.S. one without a display.
    static KeyboardLayout currentOrUS();
    // Puts a fixed layout in place of the current one (tests); none restores the current one.
    static void setCurrentForTesting(std::optional<KeyboardLayout> layout);

    std::optional<KeyText> translateKey(int virtualKeyCode) const;
    // The X key code of the key with this virtual code, and back; none for keys the keymap lacks.
    std::optional<int> keycode(int virtualKeyCode) const;
    std::optional<int> virtualKeyCode(int xKeycode) const;
    bool isValid() const { return data_ != nullptr; }
    // The index of the first group in which keys type every letter from a to z, or none.
    std::optional<int> asciiCapableGroup() const;

private:
    struct Data;
    explicit KeyboardLayout(xkb_keymap* keymap);
    std::optional<QString> character(int xKeycode, int group, int level) const;
    std::shared_ptr<const Data> data_;
};

// Tells, on the main thread, that the X server's keymap changed (another layout, other key codes),
// so that texts naming keys can be written again.
class KeyboardLayoutChanges : public QObject {
    Q_OBJECT
public:
    // Made on the main thread at first use; it watches the server from then on.
    static KeyboardLayoutChanges& instance();

signals:
    void changed();

private:
    KeyboardLayoutChanges();
};

}  // namespace platform
