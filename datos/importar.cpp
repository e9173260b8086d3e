#include "datos/importar.hpp"

#include <span>
#include <unordered_map>
#include <vector>

#include "datos/informe.hpp"
#include "datos/lectorcsv.hpp"
#include "datos/lectura.hpp"
#include "datos/motivo.hpp"
#include "store/archivos.hpp"
#include "store/reglas.hpp"

namespace datos {

using store::Alumno;
using store::Campo;
using store::Curso;
using store::Formato;
using store::NotaAlumno;
using store::Veredicto;

namespace {

// A column the import takes: its name in the export's header, and its rule.
struct Columna {
  std::string_view nombre;
  Campo campo;
};

// The words the report counts records with: one, several, and the outcome
// for one and for several.
struct Palabras {
  const char* uno;
  const char* varios;
  const char* importado;
  const char* importados;
};

// Each record's columns in the order the record is built from them, and the
// words the report counts the records with.
template <class R>
struct Importable;

template <>
struct Importable<Alumno> {
  static constexpr Columna kColumnas[] = {
      {kEncabezadoAlumnos[0], Campo::codigoAlumno},
      {kEncabezadoAlumnos[1], Campo::nombreAlumno},
      {kEncabezadoAlumnos[2], Campo::nombreAlumno},
      {kEncabezadoAlumnos[3], Campo::edad},
  };
  static constexpr bool kCodigoUnico = true;  // the first column's code is stored once
  static constexpr Palabras kPalabras{"alumno", "alumnos", "Importado", "Importados"};

  static Alumno registro(std::span<const std::string> v) {
    Alumno alumno{};
    (void)store::copiarTexto(alumno.codigo, v[0]);
    (void)store::copiarTexto(alumno.apellido, v[1]);
    (void)store::copiarTexto(alumno.nombre, v[2]);
    alumno.edad = store::aNumero(v[3]);
    return alumno;
  }
};

template <>
struct Importable<Curso> {
  static constexpr Columna kColumnas[] = {
      {kEncabezadoCursos[0], Campo::codigoCurso},
      {kEncabezadoCursos[1], Campo::nombreCurso},
      {kEncabezadoCursos[2], Campo::creditos},
  };
  static constexpr bool kCodigoUnico = true;
  static constexpr Palabras kPalabras{"curso", "cursos", "Importado", "Importados"};

  static Curso registro(std::span<const std::string> v) {
    Curso curso{};
    store::copiarCodigo(curso.codigo, v[0]);
    (void)store::copiarTexto(curso.nombre, v[1]);
    curso.creditos = store::aNumero(v[2]);
    return curso;
  }
};

template <>
struct Importable<NotaAlumno> {
  // The student's and course's names and the average are the export's own.
  static constexpr Columna kColumnas[] = {
      {kEncabezadoNotas[0], Campo::codigoAlumnoNota},
      {kEncabezadoNotas[3], Campo::codigoCursoNota},
      {kEncabezadoNotas[5], Campo::nota},
      {kEncabezadoNotas[6], Campo::nota},
      {kEncabezadoNotas[7], Campo::nota},
      {kEncabezadoNotas[8], Campo::nota},
      {kEncabezadoNotas[9], Campo::nota},
  };
  static constexpr bool kCodigoUnico = false;
  static constexpr Palabras kPalabras{"nota", "notas", "Importada", "Importadas"};

  static NotaAlumno registro(std::span<const std::string> v) {
    NotaAlumno nota{};
    store::copiarCodigo(nota.codigoAlumno, v[0]);
    store::copiarCodigo(nota.codigoCurso, v[1]);
    nota.practica1 = store::aNumero(v[2]);
    nota.practica2 = store::aNumero(v[3]);
    nota.practica3 = store::aNumero(v[4]);
    nota.examenParcial = store::aNumero(v[5]);
    nota.examenFinal = store::aNumero(v[6]);
    return nota;
  }
};

// A header's name as it is compared: no surrounding spaces, no accents, in
// lower case.
std::u32string comparable(std::u32string nombre) {
  const std::size_t inicio = nombre.find_first_not_of(U" \t");
  if (inicio == std::u32string::npos) return {};
  nombre = nombre.substr(inicio, nombre.find_last_not_of(U" \t") - inicio + 1);
  for (char32_t& c : nombre) {
    if (c <= 0xFF && store::letraSinAcento(static_cast<unsigned char>(c)) != '\0') {
      c = static_cast<unsigned char>(store::letraSinAcento(static_cast<unsigned char>(c)));
    }
    if (c >= U'A' && c <= U'Z') c += U'a' - U'A';
  }
  return nombre;
}

std::u32string comparable(std::string_view ascii) {
  return comparable(std::u32string(ascii.begin(), ascii.end()));
}

// Codes looked up by the stored bytes themselves, with no copy made.
struct Dispersion {
  using is_transparent = void;
  std::size_t operator()(std::string_view codigo) const noexcept {
    return std::hash<std::string_view>{}(codigo);
  }
};

template <class R>
class Importacion {
 public:
  static constexpr std::size_t kColumnas = std::size(Importable<R>::kColumnas);

  Importacion(const OpcionesImportar& opciones, Informe& informe)
      : opciones_(opciones), informe_(informe) {}

  // Reads the header and every row. False when the header keeps the rows
  // from being read at all (told in the report).
  bool leer(std::string_view csv) {
    const TextoCsv texto = prepararCsv(csv);
    codificacion_ = texto.codificacion;
    const char separador =
        opciones_.separador != '\0' ? opciones_.separador : separadorDe(texto.bytes);
    LectorCsv lector(texto.bytes, separador);
    FilaCsv fila;
    if (!lector.siguiente(fila)) {
      informe_.problema(1, {}, "el archivo no tiene fila de encabezado");
      return false;
    }
    if (!leerEncabezado(fila)) return false;
    // About a row a line.
    registros_.reserve(static_cast<std::size_t>(std::count(csv.begin(), csv.end(), '\n')) *
                       Formato<R>::tamano);
    std::vector<std::string> valores(kColumnas);
    while (lector.siguiente(fila)) {
      if (leerFila(fila, valores)) {
        const store::Bytes<R> bytes = store::codificar(Importable<R>::registro(valores));
        registros_.insert(registros_.end(), bytes.begin(), bytes.end());
        ++cantidad_;
      }
    }
    return true;
  }

  // Each stored code that a row brings again is a problem of that row.
  // False when there is one.
  bool revisarGuardado(const unsigned char* registro) {
    if constexpr (Importable<R>::kCodigoUnico) {
      const std::string_view codigo = texto(registro + Formato<R>::codigo, sizeof(R::codigo));
      const auto fila = codigos_.find(codigo);
      if (fila == codigos_.end() || fila->second.guardado) return true;
      fila->second.guardado = true;
      informe_.problema(fila->second.linea, nombreDeColumna(0),
                        std::string(codigo) + " ya esta en " + Formato<R>::archivo);
      return false;
    } else {
      (void)registro;
      return true;
    }
  }

  std::span<const unsigned char> registros() const { return registros_; }
  std::size_t cantidad() const { return cantidad_; }
  bool hayAcentos() const { return hayAcentos_; }

 private:
  struct Codigo {
    std::size_t linea;      // the row that brings it
    bool guardado = false;  // found in the file, and reported
  };

  bool leerEncabezado(const FilaCsv& fila) {
    if (fila.error != ErrorCsv::ninguno) {
      informe_.problema(fila.linea, "columna " + std::to_string(fila.campoDelError + 1),
                        motivoDe(fila.error));
      return false;
    }
    encabezado_.clear();
    for (const std::string& campo : fila.campos)
      decodificar(campo, codificacion_, encabezado_.emplace_back());
    bool completo = true;
    for (std::size_t i = 0; i < kColumnas; ++i) {
      const std::u32string buscado = comparable(Importable<R>::kColumnas[i].nombre);
      std::size_t vista = 0;
      for (std::size_t j = 0; j < encabezado_.size(); ++j) {
        if (comparable(encabezado_[j]) != buscado) continue;
        if (++vista == 1) indices_[i] = j;
      }
      const std::string nombre(Importable<R>::kColumnas[i].nombre);
      if (vista == 0) {
        informe_.problema(fila.linea, {}, "falta la columna " + nombre);
        completo = false;
      } else if (vista > 1) {
        informe_.problema(fila.linea, {},
                          "la columna " + nombre + " esta " + std::to_string(vista) + " veces");
        completo = false;
      }
    }
    return completo;
  }

  // The name a problem gives a field of a row: the header's own.
  std::string nombreDeColumna(std::size_t columna) const {
    return std::string(Importable<R>::kColumnas[columna].nombre);
  }
  std::string nombreDeCampo(std::size_t campo) const {
    if (campo < encabezado_.size() && !encabezado_[campo].empty())
      return visible(encabezado_[campo]);
    return "columna " + std::to_string(campo + 1);
  }

  // Checks a row; when it is good, `valores` holds its columns as they are
  // to be stored.
  bool leerFila(const FilaCsv& fila, std::vector<std::string>& valores) {
    if (fila.error != ErrorCsv::ninguno) {
      informe_.problema(fila.linea, nombreDeCampo(fila.campoDelError), motivoDe(fila.error));
      return false;
    }
    if (fila.campos.size() != encabezado_.size()) {
      informe_.problema(fila.linea, {},
                        "tiene " + contar(fila.campos.size(), "campo", "campos") +
                            " y el encabezado " + std::to_string(encabezado_.size()));
      return false;
    }
    bool buena = true;
    avisos_.clear();
    for (std::size_t i = 0; i < kColumnas; ++i) {
      buena &= leerValor(fila.linea, i, fila.campos[indices_[i]], valores[i]);
    }
    if (!buena) return false;
    if constexpr (Importable<R>::kCodigoUnico) {
      const auto [donde, nuevo] = codigos_.try_emplace(valores[0], Codigo{fila.linea});
      if (!nuevo) {
        informe_.problema(
            fila.linea, nombreDeColumna(0),
            valores[0] + " ya esta en la linea " + std::to_string(donde->second.linea));
        return false;
      }
    }
    for (const auto& [columna, que] : avisos_)
      informe_.aviso(fila.linea, nombreDeColumna(columna), que);
    return true;
  }

  // One field's characters made the single bytes stored, and judged by its
  // column's rule; false, and the problem reported, when the rule refuses it.
  bool leerValor(std::size_t linea, std::size_t columna, std::string_view bytes,
                 std::string& latin1) {
    const Campo campo = Importable<R>::kColumnas[columna].campo;
    caracteres_.clear();
    decodificar(bytes, codificacion_, caracteres_);
    // The export writes a text a spreadsheet would take for a formula after
    // an apostrophe; the text is what was stored.
    if (!caracteres_.empty() && caracteres_[0] == U'\'' &&
        pareceFormula(std::u32string_view(caracteres_).substr(1))) {
      caracteres_.erase(0, 1);
    }
    latin1.clear();
    bool sinAcento = false;
    bool fueraDeUnByte = false;
    bool control = false;
    for (const char32_t c : caracteres_) {
      const char plana = c <= 0xFF ? store::letraSinAcento(static_cast<unsigned char>(c)) : '\0';
      if (plana != '\0' && esNombre(campo)) {
        hayAcentos_ |= !opciones_.sinAcentos;
        if (opciones_.sinAcentos) {
          latin1 += plana;
          sinAcento = true;
          continue;
        }
      }
      if (c > 0xFF) {
        fueraDeUnByte = true;
        latin1 += '\x7F';  // no letter, no digit: every rule but a grade's codes refuses it
        continue;
      }
      control |= esControl(static_cast<unsigned char>(c));
      latin1 += static_cast<char>(c);
    }
    std::string motivo;
    if (esCodigoDeNota(campo) && fueraDeUnByte) {
      motivo = entreComillas(caracteres_) + " tiene caracteres que no caben en un byte";
    } else if (esCodigoDeNota(campo) && control) {
      motivo = entreComillas(caracteres_) + " tiene caracteres de control";
    } else {
      motivo = motivoDe(store::juzgar(campo, latin1), campo, caracteres_);
    }
    if (!motivo.empty()) {
      informe_.problema(linea, nombreDeColumna(columna), motivo);
      return false;
    }
    if (sinAcento) {
      avisos_.emplace_back(columna,
                           entreComillas(caracteres_) + " se guarda como \"" + latin1 + "\"");
    }
    return true;
  }

  const OpcionesImportar& opciones_;
  Informe& informe_;
  Codificacion codificacion_ = Codificacion::utf8;
  std::vector<std::u32string> encabezado_;
  std::size_t indices_[kColumnas] = {};                      // per column, its field in a row
  std::u32string caracteres_;                                // the field being read
  std::vector<std::pair<std::size_t, std::string>> avisos_;  // the row's, by column
  std::unordered_map<std::string, Codigo, Dispersion, std::equal_to<>> codigos_;  // the rows' codes
  std::vector<unsigned char> registros_;  // the good rows, as stored
  std::size_t cantidad_ = 0;
  bool hayAcentos_ = false;  // a name held a letter --sin-acentos would have taken
};

std::string fallo(const char* que, const char* archivo, int numeroError) {
  return std::string(que) + archivo + " (" + motivo(numeroError, archivo) + ")";
}

// The store's failure in one line; empty when the rows are stored.
std::optional<std::string> falloDelStore(const store::Resultado& r, const char* archivo) {
  switch (r.falla) {
    case store::Falla::ninguna:
    // The rows are in place; only a power cut could still take the name back.
    case store::Falla::sincronizarDirectorio:
      return std::nullopt;
    case store::Falla::enUso:
      return std::string("Archivo ") + archivo + " en uso, intente mas tarde";
    case store::Falla::noSeAbre:
      return fallo("No se puede abrir el archivo ", archivo, r.numeroError);
    case store::Falla::lectura:
      return fallo("No se puede leer el archivo ", archivo, r.numeroError);
    default:
      return fallo("No se pudo grabar en el archivo ", archivo, r.numeroError);
  }
}

template <class R>
std::optional<std::string> importarDe(std::string_view csv, std::string_view nombre,
                                      const OpcionesImportar& opciones, Salida& salida,
                                      std::size_t& problemas) {
  using I = Importable<R>;
  Informe informe;
  Importacion<R> importacion(opciones, informe);
  const bool leido = importacion.leer(csv);

  // The codes already stored, looked at now to tell every problem at once,
  // and again under the lock, as another copy may store one meanwhile.
  auto revisar = [&](const unsigned char* registro) {
    return importacion.revisarGuardado(registro);
  };
  if (leido && I::kCodigoUnico && importacion.cantidad() > 0) {
    Fuente<R> fuente;
    if (Lectura e = fuente.abrir()) return explicar(*e);
    Lector<R> lector(fuente);
    while (const unsigned char* registro = lector.siguiente())
      (void)revisar(registro);
    if (Lectura e = lector.error()) return explicar(*e);
  }

  std::string final;
  if (informe.problemas() == 0 && importacion.cantidad() > 0 && !opciones.probar) {
    const store::Resultado r = store::agregarTodos<R>(importacion.registros(), revisar);
    if (r.falla != store::Falla::repetido) {
      if (std::optional<std::string> error = falloDelStore(r, Formato<R>::archivo)) return error;
    }
  }
  problemas = informe.problemas();
  informe.escribir(salida);
  if (importacion.hayAcentos()) {
    salida.poner(
        "Con --sin-acentos, las letras con acento, tilde, dieresis o cedilla se guardan sin "
        "ellos.\n");
  }
  const Palabras& palabras = I::kPalabras;
  const std::string filas = contar(importacion.cantidad(), palabras.uno, palabras.varios);
  if (problemas > 0) {
    salida.poner("No se importo nada de " + std::string(nombre) + ": " +
                 contar(problemas, "problema", "problemas") + "\n");
  } else if (opciones.probar) {
    salida.poner("Se pueden importar " + filas + " de " + std::string(nombre) +
                 "; con --probar no se guardo nada\n");
  } else {
    salida.poner(
        std::string(importacion.cantidad() == 1 ? palabras.importado : palabras.importados) + " " +
        filas + " de " + std::string(nombre) + "\n");
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> importar(Tema tema, std::string_view csv, std::string_view nombre,
                                    const OpcionesImportar& opciones, Salida& salida,
                                    std::size_t& problemas) {
  problemas = 0;
  switch (tema) {
    case Tema::alumnos:
      return importarDe<Alumno>(csv, nombre, opciones, salida, problemas);
    case Tema::cursos:
      return importarDe<Curso>(csv, nombre, opciones, salida, problemas);
    case Tema::notas:
      return importarDe<NotaAlumno>(csv, nombre, opciones, salida, problemas);
  }
  return std::nullopt;
}

}  // namespace datos
