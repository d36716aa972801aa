#pragma once

#include <memory>

#include "app/shell/page.h"

namespace quil::shell {

// The page of an index of the main window (0, 1, 2, 3, 5, 8, 10); an EmptyPage for an index
// whose page is not built.
std::unique_ptr<Page> CreatePage(int index, PageHost& host, QWidget* parent);

}  // namespace quil::shell
