#pragma once

// The values of a value spin edit as text and back, in the user's number, date and time formats.
// Dates and times are days since 30 December 1899, the time of day as the fraction.

#include <QDate>
#include <QString>

#include <optional>

namespace spinvaluetext {

inline constexpr qint64 MsPerDay = 86'400'000;
// Day 0.
QDate dateBase();

QString timeToText(double time);
std::optional<double> textToTime(const QString& text);
QString dateToText(double date);
std::optional<double> textToDate(const QString& text);
// With `precision` decimals, or the shortest exact form ("1E20") when it is 0.
QString floatToText(double v, int precision);
std::optional<double> textToFloat(const QString& text);

} // namespace spinvaluetext
