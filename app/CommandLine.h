#pragma once

#include <QByteArrayList>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>

#include <array>

namespace qor::app {

// The program's command line: help, version, the positional file and ten long
// options, added to the parser in the order the help lists them.
struct CommandLine {
    CommandLine();
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    // The parser's checks, and one more: an option that takes a value never takes another
    // option as that value ("--demo --screenshot x.png" lacks the example's name). The
    // arguments start with the program's name. False when the command line is refused.
    bool parse(const QStringList& arguments);
    // Why parse refused the command line, in German.
    QString errorText() const;

    // After parse: the parser's own handling would answer help or version, or reject the
    // command line, and end the process.
    bool endsInParser(bool parsed) const;

    QCommandLineParser parser;
    QCommandLineOption demo;
    QCommandLineOption screenshot;
    QCommandLineOption size;
    QCommandLineOption editSketch;
    QCommandLineOption command;
    QCommandLineOption sketchTool;
    QCommandLineOption renderIcon;
    QCommandLineOption convert;
    QCommandLineOption drawing;
    QCommandLineOption render;
    // The arguments as the system gave them: the parser sees them decoded to text, and a
    // file name that is not valid UTF-8 then names another file.
    QByteArrayList givenArguments;

private:
    // In the order the help lists them.
    std::array<const QCommandLineOption*, 10> options() const;

    QString missingValue_;
};

// True when an argument after the program name and before "--" is exactly one of
// the options that end the process without a window ("--convert", "--render-icon",
// the help and version spellings), or one of the first two with its value joined
// by "="; such runs leave settings and environment alone.
bool isBatchRun(int argc, const char* const* argv);

// The value of the last "--convert" (separate or joined by "=") before "--", as
// the bytes given: a file name need not be valid UTF-8, and decoding it would
// name another file. Empty when there is none.
QByteArray convertArgument(int argc, const char* const* argv);

// The two file names of "EINGABE:AUSGABE", as bytes.
struct ConvertPaths {
    QByteArray input;
    QByteArray output;
    bool hasSeparator = false;
};

// Splits "EINGABE:AUSGABE" at its last colon, so the input may contain colons.
// Without a colon there is no separate output: both paths are the whole value.
ConvertPaths splitConvertArgument(const QByteArray& argument);

} // namespace qor::app
