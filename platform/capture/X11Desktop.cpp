#include "platform/capture/X11Desktop.h"

#include "platform/capture/X11Connection.h"
#include "platform/display/Screen.h"

#include <xcb/res.h>

#include <QFile>

#include <algorithm>
#include <cstdlib>
#include <unordered_map>

namespace platform {

namespace {

template <typename Reply>
struct Freed {
    Reply* r;
    explicit Freed(Reply* reply) : r(reply) {}
    ~Freed() { free(r); }
    Freed(const Freed&) = delete;
    Reply* operator->() const { return r; }
    explicit operator bool() const { return r != nullptr; }
};

QString processName(qint32 pid) {
    QFile f(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).trimmed();
}

}  // namespace

QRectF X11Desktop::Layout::toPoints(const QRect& native) const {
    const double s = scale > 0 ? scale : 1.0;
    return QRectF((native.x() - firstOrigin.x()) / s, (native.y() - firstOrigin.y()) / s, native.width() / s,
                  native.height() / s);
}

X11Desktop::Layout X11Desktop::currentLayout() {
    Layout layout;
    const auto screens = Screen::screens();
    if (!screens.empty()) {
        layout.firstOrigin = screens.front()->nativeGeometry().topLeft();
        layout.scale = screens.front()->backingScaleFactor();
    }
    return layout;
}

X11Desktop::X11Desktop(std::shared_ptr<X11Connection> connection) : x_(std::move(connection)) {}

std::vector<X11Desktop::TopLevel> X11Desktop::topLevels(bool withDetails) {
    xcb_connection_t* c = x_->get();
    const xcb_atom_t wmState = x_->atom("WM_STATE");

    Freed tree(xcb_query_tree_reply(c, xcb_query_tree(c, x_->root()), nullptr));
    if (!tree)
        return {};
    const int n = xcb_query_tree_children_length(tree.r);
    const xcb_window_t* children = xcb_query_tree_children(tree.r);

    std::vector<xcb_get_window_attributes_cookie_t> attrCookies(n);
    std::vector<xcb_get_geometry_cookie_t> geoCookies(n);
    std::vector<xcb_get_property_cookie_t> stateCookies(n);
    for (int i = 0; i < n; ++i) {
        attrCookies[i] = xcb_get_window_attributes(c, children[i]);
        geoCookies[i] = xcb_get_geometry(c, children[i]);
        stateCookies[i] = xcb_get_property(c, 0, children[i], wmState, XCB_ATOM_ANY, 0, 0);
    }

    std::vector<TopLevel> result;
    result.reserve(n);
    std::vector<bool> needsClient;
    for (int i = 0; i < n; ++i) {
        Freed attr(xcb_get_window_attributes_reply(c, attrCookies[i], nullptr));
        Freed geo(xcb_get_geometry_reply(c, geoCookies[i], nullptr));
        Freed state(xcb_get_property_reply(c, stateCookies[i], nullptr));
        if (!attr || !geo || attr->_class == XCB_WINDOW_CLASS_INPUT_ONLY)
            continue;
        TopLevel t;
        t.frame = t.client = children[i];
        t.geometry = QRect(geo->x, geo->y, geo->width + 2 * geo->border_width, geo->height + 2 * geo->border_width);
        t.depth = geo->depth;
        t.viewable = attr->map_state == XCB_MAP_STATE_VIEWABLE;
        result.push_back(t);
        needsClient.push_back(!(state && state->type != XCB_ATOM_NONE) && !attr->override_redirect && t.viewable);
    }

    // A reparenting window manager puts the application's window (the one with WM_STATE) inside
    // its frame, one or two levels down.
    for (size_t i = 0; i < result.size(); ++i) {
        if (!needsClient[i])
            continue;
        std::vector<xcb_window_t> level{result[i].frame};
        for (int depth = 0; depth < 2 && result[i].client == result[i].frame && !level.empty(); ++depth) {
            std::vector<xcb_window_t> next;
            for (xcb_window_t w : level) {
                Freed sub(xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr));
                if (!sub)
                    continue;
                const int m = xcb_query_tree_children_length(sub.r);
                const xcb_window_t* kids = xcb_query_tree_children(sub.r);
                std::vector<xcb_get_property_cookie_t> cookies(m);
                for (int k = 0; k < m; ++k)
                    cookies[k] = xcb_get_property(c, 0, kids[k], wmState, XCB_ATOM_ANY, 0, 0);
                for (int k = 0; k < m; ++k) {
                    Freed p(xcb_get_property_reply(c, cookies[k], nullptr));
                    if (p && p->type != XCB_ATOM_NONE && result[i].client == result[i].frame)
                        result[i].client = kids[k];
                    next.push_back(kids[k]);
                }
            }
            level = std::move(next);
        }
    }

    fillOwners(result);
    if (withDetails)
        fillDetails(result);
    return result;
}

std::optional<X11Desktop::TopLevel> X11Desktop::topLevel(quint32 window) {
    xcb_connection_t* c = x_->get();
    // Up to the root's child: a client sits at most two levels inside its window manager's frame.
    xcb_window_t frame = window;
    for (int depth = 0;; ++depth) {
        Freed tree(xcb_query_tree_reply(c, xcb_query_tree(c, frame), nullptr));
        if (!tree || depth > 2)
            return std::nullopt;
        if (tree->parent == x_->root() || tree->parent == XCB_WINDOW_NONE)
            break;
        frame = tree->parent;
    }
    if (frame == x_->root())
        return std::nullopt;
    auto attrCookie = xcb_get_window_attributes(c, frame);
    auto geoCookie = xcb_get_geometry(c, frame);
    auto stateCookie = xcb_get_property(c, 0, window, x_->atom("WM_STATE"), XCB_ATOM_ANY, 0, 0);
    Freed attr(xcb_get_window_attributes_reply(c, attrCookie, nullptr));
    Freed geo(xcb_get_geometry_reply(c, geoCookie, nullptr));
    Freed state(xcb_get_property_reply(c, stateCookie, nullptr));
    if (!attr || !geo || attr->_class == XCB_WINDOW_CLASS_INPUT_ONLY)
        return std::nullopt;
    // Inside a frame only the application's own window counts, not the frame's decorations.
    if (frame != window && !(state && state->type != XCB_ATOM_NONE))
        return std::nullopt;
    TopLevel t;
    t.frame = frame;
    t.client = window;
    t.geometry = QRect(geo->x, geo->y, geo->width + 2 * geo->border_width, geo->height + 2 * geo->border_width);
    t.depth = geo->depth;
    t.viewable = attr->map_state == XCB_MAP_STATE_VIEWABLE;
    return t;
}

void X11Desktop::fillOwners(std::vector<TopLevel>& windows) {
    // Asked afresh every time: the server hands a departed client's window ids to the next client.
    xcb_connection_t* c = x_->get();
    const xcb_atom_t netWmPid = x_->atom("_NET_WM_PID");
    std::vector<xcb_res_query_client_ids_cookie_t> resCookies(windows.size());
    std::vector<xcb_get_property_cookie_t> pidCookies(windows.size());
    for (size_t k = 0; k < windows.size(); ++k) {
        const xcb_window_t w = windows[k].client;
        if (x_->hasRes()) {
            xcb_res_client_id_spec_t spec{w, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
            resCookies[k] = xcb_res_query_client_ids(c, 1, &spec);
        }
        pidCookies[k] = xcb_get_property(c, 0, w, netWmPid, XCB_ATOM_CARDINAL, 0, 1);
    }
    for (size_t k = 0; k < windows.size(); ++k) {
        TopLevel& t = windows[k];
        // The server knows which local client made the window; the property is only a claim.
        if (x_->hasRes()) {
            Freed r(xcb_res_query_client_ids_reply(c, resCookies[k], nullptr));
            if (r) {
                for (auto it = xcb_res_query_client_ids_ids_iterator(r.r); it.rem; xcb_res_client_id_value_next(&it)) {
                    if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) &&
                        xcb_res_client_id_value_value_length(it.data) >= 1) {
                        t.pid = qint32(*xcb_res_client_id_value_value(it.data));
                        break;
                    }
                }
            }
        }
        Freed p(xcb_get_property_reply(c, pidCookies[k], nullptr));
        if (t.pid == 0 && p && p->type == XCB_ATOM_CARDINAL && p->format == 32 && xcb_get_property_value_length(p.r) >= 4)
            t.pid = qint32(*static_cast<const quint32*>(xcb_get_property_value(p.r)));
    }
}

void X11Desktop::fillDetails(std::vector<TopLevel>& windows) {
    xcb_connection_t* c = x_->get();
    const xcb_atom_t utf8 = x_->atom("UTF8_STRING");
    const xcb_atom_t netWmName = x_->atom("_NET_WM_NAME");
    const xcb_atom_t type = x_->atom("_NET_WM_WINDOW_TYPE");
    const xcb_atom_t state = x_->atom("_NET_WM_STATE");
    const xcb_atom_t typeDesktop = x_->atom("_NET_WM_WINDOW_TYPE_DESKTOP");
    const xcb_atom_t typeDock = x_->atom("_NET_WM_WINDOW_TYPE_DOCK");
    const xcb_atom_t typeNotification = x_->atom("_NET_WM_WINDOW_TYPE_NOTIFICATION");
    const xcb_atom_t typeMenus[] = {x_->atom("_NET_WM_WINDOW_TYPE_POPUP_MENU"),
                                    x_->atom("_NET_WM_WINDOW_TYPE_DROPDOWN_MENU"),
                                    x_->atom("_NET_WM_WINDOW_TYPE_TOOLTIP"), x_->atom("_NET_WM_WINDOW_TYPE_COMBO")};
    const xcb_atom_t typeUtility = x_->atom("_NET_WM_WINDOW_TYPE_UTILITY");
    const xcb_atom_t stateAbove = x_->atom("_NET_WM_STATE_ABOVE");

    struct Cookies {
        xcb_get_property_cookie_t netName, name, wmClass, type, state;
    };
    std::vector<Cookies> cookies(windows.size());
    for (size_t i = 0; i < windows.size(); ++i) {
        const xcb_window_t w = windows[i].client;
        cookies[i] = {xcb_get_property(c, 0, w, netWmName, utf8, 0, 1024),
                      xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 0, 1024),
                      xcb_get_property(c, 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256),
                      xcb_get_property(c, 0, w, type, XCB_ATOM_ATOM, 0, 32),
                      xcb_get_property(c, 0, w, state, XCB_ATOM_ATOM, 0, 32)};
    }
    auto text = [&](xcb_get_property_cookie_t cookie) -> std::optional<QString> {
        Freed r(xcb_get_property_reply(c, cookie, nullptr));
        if (!r || r->format != 8 || r->type == XCB_ATOM_NONE)
            return std::nullopt;
        const char* p = static_cast<const char*>(xcb_get_property_value(r.r));
        const int len = xcb_get_property_value_length(r.r);
        // Plain STRING is Latin-1; the other text types are UTF-8 in practice.
        return r->type == XCB_ATOM_STRING ? QString::fromLatin1(p, len) : QString::fromUtf8(p, len);
    };
    auto atoms = [&](xcb_get_property_cookie_t cookie) {
        Freed r(xcb_get_property_reply(c, cookie, nullptr));
        std::vector<xcb_atom_t> v;
        if (r && r->format == 32 && r->type == XCB_ATOM_ATOM) {
            const auto* p = static_cast<const xcb_atom_t*>(xcb_get_property_value(r.r));
            v.assign(p, p + xcb_get_property_value_length(r.r) / 4);
        }
        return v;
    };

    for (size_t i = 0; i < windows.size(); ++i) {
        TopLevel& t = windows[i];
        auto netName = text(cookies[i].netName);
        auto name = text(cookies[i].name);
        t.title = netName ? netName : name;
        if (auto cls = text(cookies[i].wmClass)) {
            // "instance\0class\0"
            const QStringList parts = cls->split(QChar(0), Qt::SkipEmptyParts);
            if (!parts.isEmpty())
                t.wmClass = parts.back();
        }
        const auto types = atoms(cookies[i].type);
        const auto states = atoms(cookies[i].state);
        auto has = [](const std::vector<xcb_atom_t>& v, xcb_atom_t a) { return std::find(v.begin(), v.end(), a) != v.end(); };
        t.layer = 0;
        if (has(types, typeDesktop)) {
            t.desktop = true;
            t.layer = desktopLayer;
        } else if (std::any_of(std::begin(typeMenus), std::end(typeMenus), [&](xcb_atom_t a) { return has(types, a); })) {
            t.layer = popUpLayer;
        } else if (has(types, typeNotification)) {
            t.layer = notificationLayer;
        } else if (has(types, typeDock)) {
            t.layer = dockLayer;
        } else if (has(types, typeUtility) || has(states, stateAbove)) {
            t.layer = floatingLayer;
        }
    }
}

std::vector<WindowListEntry> X11Desktop::windowList(const Layout& layout, bool onScreenOnly, bool excludeDesktopElements) {
    std::vector<TopLevel> all = topLevels(true);

    // The window manager's own stacking list names the windows it manages; without one, every
    // top-level window of the root counts.
    const std::vector<quint32> stacking =
        x_->cardinalProperty(x_->root(), x_->atom("_NET_CLIENT_LIST_STACKING"), XCB_ATOM_WINDOW);
    std::vector<const TopLevel*> ordered;
    if (!stacking.empty()) {
        std::unordered_map<quint32, const TopLevel*> byClient;
        for (const TopLevel& t : all)
            byClient[t.client] = &t;
        for (auto it = stacking.rbegin(); it != stacking.rend(); ++it)
            if (auto f = byClient.find(*it); f != byClient.end())
                ordered.push_back(f->second);
    } else {
        for (auto it = all.rbegin(); it != all.rend(); ++it)
            ordered.push_back(&*it);
    }

    std::unordered_map<qint32, QString> names;
    std::vector<WindowListEntry> entries;
    for (const TopLevel* t : ordered) {
        if (onScreenOnly && !t->viewable)
            continue;
        if (excludeDesktopElements && t->desktop)
            continue;
        WindowListEntry e;
        e.number = t->client;
        if (t->pid != 0) {
            e.ownerPID = t->pid;
            auto it = names.find(t->pid);
            if (it == names.end())
                it = names.emplace(t->pid, processName(t->pid)).first;
            if (!it->second.isEmpty())
                e.ownerName = it->second;
        }
        if (!e.ownerName && t->wmClass)
            e.ownerName = t->wmClass;
        e.bounds = layout.toPoints(t->geometry);
        e.layer = t->layer;
        e.name = t->title;
        e.isOnscreen = t->viewable;
        entries.push_back(std::move(e));
    }
    return entries;
}

}  // namespace platform
