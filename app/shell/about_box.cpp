#include "app/shell/about_box.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/controls/skin.h"
#include "app/shell/services.h"

namespace quil::shell {

QString AboutBox::BuildNumber(const QString& programFolder) {
    QFile file(programFolder + "/update.ini");
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    // A build number is one short line; a huge or binary file yields nothing useful.
    const QByteArray line = file.readLine(256).trimmed();
    return QString::fromUtf8(line);
}

AboutBox::AboutBox(const QString& programFolder, const Services& services, QWidget* parent)
    : QDialog(parent) {
    setObjectName("aboutBox");
    setWindowTitle("About Quillet");
    auto* logo = new QLabel(this);
    logo->setPixmap(controls::GlyphIcon(controls::Glyph::Logo).pixmap(QSize(56, 56)));
    logo->setAccessibleName("Quillet");

    auto* caption = new QLabel("Quillet", this);
    QFont captionFont("Tahoma");
    captionFont.setPixelSize(14);
    captionFont.setWeight(QFont::DemiBold);
    caption->setFont(captionFont);
    caption->setObjectName("caption");

    auto* version = new QLabel("Quillet Version 3.0 ", this);
    version->setObjectName("version");
    auto* build = new QLabel("Build Number: " + BuildNumber(programFolder), this);
    build->setObjectName("buildNumber");

    auto link = [&](const QString& address, const QString& shown, const char* name) {
        auto* label = new QLabel(QStringLiteral("<a href=\"%1\">%2</a>").arg(address, shown), this);
        label->setObjectName(name);
        label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
        label->setAccessibleName(shown);
        Desktop* desktop = services.desktop;
        connect(label, &QLabel::linkActivated, this,
                [desktop](const QString& url) { desktop->Open(QUrl(url)); });
        return label;
    };
    auto* home = link(kHomePageAddress, kHomePageAddress, "homeLink");
    auto* mail = link(QStringLiteral("mailto:") + kSupportMail, kSupportMail, "mailLink");

    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("ok");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* texts = new QVBoxLayout;
    for (QWidget* widget : std::initializer_list<QWidget*>{caption, version, build, home, mail})
        texts->addWidget(widget);
    auto* top = new QHBoxLayout;
    top->addWidget(logo, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addLayout(texts, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 16);
    layout->addLayout(top);
    layout->addSpacing(12);
    layout->addLayout(buttons);
}

}  // namespace quil::shell
