// Measures alumnos on a student file of a million records against what the
// machine's own tools take for the same bytes, in the same run:
//
//   duplicate check  option 1, a code not stored, up to the surname  vs  cat of the file
//   deletion         one student from the middle                     vs  cp of the file + sync
//   listing          the first page                                  vs  the same, empty file
//   peak memory      the duplicate check                             vs  the same, empty file
//   menu frame       bytes sent for one drawing of the menu
//
// and alumnos-datos on the same file and as many grades:
//
//   student export   exportar alumnos                                vs  cat of the file
//   peak memory      exportar alumnos                                vs  the same, empty file
//   grade export     exportar notas, each grade joined to its student  vs  cat of both files
//   peak memory      exportar notas                                  vs  the same, empty files
//
// and alumnos-datos importar, 100,000 CSV rows into a file of 100,000
// students against cp of the resulting file + sync, and its peak memory into
// the million students against the same into no file.
//
// Each pair is run alternately, so that both sides see the same machine, and
// the medians are compared. Usage: alumnos_bench [--records N] [--runs N] [program]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "store/registros.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Run {
  double seconds = 0;
  long peakKiB = 0;    // the child's peak resident memory
  std::string output;  // what it wrote on standard output, when kept
};

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "alumnos_bench: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

// Runs argv in `directory` with `input` on standard input (a file, so that
// the program reads it as a script would be piped in) and standard output
// kept or thrown away.
Run run(const fs::path& directory, const std::vector<std::string>& argv, const std::string& input,
        bool keepOutput = false) {
  const fs::path inputFile = directory / ".entrada";
  {
    FILE* f = std::fopen(inputFile.c_str(), "wb");
    if (f == nullptr || std::fwrite(input.data(), 1, input.size(), f) != input.size()) {
      fail("writing the input");
    }
    std::fclose(f);
  }
  int out[2];
  if (::pipe(out) != 0) fail("pipe");
  std::vector<char*> args;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  const Clock::time_point start = Clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) fail("fork");
  if (pid == 0) {
    ::setsid();  // no controlling terminal: everything goes to standard output
    int in = ::open(inputFile.c_str(), O_RDONLY);
    int devnull = ::open("/dev/null", O_WRONLY);
    if (in < 0 || devnull < 0 || ::chdir(directory.c_str()) != 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(keepOutput ? out[1] : devnull, 1);
    ::dup2(devnull, 2);
    ::close(out[0]);
    ::close(out[1]);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(out[1]);
  Run result;
  char buffer[65536];
  ssize_t got;
  while ((got = ::read(out[0], buffer, sizeof buffer)) > 0) {
    result.output.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(out[0]);
  int status = 0;
  rusage usage{};
  if (::wait4(pid, &status, 0, &usage) != pid) fail("wait4");
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  result.peakKiB = usage.ru_maxrss;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "alumnos_bench: %s ended with status %d\n", argv[0].c_str(), status);
    std::exit(1);
  }
  return result;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string codigo(long i) {
  char texto[24];
  std::snprintf(texto, sizeof texto, "%08ldA", i);
  return texto;
}

// `count` students with distinct codes, written in one go.
void writeStudents(const fs::path& file, long count) {
  FILE* f = std::fopen(file.c_str(), "wb");
  if (f == nullptr) fail("creating " + file.string());
  store::Alumno alumno{};
  for (long i = 0; i < count; ++i) {
    (void)store::copiarTexto(alumno.codigo, codigo(i));
    (void)store::copiarTexto(alumno.apellido, "Apellido");
    (void)store::copiarTexto(alumno.nombre, "Nombre");
    alumno.edad = static_cast<std::int32_t>(i % 61);
    const store::Bytes<store::Alumno> bytes = store::codificar(alumno);
    if (std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) fail("writing students");
  }
  if (std::fclose(f) != 0) fail("closing " + file.string());
}

struct Pair {
  std::vector<double> ours;
  std::vector<double> theirs;
};

// A goal of 0: the ratio is shown, with nothing to meet.
void report(const char* what, const char* against, const Pair& pair, double goal) {
  const double ours = median(pair.ours);
  const double theirs = median(pair.theirs);
  const double ratio = ours / theirs;
  std::printf("%-34s %8.1f ms   %-28s %8.1f ms   ratio %5.2f", what, ours * 1e3, against,
              theirs * 1e3, ratio);
  if (goal > 0) std::printf("  (goal <= %.2f) %s", goal, ratio <= goal ? "ok" : "MISSED");
  std::printf("\n");
}

// A goal of 0: the difference is shown, with nothing to meet.
void reportMemory(const char* what, long peakKiB, long emptyKiB, double goalMiB) {
  const double apartMiB = static_cast<double>(peakKiB - emptyKiB) / 1024;
  std::printf("%-34s %8.2f MiB  %-28s %8.2f MiB  apart %5.2f MiB", what,
              static_cast<double>(peakKiB) / 1024, "empty files",
              static_cast<double>(emptyKiB) / 1024, apartMiB);
  if (goalMiB > 0) std::printf(" (goal < %.0f) %s", goalMiB, apartMiB < goalMiB ? "ok" : "MISSED");
  std::printf("\n");
}

// `count` grades of students drawn evenly at random from `students`, in a
// hundred courses, none of which is stored.
void writeGrades(const fs::path& file, long count, long students) {
  FILE* f = std::fopen(file.c_str(), "wb");
  if (f == nullptr) fail("creating " + file.string());
  store::NotaAlumno nota{};
  std::uint64_t state = 88172645463325252u;  // xorshift: the same grades on every run
  for (long i = 0; i < count; ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    store::copiarCodigo(
        nota.codigoAlumno,
        codigo(static_cast<long>(state % static_cast<std::uint64_t>(std::max(students, 1L)))));
    char curso[8];
    std::snprintf(curso, sizeof curso, "MA%03ldA", i % 100);
    store::copiarCodigo(nota.codigoCurso, curso);
    nota.practica1 = nota.practica2 = nota.practica3 = nota.examenParcial = nota.examenFinal =
        static_cast<std::int32_t>(i % 21);
    const store::Bytes<store::NotaAlumno> bytes = store::codificar(nota);
    if (std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) fail("writing grades");
  }
  if (std::fclose(f) != 0) fail("closing " + file.string());
}

}  // namespace

int main(int argc, char** argv) {
  long records = 1'000'000;
  int runs = 7;
  std::string program = ALUMNOS_BINARY;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--records" && i + 1 < argc) {
      records = std::atol(argv[++i]);
    } else if (arg == "--runs" && i + 1 < argc) {
      runs = std::atoi(argv[++i]);
    } else {
      program = arg;
    }
  }
  program = fs::absolute(program).string();
  const std::string datos = fs::absolute(ALUMNOS_DATOS_BINARY).string();

  char plantilla[] = "/tmp/alumnos-bench-XXXXXX";
  if (::mkdtemp(plantilla) == nullptr) fail("mkdtemp");
  const fs::path scratch = plantilla;
  const fs::path full = scratch / "lleno";
  const fs::path empty = scratch / "vacio";
  fs::create_directories(full);
  fs::create_directories(empty);
  const fs::path original = scratch / "original.txt";
  writeStudents(original, records);
  fs::copy_file(original, full / "ALUMNO.txt");
  writeStudents(empty / "ALUMNO.txt", 0);

  std::printf("alumnos_bench: %ld students (%ld bytes), %d runs each, %ld cores\n", records,
              records * 59, runs, ::sysconf(_SC_NPROCESSORS_ONLN));
  std::printf("program: %s\n\n", program.c_str());

  // Warm the page cache so that both sides of every pair read from memory.
  run(full, {"/bin/cat", "ALUMNO.txt"}, "");

  const std::string notStored = "1\n99999999Z";  // option 1, a code, then the input ends
  Pair duplicate, memory, listing, deletion;
  long peakFull = 0, peakEmpty = 0;
  for (int i = 0; i < runs; ++i) {
    Run ours = run(full, {program}, notStored);
    duplicate.ours.push_back(ours.seconds);
    peakFull = std::max(peakFull, ours.peakKiB);
    duplicate.theirs.push_back(run(full, {"/bin/cat", "ALUMNO.txt"}, "").seconds);
    peakEmpty = std::max(peakEmpty, run(empty, {program}, notStored).peakKiB);

    listing.ours.push_back(run(full, {program}, "4\n").seconds);
    listing.theirs.push_back(run(empty, {program}, "4\n").seconds);
  }
  const std::string middle = codigo(records / 2);
  for (int i = 0; i < runs; ++i) {
    fs::copy_file(original, full / "ALUMNO.txt", fs::copy_options::overwrite_existing);
    ::sync();  // both sides start with nothing waiting to be written
    deletion.ours.push_back(run(full, {program}, "5\n" + middle + "\nS").seconds);
    if (records > 0 &&
        fs::file_size(full / "ALUMNO.txt") != static_cast<std::uintmax_t>(records - 1) * 59) {
      std::fprintf(stderr, "alumnos_bench: the deletion did not delete one student\n");
      return 1;
    }
    deletion.theirs.push_back(
        run(full, {"/bin/sh", "-c", "cp ALUMNO.txt COPIA.txt && sync COPIA.txt"}, "").seconds);
    fs::remove(full / "COPIA.txt");
    ::sync();
  }
  const std::size_t frame = run(empty, {program}, "", true).output.size();

  // alumnos-datos, on the student file the deletions left and as many grades.
  fs::copy_file(original, full / "ALUMNO.txt", fs::copy_options::overwrite_existing);
  writeGrades(full / "NOTAALUMNO.txt", records, records);
  run(full, {"/bin/cat", "ALUMNO.txt", "NOTAALUMNO.txt"}, "");
  Pair studentExport, gradeExport;
  long peakStudents = 0, peakStudentsEmpty = 0, peakGrades = 0, peakGradesEmpty = 0;
  for (int i = 0; i < runs; ++i) {
    const Run ours = run(full, {datos, "exportar", "alumnos"}, "");
    studentExport.ours.push_back(ours.seconds);
    peakStudents = std::max(peakStudents, ours.peakKiB);
    studentExport.theirs.push_back(run(full, {"/bin/cat", "ALUMNO.txt"}, "").seconds);
    peakStudentsEmpty =
        std::max(peakStudentsEmpty, run(empty, {datos, "exportar", "alumnos"}, "").peakKiB);
  }
  // A few runs: each takes about thirty scans of the student file.
  for (int i = 0; i < std::min(runs, 3); ++i) {
    const Run ours = run(full, {datos, "exportar", "notas"}, "");
    gradeExport.ours.push_back(ours.seconds);
    peakGrades = std::max(peakGrades, ours.peakKiB);
    gradeExport.theirs.push_back(
        run(full, {"/bin/cat", "ALUMNO.txt", "NOTAALUMNO.txt"}, "").seconds);
    peakGradesEmpty =
        std::max(peakGradesEmpty, run(empty, {datos, "exportar", "notas"}, "").peakKiB);
  }

  // alumnos-datos importar: as many rows as students, up to 100,000 of each,
  // in the CSV a spreadsheet saves. The rows' memory is set apart from the
  // file's by importing the same rows into the million students and into no
  // file at all.
  const long base = std::min(records, 100'000L);
  const fs::path importDir = scratch / "importar";
  fs::create_directories(importDir);
  writeStudents(importDir / "base.txt", base);
  {
    std::string csv = "codigo,apellido,nombre,edad\r\n";
    for (long i = 0; i < base; ++i)
      csv += codigo(records + i) + ",Apellido,Nombre," + std::to_string(i % 61) + "\r\n";
    for (const fs::path& dir : {importDir, full, empty}) {
      FILE* f = std::fopen((dir / "filas.csv").c_str(), "wb");
      if (f == nullptr || std::fwrite(csv.data(), 1, csv.size(), f) != csv.size() ||
          std::fclose(f) != 0) {
        fail("writing the CSV");
      }
    }
  }
  const std::vector<std::string> importar = {datos, "importar", "alumnos", "filas.csv"};
  Pair studentImport;
  for (int i = 0; i < runs; ++i) {
    fs::copy_file(importDir / "base.txt", importDir / "ALUMNO.txt",
                  fs::copy_options::overwrite_existing);
    ::sync();
    studentImport.ours.push_back(run(importDir, importar, "").seconds);
    if (fs::file_size(importDir / "ALUMNO.txt") != static_cast<std::uintmax_t>(2 * base) * 59) {
      std::fprintf(stderr, "alumnos_bench: the import did not add every row\n");
      return 1;
    }
    studentImport.theirs.push_back(
        run(importDir, {"/bin/sh", "-c", "cp ALUMNO.txt COPIA.txt && sync COPIA.txt"}, "").seconds);
    fs::remove(importDir / "COPIA.txt");
  }
  fs::copy_file(original, full / "ALUMNO.txt", fs::copy_options::overwrite_existing);
  const long peakImportFull = run(full, importar, "").peakKiB;
  fs::remove(empty / "ALUMNO.txt");
  const long peakImportEmpty = run(empty, importar, "").peakKiB;

  report("duplicate check, code not stored", "cat of the file", duplicate, 1.5);
  report("deleting one student", "cp of the file + sync", deletion, 1.5);
  report("listing, first page", "the same, empty file", listing, 1.5);
  reportMemory("peak memory, million students", peakFull, peakEmpty, 1);
  std::printf("%-34s %8zu bytes (goal <= 700) %s\n", "one menu frame", frame,
              frame <= 700 ? "ok" : "MISSED");
  std::printf("\nalumnos-datos: %s\n", datos.c_str());
  report("export of the students", "cat of the file", studentExport, 0);
  reportMemory("peak memory, student export", peakStudents, peakStudentsEmpty, 1);
  report("export of the grades", "cat of both files", gradeExport, 0);
  reportMemory("peak memory, grade export", peakGrades, peakGradesEmpty, 0);
  std::printf("\nimport of %ld rows into %ld students:\n", base, base);
  report("import of the students", "cp of the result + sync", studentImport, 0);
  std::printf("%-34s %8.1f ms   (goal < 2000) %s\n", "import, median",
              median(studentImport.ours) * 1e3, median(studentImport.ours) < 2 ? "ok" : "MISSED");
  std::printf("%-34s %8.2f MiB  %-28s %8.2f MiB  apart %5.2f MiB (goal < 1) %s\n",
              "peak memory, import", static_cast<double>(peakImportFull) / 1024, "into no file",
              static_cast<double>(peakImportEmpty) / 1024,
              static_cast<double>(peakImportFull - peakImportEmpty) / 1024,
              peakImportFull - peakImportEmpty < 1024 ? "ok" : "MISSED");

  fs::remove_all(scratch);
  return 0;
}
