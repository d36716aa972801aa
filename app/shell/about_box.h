#pragma once

#include <QDialog>

namespace quil::shell {

struct Services;

// The about box: version, the maker's links, and the build number (the first line of
// "update.ini" next to the program; empty when it is missing or unreadable).
class AboutBox : public QDialog {
    Q_OBJECT

public:
    AboutBox(const QString& programFolder, const Services& services, QWidget* parent = nullptr);

    static QString BuildNumber(const QString& programFolder);
};

// Where the maker's pages are; the home page's links open in the user's browser.
inline constexpr const char* kHomePageAddress = "https://quillet.corvane.example/";
inline constexpr const char* kSupportMail = "support@corvane.example";

}  // namespace quil::shell
