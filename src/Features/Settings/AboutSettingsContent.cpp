#include "Features/Settings/AboutSettingsContent.h"

#include "Features/Settings/TermsSheetView.h"
#include "resources/Bundle.h"
#include "resources/Symbol.h"

#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace zentola {
namespace {

QLabel* centred(const QString& text) {
    auto* label = new QLabel(text);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

QFont scaled(QFont font, double factor, bool bold) {
    font.setPointSizeF(font.pointSizeF() * factor);
    font.setBold(bold);
    return font;
}

}  // namespace

QString AboutSettingsContent::appVersion(const std::optional<QString>& shortVersion, const std::optional<QString>& build) {
    return shortVersion.value_or(QStringLiteral("1.0")) + " (" + build.value_or(QStringLiteral("1")) + ")";
}

AboutSettingsContent::AboutSettingsContent(QWidget* parent) : QScrollArea(parent) {
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setSpacing(24);
    column->setContentsMargins(12, 12, 12, 12);

    auto* header = new QVBoxLayout;
    header->setSpacing(12);
    header->setContentsMargins(0, 20, 0, 0);
    if (const auto icon = Bundle::imagePath(QStringLiteral("AppIcon"))) {
        auto* image = centred(QString());
        image->setPixmap(QIcon(*icon).pixmap(96, 96));
        header->addWidget(image);
    }
    auto* name = centred(QStringLiteral("Zentola"));
    name->setFont(scaled(name->font(), 1.6, true));
    header->addWidget(name);
    version_ = centred("Version " + appVersion(Bundle::infoValue(QStringLiteral("CFBundleShortVersionString")),
                                               Bundle::infoValue(QStringLiteral("CFBundleVersion"))));
    version_->setForegroundRole(QPalette::PlaceholderText);
    header->addWidget(version_);
    column->addLayout(header);

    auto* tagline = centred(QStringLiteral("Fast, minimal screen capture."));
    tagline->setFont(scaled(tagline->font(), 1.0, true));
    tagline->setForegroundRole(QPalette::PlaceholderText);
    column->addWidget(tagline);

    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);  // the theme's etched line, as the other pages have; a plain one is black
    line->setContentsMargins(40, 0, 40, 0);
    column->addWidget(line);

    auto* legal = new QVBoxLayout;
    legal->setSpacing(8);
    legal->addWidget(centred(QStringLiteral("\u00A9 2026 Zentola")));
    auto* rights = centred(QStringLiteral("All rights reserved."));
    rights->setFont(scaled(rights->font(), 0.85, false));
    rights->setForegroundRole(QPalette::PlaceholderText);
    legal->addWidget(rights);
    column->addLayout(legal);

    terms_ = new QPushButton(Symbol::icon(QStringLiteral("doc.text"), palette().color(QPalette::Link)),
                             QStringLiteral("Terms of Use"));
    terms_->setFlat(true);
    terms_->setCursor(Qt::PointingHandCursor);
    // A link: its words in the link colour, as its symbol is.
    QPalette link = terms_->palette();
    link.setColor(QPalette::ButtonText, link.color(QPalette::Link));
    terms_->setPalette(link);
    column->addWidget(terms_, 0, Qt::AlignHCenter);
    column->addStretch(1);
    setWidget(content);

    connect(terms_, &QPushButton::clicked, this, &AboutSettingsContent::showTerms);
}

void AboutSettingsContent::showTerms() {
    if (sheet_)
        return;
    sheet_ = new TermsSheetView(window());
    sheet_->setAttribute(Qt::WA_DeleteOnClose);
    sheet_->setWindowModality(Qt::WindowModal);
    sheet_->show();
}

}  // namespace zentola
