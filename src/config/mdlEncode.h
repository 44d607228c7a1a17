#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>

// Reversible keyed scrambling of stored passwords: the text's bytes are XORed
// with the repeating key, each rotated five bits towards the high end, and
// written with a 64-character alphabet that has no O, l, o, 0 and no fill
// character. Neither direction reports an error: characters outside the
// alphabet simply unscramble to meaningless bytes.
namespace mdlEncode {

// Key of DBPasswd in OrvaneSqlConfig.ini.
inline const QString kConfigKey = QStringLiteral("tmvqzra&&!#*#51");
// Key of the password of single-user database files.
inline const QString kFileKey = QStringLiteral("4063918mxq");
// The password of single-user database files, scrambled with kFileKey; the
// plain form exists only at run time.
inline const QString kScrambledFilePassword = QStringLiteral("Qw7$hK+r");

// text scrambled with key. With ansi the text's bytes are its code page 936
// form, otherwise its 16-bit code units, low byte first.
QString ScrambleText(const QString& text, const QString& key, bool ansi);
// The inverse of ScrambleText with the same key and ansi option.
QString UnscrambleText(const QString& scrambled, const QString& key, bool ansi);

// The steps, exposed for their tests.

// Bytes to alphabet text: three bytes give four characters, a last group of
// one or two bytes gives two or three.
QString EncodeBytes(const QByteArray& bytes);
// Alphabet text to bytes; a character outside the alphabet counts as index -1.
QByteArray DecodeText(const QString& text);
// The alphabet character at index (0 to 63).
QChar AlphabetChar(int index);
// The index of c in the alphabet (case-sensitive), or -1.
int AlphabetIndex(QChar c);
// b rotated by n bits (0 < n < 8) towards the high end.
quint8 RotateByteLeft(quint8 b, int n);
// Text to code page 936 bytes, and back.
QByteArray ConvertCodePage(const QString& text);
QString ConvertCodePage(const QByteArray& bytes);

} // namespace mdlEncode
