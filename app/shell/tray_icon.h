#pragma once

// The notification-area icon with its menu "Show Main Window" / "Exit". Where the desktop has
// no notification area every operation does nothing, and the main window minimises normally
// instead of hiding (it must never become unreachable).

#include <QObject>

#include <functional>

class QMenu;
class QSystemTrayIcon;

namespace quil::shell {

class TrayIcon : public QObject {
    Q_OBJECT

public:
    TrayIcon(std::function<void()> showMainWindow, std::function<void()> exit,
             QObject* parent = nullptr);
    ~TrayIcon() override;

    bool IsAvailable() const { return icon_ != nullptr; }
    bool IsHidden() const { return hidden_; }
    void Show();
    void Hide();
    void SetIcon(const QIcon& icon);
    // The entries of the menu, for tests and accessibility.
    QMenu* Menu() const { return menu_; }

private:
    QSystemTrayIcon* icon_ = nullptr;
    QMenu* menu_ = nullptr;
    bool hidden_ = true;
    std::function<void()> showMainWindow_;
};

}  // namespace quil::shell
