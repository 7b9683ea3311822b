// The statement catalogue: every SQL text the program sends, by name. Other code
// names statements, it never writes SQL. Texts are sent as lines ending in CR LF.
//
// "%d" is a node identifier formatted in decimal by WithId; ":Name" is a parameter
// bound by name. No text value is ever spliced into a statement.
#pragma once

#include <string>
#include <string_view>

namespace Statements {

inline constexpr std::string_view ChildNodesQuery =
    "SELECT * FROM NODE N INNER JOIN MASTER_DETAIL MD ON N.NODE_ID=MD.DETAIL_ID "
    "WHERE MD.MASTER_ID=%d ORDER BY MD.ORDER_,N.TITLE\r\n";

// Which children of a node have children of their own, in one statement instead of
// one ChildNodesQuery per child: a child is listed when ChildNodesQuery for it would
// return a first row.
inline constexpr std::string_view ChildrenWithChildrenQuery =
    "SELECT C.DETAIL_ID FROM MASTER_DETAIL C INNER JOIN NODE CN ON CN.NODE_ID=C.DETAIL_ID "
    "WHERE C.MASTER_ID=%d AND EXISTS (SELECT 1 FROM MASTER_DETAIL G INNER JOIN NODE GN "
    "ON GN.NODE_ID=G.DETAIL_ID WHERE G.MASTER_ID=C.DETAIL_ID)\r\n";

inline constexpr std::string_view NodeByIdQuery = "SELECT * FROM NODE N WHERE N.NODE_ID=%d\r\n";

inline constexpr std::string_view NodeRowQuery = "SELECT * FROM NODE WHERE NODE_ID=%d\r\n";

// Guide type and kind are bound, so any guide type (quotes included) is safe.
inline constexpr std::string_view TemplateQuery =
    "SELECT * FROM TEMPLATE WHERE GUIDE_TYPE IN (:Guide,'DEFAULT') AND KIND=:Kind\r\n";

// The children of a node, for walking a branch. The walk skips the nodes it has
// already visited itself instead of sending their ids in a NOT IN list, so the
// statement stays the same size however large the branch grows.
inline constexpr std::string_view UnvisitedChildrenQuery =
    "SELECT * FROM NODE N INNER JOIN MASTER_DETAIL MD ON N.NODE_ID=MD.DETAIL_ID\r\n"
    "WHERE MD.MASTER_ID=%d\r\n";

inline constexpr std::string_view UpdateNodeContent =
    "UPDATE NODE SET TITLE=:Title,STAMP_UPDATED='NOW',BODY=:Body,HEAD=:Head,ENCODING=:Encoding\r\n"
    "WHERE NODE_ID=:NodeId\r\n";

inline constexpr std::string_view FindNodeByOrigId =
    "SELECT * FROM NODE WHERE ORIG_ID=:OrigId AND GUIDE_TYPE=:Guide\r\n";

inline constexpr std::string_view InsertNode =
    "INSERT INTO NODE(NODE_ID,TITLE,ORIG_URL,ORIG_ID,READ_CONTENT,GUIDE_TYPE) "
    "VALUES(GEN_ID(NODE_ID, 1), :Title,:OrigUrl,:OrigId,'Y',:Guide)\r\n";

inline constexpr std::string_view FindLink =
    "SELECT * FROM MASTER_DETAIL WHERE MASTER_ID=:MId AND DETAIL_ID=:DId\r\n";

inline constexpr std::string_view InsertLink =
    "INSERT INTO MASTER_DETAIL(MASTER_ID,DETAIL_ID,ORDER_) VALUES(:MId,:DId,:Order)\r\n";

inline constexpr std::string_view UpdateLinkOrder =
    "UPDATE MASTER_DETAIL SET ORDER_=:Order WHERE MASTER_ID=:MId AND DETAIL_ID=:DId\r\n";

// Whether a node still has its row (a document can be deleted while a run goes on).
inline constexpr std::string_view NodeExistsQuery =
    "SELECT NODE_ID FROM NODE WHERE NODE_ID=:NodeId\r\n";

// The highest order among a node's children (NULL, read as 0, when it has none): a
// new guide goes after the guides already there.
inline constexpr std::string_view LastChildOrderQuery =
    "SELECT MAX(ORDER_) AS LAST_ORDER FROM MASTER_DETAIL WHERE MASTER_ID=%d\r\n";

inline constexpr std::string_view DeleteNode = "DELETE FROM NODE N WHERE N.NODE_ID=%d\r\n";

// The search index's view of the documents. The update stamp is read as text with
// its fractions of a second, so that two updates within one second differ. The
// parent's character set goes with it: the title is read in that set (see below).
inline constexpr std::string_view NodeStampsQuery =
    "SELECT N.NODE_ID,CAST(N.STAMP_UPDATED AS VARCHAR(30)) AS STAMP,"
    "(SELECT FIRST 1 P.ENCODING FROM MASTER_DETAIL MD JOIN NODE P ON P.NODE_ID=MD.MASTER_ID "
    "WHERE MD.DETAIL_ID=N.NODE_ID ORDER BY MD.MASTER_ID) AS PARENT_ENCODING "
    "FROM NODE N\r\n";
// A title is the text of the link that led to the document, so it is in the character
// set of the page that link was on: PARENT_ENCODING is that page's (the parent of the
// lowest id, which the title most likely came from; empty for a top-level document).
inline constexpr std::string_view SearchNodesQuery =
    "SELECT N.NODE_ID,N.TITLE,N.BODY,N.ENCODING,CAST(N.STAMP_UPDATED AS VARCHAR(30)) AS STAMP,"
    "(SELECT FIRST 1 P.ENCODING FROM MASTER_DETAIL MD JOIN NODE P ON P.NODE_ID=MD.MASTER_ID "
    "WHERE MD.DETAIL_ID=N.NODE_ID ORDER BY MD.MASTER_ID) AS PARENT_ENCODING "
    "FROM NODE N\r\n";
inline constexpr std::string_view SearchNodeQuery =
    "SELECT N.NODE_ID,N.TITLE,N.BODY,N.ENCODING,CAST(N.STAMP_UPDATED AS VARCHAR(30)) AS STAMP,"
    "(SELECT FIRST 1 P.ENCODING FROM MASTER_DETAIL MD JOIN NODE P ON P.NODE_ID=MD.MASTER_ID "
    "WHERE MD.DETAIL_ID=N.NODE_ID ORDER BY MD.MASTER_ID) AS PARENT_ENCODING "
    "FROM NODE N WHERE N.NODE_ID=:NodeId\r\n";
// A summary that changes whenever a document is added, deleted or updated: the search
// index looks at every document's stamp only when it differs from the last one seen.
inline constexpr std::string_view NodeFingerprintQuery =
    "SELECT CAST(COUNT(*) AS VARCHAR(30)) AS N,CAST(SUM(NODE_ID) AS VARCHAR(30)) AS IDS,"
    "CAST(MAX(STAMP_UPDATED) AS VARCHAR(30)) AS LATEST,"
    "CAST(SUM(EXTRACT(MINUTE FROM STAMP_UPDATED)*60+EXTRACT(SECOND FROM STAMP_UPDATED)) "
    "AS VARCHAR(40)) AS SECONDS FROM NODE\r\n";
// When the database was created: tells a database from another one put in its place.
inline constexpr std::string_view DatabaseCreatedQuery =
    "SELECT CAST(MON$CREATION_DATE AS VARCHAR(30)) AS CREATED FROM MON$DATABASE\r\n";
// The parents of a node (any order), to find a path from the root to it.
inline constexpr std::string_view NodeParentsQuery =
    "SELECT MASTER_ID FROM MASTER_DETAIL WHERE DETAIL_ID=%d\r\n";

// Sizes in bytes of NODE's bounded text columns (db/schema.sql).
inline constexpr size_t TitleBytes = 1000;
inline constexpr size_t OrigUrlBytes = 2000;
inline constexpr size_t OrigIdBytes = 1000;
inline constexpr size_t EncodingBytes = 100;

// The statement text with its "%d" replaced by the node identifier in decimal.
inline std::string WithId(std::string_view text, int nodeId) {
    std::string s(text);
    const auto pos = s.find("%d");
    if (pos != std::string::npos) s.replace(pos, 2, std::to_string(nodeId));
    return s;
}

}  // namespace Statements
