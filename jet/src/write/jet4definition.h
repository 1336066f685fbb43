#pragma once

#include "jet/tabledef.h"

#include <string>

namespace tarnwick::jet {

// A Jet 3 table definition in its Jet 4 form, for converting a file: the same columns (by
// number), indexes and long-value columns; text columns twice as long in bytes, sorted General
// Legacy and, in user tables, allowing compressed Unicode; fixed columns packed in number order,
// variable columns numbered anew (deleted columns leave no room in the new rows); system tables
// as Jet 4 shapes them (variable binary columns twice as long, text never compressed, MSysQueries
// with its LvExtra column, null in every row). `raw` holds the new logical buffer, whose pointers
// the rebuild fills in as it would in a copied one.
TableDef jet4Definition(const TableDef& jet3, const std::string& name);

} // namespace tarnwick::jet
