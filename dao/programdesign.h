#pragma once

#include <QString>

class TOvDaoDatabase;

namespace tarnwick::dao {

// The design values the program gives its database component: an exclusive, private engine of
// `version` ("3.5" or "12.0", else "3.6") with the Admin user, no login prompt and a 60 s query
// timeout. The window sets them while its description is read in, the runner's engine the same way;
// call it between BeginLoading and EndLoading. The workspace, set last but one, binds the engine.
void SetProgramDesign(TOvDaoDatabase& db, const QString& version);

} // namespace tarnwick::dao
