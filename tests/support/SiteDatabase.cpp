#include "tests/support/SiteDatabase.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "tests/support/TempDatabase.h"

std::string PrepareSiteDatabase(TTempDatabase& db, const std::string& topUrl,
                                const std::string& login) {
    db.RunIsql(
        "INSERT INTO NODE (NODE_ID, TITLE, ORIG_URL, ORIG_ID, GUIDE_TYPE) VALUES (1, 'Top', '" +
        topUrl +
        "', 'destinationguide', 'EZTRIP');\n"
        "INSERT INTO MASTER_DETAIL VALUES (0, 1, 1);\n"
        "ALTER SEQUENCE NODE_ID RESTART WITH 10;");
    EXPECT_EQ(std::system(("gfix -write async '" + db.Path() + "' " + db.ToolLogin()).c_str()), 0);
    const std::string ini = db.Folder() + "/wayfolio.ini";
    std::ofstream(ini) << "[Interbase]\r\nDatabaseName=" << db.Path() << "\r\n"
                       << (login.empty() ? db.IniLogin() : login);
    return ini;
}
