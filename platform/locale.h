// Clock and locale: the process-wide format settings and the upper/lower casing rules.
// Defaults are those of the Russian Windows locale: dd.mm.yyyy, h:mm:ss, decimal ','.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zarbel {

// Date-time values count days from 30 December 1899; the fraction is the time of day.
using TDateTime = double;

struct TFormatSettings {
    char DateSeparator = '.';
    char TimeSeparator = ':';
    char DecimalSeparator = ',';
    std::string ShortDateFormat = "dd.mm.yyyy";
    std::string LongTimeFormat = "h:mm:ss";
    std::string ShortTimeFormat = "h:mm";
    // Two-digit years read as the nearest year within this many years before today (0: this century).
    int TwoDigitYearCenturyWindow = 50;
};

// The one process-wide set of format settings.
TFormatSettings& FormatSettings();

// Upper/lower casing of Latin and Cyrillic letters by the CP1251 rules (ANSI text in, ANSI text out).
// CP1251 casing. oemText: the text stands for OEM (CP866) text, as a table's text does in OEM
// mode; the CP1251 bytes that hold CP866's box drawing and signs are then no letters, so
// casing never turns one such character into another.
std::string AnsiUpperCase(std::string_view s, bool oemText = false);
std::string AnsiLowerCase(std::string_view s, bool oemText = false);
char AnsiUpperChar(char c, bool oemText = false);
int AnsiCompareText(std::string_view a, std::string_view b);  // case-insensitive, <0 / 0 / >0
bool AnsiSameText(std::string_view a, std::string_view b, bool oemText = false);

// Clock.
TDateTime Now();
TDateTime Date();  // today at midnight

// Encoding and decoding.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int min, int sec, int msec);
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
void DecodeDate(TDateTime dt, int& year, int& month, int& day);
// The same for whole days (TDateTime's integer part), without floating point.
bool TryEncodeDateDays(int year, int month, int day, std::int32_t& days);
void DecodeDateDays(std::int64_t days, int& year, int& month, int& day);
void DecodeTime(TDateTime dt, int& hour, int& min, int& sec, int& msec);
bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// Text forms by the format settings.
// Format letters (any case): d dd, m mm (minutes right after h/hh), yy yyyy, h hh, n nn, s ss,
// z zzz, c (short date, then long time unless midnight), t (short time), tt (long time);
// '/' and ':' stand for the settings' separators; text in '...' or "..." is copied.
std::string FormatDateTime(std::string_view format, TDateTime dt);
std::string DateToStr(TDateTime dt);
// DateToStr's text of a calendar date into out (room for 24 bytes), made without the general
// formatter when the short date format consists of dd, mm, yyyy and separators only (the
// format's parsed form is kept until the settings change); 0 for any other format or a year
// outside 1..9999, where DateToStr is the road.
std::size_t FormatShortDate(int year, int month, int day, char* out);
std::string TimeToStr(TDateTime dt);        // long time format
std::string DateTimeToStr(TDateTime dt);    // short date, blank, long time; time left out at exactly midnight
bool TryStrToDate(std::string_view s, TDateTime& out);
bool TryStrToTime(std::string_view s, TDateTime& out);
bool TryStrToDateTime(std::string_view s, TDateTime& out);

// Numbers: general format with up to 15 significant digits and the decimal separator of the settings.
std::string FloatToStr(double v);
bool TryStrToFloat(std::string_view s, double& out);          // uses FormatSettings().DecimalSeparator
bool TryStrToFloat(std::string_view s, double& out, char decimalSeparator);
bool TryStrToInt64(std::string_view s, std::int64_t& out);

// Trim of leading and trailing blanks and control characters (bytes <= ' ').
std::string Trim(std::string_view s);

}  // namespace zarbel
