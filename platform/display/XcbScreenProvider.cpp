#include "platform/display/XcbScreenProvider.h"

#include "platform/core/Log.h"

#include <QGuiApplication>
#include <QScreen>

#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

template <typename T>
struct FreeDeleter {
    void operator()(T* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter<T>>;

std::uint32_t internAtom(xcb_connection_t* c, const char* name) {
    Reply<xcb_intern_atom_reply_t> r(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(strlen(name)), name), nullptr));
    return r ? r->atom : static_cast<std::uint32_t>(XCB_ATOM_NONE);
}

}  // namespace

XcbScreenProvider::XcbScreenProvider() = default;

XcbScreenProvider::~XcbScreenProvider() {
    disconnect();
}

void XcbScreenProvider::disconnect() {
    if (conn_)
        xcb_disconnect(conn_);
    conn_ = nullptr;
    atomNames_.clear();
}

bool XcbScreenProvider::ensureConnection() {
    if (conn_ && !xcb_connection_has_error(conn_))
        return true;
    disconnect();
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    if (!c || xcb_connection_has_error(c)) {
        if (c)
            xcb_disconnect(c);
        return false;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem) {
        xcb_disconnect(c);
        return false;
    }
    conn_ = c;
    root_ = it.data->root;
    // Monitors need RandR 1.5, and the server answers by the version the client announces.
    Reply<xcb_randr_query_version_reply_t> v(
        xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
    hasMonitors_ = v && (v->major_version > 1 || (v->major_version == 1 && v->minor_version >= 5));
    workAreaAtom_ = internAtom(c, "_NET_WORKAREA");
    currentDesktopAtom_ = internAtom(c, "_NET_CURRENT_DESKTOP");
    return true;
}

QString XcbScreenProvider::atomName(std::uint32_t atom) {
    auto it = atomNames_.constFind(atom);
    if (it != atomNames_.cend())
        return *it;
    Reply<xcb_get_atom_name_reply_t> r(xcb_get_atom_name_reply(conn_, xcb_get_atom_name(conn_, atom), nullptr));
    QString name = r ? QString::fromUtf8(xcb_get_atom_name_name(r.get()), xcb_get_atom_name_name_length(r.get()))
                     : QString();
    atomNames_.insert(atom, name);
    return name;
}

QRect XcbScreenProvider::workArea() {
    if (workAreaAtom_ == XCB_ATOM_NONE)
        return {};
    // Ask for both properties before waiting for either answer.
    auto desktopCookie = xcb_get_property(conn_, 0, root_, currentDesktopAtom_, XCB_ATOM_CARDINAL, 0, 1);
    auto areaCookie = xcb_get_property(conn_, 0, root_, workAreaAtom_, XCB_ATOM_CARDINAL, 0, 4 * 64);
    Reply<xcb_get_property_reply_t> desktop(xcb_get_property_reply(conn_, desktopCookie, nullptr));
    Reply<xcb_get_property_reply_t> area(xcb_get_property_reply(conn_, areaCookie, nullptr));
    if (!area || area->format != 32)
        return {};
    const std::size_t count = static_cast<std::size_t>(xcb_get_property_value_length(area.get())) / 4;
    if (count < 4)
        return {};
    const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(area.get()));
    std::size_t index = 0;
    if (desktop && desktop->format == 32 && xcb_get_property_value_length(desktop.get()) >= 4)
        index = *static_cast<const std::uint32_t*>(xcb_get_property_value(desktop.get()));
    // Any client may write the desktop number; one past the list reads the first desktop's area.
    if (index >= count / 4)
        index = 0;
    const std::uint32_t* a = values + index * 4;
    return QRect(static_cast<int>(a[0]), static_cast<int>(a[1]), static_cast<int>(a[2]), static_cast<int>(a[3]));
}

double XcbScreenProvider::scaleFor(const QString& name, const QRect& native) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return 1.0;
    const auto all = QGuiApplication::screens();
    for (QScreen* s : all)
        if (s->name() == name)
            return s->devicePixelRatio();
    for (QScreen* s : all)
        if (s->geometry().topLeft() == native.topLeft())
            return s->devicePixelRatio();
    return 1.0;
}

std::vector<XcbScreenProvider::Monitor> XcbScreenProvider::readMonitors() {
    std::vector<Monitor> out;
    if (!ensureConnection())
        return out;
    if (!hasMonitors_) {
        // A server without monitors: the whole root window is one display.
        Reply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(conn_, xcb_get_geometry(conn_, root_), nullptr));
        if (!g)
            return out;
        Monitor m;
        m.nameAtom = root_;
        m.description.name = QStringLiteral("screen");
        m.description.nativeGeometry = QRect(0, 0, g->width, g->height);
        m.description.deviceDescription.insert(QStringLiteral("NSScreenNumber"), QVariant::fromValue<quint32>(root_));
        m.description.primary = true;
        out.push_back(std::move(m));
    } else {
        auto monitorsCookie = xcb_randr_get_monitors(conn_, root_, 1);
        auto primaryCookie = xcb_randr_get_output_primary(conn_, root_);
        Reply<xcb_randr_get_monitors_reply_t> monitors(xcb_randr_get_monitors_reply(conn_, monitorsCookie, nullptr));
        Reply<xcb_randr_get_output_primary_reply_t> primary(
            xcb_randr_get_output_primary_reply(conn_, primaryCookie, nullptr));
        if (!monitors)
            return out;
        const xcb_randr_output_t primaryOutput = primary ? primary->output : XCB_NONE;
        int flagged = -1, byOutput = -1;
        for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors.get()); it.rem;
             xcb_randr_monitor_info_next(&it)) {
            const xcb_randr_monitor_info_t* info = it.data;
            const int nOutputs = xcb_randr_monitor_info_outputs_length(info);
            const xcb_randr_output_t* outputs = xcb_randr_monitor_info_outputs(info);
            Monitor m;
            m.nameAtom = info->name;
            m.description.name = atomName(info->name);
            m.description.nativeGeometry = QRect(info->x, info->y, info->width, info->height);
            // A monitor made without an output has no output id; its name atom is as stable.
            const quint32 number = nOutputs > 0 ? outputs[0] : info->name;
            m.description.deviceDescription.insert(QStringLiteral("NSScreenNumber"), QVariant::fromValue<quint32>(number));
            if (info->primary && flagged < 0)
                flagged = static_cast<int>(out.size());
            for (int i = 0; i < nOutputs && primaryOutput != XCB_NONE; ++i)
                if (outputs[i] == primaryOutput && byOutput < 0)
                    byOutput = static_cast<int>(out.size());
            out.push_back(std::move(m));
        }
        const int first = flagged >= 0 ? flagged : (byOutput >= 0 ? byOutput : 0);
        if (first > 0 && first < static_cast<int>(out.size()))
            std::rotate(out.begin(), out.begin() + first, out.begin() + first + 1);
        if (!out.empty())
            out.front().description.primary = true;
    }
    const QRect work = workArea();
    for (Monitor& m : out) {
        m.description.nativeWorkArea = work.isEmpty() ? m.description.nativeGeometry : work;
        m.description.scaleFactor = scaleFor(m.description.name, m.description.nativeGeometry);
    }
    return out;
}

std::vector<ScreenRef> XcbScreenProvider::screens() {
    const std::vector<Monitor> monitors = readMonitors();
    std::vector<Screen::Description> descriptions;
    descriptions.reserve(monitors.size());
    for (const Monitor& m : monitors)
        descriptions.push_back(m.description);
    const auto frames = Screen::framesFor(descriptions);

    QHash<std::uint32_t, std::shared_ptr<Screen>> next;
    std::vector<ScreenRef> out;
    out.reserve(monitors.size());
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        std::shared_ptr<Screen> s = cache_.value(monitors[i].nameAtom);
        if (s)
            s->update(descriptions[i], frames[i].first, frames[i].second);
        else
            s = std::make_shared<Screen>(descriptions[i], frames[i].first, frames[i].second);
        next.insert(monitors[i].nameAtom, s);
        out.push_back(s);
    }
    cache_ = std::move(next);
    return out;
}

QPointF XcbScreenProvider::mouseLocation() {
    if (!ensureConnection())
        return {};
    // The layout may have changed since the last list; the pointer is read against the current one.
    const std::vector<ScreenRef> list = screens();
    Reply<xcb_query_pointer_reply_t> r(xcb_query_pointer_reply(conn_, xcb_query_pointer(conn_, root_), nullptr));
    if (!r)
        return {};
    return Screen::pointFromNative(QPointF(r->root_x, r->root_y), list);
}

}  // namespace platform
