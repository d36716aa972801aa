#include "app/shell/home_page.h"

#include <QHBoxLayout>
#include <QTextBrowser>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/controls/skin.h"

// Resources of a static library are linked in only when asked for by name.
static void InitShellResources() {
    Q_INIT_RESOURCE(shell);
}

namespace quil::shell {

namespace {
constexpr int kHeaderHeight = 35;
}

const QUrl& HomePage::HomeUrl() {
    static const QUrl url("qrc:/home/index.html");
    return url;
}

HomePage::HomePage(PageHost& host, QWidget* parent) : Page(host, parent) {
    InitShellResources();
    setObjectName("homePage");
    auto* header = new QWidget(this);
    header->setFixedHeight(kHeaderHeight);
    auto* buttons = new QHBoxLayout(header);
    buttons->setContentsMargins(4, 4, 4, 4);
    browser_ = new QTextBrowser(this);
    browser_->setObjectName("homeBrowser");
    browser_->setAccessibleName("Home page");
    browser_->setOpenLinks(false);

    auto add = [&](controls::Glyph glyph, const QString& caption, auto action) {
        auto* button = new QToolButton(header);
        button->setObjectName(caption.toLower());
        button->setText(caption);
        button->setIcon(controls::GlyphIcon(glyph));
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setAccessibleName(caption);
        button->setAutoRaise(true);
        connect(button, &QToolButton::clicked, this, action);
        buttons->addWidget(button);
        return button;
    };
    auto* back = add(controls::Glyph::Back, "Back", [this] { browser_->backward(); });
    auto* forward = add(controls::Glyph::Forward, "Forward", [this] { browser_->forward(); });
    add(controls::Glyph::Refresh, "Refresh", [this] { browser_->reload(); });
    add(controls::Glyph::Home, "Home", [this] { browser_->setSource(HomeUrl()); });
    buttons->addStretch();
    back->setEnabled(false);
    forward->setEnabled(false);
    connect(browser_, &QTextBrowser::backwardAvailable, back, &QWidget::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward, &QWidget::setEnabled);

    // Our own pages open here; anything on the web goes to the user's browser.
    connect(browser_, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        if (url.scheme() == "qrc" || url.isRelative())
            browser_->setSource(browser_->source().resolved(url));
        else
            services().desktop->Open(url);
    });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(header);
    layout->addWidget(browser_, 1);
    browser_->setSource(HomeUrl());
}

}  // namespace quil::shell
