#pragma once

// A desktop notification for what happened while nobody looked: a long activity that ended on
// its own (a file list, a rip, a recording cut short) or a scheduled start. It is sent only while
// the program's window is not the active one; at the window the user sees it anyway.

#include <QString>

class QWidget;

namespace quil::shell {

struct Services;

// `widget`: any widget of the program's window (a page), or null when there is none.
void NotifyUnseen(const QWidget* widget, const Services& services, const QString& summary,
                  const QString& body);

// "1 file", "3 files": a count with its noun.
QString CountText(int count, const QString& one, const QString& many);

}  // namespace quil::shell
