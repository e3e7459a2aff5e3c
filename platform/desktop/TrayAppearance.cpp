#include "platform/desktop/TrayAppearance.h"

#include "platform/desktop/ApplicationX11.h"

#include <QGuiApplication>
#include <QHash>
#include <QRegion>
#include <QScreen>
#include <QWindow>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace platform {
namespace {

template <typename R>
std::unique_ptr<R, decltype(&std::free)> owned(R* reply) {
    return {reply, &std::free};
}

xcb_screen_t* defaultScreen(xcb_connection_t* c) {
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data;
}

// The server's pixels of a rectangle in the application's global coordinates: on a scaled desktop
// (Xft.dpi 192, QT_SCALE_FACTOR) each screen keeps its native top-left and scales from there.
QRect nativeRect(const QRect& logical) {
    const QScreen* screen = QGuiApplication::screenAt(logical.center());
    if (!screen)
        return logical;
    const qreal ratio = screen->devicePixelRatio();
    const QPointF origin = screen->geometry().topLeft();
    return QRectF(origin + (QPointF(logical.topLeft()) - origin) * ratio, QSizeF(logical.size()) * ratio)
        .toAlignedRect();
}

// The top-level window the server shows at the icon's centre.
xcb_window_t topLevelAt(xcb_connection_t* c, const QRect& logicalIcon) {
    const xcb_window_t root = defaultScreen(c)->root;
    const QPoint centre = nativeRect(logicalIcon).center();
    auto at = owned(xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, root, root, qint16(centre.x()), qint16(centre.y())), nullptr));
    return at ? at->child : XCB_NONE;
}

}  // namespace

bool TrayAppearance::panelHiddenByOwnWindow(const QRect& icon) {
    xcb_connection_t* c = x11::applicationConnection();
    if (!c || !icon.isValid())
        return false;
    const QRect native = nativeRect(icon);
    const QPoint centre = native.center();
    const xcb_window_t root = defaultScreen(c)->root;
    // Asked of the server: the flash and the veil let clicks through, so they are not what the
    // server finds under a point, and the icon's own window sits inside the tray.
    struct Asked {
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_geometry_cookie_t geometry;
        xcb_translate_coordinates_cookie_t corner;
    };
    std::vector<Asked> asked;
    for (QWindow* w : QGuiApplication::topLevelWindows()) {
        if (!w->handle() || !w->isVisible())
            continue;
        const auto id = xcb_window_t(w->winId());
        asked.push_back({xcb_get_window_attributes(c, id), xcb_get_geometry(c, id),
                         xcb_translate_coordinates(c, id, root, 0, 0)});
    }
    bool hidden = false;
    for (const Asked& a : asked) {
        auto attributes = owned(xcb_get_window_attributes_reply(c, a.attributes, nullptr));
        auto geometry = owned(xcb_get_geometry_reply(c, a.geometry, nullptr));
        auto corner = owned(xcb_translate_coordinates_reply(c, a.corner, nullptr));
        if (!attributes || !geometry || !corner || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
            continue;
        const QRect area(corner->dst_x, corner->dst_y, geometry->width, geometry->height);
        if (area.contains(centre) && !native.adjusted(-4, -4, 4, 4).contains(area))
            hidden = true;
    }
    return hidden;
}

std::optional<QColor> TrayAppearance::publishedForeground() {
    xcb_connection_t* c = x11::applicationConnection();
    if (!c)
        return std::nullopt;
    // The tray of the first screen: Qt puts its icons there.
    const xcb_atom_t selection = x11::atom(c, "_NET_SYSTEM_TRAY_S0", true);
    const xcb_atom_t colors = x11::atom(c, "_NET_SYSTEM_TRAY_COLORS", true);
    if (selection == XCB_ATOM_NONE || colors == XCB_ATOM_NONE)
        return std::nullopt;
    auto owner = owned(xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr));
    if (!owner || owner->owner == XCB_NONE)
        return std::nullopt;
    auto value = owned(xcb_get_property_reply(
        c, xcb_get_property(c, 0, owner->owner, colors, XCB_ATOM_CARDINAL, 0, 12), nullptr));
    if (!value || value->format != 32 || xcb_get_property_value_length(value.get()) < 12)
        return std::nullopt;
    // Foreground, error, warning and success, each as red, green and blue of 16 bits.
    const auto* rgb = static_cast<const quint32*>(xcb_get_property_value(value.get()));
    return QColor::fromRgba64(quint16(rgb[0]), quint16(rgb[1]), quint16(rgb[2]));
}

std::optional<QColor> TrayAppearance::panelBackground(const QRect& logicalIcon) {
    xcb_connection_t* c = x11::applicationConnection();
    if (!c || !logicalIcon.isValid())
        return std::nullopt;
    const QRect icon = nativeRect(logicalIcon);
    const xcb_screen_t* screen = defaultScreen(c);
    if (screen->root_depth != 24 && screen->root_depth != 32)
        return std::nullopt;
    const xcb_window_t root = screen->root;
    // The top-level window under the icon is the panel (or the tray) that holds it.
    const xcb_window_t holder = topLevelAt(c, logicalIcon);
    if (holder == XCB_NONE)
        return std::nullopt;
    auto geometry = owned(xcb_get_geometry_reply(c, xcb_get_geometry(c, holder), nullptr));
    if (!geometry)
        return std::nullopt;
    QRect panel(geometry->x + geometry->border_width, geometry->y + geometry->border_width, geometry->width,
                geometry->height);
    // Beside the icon only: a long panel's far end may look otherwise.
    panel &= icon.adjusted(-4 * icon.width(), -icon.height(), 4 * icon.width(), icon.height());
    panel &= QRect(0, 0, screen->width_in_pixels, screen->height_in_pixels);
    if (panel.isEmpty())
        return std::nullopt;
    auto image = owned(xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, qint16(panel.x()), qint16(panel.y()), quint16(panel.width()),
                      quint16(panel.height()), ~0u),
        nullptr));
    if (!image || xcb_get_image_data_length(image.get()) < panel.width() * panel.height() * 4)
        return std::nullopt;
    const auto* pixels = reinterpret_cast<const quint32*>(xcb_get_image_data(image.get()));
    // The commonest colour outside the icon; on a panel no wider than the icon, in it (a glyph
    // covers less than its square).
    const QRect beside = icon.adjusted(-2, -2, 2, 2);
    const bool roomBeside = !QRegion(panel).subtracted(beside).isEmpty();
    QHash<quint32, int> counts;
    quint32 best = 0;
    int bestCount = 0;
    for (int y = 0; y < panel.height(); ++y)
        for (int x = 0; x < panel.width(); ++x) {
            if (roomBeside && beside.contains(panel.x() + x, panel.y() + y))
                continue;
            const quint32 colour = pixels[y * panel.width() + x] & 0xFFFFFF;
            const int n = ++counts[colour];
            if (n > bestCount)
                best = colour, bestCount = n;
        }
    if (!bestCount)
        return std::nullopt;
    return QColor(QRgb(best));
}

std::optional<bool> TrayAppearance::wantsLightGlyph(const QRect& icon, std::optional<bool> current) {
    if (const auto foreground = publishedForeground())
        return foreground->lightness() >= 128;
    if (panelHiddenByOwnWindow(icon))
        return current;
    if (const auto background = panelBackground(icon))
        return background->lightness() < 128;
    return std::nullopt;
}

}  // namespace platform
