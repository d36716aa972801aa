#include "app/shell/tray_icon.h"

#include <QMenu>
#include <QSystemTrayIcon>

#include "app/controls/skin.h"
#include "app/shell/string_table.h"

namespace quil::shell {

TrayIcon::TrayIcon(std::function<void()> showMainWindow, std::function<void()> exit,
                   QObject* parent)
    : QObject(parent), showMainWindow_(std::move(showMainWindow)) {
    menu_ = new QMenu();
    QAction* show = menu_->addAction("Show Main Window", [this] { showMainWindow_(); });
    menu_->setDefaultAction(show);
    menu_->addAction("Exit", std::move(exit));
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    icon_ = new QSystemTrayIcon(controls::GlyphIcon(controls::Glyph::Logo), this);
    icon_->setToolTip(LoadString(57344));
    icon_->setContextMenu(menu_);
    connect(icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason why) {
                if (why == QSystemTrayIcon::DoubleClick || why == QSystemTrayIcon::Trigger)
                    showMainWindow_();
            });
}

TrayIcon::~TrayIcon() {
    delete menu_;
}

void TrayIcon::Show() {
    if (!icon_ || !hidden_) return;
    icon_->show();
    hidden_ = false;
}

void TrayIcon::Hide() {
    if (!icon_ || hidden_) return;
    icon_->hide();
    hidden_ = true;
}

void TrayIcon::SetIcon(const QIcon& icon) {
    if (icon_) icon_->setIcon(icon);
}

}  // namespace quil::shell
