#pragma once

#include <string>

namespace vireo {

class ListManager;

// The database as JSON (UTF-8), keys in a fixed order. A name is its display
// text converted from GBK, followed by "name_hex" with the IRD's bytes when
// that text does not give them back (control bytes, invalid GBK).
std::string DatabaseJson(ListManager& database);

} // namespace vireo
