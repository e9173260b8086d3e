# cmake -DENTRADA=in -DSALIDA=out -P bloc.cmake: the text of ENTRADA as
# Notepad shows it right on any Windows, the UTF-8 mark first and every line
# ended by CR LF.
file(READ ${ENTRADA} texto)
string(REPLACE "\r\n" "\n" texto "${texto}")
string(REPLACE "\n" "\r\n" texto "${texto}")
string(ASCII 239 187 191 marca)
file(WRITE ${SALIDA} "${marca}${texto}")
