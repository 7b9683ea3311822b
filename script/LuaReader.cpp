#include "script/LuaReader.h"

#include <climits>
#include <string_view>

#include "script/HtmlTree.h"
#include "script/ReaderApi.h"
#include "text/SafeText.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

namespace {

// Runs in the sandbox before the file, as trusted code of ours. reader{} checks a
// declaration where it is made, so that a mistake is reported at the file's own
// line; tables of XPath expressions become the functions they stand for; run_page
// reads one page in one call, so one instruction budget covers the whole page.
constexpr std::string_view Prelude = R"lua(
local declared, order = {}, {}

local function xpath_content(decl)
  for key, value in pairs(decl) do
    if (key ~= "body" and key ~= "title") or type(value) ~= "string" then
      error("reader: content takes body and title as XPath expressions", 4)
    end
  end
  return function(page)
    local tree, body, title = page:tree(), "", ""
    if decl.body then
      local node = tree:first(decl.body)
      if node then body = node:inner() end
    end
    if decl.title then
      local node = tree:first(decl.title)
      if node then title = TrimBlanks(node:text()) end
    end
    return TrimBlanks(body), title, "", "utf-8"
  end
end

local function xpath_links(decl)
  if type(decl.xpath) ~= "string" then
    error("reader: links takes an xpath expression for the links", 4)
  end
  local pass = decl.pass or "own"
  if pass ~= "own" and pass ~= "parent" then
    error("reader: links pass is \"own\" or \"parent\"", 4)
  end
  local own = pass == "own"
  return function(page, first)
    if first ~= own then return end
    local order = 0
    for _, anchor in ipairs(page:tree():xpath(decl.xpath)) do
      local href = anchor:attr("href")
      local text = TrimBlanks(anchor:text())
      if href and TrimBlanks(href) ~= "" and text ~= "" then
        order = order + 1
        page:link(text, href, order)
      end
    end
  end
end

local function callable(value, what, convert)
  if type(value) == "table" and convert then
    local made = convert(value) -- not a tail call: errors name the file's line
    return made
  end
  if value ~= nil and type(value) ~= "function" then
    error("reader: " .. what .. " must be a function", 3)
  end
  return value
end

function reader(decl)
  if type(decl) ~= "table" then error("reader takes a table", 2) end
  local types = decl.guide_types or { decl.guide_type }
  if type(types) ~= "table" or #types == 0 then
    error("reader: guide_type is missing", 2)
  end
  if decl.description ~= nil and type(decl.description) ~= "string" then
    error("reader: description must be text", 2)
  end
  if decl.charset ~= nil and (type(decl.charset) ~= "string" or decl.charset == "") then
    error("reader: charset must be the name of a character set", 2)
  end
  local r = {
    description = decl.description or "",
    charset = decl.charset or "utf-8",
    recognise = callable(decl.recognise, "recognise"),
    content = callable(decl.content, "content", xpath_content),
    links = callable(decl.links, "links", xpath_links),
  }
  for _, t in ipairs(types) do
    if type(t) ~= "string" or #t == 0 or #t > 20 then
      error("reader: a guide type is text of 1 to 20 characters", 2)
    end
    if declared[t] then error("reader: guide type " .. t .. " is declared twice", 2) end
    declared[t] = r
    order[#order + 1] = t
  end
end

local function run_page(r, page)
  local known = true
  if r.recognise then known = r.recognise(page) and true or false end
  local body, title, head, encoding
  if r.content then body, title, head, encoding = r.content(page) end
  if r.links then
    page.first = true
    r.links(page, true)
    page.first = false
    r.links(page, false)
  end
  return known, body, title, head, encoding
end

return declared, order, run_page
)lua";

constexpr const char* PageMeta = "wayfolio.page";

// Leaves the declarations, their order and run_page on the stack.
void LoadReaderFile(TLuaSandbox& sandbox, const std::string& file) {
    lua_State* L = sandbox.State();
    OpenReaderApi(L);
    OpenHtmlTree(L);
    if (luaL_loadbufferx(L, Prelude.data(), Prelude.size(), "=prelude", "t") != LUA_OK)
        throw EReaderError(std::string("prelude: ") + lua_tostring(L, -1));
    sandbox.Call(0, 3);
    sandbox.RunFile(file);
}

int PageTree(lua_State* L) {
    luaL_checktype(L, 1, LUA_TTABLE);
    if (lua_getfield(L, 1, "__tree") != LUA_TNIL) return 1;
    lua_pop(L, 1);
    lua_getfield(L, 1, "html");
    std::size_t size = 0;
    const char* html = lua_tolstring(L, -1, &size);
    if (!html) return luaL_error(L, "the page has no html");
    std::size_t charsetSize = 0;
    const char* charset = lua_tolstring(L, lua_upvalueindex(1), &charsetSize);
    const std::string encoding =
        FindCharset(std::string_view(html, size), std::string_view(charset, charsetSize));
    PushHtmlTree(L, std::string_view(html, size), encoding);
    lua_pushvalue(L, -1);
    lua_setfield(L, 1, "__tree");
    return 1;
}

int PageLink(lua_State* L) {
    auto* page = static_cast<TLuaReader::TPage*>(lua_touserdata(L, lua_upvalueindex(1)));
    luaL_checktype(L, 1, LUA_TTABLE);
    std::size_t titleSize = 0, hrefSize = 0, origIdSize = 0;
    const char* title = luaL_checklstring(L, 2, &titleSize);
    const char* href = luaL_checklstring(L, 3, &hrefSize);
    const lua_Integer order = luaL_checkinteger(L, 4);
    const char* origId = luaL_optlstring(L, 5, nullptr, &origIdSize);
    luaL_argcheck(L, order >= INT_MIN && order <= INT_MAX, 4, "order out of range");
    lua_getfield(L, 1, "first");
    const bool first = lua_toboolean(L, -1);
    const std::size_t taken =
        page->LinkTexts.size() + page->Links.size() * sizeof(TLuaReader::TLink);
    if (taken + titleSize + hrefSize + origIdSize + sizeof(TLuaReader::TLink) > page->LinkLimit)
        return luaL_error(L, "the page's links ran over the reader's %d MB of memory",
                          static_cast<int>(page->LinkLimit / (1024 * 1024)));
    // No Lua error can follow: what is built here is not left behind by a longjmp.
    std::string& texts = page->LinkTexts;
    const std::size_t at = texts.size();
    texts.append(title, titleSize).append(href, hrefSize);
    if (origId) texts.append(origId, origIdSize);
    page->Links.push_back({first, origId != nullptr, static_cast<int>(order), at, titleSize,
                           at + titleSize, hrefSize, at + titleSize + hrefSize, origIdSize});
    return 0;
}

// A result of the file's content function as text: nil reads as "".
bool TakeText(lua_State* L, int index, std::string& out) {
    if (lua_isnil(L, index)) {
        out.clear();
        return true;
    }
    if (lua_type(L, index) != LUA_TSTRING) return false;
    std::size_t size = 0;
    const char* text = lua_tolstring(L, index, &size);
    out.assign(text, size);
    return true;
}

}  // namespace

void TLuaReader::TPage::Clear() {
    Url.clear();
    Failed = false;
    Error.clear();
    LayoutKnown = true;
    Title.clear();
    Body.clear();
    Head.clear();
    Encoding.clear();
    Links.clear();
    LinkTexts.clear();
}

void TLuaReader::TPage::Fail(std::string error) {
    Clear();
    Failed = true;
    Error = std::move(error);
}

std::vector<TReaderDeclaration> ReadDeclarations(const std::string& file) {
    TLuaSandbox sandbox;
    LoadReaderFile(sandbox, file);
    lua_State* L = sandbox.State();
    std::vector<TReaderDeclaration> out;
    const lua_Integer count = luaL_len(L, -2);
    for (lua_Integer i = 1; i <= count; ++i) {
        lua_rawgeti(L, -2, i);
        TReaderDeclaration declaration;
        declaration.GuideType = lua_tostring(L, -1);
        lua_gettable(L, -4);
        lua_getfield(L, -1, "description");
        declaration.Description = lua_tostring(L, -1);
        lua_pop(L, 2);
        out.push_back(std::move(declaration));
    }
    return out;
}

TLuaReader::TLuaReader(std::string file, std::string guideType, std::size_t memoryLimit,
                       long instructionLimit)
    : file_(std::move(file)), guideType_(std::move(guideType)) {
    page_.LinkLimit = memoryLimit;
    try {
        sandbox_ = std::make_unique<TLuaSandbox>(memoryLimit, instructionLimit);
        LoadReaderFile(*sandbox_, file_);
        lua_State* L = sandbox_->State();
        runRef_ = luaL_ref(L, LUA_REGISTRYINDEX);
        lua_pop(L, 1);  // the order
        lua_getfield(L, -1, guideType_.c_str());
        if (!lua_istable(L, -1))
            throw EReaderError("the file no longer declares the guide type " + guideType_);
        lua_getfield(L, -1, "charset");
        charset_ = lua_tostring(L, -1);
        lua_pop(L, 1);
        specRef_ = luaL_ref(L, LUA_REGISTRYINDEX);
        lua_pop(L, 1);  // the declarations

        luaL_newmetatable(L, PageMeta);
        lua_createtable(L, 0, 2);
        lua_pushlstring(L, charset_.data(), charset_.size());
        lua_pushcclosure(L, &PageTree, 1);
        lua_setfield(L, -2, "tree");
        lua_pushlightuserdata(L, &page_);
        lua_pushcclosure(L, &PageLink, 1);
        lua_setfield(L, -2, "link");
        lua_setfield(L, -2, "__index");
        lua_pop(L, 1);
    } catch (const EReaderError& e) {
        loadError_ = e.what();
        sandbox_.reset();
    }
}

TLuaReader::~TLuaReader() = default;

bool TLuaReader::Fetch(const std::string& url, std::string& stream) {
    ++generation_;
    return THttpDownload::Fetch(url, stream);
}

std::string TLuaReader::FailureLine(const std::string& url, const std::string& message) const {
    return SafeLogText("The reader file \"" + file_ + "\" failed on the page \"" + url +
                       "\": " + message);
}

const TLuaReader::TPage& TLuaReader::Evaluate(const std::string& url, const std::string& html,
                                              bool fresh) const {
    // RunDownload asks KnowsLayout first, then parses the same string: a page is read
    // once, when it is new, and the other calls for it reuse what the file made of it.
    if (fresh || evaluatedGeneration_ != generation_ || evaluatedData_ != html.data() ||
        evaluatedSize_ != html.size() || evaluatedUrl_ != url) {
        evaluatedGeneration_ = generation_;
        evaluatedData_ = html.data();
        evaluatedSize_ = html.size();
        evaluatedUrl_ = url;
        failureLogged_ = false;
        ReadPage(url, html);
    }
    return page_;
}

void TLuaReader::ReadPage(const std::string& url, const std::string& html) const {
    page_.Clear();
    page_.Url = url;
    if (!sandbox_) {
        page_.Fail(loadError_);
        return;
    }
    lua_State* L = sandbox_->State();
    lua_rawgeti(L, LUA_REGISTRYINDEX, runRef_);
    lua_rawgeti(L, LUA_REGISTRYINDEX, specRef_);
    lua_createtable(L, 0, 4);
    lua_pushlstring(L, url.data(), url.size());
    lua_setfield(L, -2, "url");
    lua_pushlstring(L, html.data(), html.size());
    lua_setfield(L, -2, "html");
    luaL_setmetatable(L, PageMeta);
    try {
        // The page's own text is the host's, not the reader's, to count.
        sandbox_->Call(2, 5, html.size() + 4096);
    } catch (const EReaderError& e) {
        page_.Fail(e.what());
        return;
    }
    page_.LayoutKnown = lua_toboolean(L, -5);
    const bool texts = TakeText(L, -4, page_.Body) && TakeText(L, -3, page_.Title) &&
                       TakeText(L, -2, page_.Head) && TakeText(L, -1, page_.Encoding);
    lua_pop(L, 5);
    if (!texts) {
        page_.Fail("content must give text (or nil) for body, title, head and encoding");
        return;
    }
    if (page_.Encoding.empty()) page_.Encoding = FindCharset(html, charset_);
}

bool TLuaReader::KnowsLayout(const std::string& url, const std::string& html) const {
    const TPage& page = Evaluate(url, html, true);
    // A failed page is reported as such, not as one in a layout nobody knows.
    return page.Failed || page.LayoutKnown;
}

void TLuaReader::ParseContent(const std::string& url, const std::string& html,
                              TDownloadHandle& handle) {
    const TPage& page = Evaluate(url, html);
    if (page.Failed) {
        if (!failureLogged_) DoLog(FailureLine(url, page.Error));
        failureLogged_ = true;
        return;
    }
    DoContent(page.Title, page.Body, page.Head, page.Encoding, url, UrlBaseName(url), handle);
}

void TLuaReader::ParseLinks(bool first, const std::string& url, const std::string& html,
                            TDownloadHandle& handle) {
    const TPage& page = Evaluate(url, html);
    if (page.Failed) return;
    for (const TLink& link : page.Links) {
        if (link.First != first) continue;
        const std::string_view title = page.Text(link.Title, link.TitleSize);
        const std::string_view href = page.Text(link.Href, link.HrefSize);
        if (link.OwnOrigId)
            DoLinkHref(first, title, url, href, page.Text(link.OrigId, link.OrigIdSize), link.Order,
                       handle);
        else
            DoLinkHref(first, title, url, href, link.Order, handle);
    }
}
