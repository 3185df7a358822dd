// parse_coordinate: converts a coordinate text into coordinate units.
//
// A coordinate text is a decimal number, optionally with a point and a
// fraction of which only the first five digits count, optionally followed by
// a space and a hemisphere letter: "4530.12345 N", "07350.5 W". A letter W, w,
// S or s makes the value negative; any other letter, or none, leaves it
// positive. The number is taken as written (no degree/minute reading), so
// corner and position texts must use the same form. The result is the number
// times 100000: "4530.12345 N" is 453012345, "07350.5 W" is -735050000.
//
// Free function with no state; callable from any thread. It never reads past
// the terminating NUL, treats a null pointer as the empty text and never
// overflows: a value beyond the 32-bit range is capped at INT32_MIN/INT32_MAX.
#pragma once

// Steps:
//  1. whole: the leading integer, read like atol (leading white space, an
//     optional sign, decimal digits; 0 when there are none), but saturating
//     instead of overflowing.
//  2. p: just past the first '.' of the text; without a point, the end.
//  3. The fraction: the consecutive decimal digits at p, at most five of them,
//     scaled to five places ("5" is 50000, "123456" is 12345: digits after the
//     fifth are dropped).
//  4. The value is whole * 100000 + fraction, with the fraction taking the
//     sign of the leading integer ("-0.5" is -50000).
//  5. The hemisphere letter is the character just past the first space at or
//     after p (after the leading integer when the text has no point); W, w, S
//     or s negates the value.
//  6. The value is capped to the 32-bit range.
int parse_coordinate(const char* text);
