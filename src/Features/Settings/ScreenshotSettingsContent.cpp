#include "Features/Settings/ScreenshotSettingsContent.h"

#include "Features/Settings/SaveLocationRow.h"
#include "Services/PersistenceManager.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

namespace zentola {
namespace {

constexpr double defaultQuality = 0.9;

}  // namespace

QString ScreenshotSettingsContent::qualityText(double quality) {
    if (!std::isfinite(quality))
        quality = defaultQuality;
    // A hair of slack so 0.7 (69.999… after scaling) reads 70, not 69.
    return QString::number(static_cast<long long>(quality * 100 + 1e-9)) + "%";
}

ScreenshotSettingsContent::ScreenshotSettingsContent(PersistenceManager& persistence, QWidget* parent)
    : SettingsPage(parent), persistence_(persistence) {
    using ImageFormat = PersistenceManager::ImageFormat;
    format_ = new QComboBox;
    for (ImageFormat f : ImageFormat::allCases())
        format_->addItem(f.rawValue(), int(f));
    format_->setCurrentIndex(format_->findData(int(persistence_.saveFormat())));
    format_->setSizeAdjustPolicy(QComboBox::AdjustToContents);

    const double stored = persistence_.jpegQuality();
    quality_ = new QSlider(Qt::Horizontal);
    quality_->setRange(1, 10);
    quality_->setSingleStep(1);
    quality_->setPageStep(1);
    quality_->setFixedWidth(150);
    quality_->setValue(std::isfinite(stored) ? int(std::lround(stored * 10)) : int(defaultQuality * 10));
    qualityLabel_ = new QLabel(qualityText(stored));
    qualityLabel_->setFixedWidth(40);
    qualityLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    qualityLabel_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    QGroupBox* format = addGroup(QStringLiteral("Format"), QStringLiteral("photo"));
    addRow(format, QStringLiteral("Format"), {format_});
    qualityRow_ = addRow(format, QStringLiteral("Quality"), {quality_, qualityLabel_});
    // addRow put a divider just before the quality row; it comes and goes with the row.
    auto* rows = static_cast<QVBoxLayout*>(format->layout());
    qualityDivider_ = rows->itemAt(rows->indexOf(qualityRow_) - 1)->widget();

    saveLocation_ = new SaveLocationRow([this] { return persistence_.screenshotFolderURL(); },
                                        [this](std::function<void(bool)> done) {
                                            persistence_.requestScreenshotFolderAccess(std::move(done));
                                        });
    addRow(addGroup(QStringLiteral("Save Location"), QStringLiteral("folder")), QStringLiteral("Save to"),
           {saveLocation_});
    showQualityRow();

    connect(format_, &QComboBox::currentIndexChanged, this, [this] {
        persistence_.setSaveFormat(ImageFormat::Value(format_->currentData().toInt()));
        showQualityRow();
    });
    connect(quality_, &QSlider::valueChanged, this, [this](int tenths) {
        const double quality = tenths / 10.0;
        persistence_.setJpegQuality(quality);
        qualityLabel_->setText(qualityText(quality));
    });
}

void ScreenshotSettingsContent::showQualityRow() {
    using ImageFormat = PersistenceManager::ImageFormat;
    const auto f = ImageFormat::Value(format_->currentData().toInt());
    const bool lossy = f == ImageFormat::jpeg || f == ImageFormat::webp || f == ImageFormat::heic;
    qualityRow_->setVisible(lossy);
    qualityDivider_->setVisible(lossy);
}

}  // namespace zentola
