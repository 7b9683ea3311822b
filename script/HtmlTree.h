// A page as an HTML tree for reader files: libxml2's HTML parser, which reads the
// broken markup of real pages the way browsers mostly do, and its XPath engine.
//
// In Lua a tree is a value of its own; its nodes keep it alive. All text that comes
// out of a tree (node text, attributes, the HTML of a node) is UTF-8, whatever the
// page's own character set: the parser decodes the page by the set it declares.
//
//   tree:xpath(expr [, node])  list of nodes (or a string, number or boolean for an
//                              expression of that type); node gives the context
//   tree:first(expr [, node])  the first node, or nil
//   node:text()                the text of the node and all below it
//   node:attr(name)            an attribute's value, or nil
//   node:html()                the node's HTML, the node itself included
//   node:inner()               the HTML of what the node holds
//   node:name()                the element's name in lower case
//   node:xpath(expr), node:first(expr)   the same, relative to the node
#pragma once

#include <string_view>

struct lua_State;

// Registers the tree's and the node's metatables in the state. Once per state.
void OpenHtmlTree(lua_State* L);

// Parses html (its character set named by encoding, as found in the page) and pushes
// the tree. Never fails for a page: whatever the bytes, there is a tree.
void PushHtmlTree(lua_State* L, std::string_view html, std::string_view encoding);
