#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <future>
#include <utility>
#include <vector>

class QClipboard;

namespace platform {

// The system clipboard as the app fills it: clear, declare the types in order, then set each
// type's data. Only declared types that received data are offered to other applications, in the
// declared order, so a reader never picks a type that would hand it nothing.
class Pasteboard {
public:
    static constexpr const char* tiffType = "image/tiff";
    static constexpr const char* pngType = "image/png";
    static constexpr const char* fileURLType = "text/uri-list";

    using Promise = std::shared_future<QByteArray>;

    // The general (CLIPBOARD) pasteboard.
    static Pasteboard& general();

    explicit Pasteboard(QClipboard* clipboard);

    void clearContents();
    // Replaces the declared types; data set before is dropped.
    void declareTypes(const QStringList& types);
    // False when the type was not declared.
    bool setData(const QByteArray& data, const QString& type);
    bool setString(const QString& text, const QString& type);
    // Offers the type at once and runs make() on a worker thread, so slow encoding never holds up
    // the caller; a reader that asks before the data is ready waits for it. Data that comes out
    // empty withdraws the type. An invalid promise when the type was not declared.
    Promise setDataLater(const QString& type, std::function<QByteArray()> make);

    const QStringList& declaredTypes() const { return declared_; }

private:
    bool setPromise(Promise data, const QString& type);
    void publish();

    QClipboard* clipboard_;
    QStringList declared_;
    std::vector<std::pair<QString, Promise>> data_;
};

}  // namespace platform
