-- Headings in plain text, underlined so that the manual's structure shows in
-- Notepad: the title in capitals over "=", chapters over "=", sections over
-- "-"; deeper headings stay a line of their own.
local rayas = { "=", "=", "-" }

function Header(titulo)
  local texto = pandoc.utils.stringify(titulo)
  local raya = rayas[titulo.level]
  if raya == nil then
    return pandoc.Para(titulo.content)
  end
  if titulo.level == 1 then
    texto = pandoc.text.upper(texto)
  end
  return pandoc.Para({ pandoc.Str(texto), pandoc.LineBreak(),
                       pandoc.Str(string.rep(raya, utf8.len(texto))) })
end
