-- EzTrip destination guide pages. The address tells four kinds of page apart, and
-- each kind is cut by its own markers. Every link is a child of the page itself.

local BEGIN_CONTENT, END_CONTENT = "<!-- BEGIN CONTENT -->", "<!-- END CONTENT -->"
local BEGIN_CENTER = "<!-- BEGIN CENTER PAGE -->"
local GUIDE_TABLE = '</tr><tr><td alig="center"><table>'

local function kind_of(url)
  if Contains(url, "destinationguide") then return "guide" end
  if Contains(url, "_viewLocation_") then return "location" end
  if Contains(url, "_viewCities_") then return "cities" end
  return "default"
end

local function keep_html_link(href)
  return Contains(href, ".html") and href or ""
end

-- The guide page lists its regions in one table; the anchor text sits inside a
-- nested element, which is why the href runs to the '">' that closes the tag.
local function guide_links(page)
  local block = Scanner(page.html):part(GUIDE_TABLE, "</table>")
  local order = 1
  for anchor in block:parts("<a ", "/a>") do
    local href, text = anchor:cut_trimmed('href="', '">', ">", "<")
    if href ~= "" and text ~= "" then
      page:link(text, href, order)
      order = order + 1
    end
  end
end

-- Each highlighted cell names a place and, optionally, the list of its cities.
local function default_links(page)
  local block = Scanner(page.html):part(BEGIN_CONTENT, END_CONTENT)
  local order = 1
  for cell in block:parts('<td class="guides-highlightbar">', "</table>") do
    local href, text = cell:cut_trimmed('<a href="', '"', ">", "<")
    if href ~= "" and text ~= "" then
      page:link(text, href, order)
      order = order + 1
    end
    local cities = cell:cut_trimmed('<a href="', '"')
    if cities ~= "" then
      page:link(text .. " (cities)", cities, order)
      order = order + 1
    end
  end
end

-- The navigation list is a tree: an item with the "close" arrow is expanded. When
-- the first item is expanded, the items after it are its sub-pages, numbered by
-- their place in the list, up to the next expanded item. An expanded item further
-- down that is this very page carries its sub-pages in an inner table.
local function location_links(page)
  local part = Scanner(page.html):part(BEGIN_CENTER, BEGIN_CONTENT)
  local nav = part:part('<div class="guides-Spacer7"></div>', 'class="guide-text">')
  local index, listing = 1, false
  for item in nav:parts("<img ", "<td width='5' valign='top'>") do
    if item:contains("DGarrow-close") then
      listing = index == 1
      if index ~= 1 then
        local own = item:cut("<a href='", "'")
        if own ~= "" and Contains(page.url, own) then
          item:cut("<", "cellpadding='3'")
          local sub = 1
          for row in item:parts("<tr>", "</tr>") do
            local href, text = row:cut_trimmed("<a href='", "'", ">", "<")
            href = keep_html_link(href)
            if href ~= "" and text ~= "" then
              page:link(text, href, sub)
              sub = sub + 1
            end
          end
        end
      end
    elseif listing then
      local href, text = item:cut_trimmed("<a href='", "'>", ">", "<")
      href = keep_html_link(href)
      if href ~= "" and text ~= "" then page:link(text, href, index) end
    end
    index = index + 1
  end
end

local function cities_links(page)
  local block = Scanner(page.html):part(BEGIN_CONTENT, END_CONTENT)
  local order = 1
  for entry in block:parts("'images/DGarrow.gif'", "/a>") do
    local href, text = entry:cut_trimmed('<a href="', '"', ">", "<")
    if href ~= "" and text ~= "" then
      page:link(text, href, order)
      order = order + 1
    end
  end
end

local LINKS = {
  guide = guide_links, default = default_links,
  location = location_links, cities = cities_links,
}

reader {
  guide_type = "EZTRIP",
  description = "EzTrip destination guide pages",
  charset = "iso-8859-1",

  recognise = function(page)
    local kind = kind_of(page.url)
    if kind == "guide" then return HasMarkers(page.html, GUIDE_TABLE, "</table>") end
    if kind == "location" and HasMarkers(page.html, BEGIN_CENTER, BEGIN_CONTENT) then
      return true
    end
    return HasMarkers(page.html, BEGIN_CONTENT, END_CONTENT)
  end,

  content = function(page)
    if kind_of(page.url) ~= "location" then return "" end
    local content = Scanner(page.html):part(BEGIN_CONTENT, END_CONTENT)
    -- Moves past the heading cell's text; the heading itself is the node's title.
    content:cut('<td class="guides-Bluehighlightbar">', "<")
    local rest = content:text()
    local body = content:cut('<div class="sectionSpacer">', "</div>")
    if body == "" then
      -- Older location pages keep the text in the orange box; its closing div may
      -- be missing at the end of the content, hence the extra one.
      local old = Scanner(rest .. "</div>")
      old:cut("<", '<td class="guides-OrngBoxText"')
      body = old:cut('<div class="guides-Spacer7">', "</div>")
    end
    return body
  end,

  links = function(page, first)
    if first then LINKS[kind_of(page.url)](page) end
  end,
}
