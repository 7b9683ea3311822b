-- AlphaBeds travel guide pages. The body lies after the location image; the links
-- are listed under two headed sections. A page that names itself in its first
-- section is one of several pages of a section: its links belong to its parent.

local SECTIONS = { "In this section", "Destinations" }
local BODY_START, BODY_END = '<img id="LocationImage"', "</form>"

-- Each section's list starts after its heading.
local HEADINGS = {}
for i, title in ipairs(SECTIONS) do
  HEADINGS[i] = '<h2 class="smalltitle">' .. title .. "</h2>"
end

reader {
  guide_type = "ALPHABEDS",
  description = "AlphaBeds travel guide pages",
  charset = "utf-8",

  recognise = function(page)
    if HasMarkers(page.html, BODY_START, BODY_END) then return true end
    for _, heading in ipairs(HEADINGS) do
      if HasMarkers(page.html, heading, "</div>") then return true end
    end
    return false
  end,

  content = function(page)
    local region = Scanner(page.html):part(BODY_START, BODY_END)
    return region:cut_trimmed("</table>", "<div>&nbsp;</div>")
  end,

  links = function(page, first)
    -- The same for both passes: worked out once.
    if page.listed == nil then
      local own = UrlBaseName(page.url) .. "."
      page.listed = Scanner(page.html):part(HEADINGS[1], "</div>"):contains(own)
    end
    if page.listed == first then return end
    local order = 1 -- runs on across both sections
    for section, heading in ipairs(HEADINGS) do
      for anchor in Scanner(page.html):part(heading, "</div>"):parts("<a ", "/a>") do
        local href, text = anchor:cut_trimmed('href="', '"', ">", "<")
        -- The section's own way back to the start page is not a sub-page.
        if href ~= "" and text ~= "" and not (section == 1 and text == "Home") then
          page:link(text, href, order)
          order = order + 1
        end
      end
    end
  end,
}
