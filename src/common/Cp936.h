#pragma once

#include <QByteArray>
#include <QString>

// Code page 936 (the Chinese ANSI code page of the product's systems), the
// encoding of every text file the program reads or writes. The only place
// that converts; everything else calls these.
namespace ov::cp936 {

// Text to code page 936 bytes; a character the code page cannot hold becomes '?'.
QByteArray encode(const QString& text);
// Code page 936 bytes to text; a byte sequence that is not valid becomes U+FFFD.
QString decode(const QByteArray& bytes);
// The same conversion straight to UTF-8 bytes, into out (its storage is
// reused), for loops that convert many values.
void decodeToUtf8(const char* data, qsizetype size, QByteArray& out);
// A text file's content: UTF-8 when it begins with a UTF-8 byte-order mark
// (which is dropped), code page 936 otherwise.
QString decodeFile(const QByteArray& bytes);
// True when bytes are whole, valid text: code page 936, or UTF-8 when utf8 is
// set. A byte that begins no character, a lead byte without its trail bytes
// or a character cut short at the end makes them not valid; decode would turn
// such bytes into U+FFFD.
bool isValid(QByteArrayView bytes, bool utf8 = false);
// True when bytes begin with a UTF-8 byte-order mark.
bool hasUtf8Bom(const QByteArray& bytes);

} // namespace ov::cp936
