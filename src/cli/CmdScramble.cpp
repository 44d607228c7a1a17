#include "cli/CliCommand.h"
#include "config/mdlEncode.h"

// ovsqlcli scramble / unscramble: a text in the stored form of DBPasswd and
// back. The text comes from standard input, never from the command line, so
// that no password lands in the shell's history or the process list.
namespace {

const char kScrambleSynopsis[] = "scramble [--key KEY]   (text on standard input)";
const char kUnscrambleSynopsis[] = "unscramble [--key KEY]   (scrambled text on standard input)";

// A text that ScrambleText can have made: alphabet characters only, and no
// lone character in a last group (one byte already takes two).
bool isScrambledText(const QString& text)
{
    if (text.size() % 4 == 1)
        return false;
    for (const QChar c : text) {
        if (mdlEncode::AlphabetIndex(c) < 0)
            return false;
    }
    return true;
}

int runEither(ovcli::Args& args, bool scramble)
{
    const char* synopsis = scramble ? kScrambleSynopsis : kUnscrambleSynopsis;
    const QString key = args.option(QStringLiteral("--key")).value_or(mdlEncode::kConfigKey);
    if (!args.finish())
        return ovcli::usage(args, synopsis);
    const std::optional<QString> input =
        ovcli::readSecretLine(scramble ? QStringLiteral("Text: ") : QStringLiteral("Scrambled text: "));
    if (!input)
        return ovcli::fail(QStringLiteral("ovsqlcli: no text on standard input"));
    if (scramble) {
        ovcli::printOut(mdlEncode::ScrambleText(*input, key, true) + QLatin1Char('\n'));
        return 0;
    }
    if (!isScrambledText(*input))
        return ovcli::fail(QStringLiteral("ovsqlcli: not a scrambled text"));
    ovcli::printOut(mdlEncode::UnscrambleText(*input, key, true) + QLatin1Char('\n'));
    return 0;
}

int runScramble(ovcli::Args& args)
{
    return runEither(args, true);
}

int runUnscramble(ovcli::Args& args)
{
    return runEither(args, false);
}

ovcli::Registrar scrambleReg({"scramble",
                              kScrambleSynopsis,
                              &runScramble,
                              "Reads a text, a password, as the first line of standard input (asked for "
                              "without echo on a terminal, never from the command line) and prints it in the "
                              "stored form of DBPasswd.",
                              {{"--key KEY", "scramble with KEY instead of the configuration file's key"}}});
ovcli::Registrar unscrambleReg({"unscramble",
                                kUnscrambleSynopsis,
                                &runUnscramble,
                                "Reads a scrambled text, such as the DBPasswd value of the configuration "
                                "file, as the first line of standard input and prints the plain text.",
                                {{"--key KEY", "unscramble with KEY instead of the configuration file's "
                                               "key"}}});

} // namespace
