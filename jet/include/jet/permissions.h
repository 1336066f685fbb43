#pragma once

#include <string>

namespace tarnwick::jet {

// Refuses, with RewriteRefused saying why, to rewrite `path` when whoever runs us could not
// write it in place or its replacement could not keep its owner, group, mode, ACLs and
// extended attributes: a new file is its writer's, and only root can give it away. `doing`
// names the work for the message ("compacting"). The file is looked at without following a
// link or blocking.
void requireKeepable(const std::string& path, const std::string& doing);

} // namespace tarnwick::jet
