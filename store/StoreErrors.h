#pragma once

// The errors that every engine and the connection and recordset over them raise alike, whatever
// the database.

#include "store/Database.h"

namespace vorelta {

RuntimeError ObjectClosed();
RuntimeError ObjectOpen();
// The row to remove is not there any more: another program deleted or changed it.
RuntimeError RowGone();
RuntimeError NoCurrentRecord();
// The user cancelled the statement, or the action it belonged to.
RuntimeError Cancelled();

}  // namespace vorelta
