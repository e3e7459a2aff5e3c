#pragma once

#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;

namespace zentola {

// "Save to": the folder's short name and a "Change..." button that asks for another folder.
class SaveLocationRow : public QWidget {
    Q_OBJECT
public:
    // folder reads the stored folder; request shows the picker and reports whether one was chosen.
    SaveLocationRow(std::function<QUrl()> folder, std::function<void(std::function<void(bool)>)> request,
                    QWidget* parent = nullptr);

    // "~/…" inside the home folder, else the folder's last component; "Not set" without a folder.
    static QString displayName(const std::optional<QUrl>& folder, const QString& homePath);

    QLabel* folderLabel() const { return label_; }
    QPushButton* changeButton() const { return button_; }

private:
    void selectFolder();
    void setFolder(const QUrl& url);

    std::function<QUrl()> folder_;
    std::function<void(std::function<void(bool)>)> request_;
    QLabel* label_;
    QPushButton* button_;
};

}  // namespace zentola
