#pragma once

// Every string id the program shows, texts exactly as the product has them (misspellings
// included: users and translations know them by heart).

#include <QString>

namespace quil::shell {

// The text of a string id; empty for an id the table does not hold.
QString LoadString(int id);

}  // namespace quil::shell
