#include "sql.h"

int64_t SqlInt(const SqlValue& value)
{
    if (const auto* number = std::get_if<int64_t>(&value))
        return *number;
    if (const auto* real = std::get_if<double>(&value))
        return static_cast<int64_t>(*real);
    return 0;
}

double SqlDouble(const SqlValue& value)
{
    if (const auto* real = std::get_if<double>(&value))
        return *real;
    if (const auto* number = std::get_if<int64_t>(&value))
        return static_cast<double>(*number);
    return 0.0;
}

std::string SqlText(const SqlValue& value)
{
    if (const auto* text = std::get_if<std::string>(&value))
        return *text;
    if (const auto* number = std::get_if<int64_t>(&value))
        return std::to_string(*number);
    return "";
}

bool SqlIsNull(const SqlValue& value)
{
    return std::holds_alternative<std::nullptr_t>(value);
}
