-- Tables in the manual pages as aligned columns of plain text, the header
-- over a rule: groff's own tables warn, and break badly, wherever a page
-- ends inside one.
local function textos(fila)
  local celdas = {}
  for _, celda in ipairs(fila.cells) do
    table.insert(celdas, pandoc.utils.stringify(celda.contents))
  end
  return celdas
end

function Table(tabla)
  local filas = {}
  for _, fila in ipairs(tabla.head.rows) do
    table.insert(filas, textos(fila))
  end
  local encabezados = #filas
  for _, cuerpo in ipairs(tabla.bodies) do
    for _, fila in ipairs(cuerpo.body) do
      table.insert(filas, textos(fila))
    end
  end
  local anchos = {}
  for _, celdas in ipairs(filas) do
    for i, texto in ipairs(celdas) do
      anchos[i] = math.max(anchos[i] or 0, utf8.len(texto))
    end
  end
  local lineas = {}
  local function poner(celdas)
    local partes = {}
    for i, texto in ipairs(celdas) do
      local relleno = i < #celdas and string.rep(" ", anchos[i] - utf8.len(texto) + 2) or ""
      table.insert(partes, texto .. relleno)
    end
    table.insert(lineas, table.concat(partes))
  end
  for n, celdas in ipairs(filas) do
    poner(celdas)
    if n == encabezados then
      local rayas = {}
      for i, ancho in ipairs(anchos) do
        rayas[i] = string.rep("-", ancho)
      end
      poner(rayas)
    end
  end
  return pandoc.CodeBlock(table.concat(lineas, "\n"))
end
