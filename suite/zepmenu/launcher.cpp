#include "suite/zepmenu/launcher.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/calendar.h"
#include "base/codepage.h"
#include "base/ini.h"
#include "base/language.h"

namespace {

namespace fs = std::filesystem;

constexpr std::array<const char*, 4> kLanguages = {"CAT", "SPA", "GLG", "OCI"};

bool IsLanguage(const std::string& code) {
  for (const char* l : kLanguages) {
    if (code == l) return true;
  }
  return false;
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

bool EndsWithNoCase(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         Upper(text.substr(text.size() - tail.size())) == Upper(tail);
}

// Characters that cannot stand in a settings value: the comment character
// and every control character (a line break would start a new entry).
bool IsSettingsSafe(const std::string& text) {
  for (unsigned char c : text) {
    if (c == ';' || c < 32 || c == 127) return false;
  }
  return true;
}

// Absolute, normalised host directory ending in "/", or empty when |path|
// is not an existing directory.
std::string DirectoryOf(const std::string& path, const std::string& workingDir) {
  fs::path p(path);
  if (p.is_relative()) p = fs::path(workingDir) / p;
  std::error_code ec;
  if (!fs::is_directory(p, ec)) return {};
  fs::path canonical = fs::weakly_canonical(p, ec);
  if (ec) return {};
  std::string text = canonical.string();
  if (text.empty() || text.back() != '/') text += '/';
  return text;
}

// zepmenu's messages, the four languages side by side. Unlike the module's
// tables these texts are UTF-8: they go straight to the terminal.
constexpr MessageTable<LauncherMessage, 15> kMessages{{{
    {LauncherMessage::Usage,
     {"Ús: zepmenu [--root CARPETA] [--lang CAT|SPA|GLG|OCI] [--device SORTIDA]\n"
      "             [--date AAAAMMDD] [--title TÍTOL] [--exe CARPETA]\n"
      "Obre una sessió de facturació d'honoraris: --root és l'arrel de la instal·lació\n"
      "(per defecte la carpeta actual), --device la sortida de la impressió (un fitxer\n"
      ".pdf o .txt, PDF, o LP:impressora), --date la data de la sessió (per defecte avui).\n",
      "Uso: zepmenu [--root CARPETA] [--lang CAT|SPA|GLG|OCI] [--device SALIDA]\n"
      "             [--date AAAAMMDD] [--title TÍTULO] [--exe CARPETA]\n"
      "Abre una sesión de facturación de honorarios: --root es la raíz de la instalación\n"
      "(por defecto la carpeta actual), --device la salida de la impresión (un fichero\n"
      ".pdf o .txt, PDF, o LP:impresora), --date la fecha de la sesión (por defecto hoy).\n",
      "Uso: zepmenu [--root CARTAFOL] [--lang CAT|SPA|GLG|OCI] [--device SAÍDA]\n"
      "             [--date AAAAMMDD] [--title TÍTULO] [--exe CARTAFOL]\n"
      "Abre unha sesión de facturación de honorarios: --root é a raíz da instalación\n"
      "(por defecto o cartafol actual), --device a saída da impresión (un ficheiro\n"
      ".pdf ou .txt, PDF, ou LP:impresora), --date a data da sesión (por defecto hoxe).\n",
      "Usatge: zepmenu [--root CARPETA] [--lang CAT|SPA|GLG|OCI] [--device SORTIDA]\n"
      "                [--date AAAAMMDD] [--title TÍTOL] [--exe CARPETA]\n"
      "Daurís ua session de facturacion d'onoraris: --root ei era raïtz dera installacion\n"
      "(per defaut era carpeta actuau), --device era sortida dera impression (un fichèr\n"
      ".pdf o .txt, PDF, o LP:imprimidora), --date era data dera session (per defaut uei).\n"}},
    {LauncherMessage::UnknownOption,
     {"opció desconeguda", "opción desconocida", "opción descoñecida", "opcion desconeguda"}},
    {LauncherMessage::MissingValue,
     {"falta el valor de l'opció", "falta el valor de la opción", "falta o valor da opción",
      "manca era valor dera opcion"}},
    {LauncherMessage::BadLanguage,
     {"idioma no vàlid (CAT, SPA, GLG o OCI)", "idioma no válido (CAT, SPA, GLG u OCI)",
      "idioma non válido (CAT, SPA, GLG ou OCI)", "lengua non valida (CAT, SPA, GLG o OCI)"}},
    {LauncherMessage::BadDate,
     {"data no vàlida (AAAAMMDD)", "fecha no válida (AAAAMMDD)", "data non válida (AAAAMMDD)",
      "data non valida (AAAAMMDD)"}},
    {LauncherMessage::NotDirectory,
     {"no és una carpeta", "no es una carpeta", "non é un cartafol", "non ei ua carpeta"}},
    {LauncherMessage::Backslash,
     {"el camí no pot contenir '\\'", "la ruta no puede contener '\\'",
      "a ruta non pode conter '\\'", "eth camin non pòt contier '\\'"}},
    {LauncherMessage::BadText,
     {"text no admès (sense ';', salts de línia ni caràcters fora del joc del programa)",
      "texto no admitido (sin ';', saltos de línea ni caracteres fuera del juego del programa)",
      "texto non admitido (sen ';', saltos de liña nin caracteres fóra do xogo do programa)",
      "tèxte non admetut (sense ';', sauts de linha ni caractèrs fòra deth jòc deth programa)"}},
    {LauncherMessage::TempDirFailed,
     {"no es pot crear la carpeta temporal de la sessió",
      "no se puede crear la carpeta temporal de la sesión",
      "non se pode crear o cartafol temporal da sesión",
      "non se pòt crear era carpeta temporau dera session"}},
    {LauncherMessage::WriteFailed,
     {"no es pot escriure el fitxer", "no se puede escribir el fichero",
      "non se pode escribir o ficheiro", "non se pòt escríuer eth fichèr"}},
    {LauncherMessage::StartFailed,
     {"no es pot iniciar el programa", "no se puede iniciar el programa",
      "non se pode iniciar o programa", "non se pòt lançar eth programa"}},
    {LauncherMessage::PdfSaved,
     {"PDF desat a", "PDF guardado en", "PDF gardado en", "PDF enregistrat en"}},
    {LauncherMessage::NoParentDir,
     {"la carpeta de la sortida no existeix", "la carpeta de la salida no existe",
      "o cartafol da saída non existe", "era carpeta dera sortida non existís"}},
    {LauncherMessage::ModuleKilled,
     {"el mòdul ha acabat per un senyal i s'ha restablert el terminal",
      "el módulo ha terminado por una señal y se ha restablecido el terminal",
      "o módulo rematou por un sinal e restableceuse o terminal",
      "eth mòdul a acabat per un senhau e s'a restablit eth terminau"}},
    {LauncherMessage::DefaultTitle,
     {"Factures d'honoraris", "Facturas de honorarios", "Facturas de honorarios", "Factures d'onoraris"}},
}}};

// A settings value in double quotes, so that the reader keeps leading and
// trailing blanks and a value that itself begins and ends with a quote.
std::string Quoted(const std::string& value) { return "\"" + value + "\""; }

}  // namespace

bool IsCalendarDate(const std::string& text) {
  if (text.size() != 8) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  int year = std::stoi(text.substr(0, 4));
  int month = std::stoi(text.substr(4, 2));
  int day = std::stoi(text.substr(6, 2));
  return year >= 1583 && day >= 1 && day <= DaysInMonth(year, month);
}

std::string LauncherText(LauncherMessage id, const std::string& language) {
  return kMessages.Text(id, LanguageFromCode(language));
}

std::string SessionLanguage(const LauncherOptions& options) {
  if (!options.language.empty()) return options.language;
  const std::string code = IniRead(options.root + "Tarn.ini", "Usuari", "Idioma");
  return std::string(LanguageCode(LanguageFromCode(code)));
}

std::string MessageLanguage(const std::vector<std::string>& args, const std::string& langEnv) {
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == "--lang" && IsLanguage(Upper(args[i + 1]))) return Upper(args[i + 1]);
  }
  std::string prefix = langEnv.substr(0, 2);
  if (prefix == "es") return "SPA";
  if (prefix == "gl") return "GLG";
  if (prefix == "oc") return "OCI";
  return "CAT";
}

int ParseLauncherOptions(const std::vector<std::string>& args, const LauncherContext& ctx,
                         const std::string& language, LauncherOptions& out,
                         std::string& error) {
  auto fail = [&](LauncherMessage id, const std::string& detail) {
    error = LauncherText(id, language) + ": " + detail;
    return 2;
  };
  LauncherOptions o;
  std::string root = ".";
  std::string exe = ctx.selfDir;
  std::string device = "PDF";
  std::string title;
  bool titleGiven = false;
  o.date = ctx.today;

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (option == "--help" || option == "-h") {
      o.usage = true;
      continue;
    }
    static constexpr std::array<const char*, 6> kValued = {"--root", "--lang",  "--device",
                                                           "--date", "--title", "--exe"};
    bool valued = false;
    for (const char* v : kValued) valued = valued || option == v;
    if (!valued) return fail(LauncherMessage::UnknownOption, option);
    if (i + 1 >= args.size()) return fail(LauncherMessage::MissingValue, option);
    const std::string& value = args[++i];
    if (option == "--root") {
      root = value;
    } else if (option == "--exe") {
      exe = value;
    } else if (option == "--lang") {
      if (!IsLanguage(Upper(value))) return fail(LauncherMessage::BadLanguage, value);
      o.language = Upper(value);
    } else if (option == "--date") {
      if (!IsCalendarDate(value)) return fail(LauncherMessage::BadDate, value);
      o.date = value;
    } else if (option == "--device") {
      if (value.empty()) return fail(LauncherMessage::MissingValue, option);
      device = value;
    } else {
      title = value;
      titleGiven = true;
    }
  }
  if (o.usage) {
    out = o;
    return 0;
  }

  for (const std::string* dir : {&root, &exe}) {
    if (dir->find('\\') != std::string::npos) return fail(LauncherMessage::Backslash, *dir);
  }
  o.root = DirectoryOf(root, ctx.workingDir);
  if (o.root.empty()) return fail(LauncherMessage::NotDirectory, root);
  o.exe = DirectoryOf(exe, ctx.workingDir);
  if (o.exe.empty()) return fail(LauncherMessage::NotDirectory, exe);

  // A file device given relative to the caller's directory: the module and
  // the print program run in the suite root, so the path must not be.
  if ((EndsWithNoCase(device, ".pdf") || EndsWithNoCase(device, ".txt")) &&
      device.front() != '/') {
    device = (fs::path(ctx.workingDir) / device).lexically_normal().string();
  }
  if (device.front() == '/') {
    std::error_code ec;
    fs::path parent = fs::path(device).parent_path();
    if (!fs::is_directory(parent, ec)) return fail(LauncherMessage::NoParentDir, device);
  }
  // The device goes through the module to the print program unchanged and
  // names a host file there: it keeps the bytes it was given.
  if (!IsSettingsSafe(device)) return fail(LauncherMessage::BadText, device);
  o.device = device;

  if (!titleGiven) {
    title = LauncherText(LauncherMessage::DefaultTitle, o.language.empty() ? language : o.language);
  }
  if (!IsSettingsSafe(title) || !Cp858FromUtf8(title, o.title)) {
    return fail(LauncherMessage::BadText, title);
  }
  out = o;
  return 0;
}

std::string SessionFileText(const LauncherOptions& options, const std::string& tempDir) {
  std::string text;
  text += "[Menu]\r\n";
  text += "Titol=" + Quoted(options.title) + "\r\n";
  text += std::string("NomMenu=") + SessionMenuName + "\r\n";
  text += "\r\n[Terminal]\r\n";
  text += "Dir=" + Quoted(tempDir) + "\r\n";
  return text;
}

std::string TerminalFileText(const LauncherOptions& options) {
  std::string text;
  text += "[Pantalla]\r\n";
  // Scheme 0 is the suite's plain default; scheme 1, in use, draws the forms
  // in white and light cyan on blue, titles and messages blue on grey, and
  // the field being edited black on cyan.
  text += "Seleccio=1\r\n";
  text += "Col0=15000700000700070007\r\n";
  text += "Col1=15011101010700030003\r\n";
  text += "\r\n[Sistema]\r\n";
  text += "Data=" + options.date + "\r\n";
  text += "Sortida=" + Quoted(options.device) + "\r\n";
  text += "Idioma=" + options.language + "\r\n";
  return text;
}
