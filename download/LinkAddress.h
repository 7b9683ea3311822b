// Links as real pages write them: relative to the page or to its <base>, with "./"
// and "../", fragments, queries and blanks. The site readers' MakeAbsoluteUrl keeps
// the old sites' quirks; readers that serve any site resolve links as a browser
// does, and need one identifier per document whatever way a link names it.
//
// All routines take and give raw bytes: an address keeps the bytes the page wrote
// (no decoding, no re-encoding); it is encoded only when it is fetched.
#pragma once

#include <string>
#include <string_view>

// The parts of an absolute or relative address (RFC 3986, appendix B): each "Has"
// tells a present but empty part from a missing one.
struct TAddressParts {
    std::string Scheme, Authority, Path, Query, Fragment;
    bool HasScheme = false, HasAuthority = false, HasQuery = false, HasFragment = false;
};
TAddressParts SplitAddress(std::string_view address);

// Path with its "." and ".." segments resolved ("/a/b/../c/./d" gives "/a/c/d"); a
// ".." above the root stays at the root.
std::string RemoveDotSegments(std::string_view path);

// Href (blanks around it ignored) resolved against the absolute address Base, as a
// browser resolves a link, without its fragment. Empty when the result is no http or
// https address (mailto:, javascript:, a Base that is not absolute).
std::string ResolveLink(std::string_view base, std::string_view href);

// One name for one document of any site: host (lower case) with its port unless it
// is the scheme's default, the path with its dot segments resolved ("/" when empty)
// and the query; no scheme (http and https name the same document), no user, no
// fragment; escapes written with upper-case hex digits. "HTTP://Example.org:80/a/./b?x#y"
// gives "example.org/a/b?x". Empty for an address that is not http or https.
std::string AddressIdentifier(std::string_view address);

// The identifier of the folder an address lies in: its identifier up to and
// including the last "/" of the path ("example.org/guide/" for
// "http://example.org/guide/index.html?x"). Empty for an address that is not http or
// https. A document lies under a folder when its identifier begins with the folder's.
std::string AddressFolder(std::string_view address);
