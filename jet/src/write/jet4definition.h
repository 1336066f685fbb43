#pragma once

#include "jet/tabledef.h"

namespace tarnwick::jet {

// A Jet 3 table definition in its Jet 4 form, for converting a file: the same columns (by
// number), indexes and long-value columns; text columns twice as long in bytes, allowing
// compressed Unicode and sorted General Legacy; fixed columns packed in number order, variable
// columns numbered anew (deleted columns leave no room in the new rows); system tables' binary
// columns as long as Jet 4 makes them. `raw` holds the new logical buffer, whose pointers the
// rebuild fills in as it would in a copied one.
TableDef jet4Definition(const TableDef& jet3);

} // namespace tarnwick::jet
