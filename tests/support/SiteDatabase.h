// A database for runs over a generated site, as the shared-use tests set it up.
#pragma once

#include <string>

class TTempDatabase;

// Stores the site's top page (TopUrl) as the database's one top-level document, node
// 1, with new nodes numbered from 10; switches forced writes off (these tests are
// about sharing, not durability); and writes a configuration file naming the
// database, with Login as its login lines (the database's own when empty). Returns
// the configuration file's path.
std::string PrepareSiteDatabase(TTempDatabase& db, const std::string& topUrl,
                                const std::string& login = "");
