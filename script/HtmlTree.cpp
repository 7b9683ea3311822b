#include "script/HtmlTree.h"

#include <string>

#include <libxml/HTMLparser.h>
#include <libxml/HTMLtree.h>
#include <libxml/xpath.h>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

namespace {

constexpr const char* TreeMeta = "wayfolio.tree";
constexpr const char* NodeMeta = "wayfolio.node";

// Lua leaves a failing function by longjmp, past any C++ destructor; what libxml2
// handed out and a Lua call could strand is parked in the tree and freed by the next
// use or by the collector.
struct TTree {
    htmlDocPtr Doc;
    xmlXPathContextPtr Context;
    xmlXPathObjectPtr Result;
    xmlChar* Text;
    xmlBufferPtr Buffer;
};

struct TNode {
    xmlNodePtr Node;
};

void FreeParked(TTree& tree) {
    if (tree.Result) xmlXPathFreeObject(tree.Result);
    if (tree.Context) xmlXPathFreeContext(tree.Context);
    if (tree.Text) xmlFree(tree.Text);
    if (tree.Buffer) xmlBufferFree(tree.Buffer);
    tree.Result = nullptr;
    tree.Context = nullptr;
    tree.Text = nullptr;
    tree.Buffer = nullptr;
}

void Quiet(void* /*ctx*/, xmlErrorPtr /*error*/) {}

int TreeGc(lua_State* L) {
    auto* tree = static_cast<TTree*>(luaL_checkudata(L, 1, TreeMeta));
    FreeParked(*tree);
    if (tree->Doc) xmlFreeDoc(tree->Doc);
    tree->Doc = nullptr;
    return 0;
}

// The tree at index 1 and the context node: a node's own tree, or the optional node
// argument at nodeArg of a tree.
TTree& TreeAndContext(lua_State* L, xmlNodePtr& context, int& treeIndex) {
    if (auto* node = static_cast<TNode*>(luaL_testudata(L, 1, NodeMeta))) {
        context = node->Node;
        lua_getiuservalue(L, 1, 1);
        treeIndex = lua_gettop(L);
        return *static_cast<TTree*>(lua_touserdata(L, treeIndex));
    }
    auto* tree = static_cast<TTree*>(luaL_checkudata(L, 1, TreeMeta));
    treeIndex = 1;
    context = reinterpret_cast<xmlNodePtr>(tree->Doc);
    if (auto* node = static_cast<TNode*>(luaL_testudata(L, 3, NodeMeta))) context = node->Node;
    return *tree;
}

void PushNode(lua_State* L, int treeIndex, xmlNodePtr node) {
    auto* out = static_cast<TNode*>(lua_newuserdatauv(L, sizeof(TNode), 1));
    out->Node = node;
    luaL_setmetatable(L, NodeMeta);
    lua_pushvalue(L, treeIndex);
    lua_setiuservalue(L, -2, 1);
}

int Evaluate(lua_State* L, bool firstOnly) {
    xmlNodePtr context = nullptr;
    int treeIndex = 0;
    TTree& tree = TreeAndContext(L, context, treeIndex);
    const char* expr = luaL_checkstring(L, 2);
    FreeParked(tree);
    tree.Context = xmlXPathNewContext(tree.Doc);
    if (!tree.Context) return luaL_error(L, "not enough memory for an XPath query");
    tree.Context->error = &Quiet;
    tree.Context->node = context;
    tree.Result = xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(expr), tree.Context);
    if (!tree.Result) return luaL_error(L, "invalid XPath expression \"%s\"", expr);
    const xmlXPathObjectPtr result = tree.Result;
    switch (result->type) {
        case XPATH_NODESET: {
            const xmlNodeSetPtr set = result->nodesetval;
            const int count = set ? set->nodeNr : 0;
            if (firstOnly) {
                lua_pushnil(L);
                for (int i = 0; i < count; ++i) {
                    if (set->nodeTab[i]->type == XML_NAMESPACE_DECL) continue;
                    lua_pop(L, 1);
                    PushNode(L, treeIndex, set->nodeTab[i]);
                    break;
                }
            } else {
                lua_createtable(L, count, 0);
                int n = 0;
                for (int i = 0; i < count; ++i) {
                    if (set->nodeTab[i]->type == XML_NAMESPACE_DECL) continue;
                    PushNode(L, treeIndex, set->nodeTab[i]);
                    lua_rawseti(L, -2, ++n);
                }
            }
            break;
        }
        case XPATH_BOOLEAN:
            lua_pushboolean(L, result->boolval);
            break;
        case XPATH_NUMBER:
            lua_pushnumber(L, result->floatval);
            break;
        case XPATH_STRING:
            lua_pushstring(L, reinterpret_cast<const char*>(result->stringval));
            break;
        default:
            lua_pushnil(L);
            break;
    }
    FreeParked(tree);
    return 1;
}

int XPath(lua_State* L) { return Evaluate(L, false); }
int First(lua_State* L) { return Evaluate(L, true); }

TTree& NodeTree(lua_State* L, xmlNodePtr& node) {
    node = static_cast<TNode*>(luaL_checkudata(L, 1, NodeMeta))->Node;
    lua_getiuservalue(L, 1, 1);
    TTree& tree = *static_cast<TTree*>(lua_touserdata(L, -1));
    lua_pop(L, 1);  // the node keeps the tree alive meanwhile
    FreeParked(tree);
    return tree;
}

int NodeText(lua_State* L) {
    xmlNodePtr node = nullptr;
    TTree& tree = NodeTree(L, node);
    tree.Text = xmlNodeGetContent(node);
    lua_pushstring(L, tree.Text ? reinterpret_cast<const char*>(tree.Text) : "");
    FreeParked(tree);
    return 1;
}

int NodeAttr(lua_State* L) {
    xmlNodePtr node = nullptr;
    TTree& tree = NodeTree(L, node);
    const char* name = luaL_checkstring(L, 2);
    tree.Text = node->type == XML_ELEMENT_NODE
                    ? xmlGetProp(node, reinterpret_cast<const xmlChar*>(name))
                    : nullptr;
    if (tree.Text)
        lua_pushstring(L, reinterpret_cast<const char*>(tree.Text));
    else
        lua_pushnil(L);
    FreeParked(tree);
    return 1;
}

int NodeName(lua_State* L) {
    xmlNodePtr node = nullptr;
    NodeTree(L, node);
    lua_pushstring(L, node->name ? reinterpret_cast<const char*>(node->name) : "");
    return 1;
}

int DumpHtml(lua_State* L, bool inner) {
    xmlNodePtr node = nullptr;
    TTree& tree = NodeTree(L, node);
    tree.Buffer = xmlBufferCreate();
    if (!tree.Buffer) return luaL_error(L, "not enough memory for a node's HTML");
    if (inner) {
        for (xmlNodePtr child = node->children; child; child = child->next)
            htmlNodeDump(tree.Buffer, tree.Doc, child);
    } else {
        htmlNodeDump(tree.Buffer, tree.Doc, node);
    }
    lua_pushlstring(L, reinterpret_cast<const char*>(xmlBufferContent(tree.Buffer)),
                    static_cast<std::size_t>(xmlBufferLength(tree.Buffer)));
    FreeParked(tree);
    return 1;
}

int NodeHtml(lua_State* L) { return DumpHtml(L, false); }
int NodeInner(lua_State* L) { return DumpHtml(L, true); }

}  // namespace

void OpenHtmlTree(lua_State* L) {
    static const luaL_Reg treeMethods[] = {{"xpath", XPath}, {"first", First}, {nullptr, nullptr}};
    static const luaL_Reg nodeMethods[] = {{"xpath", XPath},     {"first", First},
                                           {"text", NodeText},   {"attr", NodeAttr},
                                           {"name", NodeName},   {"html", NodeHtml},
                                           {"inner", NodeInner}, {nullptr, nullptr}};
    luaL_newmetatable(L, TreeMeta);
    lua_pushcfunction(L, TreeGc);
    lua_setfield(L, -2, "__gc");
    luaL_newlib(L, treeMethods);
    lua_setfield(L, -2, "__index");
    lua_pop(L, 1);
    luaL_newmetatable(L, NodeMeta);
    luaL_newlib(L, nodeMethods);
    lua_setfield(L, -2, "__index");
    lua_pop(L, 1);
}

void PushHtmlTree(lua_State* L, std::string_view html, std::string_view encoding) {
    auto* tree = static_cast<TTree*>(lua_newuserdatauv(L, sizeof(TTree), 0));
    *tree = TTree{};
    luaL_setmetatable(L, TreeMeta);
    constexpr int options = HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                            HTML_PARSE_NONET;
    const int size = html.size() > 0x7fffffff ? 0x7fffffff : static_cast<int>(html.size());
    const std::string charset(encoding);
    if (size > 0) {
        tree->Doc = htmlReadMemory(html.data(), size, nullptr,
                                   charset.empty() ? nullptr : charset.c_str(), options);
        // A character set the library does not know: read as it guesses.
        if (!tree->Doc) tree->Doc = htmlReadMemory(html.data(), size, nullptr, nullptr, options);
    }
    if (!tree->Doc) tree->Doc = htmlNewDoc(nullptr, nullptr);
    if (!tree->Doc) luaL_error(L, "not enough memory for the page's tree");
}
