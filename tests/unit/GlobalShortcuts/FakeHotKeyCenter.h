#pragma once

#include "platform/input/HotKeyCenter.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

// Records registrations and lets a test deliver hot-key events through the installed handler.
// Another program's combinations are the refused ones.
class FakeHotKeyCenter : public platform::HotKeyCenter {
public:
    struct Registration {
        quint32 keyCode;
        quint32 modifiers;
        platform::HotKeyIdentity identity;
    };

    bool hasDispatcherTarget() override { return true; }
    int registerHotKey(quint32 keyCode, quint32 modifiers, platform::HotKeyIdentity identity, HotKeyRef* out) override {
        attempts.push_back({keyCode, modifiers, identity});
        *out = refused.count({keyCode, modifiers}) ? 0 : next++;
        if (*out)
            live[*out] = attempts.back();
        return *out ? noErr : eventHotKeyExistsErr;
    }
    int unregisterHotKey(HotKeyRef ref) override { return live.erase(ref) ? noErr : paramErr; }
    int installHandler(Handler h, HandlerRef* out) override {
        handler = std::move(h);
        *out = ++installs;
        return noErr;
    }
    int removeHandler(HandlerRef) override {
        handler = nullptr;
        kinds.clear();
        return noErr;
    }
    int addEventTypes(HandlerRef, const std::vector<quint32>& k) override {
        kinds.insert(k.begin(), k.end());
        return noErr;
    }
    int removeEventTypes(HandlerRef, const std::vector<quint32>& k) override {
        std::erase_if(kinds, [&](quint32 kind) { return std::count(k.begin(), k.end(), kind) > 0; });
        return noErr;
    }
    std::optional<QVariantList> copySymbolicHotKeys() override { return symbolic; }
    bool isHotKeyTakenElsewhere(quint32 keyCode, quint32 modifiers) override { return refused.count({keyCode, modifiers}); }
    bool isSecureEventInputEnabled() override { return false; }

    // Presses or releases the live hot key of the combination, as the desktop would.
    int send(quint32 kind, quint32 keyCode, quint32 modifiers) {
        for (const auto& [ref, r] : live)
            if (r.keyCode == keyCode && r.modifiers == modifiers)
                return deliver(kind, r.identity);
        return -1;
    }
    int deliver(quint32 kind, platform::HotKeyIdentity identity) {
        platform::HotKeyEvent e;
        e.kind = kind;
        e.identity = identity;
        return handler && kinds.count(kind) ? handler(e) : -1;
    }
    bool isLive(quint32 keyCode, quint32 modifiers) const {
        return std::any_of(live.begin(), live.end(),
                           [&](const auto& e) { return e.second.keyCode == keyCode && e.second.modifiers == modifiers; });
    }

    std::vector<Registration> attempts;
    std::map<HotKeyRef, Registration> live;
    std::set<std::pair<quint32, quint32>> refused;
    std::set<quint32> kinds;
    std::optional<QVariantList> symbolic;
    Handler handler;
    int installs = 0;
    HotKeyRef next = 100;
};
