#include "app/CommandLine.h"

#include <cstring>

namespace qor::app {

CommandLine::CommandLine()
    : demo(QStringLiteral("demo"),
           QStringLiteral("Beispielmodell laden (bracket, flange, housing)"),
           QStringLiteral("name"))
    , screenshot(QStringLiteral("screenshot"),
                 QStringLiteral("Bildschirmfoto speichern und beenden"), QStringLiteral("png"))
    , size(QStringLiteral("size"), QStringLiteral("Fenstergröße BxH"), QStringLiteral("size"),
           QStringLiteral("1600x980"))
    , editSketch(QStringLiteral("edit-sketch"),
                 QStringLiteral("Skizze Nr. bearbeiten (für Vorschaubilder)"), QStringLiteral("n"))
    , command(QStringLiteral("command"),
              QStringLiteral("Feature-Befehl öffnen (für Vorschaubilder)"), QStringLiteral("typ"))
    , sketchTool(QStringLiteral("sketch-tool"), QStringLiteral("Skizzenwerkzeug wählen"),
                 QStringLiteral("n"))
    , renderIcon(QStringLiteral("render-icon"),
                 QStringLiteral("Programmsymbol als PNG schreiben (Paketbau): GRÖSSE:DATEI"),
                 QStringLiteral("spec"))
    , convert(
          QStringLiteral("convert"),
          QStringLiteral("Datei umwandeln und beenden: EINGABE:AUSGABE (z. B. teil.par:teil.step)"),
          QStringLiteral("spec"))
    , drawing(QStringLiteral("drawing"), QStringLiteral("Zeichnung öffnen (Vorschaubild)"))
    , render(
          QStringLiteral("render"),
          QStringLiteral("Fotorealistisch rendern und als Bild speichern: MODUS:BREITExHÖHE:DATEI "
                         "(Modus 1 = Raytracing, 2 = Pfadverfolgung)"),
          QStringLiteral("spec"))
{
    parser.setApplicationDescription(QStringLiteral("QorCAD – parametrisches 3D-CAD"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("datei"),
        QStringLiteral(
            "Bauteil (.qcpart) oder Import (STEP, IGES, STL, OBJ, glTF, Solid Edge, Fusion)"));
    for (const QCommandLineOption* option : options())
        parser.addOption(*option);
}

namespace {

// What the parser takes for an option rather than a value: a lone "-" is a value by custom.
bool looksLikeOption(const QString& argument)
{
    return argument.size() > 1 && argument.startsWith(QLatin1Char('-'));
}

} // namespace

bool CommandLine::parse(const QStringList& arguments)
{
    missingValue_.clear();
    QStringList valued;
    for (const QCommandLineOption* option : options()) {
        if (!option->valueName().isEmpty())
            valued << QStringLiteral("--") + option->names().constFirst();
    }
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        // Everything after "--" is a file name.
        if (arguments[i] == QStringLiteral("--"))
            break;
        if (!valued.contains(arguments[i]))
            continue;
        // The value joined by "=" may be anything; a separate one must not be an option.
        if (i + 1 < arguments.size() && !looksLikeOption(arguments[i + 1])) {
            ++i;
            continue;
        }
        missingValue_ = arguments[i];
        return false;
    }
    return parser.parse(arguments);
}

QString CommandLine::errorText() const
{
    if (!missingValue_.isEmpty())
        return QStringLiteral("Nach „%1“ fehlt der Wert.").arg(missingValue_);
    return parser.errorText();
}

std::array<const QCommandLineOption*, 10> CommandLine::options() const
{
    return {&demo,       &screenshot, &size,    &editSketch, &command,
            &sketchTool, &renderIcon, &convert, &drawing,    &render};
}

bool CommandLine::endsInParser(bool parsed) const
{
    return !parsed || parser.isSet(QStringLiteral("help"))
           || parser.isSet(QStringLiteral("help-all")) || parser.isSet(QStringLiteral("version"));
}

bool isBatchRun(int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i) {
        // Everything after "--" is a file name to the parser.
        if (std::strcmp(argv[i], "--") == 0)
            return false;
        // Help and version end the process inside the parser, before any window.
        for (const char* option : {"--convert", "--render-icon", "--help", "--help-all", "-h", "-?",
                                   "--version", "-v"}) {
            if (std::strcmp(argv[i], option) == 0)
                return true;
        }
        // The parser takes "--convert=a:b" as well; such a run must not leave the
        // crash marker behind either, or the next start falls back to software.
        for (const char* option : {"--convert=", "--render-icon="}) {
            if (std::strncmp(argv[i], option, std::strlen(option)) == 0)
                return true;
        }
    }
    return false;
}

QByteArray convertArgument(int argc, const char* const* argv)
{
    static constexpr char joined[] = "--convert=";
    QByteArray value;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            break;
        if (std::strcmp(argv[i], "--convert") == 0 && i + 1 < argc)
            value = QByteArray(argv[++i]);
        else if (std::strncmp(argv[i], joined, std::strlen(joined)) == 0)
            value = QByteArray(argv[i] + std::strlen(joined));
    }
    return value;
}

ConvertPaths splitConvertArgument(const QByteArray& argument)
{
    const qsizetype colon = argument.lastIndexOf(':');
    if (colon < 0)
        return {argument, argument, false};
    return {argument.left(colon), argument.mid(colon + 1), true};
}

} // namespace qor::app
