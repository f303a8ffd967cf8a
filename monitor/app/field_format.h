// Text formats of the monitor's indicators and decoded-field panels.
//
// Plain functions from decoder values to the texts the window shows; they
// hold no state and touch no widget, so they are tested on their own.
#pragma once

#include <QString>
#include <cstdint>
#include <string>

namespace varnak {

// A 16-bit field held as signed to its unsigned value 0..65535.
int32_t IntegerToUnsigned(int16_t value);
// A block word as two characters, high byte first, each byte read in the
// RDS character set; a byte without a character (a control code) shows as
// a visible placeholder, a middle dot.
QString IntegerToChar(int32_t word);

// Upper-case hexadecimal without leading zeros (0x00C3 -> "C3", 0 -> "0").
QString Hex(uint32_t value);
// Upper-case hexadecimal zero-padded to `digits` (hex2z, hex4z).
QString HexZ(uint32_t value, int digits);
// Upper-case hexadecimal right-aligned in 4 positions, space-padded (hex4s).
QString Hex4s(uint32_t value);
// Decimal with at least `digits` digits, zero-padded (dec1, dec2, dec4, dec5).
QString Dec(uint32_t value, int digits);
// "N" for 0, "Y" for 1, the empty text otherwise.
QString FlagNY(uint32_t value);
// "A" for 0, "B" for 1 (the character 65 + value).
QString LetterAB(uint32_t value);
// A frequency in 100 kHz units as MHz with one decimal and at least two
// integer digits, with the user's decimal separator; 0 gives the empty text.
QString Freq(uint32_t value);
// The bytes of a zero-terminated broadcast text field (PS, radiotext), at
// most `size` of them, each as its character in the RDS character set; a
// byte without one shows as the placeholder (a middle dot).
QString FieldText(const char* field, int size);
// The decoder identification digits d3..d0: "_" for 0xFF (not received),
// otherwise the character 48 + value.
QString DiText(const uint8_t di[4]);
// A status-bar counter: `caption` followed by `count` right-aligned in a
// field of 7 characters (a longer number is shown whole).
QString CounterText(const char* caption, int32_t count);

// A message from the shared core or the radio input ("cannot create PATH:
// reason", "NAME is truncated: ...") as the window tells it: our own
// leading word is capitalised; a message that begins with a file name keeps
// the name exactly as it is.
QString Sentence(const std::string& text);

}  // namespace varnak
